#include "api/Operations.h"

// This build has no updater bridge yet: every operation answers "not supported",
// which hosts must handle anyway on machines without the service.

bool RunLaunchCheck(QMCallContext& /*context*/, int& /*state*/)
{
    return false; // state stays as the host set it
}

bool RunIsSupportQuelmar(QMCallContext& /*context*/)
{
    return false;
}

int RunUpdateComponents(QMCallContext& /*context*/, const std::wstring& /*componentType*/)
{
    return QM_UPDATE_NOT_SUPPORTED;
}

int RunGetInstalledComponentList(QMCallContext& /*context*/, const std::wstring& /*listPath*/,
                                 const std::wstring& /*componentType*/)
{
    return QM_LIST_NOT_SUPPORTED;
}

int RunGetLatestComponentList(QMCallContext& /*context*/, const std::wstring& /*listPath*/,
                              const std::wstring& /*componentType*/, const std::wstring& /*version*/)
{
    return QM_LIST_NOT_SUPPORTED;
}

int RunSupportComponentsManagement(QMCallContext& /*context*/)
{
    return QM_MANAGEMENT_NOT_SUPPORTED;
}
