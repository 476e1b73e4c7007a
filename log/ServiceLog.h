#pragma once
// The per-user service log: one record per line in the current file, archived under a
// date-stamped name at the end of certain exported calls. No function here reports a failure.

#include <string>
#include <vector>

#include "log/LogFields.h"

// Appends "timestamp,source,tag,message" to the current file. Callers pass "PL" as source.
void WriteServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept;

// The same record, written by the module's log writer thread soon after, in its turn among the
// others: for a thread that must answer quickly (the updater waits while its progress is relayed).
// Every later direct record, archive step and FlushServiceLog writes it first.
void QueueServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept;

// Writes every queued record now.
void FlushServiceLog() noexcept;

// Has the writer thread write the queued records now, while this thread goes on.
void RequestServiceLogWrite() noexcept;

// Prunes the log folder, then renames the current file to a stamped archive.
void ArchiveServiceLog() noexcept;

// The log folder in "/" form; relative when the user data folder is unknown.
std::wstring GetServiceLogFolder();
