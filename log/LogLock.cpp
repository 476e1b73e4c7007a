#include "log/LogLock.h"

#include "log/LogFields.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "sys/MessageWait.h"
#include "sys/OnceFlag.h"
#include "sys/SlimLock.h"
#include "sys/SystemError.h"

#include <windows.h>
#include <sddl.h>

namespace
{
constexpr const wchar_t* kLogLockName = L"Tavrin_Inc_ZL_QM_LOG_v1";
// An append takes a fraction of a millisecond, an archive step a few, a write to a slow network
// share a hundred or two; on a loaded machine a holder may wait as long again for the processor.
// A holder in whose time no writer had a turn for longer hangs.
constexpr ULONGLONG kHungMs = 250;
// However the turns move, a wait ends after this long (a holder that counts turns of its own
// while it keeps the lock is one that never lets go).
constexpr ULONGLONG kLongestWaitMs = 1000;
// How often a waiter at the mutex looks at the turns.
constexpr DWORD kMutexSliceMs = 20;
// Between tries of the lock file while another holds it: a turn lasts one append.
constexpr DWORD kFileRetryMs = 1;

// Every process of the session writes the same user's log, also one that runs elevated or under
// another account (its records go to the session user's folder): the mutex must open for all of
// them, whichever was first. Everyone may use it; the low label lets every integrity level in.
constexpr const wchar_t* kSharedObjectSecurity = L"D:(A;;GA;;;WD)S:(ML;;NW;;;LW)";

enum : LONG
{
    kNoticeNameTaken = 1,
    kNoticeMutexStalled = 2,
    kNoticeFileUnopened = 4,
    kNoticeUnlocked = 8,
};

// The session's mutex, opened at the first record and closed when the module is unloaded.
struct QMSessionMutex
{
    volatile LONG m_nOpened = 0;
    HANDLE m_hMutex = nullptr;
    DWORD m_nOpenError = ERROR_SUCCESS;
    // Made by this process: no process had it open, so none learnt whether the last holder
    // ended in its turn. The first taker looks at the log's end as the taker after a holder
    // that died does.
    volatile LONG m_nMadeHere = 0;

    ~QMSessionMutex()
    {
        if (m_hMutex != nullptr)
            ::CloseHandle(m_hMutex);
    }
};

// A lock whose holder was found hanging: until its turns move again it is only tried, so that
// a holder that never lets go costs one wait, not one per record. A wait that ran out while the
// turns moved (they were counted by the holder itself) ends only when the lock is had.
class CQMStall
{
public:
    constexpr CQMStall() noexcept = default;

    bool Stands(ULONGLONG turnsNow) noexcept
    {
        CQMSlimLockGuard guard(m_lock);
        return m_bActive && (!m_bTurnsTrusted || turnsNow == m_nTurns);
    }
    // True when the stall starts now, rather than going on.
    bool Start(ULONGLONG turns, bool turnsTrusted) noexcept
    {
        CQMSlimLockGuard guard(m_lock);
        bool starts = !m_bActive;
        m_bActive = true;
        m_nTurns = turns;
        m_bTurnsTrusted = turnsTrusted;
        return starts;
    }
    void End() noexcept
    {
        CQMSlimLockGuard guard(m_lock);
        m_bActive = false;
    }

private:
    CQMSlimLock m_lock;
    bool m_bActive = false;
    bool m_bTurnsTrusted = true;
    ULONGLONG m_nTurns = 0;
};

QMSessionMutex g_session;
CQMStall g_mutexStall;
CQMStall g_fileStall;
// The lock file could not be opened (g_nFileError says why), and records go without any lock:
// each is said when it starts.
volatile LONG g_nFileUnopened = 0;
volatile DWORD g_nFileError = ERROR_SUCCESS;
volatile LONG g_nUnlocked = 0;
// Notices to write with the next record.
volatile LONG g_nNoticesPending = 0;

// The threads of this process append one at a time when no lock of the session can be had: a
// mutex without a name, whose ownership ends with its thread.
volatile LONG g_nGateMade = 0;
HANDLE g_hGate = nullptr;

void Notice(LONG notice)
{
    ::InterlockedOr(&g_nNoticesPending, notice);
}

void MakeGate()
{
    g_hGate = ::CreateMutexW(nullptr, FALSE, nullptr);
}

void OpenSessionMutex()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedObjectSecurity, SDDL_REVISION_1, &descriptor,
                                                               nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = ::CreateMutexW(&attributes, FALSE, kLogLockName);
    if (mutex != nullptr && ::GetLastError() != ERROR_ALREADY_EXISTS)
        g_session.m_nMadeHere = 1;
    // Made by a process whose access list asks for less than all rights.
    if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED)
        mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kLogLockName);
    if (mutex == nullptr)
    {
        // Another kind of object has the name (ERROR_INVALID_HANDLE), or no access.
        g_session.m_nOpenError = ::GetLastError();
        Notice(kNoticeNameTaken);
    }
    g_session.m_hMutex = mutex;
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
}

