#pragma once
// The save for a file whose replace is refused (another program holds it without delete
// sharing, or its folder takes no new file) but that can be written where it is.
//
// The whole new text is first on the disk in a redo copy, sealed with a trailer that says how
// long the text is, its hash, the file it belongs to and the hash of the text it replaces. Only
// then is the file itself cut to nothing, written and flushed; then the copy goes. A process
// ended in between leaves the copy, and the next user of the file finishes the write from it.
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

// Finishes a write that a process ended after sealing the redo copy at redoPath. A copy that is
// not whole (a save ended before it was sealed), or that belongs to another file, changes
// nothing and is deleted (left alone when it belongs to another file). The target is written
// only while it still shows the old text or a beginning of the new one: a target written anew
// since (by the host) is kept, and the copy deleted; so is the copy of a target that is gone.
// finished is set when the target was
// written. ERROR_SUCCESS, also when there was no copy or another save holds it right now; the
// platform's error when the target could not be written (the copy stays).
DWORD FinishSaveFromRedoCopy(const std::wstring& target, const std::wstring& redoPath, bool& finished);
