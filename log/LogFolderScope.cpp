#include "log/LogFolderScope.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"
#include "sys/SlimLock.h"

#include <windows.h>

namespace
{
// The calls running now and the location they share; a slim lock needs neither construction
// nor destruction, and the strings are freed when the module is unloaded.
CQMSlimLock g_scopeLock;
long g_nCalls = 0;
bool g_bResolved = false;
QMLogLocation g_location;
} // namespace

QMLogLocation ResolveLogLocation()
{
    QMLogLocation location;
    location.m_strFolder = GetServiceLogFolder();
    location.m_strCurrentFile = JoinPath(location.m_strFolder, kServiceLogCurrentFile);
    return location;
}

CQMLogFolderScope::CQMLogFolderScope() noexcept
{
    CQMSlimLockGuard lock(g_scopeLock);
    ++g_nCalls;
}

CQMLogFolderScope::~CQMLogFolderScope()
{
    CQMSlimLockGuard lock(g_scopeLock);
    if (--g_nCalls != 0)
        return;
    g_bResolved = false;
    g_location.m_strFolder.clear();
    g_location.m_strCurrentFile.clear();
}

bool IsLogCallRunning()
{
    CQMSlimLockGuard lock(g_scopeLock);
    return g_nCalls != 0;
}

bool GetCallLogLocation(QMLogLocation& location)
{
    {
        CQMSlimLockGuard lock(g_scopeLock);
        if (g_nCalls == 0)
            return false;
        if (g_bResolved)
        {
            location = g_location;
            return true;
        }
    }
    // Resolved outside the lock: it asks the shell. Two first records may both resolve it.
    QMLogLocation resolved = ResolveLogLocation();
    CQMSlimLockGuard lock(g_scopeLock);
    if (g_nCalls != 0 && !g_bResolved)
    {
        g_location = resolved;
        g_bResolved = true;
    }
    location = std::move(resolved);
    return true;
}
