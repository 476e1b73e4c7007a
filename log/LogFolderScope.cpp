#include "log/LogFolderScope.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"

namespace
{
// A plain pointer: no work at thread exit, and a thread that never entered a call sees null.
thread_local CQMLogFolderScope* t_pCallScope = nullptr;
} // namespace

QMLogLocation ResolveLogLocation()
{
    QMLogLocation location;
    location.m_strFolder = GetServiceLogFolder();
    location.m_strCurrentFile = JoinPath(location.m_strFolder, kServiceLogCurrentFile);
    return location;
}

CQMLogFolderScope::CQMLogFolderScope() noexcept : m_pOuter(t_pCallScope)
{
    t_pCallScope = this;
}

CQMLogFolderScope::~CQMLogFolderScope()
{
    t_pCallScope = m_pOuter;
}

const QMLogLocation& CQMLogFolderScope::Location()
{
    if (!m_bResolved)
    {
        m_location = ResolveLogLocation();
        m_bResolved = true;
    }
    return m_location;
}

const QMLogLocation* GetCallLogLocation()
{
    return t_pCallScope != nullptr ? &t_pCallScope->Location() : nullptr;
}
