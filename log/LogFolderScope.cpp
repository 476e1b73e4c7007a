#include "log/LogFolderScope.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"

#include <windows.h>

namespace
{
// The calls running now and the location they share; a slim lock needs neither construction
// nor destruction, and the strings are freed when the module is unloaded.
SRWLOCK g_scopeLock = SRWLOCK_INIT;
long g_nCalls = 0;
bool g_bResolved = false;
QMLogLocation g_location;

class CScopeLock
{
public:
    explicit CScopeLock(bool exclusive) : m_bExclusive(exclusive)
    {
        exclusive ? ::AcquireSRWLockExclusive(&g_scopeLock) : ::AcquireSRWLockShared(&g_scopeLock);
    }
    ~CScopeLock() { m_bExclusive ? ::ReleaseSRWLockExclusive(&g_scopeLock) : ::ReleaseSRWLockShared(&g_scopeLock); }
    CScopeLock(const CScopeLock&) = delete;
    CScopeLock& operator=(const CScopeLock&) = delete;

private:
    bool m_bExclusive;
};
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
    CScopeLock lock(true);
    ++g_nCalls;
}

CQMLogFolderScope::~CQMLogFolderScope()
{
    CScopeLock lock(true);
    if (--g_nCalls == 0)
    {
        g_bResolved = false;
        g_location.m_strFolder.clear();
        g_location.m_strCurrentFile.clear();
    }
}

bool GetCallLogLocation(QMLogLocation& location)
{
    {
        CScopeLock lock(false);
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
    CScopeLock lock(true);
    if (g_nCalls != 0 && !g_bResolved)
    {
        g_location = resolved;
        g_bResolved = true;
    }
    location = std::move(resolved);
    return true;
}
