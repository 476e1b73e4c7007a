#pragma once
// Appends one record to a log file as UTF-8 with CR LF; a new or empty file gets the byte-order mark first.

#include "sys/Handle.h"

#include <windows.h>

#include <mutex>
#include <string>

// Serialises this process's record writes and archive steps, so that no record
// lands in the current file between an archive's copy and the file's deletion.
std::mutex& ServiceLogMutex();

// One open, one write of the whole line, one close. False when the record was dropped.
bool AppendLogRecord(const std::wstring& filePath, const std::wstring& line);

// The same for lines already in the file's form (UTF-8, each ending in CR LF), written whole
// in one append; the caller holds ServiceLogMutex().
bool AppendLogLinesLocked(const std::wstring& filePath, std::string lines);

// A record as the file holds it: UTF-8 with CR LF.
std::string ToLogLine(const std::wstring& record);

// After opening the file at platformPath failed with openError: true when the file is only
// held for a moment (by a program without write sharing, or an archive step deleting it) and
// a retry may succeed; false when it refuses writing for good and the record is dropped.
bool IsLogFileBusy(const std::wstring& platformPath, DWORD openError);

// Opens a log file for appending only, waiting a moment while another process's archive step
// holds it. disposition is OPEN_ALWAYS for a record, OPEN_EXISTING to probe without creating.
CQMFileHandle OpenLogFileForAppend(const std::wstring& platformPath, DWORD disposition);
