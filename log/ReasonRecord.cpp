#include "log/ReasonRecord.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/SystemError.h"

void WriteReasonRecord(const std::wstring& logName, const std::wstring& reason, DWORD systemError) noexcept
{
    try
    {
        std::vector<std::wstring> fields = {logName, reason};
        if (systemError != ERROR_SUCCESS)
            fields.push_back(DescribeSystemError(systemError));
        WriteServiceLog(kServiceLogSource, L"REASON", JoinLogFields(fields));
    }
    catch (...)
    {
        // A record that cannot be made is lost, as any other.
    }
}
