#pragma once
// Writing a document's bytes to a file so that the file holds its whole old text or the whole
// new one, whatever moment the process dies or the disk fills.
//
// The new text goes into a temporary file beside the target ("<name>.~qm"), on the disk, takes
// the target's attributes, creation time and access list, and then takes the target's place in
// one rename: no instant shows a missing, empty or partly written file. What the rename cannot
// keep is another name of the same file (a hard link), which goes on showing the old text. A
// temporary file left by a process that was ended halfway is cleared by the next save of the
// same target; a failed save leaves none.

#include <windows.h>

#include <string>

// ERROR_SUCCESS, or the platform's error; the target is then as it was. A read-only target or
// a folder gives ERROR_ACCESS_DENIED without being touched. Paths up to the platform's limit
// are saved even where the temporary name passes it.
DWORD SaveBytesReplacing(const std::string& bytes, const std::wstring& path);

