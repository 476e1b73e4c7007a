#include "api/Operations.h"

#include "api/CallFrame.h"
#include "api/SupportProbe.h"
#include "bridge/VestabelLocation.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/VersionInfo.h"

// Every operation records the module version and runs the support probe first. The
// updater runs themselves are not part of this build yet: with an updater registered
// the operations still answer with their not-supported result.

namespace
{
bool ProbeForOperation()
{
    LogModuleVersion();
    return IsVestabelRegistered();
}
} // namespace

bool RunLaunchCheck(QMCallContext& /*context*/, int& /*state*/)
{
    ProbeForOperation();
    return false; // state stays as the host set it
}

bool RunIsSupportQuelmar(QMCallContext& /*context*/)
{
    return IsVestabelRegistered();
}

int RunUpdateComponents(QMCallContext& /*context*/, const std::wstring& /*componentType*/)
{
    ProbeForOperation();
    return QM_UPDATE_NOT_SUPPORTED;
}

int RunGetInstalledComponentList(QMCallContext& /*context*/, const std::wstring& /*listPath*/,
                                 const std::wstring& /*componentType*/)
{
    ProbeForOperation();
    return QM_LIST_NOT_SUPPORTED;
}

int RunGetLatestComponentList(QMCallContext& /*context*/, const std::wstring& /*listPath*/,
                              const std::wstring& /*componentType*/, const std::wstring& /*version*/)
{
    ProbeForOperation();
    return QM_LIST_NOT_SUPPORTED;
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
