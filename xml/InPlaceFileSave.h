#pragma once
// Writing a document's bytes to a file without ever leaving a partly written target.

#include <string>

// Truncating the target before writing would show a partly written list, and a replacing
// rename would give the host a new file, so the whole text is written into the target itself,
// held without sharing: the file keeps its identity (security, attributes, hard links) and
// nobody sees a partly written list. No temporary name, so any path that the platform can
// open is saved. False when the target cannot be opened or written, or is read-only or a
// folder; in the last cases it is untouched.
bool SaveBytesInPlace(const std::string& bytes, const std::wstring& path);
