#pragma once
// The per-user service log: one record per line in the current file, archived under a
// date-stamped name at the end of certain exported calls. No function here reports a failure.
// Every record is in the file when its write returns, whatever happens to the process next;
// records and archive steps of all processes of the session take their turns.

#include <string>
#include <vector>

#include "log/LogFields.h"

// Appends "timestamp,source,tag,message" to the current file. Callers pass "PL" as source.
// On a thread with windows, messages sent to them are answered before and after the record.
void WriteServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept;

// Prunes the log folder, then renames the current file to a stamped archive.
void ArchiveServiceLog() noexcept;

// The log folder in "/" form; relative when the user data folder is unknown.
std::wstring GetServiceLogFolder();
