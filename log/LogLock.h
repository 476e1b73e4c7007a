#pragma once
// The lock around every append to the service log and every archive step: the threads and the
// processes of the session take it in turn. Several hosts (and several threads of each) write
// the same current file, and an archive step of one of them must not split another's record or
// leave it in the wrong archive. Appends at the end of a file are not atomic across processes
// everywhere, so they are not relied upon while the lock serves.
//
// The lock is a mutex named in the session: the system ends its ownership with the thread that
// holds it, and the next taker learns that the holder ended in its turn (its last append may be
// cut short). When no other process had it open, the mutex ends with its holder; the process
// that makes it anew looks at the log's end once as that taker does. No wait is without limit,
// and none is paid again and again:
// - A holder that keeps it longer than any append takes (it hangs, or it is suspended) costs one
//   bounded wait; after that, until the mutex is had again, it is only tried, and the records
//   take turns through the lock file of the log folder (LogLockFile.h) instead, as they do for
//   good when the mutex's name cannot be had (an object of another kind holds it).
// - When the lock file cannot be had either, within a bounded wait once and then at a single
//   try, the record is appended without a lock rather than held back or dropped.
// What the lock cannot do is said once in the log (TakeLogLockNotice).
// Waits answer messages sent to the thread's windows. It is held only around one append or one
// archive step.

#include "log/LogLockFile.h"

#include <string>

class CQMLogLock
{
public:
    // folder: the log folder ("/" form), where the lock file lies; made when makeFolder is set.
    CQMLogLock(const std::wstring& folder, bool makeFolder) noexcept;
    ~CQMLogLock();
    CQMLogLock(const CQMLogLock&) = delete;
    CQMLogLock& operator=(const CQMLogLock&) = delete;

    // The previous holder ended while it held the lock: its last append may have been cut short.
    bool PreviousHolderDied() const { return m_bPreviousHolderDied; }

private:
    bool m_bMutexHeld = false;
    bool m_bPreviousHolderDied = false;
    CQMLogLockFile m_file;
};

// The records ("PL,LOG_LOCK,...", UTF-8 lines) of what the lock could not do and this process
// has not said yet; each is given out once. Throws std::bad_alloc.
std::string TakeLogLockNotice();

// Closes this process's handle of the session's lock and forgets what it learned, for the
// next record to open it afresh: for tests whose hostile process needs the name free.
void ResetLogLockForTest();
