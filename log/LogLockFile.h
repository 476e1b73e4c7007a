#pragma once
// The byte-range lock on a file beside the log folder that every writer of the log takes for its
// append, whatever else it holds: the one lock that all processes and threads of the session
// share at every moment. The session's named mutex (LogLock.h) only queues writers in front of
// it; a writer that cannot have the mutex (its holder hangs, or an object of another kind took
// its name) still takes its turn here, so nobody writes beside anybody. The system releases a
// byte-range lock with the handle that took it, so a holder that dies frees it; and a file of
// the user's profile has no name in the session that another program could take.
//
// Behind the locked byte the file counts the turns: every holder stamps itself in when it takes
// the lock and clears the stamp when it lets go, and adds one to the turns (and to the mutex's
// turns when it holds the mutex too). A waiter that sees the turns move knows that the lock is
// passed on, however slowly (a loaded machine, a slow share): it waits on. One that sees them
// stand still while a wait runs out has met a holder that hangs. A stamp found by a taker is
// that of a holder that died in its turn.
//
// The threads of a process share one handle of the file while exported calls run (closed
// between calls); two of them are kept apart by the lock itself, which the system grants once
// per range whichever handle asks.

#include <windows.h>

#include <string>

// The lock file's name. Its name matches no pattern of the log's files.
constexpr const wchar_t* kLogLockFileName = L"Tavrin_ACT_SERVICELOG.lck";

// The lock file of the log whose folder is logFolder ("/" form): in the folder's parent, beside
// it, so that the handle that calls keep of it never stands in the way of removing the log
// folder while they run (the next record makes the folder again).
std::wstring LogLockFilePath(const std::wstring& logFolder);

struct QMLogLockTurns
{
    ULONGLONG m_nHolder = 0;
    ULONGLONG m_nTurns = 0;
    ULONGLONG m_nMutexTurns = 0;
};

class CQMLogLockFile
{
public:
    CQMLogLockFile() = default;
    ~CQMLogLockFile() { Close(); }
    CQMLogLockFile(const CQMLogLockFile&) = delete;
    CQMLogLockFile& operator=(const CQMLogLockFile&) = delete;

    // Opens the lock file of the log folder ("/" form; made with its parents when missing and
    // makeFolder is set). ERROR_SUCCESS, or the error of opening it (ERROR_PATH_NOT_FOUND when
    // the folders are missing).
    DWORD Open(const std::wstring& folder, bool makeFolder) noexcept;
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    // One try for the lock, without waiting. When it is had, the holder is stamped in and the
    // turn counted; previousDied tells whether the last holder ended in its turn.
    bool TryTake(bool holdsMutex, bool& previousDied) noexcept;
    // The counters as they stand; zeros when the file cannot be read.
    QMLogLockTurns ReadTurns() const noexcept;
    bool Held() const { return m_bHeld; }

    // Lets go of the lock (clearing the stamp), then of the handle.
    void Close() noexcept;

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    bool m_bShared = false; // the process's handle, else one of this lock's own
    bool m_bHeld = false;
};

// Closes this process's handle of the lock file when no thread uses it: the folders can then be
// removed.
void CloseLogLockFile() noexcept;
