#pragma once
// The log's lock as a byte-range lock on a file of the log folder, for when the session's named
// lock cannot serve: its name is taken by an object of another kind, or its holder hangs. The
// system releases a byte-range lock with the handle that took it, so a holder that dies frees
// it; and a file of the log folder has no name in the session that another program could take.
//
// The threads of a process take turns at a gate of their own and share one handle of the file,
// kept open while exported calls run and the lock serves, closed between calls and when the
// session's lock serves again, so that the log folder can be removed. The holder stamps the file
// and clears the stamp when it lets go; a taker that finds a stamp took the lock from one that
// died in its turn. A wait runs out when the same holder kept the lock all along (it hangs),
// not while the lock passes from holder to holder.

#include "sys/Handle.h"

#include <windows.h>

#include <string>

// The lock file in the log folder. Its name matches no pattern of the log's files.
constexpr const wchar_t* kLogLockFileName = L"Tavrin_ACT_SERVICELOG.lck";

class CQMLogLockFile
{
public:
    CQMLogLockFile() = default;
    ~CQMLogLockFile() { Release(); }
    CQMLogLockFile(const CQMLogLockFile&) = delete;
    CQMLogLockFile& operator=(const CQMLogLockFile&) = delete;

    // Takes the lock of the file in folder ("/" form; made when missing and makeFolder is set),
    // trying until one holder kept it for timeoutMs (0: once; never more than a second in all)
    // while answering sent messages. ERROR_SUCCESS, or
    // why it was not had: ERROR_TIMEOUT while another holds it, else the error of opening the
    // file (ERROR_PATH_NOT_FOUND at once when the folder is missing).
    DWORD Take(const std::wstring& folder, bool makeFolder, DWORD timeoutMs) noexcept;
    void Release() noexcept;

    bool Held() const { return m_bHeld; }
    // The holder before this one ended while it held the lock.
    bool PreviousHolderDied() const { return m_bPreviousHolderDied; }

private:
    bool m_bGateHeld = false;
    bool m_bHeld = false;
    bool m_bPreviousHolderDied = false;
};

// Closes this process's handle of the lock file unless a thread takes its lock now: the log
// folder can then be removed.
void CloseLogLockFile() noexcept;
