#include "api/Operations.h"

#include "api/CallFrame.h"
#include "api/SupportProbe.h"
#include "bridge/VestabelLocation.h"
#include "log/ReasonRecord.h"
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
    std::wstring updater = GetVestabelExePath();
    std::wstring version = GetFileVersionString(updater);
    if (CompareVersions(version, kRequiredVestabelVersion) < 0)
    {
        LogModuleVersion();
        WriteReasonRecord(kLogNameSupportComponentsManagement,
                          version.empty() ? L"the updater " + updater + L" has no version (missing or not a program)"
                                          : L"the updater " + updater + L" is version " + version + L": older than " +
                                                kRequiredVestabelVersion);
        WriteServiceLog(kServiceLogSource, L"API_END",
                        JoinLogFields({kLogNameSupportComponentsManagement, L"400"}));
        return QM_MANAGEMENT_UPDATER_TOO_OLD;
    }
    return QM_MANAGEMENT_SUPPORTED;
}