std::string NoticeLine(const std::wstring& message)
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    return ToLogLine(BuildLogRecord(now, kServiceLogSource, L"LOG_LOCK", message));
}

bool Owned(DWORD wait)
{
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}
} // namespace

CQMLogLock::CQMLogLock(const std::wstring& folder, bool makeFolder) noexcept
{
    RunOnce(&g_session.m_nOpened, OpenSessionMutex);
    DWORD fileError = m_file.Open(folder, makeFolder);
    // No folder, no file to append to either: nothing to say.
    if (fileError == ERROR_PATH_NOT_FOUND)
        return;
    const ULONGLONG start = ::GetTickCount64();
    QMLogLockTurns seen = m_file.ReadTurns();
    ULONGLONG fileProgressAt = start;
    if (g_session.m_hMutex != nullptr)
        TakeMutex(seen, start, fileProgressAt);
    bool held = false;
    if (m_file.IsOpen())
    {
        ::InterlockedExchange(&g_nFileUnopened, 0);
        TakeFile(seen, start, fileProgressAt);
        held = m_file.Held();
    }
    else
    {
        g_nFileError = fileError;
        if (::InterlockedExchange(&g_nFileUnopened, 1) == 0)
            Notice(kNoticeFileUnopened);
        // Nobody else can open the file either: the mutex is then the lock everybody shares.
        held = m_bMutexHeld;
    }
    if (held)
    {
        ::InterlockedExchange(&g_nUnlocked, 0);
        return;
    }
    if (::InterlockedExchange(&g_nUnlocked, 1) == 0)
        Notice(kNoticeUnlocked);
    TakeGate();
}

void CQMLogLock::TakeMutex(QMLogLockTurns& seen, ULONGLONG start, ULONGLONG& fileProgressAt)
{
    HANDLE mutex = g_session.m_hMutex;
    DWORD wait = ::WaitForSingleObject(mutex, 0);
    bool turnsTrusted = true;
    if (wait == WAIT_TIMEOUT && !g_mutexStall.Stands(seen.m_nMutexTurns))
    {
        ULONGLONG mutexProgressAt = start;
        for (;;)
        {
            wait = WaitHandlingSentMessages(mutex, kMutexSliceMs);
            if (wait != WAIT_TIMEOUT)
                break;
            QMLogLockTurns now = m_file.ReadTurns();
            ULONGLONG tick = ::GetTickCount64();
            if (now.m_nMutexTurns != seen.m_nMutexTurns)
                mutexProgressAt = tick;
            if (now.m_nTurns != seen.m_nTurns)
                fileProgressAt = tick;
            seen = now;
            if (tick - mutexProgressAt >= kHungMs)
                break;
            if (tick - start >= kLongestWaitMs)
            {
                turnsTrusted = false;
                break;
            }
        }
    }
    if (Owned(wait))
    {
        m_bMutexHeld = true;
        m_bPreviousHolderDied = wait == WAIT_ABANDONED ||
                                (g_session.m_nMadeHere != 0 && ::InterlockedExchange(&g_session.m_nMadeHere, 0));
        g_mutexStall.End();
        return;
    }
    if (g_mutexStall.Start(seen.m_nMutexTurns, turnsTrusted))
        Notice(kNoticeMutexStalled);
}

