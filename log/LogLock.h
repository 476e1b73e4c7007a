#pragma once
// The lock around every append to the service log and every archive step: the threads and the
// processes of the session take it in turn. Several hosts (and several threads of each) write
// the same current file, and an archive step of one of them must not split another's record or
// leave it in the wrong archive. Appends at the end of a file are not atomic across processes
// everywhere (a network share, some file systems), so they are not relied upon while a lock
// serves.
//
// Every writer takes the byte-range lock of the log's lock file (LogLockFile.h) for its
// append: that is the lock all of them share at every moment. In front of it they queue at a
// mutex named in the session, whose waits the system serves in turn and whose ownership it ends
// with the thread that holds it. No wait is without limit, and none is paid again and again:
// - A wait lasts while the lock passes from holder to holder, however slowly (a loaded machine,
//   a slow share): the lock file counts the turns. A holder that keeps it while no turn is
//   taken for a quarter of a second hangs (or is suspended). After one such wait the lock
//   it keeps is only tried, until its turns move again.
// - When the mutex cannot be had (its holder hangs, or an object of another kind has its name),
//   the writer takes its turn at the lock file alone: everybody else takes that lock too.
// - Only when the lock file cannot be had either (a holder of every lock hangs, or the file
//   cannot be opened) is a record appended without a lock, still one thread of the process at
//   a time, and checked in the file after its write.
// Each time a lock stops serving, a LOG_LOCK record says so (TakeLogLockNotice). Waits answer
// messages sent to the thread's windows. The lock is held only around one append or one
// archive step.

#include "log/LogLockFile.h"

#include <string>

class CQMLogLock
{
public:
    // folder: the log folder ("/" form), beside which the lock file lies; made with its parents
    // when makeFolder is set.
    CQMLogLock(const std::wstring& folder, bool makeFolder) noexcept;
    ~CQMLogLock();
    CQMLogLock(const CQMLogLock&) = delete;
    CQMLogLock& operator=(const CQMLogLock&) = delete;

    // The lock that every writer takes is held: nobody else appends now.
    bool Held() const { return !m_bUnlocked && !m_bRefused; }
    // No lock of the session could be had: the append goes on without one, inside this
    // process's gate, and is checked afterwards.
    bool Unlocked() const { return m_bUnlocked; }
    // Not even this process's gate could be had (a thread of it hangs in its append): the
    // record is dropped.
    bool Refused() const { return m_bRefused; }
    // The previous holder ended while it held the lock: its last append may have been cut short.
    bool PreviousHolderDied() const { return m_bPreviousHolderDied; }

private:
    void TakeMutex(QMLogLockTurns& seen, ULONGLONG start, ULONGLONG& fileProgressAt);
    void TakeFile(QMLogLockTurns& seen, ULONGLONG start, ULONGLONG fileProgressAt);
    void TakeGate();

    bool m_bMutexHeld = false;
    bool m_bGateHeld = false;
    bool m_bUnlocked = false;
    bool m_bRefused = false;
    bool m_bPreviousHolderDied = false;
    CQMLogLockFile m_file;
};

// The records ("PL,LOG_LOCK,...", UTF-8 lines) of what the lock could not do and this process
// has not said yet; each is given out once. Throws std::bad_alloc.
std::string TakeLogLockNotice();

// Closes this process's handle of the session's lock and forgets what it learned, for the
// next record to open it afresh: for tests whose hostile process needs the name free.
void ResetLogLockForTest();
