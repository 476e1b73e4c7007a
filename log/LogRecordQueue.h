#pragma once
// Records handed to a writer thread of the module, for the thread that relays the updater's
// progress: it would otherwise open, append and close the current file while the updater
// waits for its answer, once per record.
//
// The queue keeps the order the records were made in, also against records written directly:
// every direct write and every archive step first writes what is queued, under the same lock.
// Each record is still appended whole to the current file, which is opened for one append and
// closed again; records queued close together go in one append. A record waits in the queue
// for a few milliseconds at most, plus what the writer takes to write those before it.

#include "log/LogFolderScope.h"

#include <string>

// Appends the lines (UTF-8, CR LF) to the location's current file, creating the folder when
// the append found it missing. The caller holds ServiceLogMutex().
void AppendToServiceLogLocked(const QMLogLocation& location, std::string lines);

// Queues one record's line (UTF-8, CR LF) for the location; false when it was not queued
// (no memory, or no writer thread could be started): then the caller writes it itself.
bool QueueServiceLogLine(const QMLogLocation& location, std::string line) noexcept;

// Writes every queued record, in order. The caller holds ServiceLogMutex().
void WriteQueuedServiceLogLinesLocked() noexcept;

// How many records wait for the writer thread now (for tests).
size_t CountQueuedServiceLogLines() noexcept;
