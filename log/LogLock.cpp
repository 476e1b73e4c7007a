#include "log/LogLock.h"

#include "sys/Handle.h"
#include "sys/SlimLock.h"

#include <windows.h>
#include <sddl.h>

namespace
{
constexpr const wchar_t* kLogLockName = L"Tavrin_Inc_ZL_QM_LOG_v1";
// An append takes a fraction of a millisecond and an archive step a few milliseconds: a holder
// that keeps the lock longer hangs, and the log goes on without it rather than hold the host's
// thread.
constexpr DWORD kWaitMs = 500;
// After one wait ran out, until the lock is had again.
constexpr DWORD kStalledWaitMs = 20;
// Busy turns before a waiter sleeps, and how often a sleeping waiter looks whether the holder lives.
constexpr int kYieldTurns = 64;
constexpr int kTurnsBetweenLivenessChecks = 16;

// Every process of the session writes the same user's log, also one that runs elevated or under
// another account (its records go to the session user's folder): the memory must open for all
// of them, whichever was first. Everyone may use it; the low label lets every integrity level in.
constexpr const wchar_t* kSharedObjectSecurity = L"D:(A;;GA;;;WD)S:(ML;;NW;;;LW)";

struct QMLogLockWord
{
    // Process id in the high half, thread id in the low half; 0 when free.
    volatile LONGLONG m_nOwner;
};

// This process's threads; a slim lock needs neither construction nor destruction.
CQMSlimLock g_processLock;

// The session's memory, opened on first use and closed when the module is unloaded. Guarded by
// g_processLock.
struct QMLogSessionMemory
{
    bool m_bOpened = false;
    bool m_bStalled = false;
    HANDLE m_hMapping = nullptr;
    QMLogLockWord* m_pWord = nullptr;

    ~QMLogSessionMemory()
    {
        if (m_pWord != nullptr)
            ::UnmapViewOfFile(m_pWord);
        if (m_hMapping != nullptr)
            ::CloseHandle(m_hMapping);
    }

    void Open()
    {
        m_bOpened = true;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedObjectSecurity, SDDL_REVISION_1,
                                                                   &descriptor, nullptr))
            attributes.lpSecurityDescriptor = descriptor;
        m_hMapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                          sizeof(QMLogLockWord), kLogLockName);
        if (m_hMapping == nullptr)
            m_hMapping = ::OpenFileMappingW(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kLogLockName);
        if (m_hMapping != nullptr)
            m_pWord = static_cast<QMLogLockWord*>(
                ::MapViewOfFile(m_hMapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(QMLogLockWord)));
        if (descriptor != nullptr)
            ::LocalFree(descriptor);
    }
};

QMLogSessionMemory g_session;

LONGLONG ThisThreadAsOwner()
{
    return (static_cast<LONGLONG>(::GetCurrentProcessId()) << 32) | ::GetCurrentThreadId();
}

// False only when the owner's thread has certainly ended: gone, or its identifier now names a
// thread of another process. Anything unclear counts as alive and is waited for.
bool IsOwnerAlive(LONGLONG owner)
{
    DWORD processId = static_cast<DWORD>(static_cast<ULONGLONG>(owner) >> 32);
    DWORD threadId = static_cast<DWORD>(owner & 0xFFFFFFFF);
    CQMKernelHandle thread(::OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
    if (!thread)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    if (::WaitForSingleObject(thread.Get(), 0) != WAIT_TIMEOUT)
        return false;
    DWORD ownerProcess = ::GetProcessIdOfThread(thread.Get());
    return ownerProcess == 0 || ownerProcess == processId;
}
} // namespace

CQMLogLock::CQMLogLock() noexcept
{
    g_processLock.Lock();
    if (!g_session.m_bOpened)
        g_session.Open();
    if (g_session.m_pWord == nullptr)
        return;

    volatile LONGLONG* word = &g_session.m_pWord->m_nOwner;
    const LONGLONG self = ThisThreadAsOwner();
    const DWORD limit = g_session.m_bStalled ? kStalledWaitMs : kWaitMs;
    const ULONGLONG start = ::GetTickCount64();
    for (int turn = 0;; ++turn)
    {
        LONGLONG owner = ::InterlockedCompareExchange64(word, self, 0);
        if (owner == 0)
        {
            m_bSessionHeld = true;
            break;
        }
        if (turn >= kYieldTurns && turn % kTurnsBetweenLivenessChecks == 0 && !IsOwnerAlive(owner) &&
            ::InterlockedCompareExchange64(word, self, owner) == owner)
        {
            m_bSessionHeld = true;
            m_bTakenOver = true;
            break;
        }
        if (::GetTickCount64() - start >= limit)
            break;
        if (turn < kYieldTurns)
            ::SwitchToThread();
        else
            ::Sleep(1);
    }
    g_session.m_bStalled = !m_bSessionHeld;
}

CQMLogLock::~CQMLogLock()
{
    if (m_bSessionHeld)
        ::InterlockedExchange64(&g_session.m_pWord->m_nOwner, 0);
    g_processLock.Unlock();
}
