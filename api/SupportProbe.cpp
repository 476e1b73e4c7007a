#include "api/SupportProbe.h"

#include "api/CallFrame.h"
#include "bridge/VestabelLocation.h"
#include "log/ReasonRecord.h"
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
    WriteReasonRecord(kLogNameIsSupportQuelmar,
                      L"the updater is not registered (no value Vestabel exe path under "
                      L"HKLM\\SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install in the 32-bit view)");
    WriteServiceLog(kServiceLogSource, L"API_END", JoinLogFields({kLogNameIsSupportQuelmar, L"false"}));
    return false;
}
