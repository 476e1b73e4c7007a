#pragma once
// The save for a file whose replace is refused (another program holds it without delete
// sharing, or its folder takes no new file) but that can be written where it is.
//
// The whole new text is first on the disk in a redo copy, sealed with a trailer that says how
// long the text is, its hash, the file it belongs to and the hash of the text it replaces. Only
// then is the file itself cut to the new text's first byte (never to nothing: an empty file is a
// host's), written and flushed; then the copy goes. A process ended in between leaves the copy,
// and the next user of the file finishes the write from it.
// The file itself keeps its format, its identity and every other name it has (links included).

#include "sys/Handle.h"

#include <windows.h>

#include <string>

// Writes bytes into target (a final platform path) in place. redo holds the redo copy, open
// and without sharing, with exactly bytes in it, written and flushed (WriteNewFile). The target
// is opened with every sharing, so that a holder that shares reading and writing does not
// stand in the way. On success the redo copy is deleted. On failure the target is as it was
// (the old text is written back when the new one found no room) and the redo copy is deleted,
// unless the target could not be put back: then it stays for the next user to finish from.
DWORD SaveBytesInPlace(const std::string& bytes, const std::wstring& target, CQMFileHandle& redo);

// The redo copy of target in a folder of the module's own, for a target whose folder takes no
// new file: a name made from the target's path, since one folder serves every list.
std::wstring RedoCopyPathIn(const std::wstring& platformFolder, const std::wstring& target);

// What FinishSaveFromRedoCopy made of the copy it met.
struct QMRedoFinish
{
    // The target was written from the copy.
    bool m_bFinished = false;
    // Another save holds the copy right now (ERROR_SHARING_VIOLATION): it may be writing the
    // target from it this moment, so the target is read or saved only after it lets go.
    bool m_bInUse = false;
    // A copy that could not be applied while it may hold the only whole text: set aside under
    // this name (platform form) instead of deleted, and why: damaged after it was sealed, or
    // whole but made for another path (m_strMadeFor) and not matching the target.
    std::wstring m_strKeptAs;
    bool m_bKeptDamaged = false;
    std::wstring m_strMadeFor;
};

// Finishes a write that a process ended after sealing the redo copy at redoPath. A copy that was
// never sealed (a save ended before it) changes nothing and is deleted: the target was never
// touched. One damaged after it was sealed is deleted only while the target is exactly the text
// it replaced; otherwise it is set aside. A whole copy is applied while the target still shows
// the old text or a non-empty beginning of the new one (an empty target is the host's); a
// target written anew since (by the host) is kept, and the copy deleted; so is the copy of a
// target that is gone. besideTarget: the copy is the target's own "<name>.~qm", which belongs
// to it even when the path it was made for differs (the folder was moved since); such a copy
// that matches neither text is set aside, not deleted. A copy elsewhere made for another
// path belongs to another file and is left alone. ERROR_SUCCESS, also when there was no copy;
// ERROR_SHARING_VIOLATION while another save holds it; the platform's error when the target
// could not be written (the copy stays).
DWORD FinishSaveFromRedoCopy(const std::wstring& target, const std::wstring& redoPath, bool besideTarget,
                             QMRedoFinish& outcome);
