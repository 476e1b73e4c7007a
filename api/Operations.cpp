#include "api/Operations.h"

#include "api/CallFrame.h"
#include "api/SupportProbe.h"
#include "bridge/VestabelLocation.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/VersionInfo.h"

// The two probes: is the updater registered, and is it recent enough for component management.

bool RunIsSupportQuelmar(QMCallContext& /*context*/)
{
    return IsVestabelRegistered();
}

int RunSupportComponentsManagement(QMCallContext& /*context*/)
{
    if (!IsVestabelRegistered())
    {
        WriteServiceLog(kServiceLogSource, L"API_END",
                        JoinLogFields({kLogNameSupportComponentsManagement, L"300"}));
        return QM_MANAGEMENT_NOT_SUPPORTED;
    }
    std::wstring version = GetFileVersionString(GetVestabelExePath());
    if (CompareVersions(version, kRequiredVestabelVersion) < 0)
    {
        LogModuleVersion();
        WriteServiceLog(kServiceLogSource, L"API_END",
                        JoinLogFields({kLogNameSupportComponentsManagement, L"400"}));
        return QM_MANAGEMENT_UPDATER_TOO_OLD;
    }
    return QM_MANAGEMENT_SUPPORTED;
}
