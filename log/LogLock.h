#pragma once
// The lock around every append to the service log and every archive step: the threads of this
// process take it in turn, then the processes of the session. Several hosts (and several
// threads of each) write the same current file, and an archive step of one of them must not
// split another's record or leave it in the wrong archive. Appends at the end of a file are
// not atomic across processes everywhere, so they are not relied upon.
//
// The session's part is a word in memory the session shares, naming the thread that holds it:
// taking it costs no call into the system, so a record costs what its open, append and close
// cost. A holder that died (its thread is gone) is taken over at once; one that hangs costs a
// bounded wait, after which the log goes on without it, and later waits are short until the
// lock is had again. It is held only around one append or one archive step.

class CQMLogLock
{
public:
    CQMLogLock() noexcept;
    ~CQMLogLock();
    CQMLogLock(const CQMLogLock&) = delete;
    CQMLogLock& operator=(const CQMLogLock&) = delete;

    // The previous holder ended while it held the lock: its last append may have been cut short.
    bool PreviousHolderDied() const { return m_bTakenOver; }

private:
    bool m_bSessionHeld = false;
    bool m_bTakenOver = false;
};
