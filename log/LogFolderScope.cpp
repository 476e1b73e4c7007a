#include "log/LogFolderScope.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"

namespace
{
// A plain pointer: no work at thread exit, and a thread that never entered a call sees null.
thread_local const QMLogLocation* t_pCallLocation = nullptr;
} // namespace

QMLogLocation ResolveLogLocation()
{
    QMLogLocation location;
    location.m_strFolder = GetServiceLogFolder();
    location.m_strCurrentFile = JoinPath(location.m_strFolder, kServiceLogCurrentFile);
    return location;
}

CQMLogFolderScope::CQMLogFolderScope() : m_location(ResolveLogLocation()), m_pOuter(t_pCallLocation)
{
    t_pCallLocation = &m_location;
}

CQMLogFolderScope::~CQMLogFolderScope()
{
    t_pCallLocation = m_pOuter;
}

const QMLogLocation* GetCallLogLocation()
{
    return t_pCallLocation;
}