void CQMLogLock::TakeFile(QMLogLockTurns& seen, ULONGLONG start, ULONGLONG fileProgressAt)
{
    bool died = false;
    bool taken = m_file.TryTake(m_bMutexHeld, died);
    bool turnsTrusted = true;
    if (!taken)
    {
        seen = m_file.ReadTurns();
        if (!g_fileStall.Stands(seen.m_nTurns))
        {
            // Behind the mutex only a writer that could not have it stands in the way: its turn
            // is waited for afresh. Without the mutex the wait goes on from the mutex's, whose
            // turns were watched all along.
            if (m_bMutexHeld)
                start = fileProgressAt = ::GetTickCount64();
            for (;;)
            {
                SleepHandlingSentMessages(kFileRetryMs);
                taken = m_file.TryTake(m_bMutexHeld, died);
                if (taken)
                    break;
                QMLogLockTurns now = m_file.ReadTurns();
                ULONGLONG tick = ::GetTickCount64();
                if (now.m_nTurns != seen.m_nTurns)
                    fileProgressAt = tick;
                seen = now;
                if (tick - fileProgressAt >= kHungMs)
                    break;
                if (tick - start >= kLongestWaitMs)
                {
                    turnsTrusted = false;
                    break;
                }
            }
        }
    }
    if (taken)
    {
        m_bPreviousHolderDied = m_bPreviousHolderDied || died;
        g_fileStall.End();
        return;
    }
    g_fileStall.Start(seen.m_nTurns, turnsTrusted);
}

void CQMLogLock::TakeGate()
{
    RunOnce(&g_nGateMade, MakeGate);
    // Held by a sibling for one append; one that keeps it longer hangs in it.
    if (g_hGate != nullptr && Owned(WaitHandlingSentMessages(g_hGate, static_cast<DWORD>(kLongestWaitMs))))
    {
        m_bGateHeld = true;
        m_bUnlocked = true;
        return;
    }
    m_bRefused = true;
}

CQMLogLock::~CQMLogLock()
{
    if (m_bGateHeld)
        ::ReleaseMutex(g_hGate);
    // The lock file first: the next holder of the mutex takes it at once.
    m_file.Close();
    if (m_bMutexHeld)
        ::ReleaseMutex(g_session.m_hMutex);
}

std::string TakeLogLockNotice()
{
    if (g_nNoticesPending == 0)
        return std::string();
    LONG notices = ::InterlockedExchange(&g_nNoticesPending, 0);
    std::string lines;
    if (notices & kNoticeNameTaken)
        lines += NoticeLine(std::wstring(L"the session's log lock ") + kLogLockName + L" cannot be opened (" +
                            DescribeSystemError(g_session.m_nOpenError) +
                            L"): an object of another kind holds its name, or it is closed to this process; "
                            L"records take turns through " + kLogLockFileName + L" beside the log folder alone");
    if (notices & kNoticeMutexStalled)
        lines += NoticeLine(L"a holder of the session's log lock kept it longer than " + std::to_wstring(kHungMs) +
                            L" ms while no writer had a turn: until it lets go, records take turns through " +
                            kLogLockFileName + L" beside the log folder alone");
    if (notices & kNoticeFileUnopened)
        lines += NoticeLine(std::wstring(L"the log's lock file ") + kLogLockFileName + L" cannot be opened (" +
                            DescribeSystemError(g_nFileError) + L"): records take turns at the session's log lock alone");
    if (notices & kNoticeUnlocked)
    {
        std::wstring why = g_nFileUnopened != 0
                               ? std::wstring(L"the session's log lock cannot be had and ") + kLogLockFileName +
                                     L" cannot be opened"
                               : std::wstring(L"a holder of ") + kLogLockFileName + L" kept it longer than " +
                                     std::to_wstring(kHungMs) + L" ms while no writer had a turn";
        lines += NoticeLine(L"no lock of the log can be had (" + why +
                            L"): records are appended without a lock, one thread of this process at a time and "
                            L"each checked in the file after its write, until a lock can be had again");
    }
    return lines;
}

void ResetLogLockForTest()
{
    if (g_session.m_hMutex != nullptr)
        ::CloseHandle(g_session.m_hMutex);
    g_session.m_hMutex = nullptr;
    g_session.m_nMadeHere = 0;
    g_mutexStall.End();
    g_fileStall.End();
    g_nFileUnopened = 0;
    g_nUnlocked = 0;
    g_nNoticesPending = 0;
    CloseLogLockFile();
    ::InterlockedExchange(&g_session.m_nOpened, 0);
}
