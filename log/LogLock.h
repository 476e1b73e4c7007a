#pragma once
// The turns that every append to the service log and every archive step take: the threads and
// the processes of the session take them one at a time. Several hosts (and several threads of
// each) write the same current file, and an archive step of one of them must not split
// another's record or leave it in the wrong archive. Appends at the end of a file are not atomic
// across processes everywhere (a network share, some file systems), so they are not relied upon.
//
// The lock that every writer takes, whatever else happens, is the current file itself: each
// append opens it for writing without sharing its writing (OpenLogFileAlone), so no two writers
// of any process ever append at once, and the system ends the turn with the handle of a writer
// that dies. In front of it writers queue at a mutex named in the session, whose waits the
// system serves in turn (so that they do not try the file again and again) and whose ownership
// it ends with the thread that holds it. No wait is without limit, and none is paid again and
// again:
// - A wait lasts while the log moves (the current file grows, or an archive step takes it),
//   however slowly (a loaded machine, a slow share).
// - A holder of the mutex in whose time the log stood still for a while hangs (or is suspended):
//   it is passed by, and from then on only tried until it is had again; writers queue at the
//   file alone meanwhile, as they do for good when an object of another kind has the mutex's
//   name. Passing it by costs nothing but the order of the turns.
// - A holder of the file in whose time nothing moved for longer is no writer (a program keeps
//   the file open for writing) or hangs in its append: records then go beside it, one thread of
//   the process at a time, each checked in the file after its write, and the file is only tried
//   until it is had alone again.
// Each time one of these starts, a LOG_LOCK record says so (TakeLogLockNotice). Waits answer
// messages sent to the thread's windows.

#include "sys/Handle.h"

#include <string>

class CQMLogLock
{
public:
    // currentFile: the log's current file ("/" form), whose changes tell a waiter that the
    // writers before it have their turns.
    explicit CQMLogLock(const std::wstring& currentFile) noexcept;
    ~CQMLogLock();
    CQMLogLock(const CQMLogLock&) = delete;
    CQMLogLock& operator=(const CQMLogLock&) = delete;

    // The mutex is held: no other writer that can have it appends now.
    bool MutexHeld() const { return m_bMutexHeld; }
    // The previous holder ended while it held the mutex: its last append may have been cut short.
    bool PreviousHolderDied() const { return m_bPreviousHolderDied; }
    // The mutex was waited for while nothing moved, and passed by: its holder hangs, unless the
    // file shows that it is a writer after all.
    bool PassedBy() const { return m_bPassedBy; }
    // The holder of the mutex passed by is no writer now: until the mutex is had again it is
    // only tried, and a LOG_LOCK record says so.
    void PassMutexBy() const;

private:
    bool m_bPassedBy = false;
    bool m_bMutexHeld = false;
    bool m_bPreviousHolderDied = false;
};

// Opens the current file (a platform path) for appending and reading, without sharing its
// writing, creating it when missing (and its folder, when folder is not empty). Waits while
// another writer has it, as long as the log moves, on from lock's wait; once a holder was found
// keeping it while nothing moved, it is only tried until it is had alone again. An invalid
// handle when it cannot be had alone: the system's error is then the thread's last error
// (ERROR_SHARING_VIOLATION: another keeps it).
CQMFileHandle OpenLogFileAlone(const std::wstring& platformPath, const std::wstring& folder, const CQMLogLock& lock);

// For an append beside a holder of the file: this process's threads one at a time. Held while
// the object lives; Held() is false when even that could not be had within the lock's bound (a
// thread of this process hangs in its append), and the record is then dropped.
class CQMLogGate
{
public:
    CQMLogGate() noexcept;
    ~CQMLogGate();
    CQMLogGate(const CQMLogGate&) = delete;
    CQMLogGate& operator=(const CQMLogGate&) = delete;
    bool Held() const { return m_bHeld; }

private:
    bool m_bHeld = false;
};

// Says, once each time it starts, that records go beside a holder of the current file.
void NoticeAppendBesideHolder();
// A record had the file alone again: the next time records go beside a holder is said again.
void NoticeAppendAlone();

// The records ("PL,LOG_LOCK,...", UTF-8 lines) of what the lock could not do and this process
// has not said yet; each is given out once. Throws std::bad_alloc.
std::string TakeLogLockNotice();

// Closes this process's handle of the session's lock and forgets what it learned, for the
// next record to open it afresh: for tests whose hostile process needs the name free.
void ResetLogLockForTest();
