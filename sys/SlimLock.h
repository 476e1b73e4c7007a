#pragma once
// A lock of the platform that needs neither construction nor destruction: it serves from the
// module's first instruction to its last, owns no handle and allocates nothing, so a load and
// unload of the module leaves nothing of it behind. The runtime's std::mutex sits on its threads
// library, which allocates the lock's state on first use (and an event once it is contended)
// and frees them only if the mutex is ever destroyed.

#include <windows.h>

class CQMSlimLock
{
public:
    constexpr CQMSlimLock() noexcept = default;
    CQMSlimLock(const CQMSlimLock&) = delete;
    CQMSlimLock& operator=(const CQMSlimLock&) = delete;

    void Lock() noexcept { ::AcquireSRWLockExclusive(&m_lock); }
    bool TryLock() noexcept { return ::TryAcquireSRWLockExclusive(&m_lock) != FALSE; }
    void Unlock() noexcept { ::ReleaseSRWLockExclusive(&m_lock); }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};

class CQMSlimLockGuard
{
public:
    explicit CQMSlimLockGuard(CQMSlimLock& lock) noexcept : m_lock(lock) { m_lock.Lock(); }
    ~CQMSlimLockGuard() { m_lock.Unlock(); }
    CQMSlimLockGuard(const CQMSlimLockGuard&) = delete;
    CQMSlimLockGuard& operator=(const CQMSlimLockGuard&) = delete;

private:
    CQMSlimLock& m_lock;
};
