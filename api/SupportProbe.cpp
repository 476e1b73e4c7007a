#include "api/SupportProbe.h"

#include "api/CallFrame.h"
#include "bridge/VestabelLocation.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/VersionInfo.h"

void LogModuleVersion()
{
    std::wstring version = GetFileVersionString(GetModuleFilePath());
    WriteServiceLog(kServiceLogSource, L"CHECK_VERSION", JoinLogFields({L"-", version}));
}

bool IsVestabelRegistered()
{
    if (!GetVestabelExePath().empty())
        return true;
    LogModuleVersion();
    WriteServiceLog(kServiceLogSource, L"API_END", JoinLogFields({kLogNameIsSupportQuelmar, L"false"}));
    return false;
}
