#pragma once
// Appends records to the service log's files: each record one whole line, UTF-8 with CR LF, a
// new or empty file starting with the byte-order mark. A record is in the file when its append
// returns; a process that dies at any moment after that loses none of its records.

#include "sys/Handle.h"

#include <windows.h>

#include <functional>
#include <string>

// Appends the lines that makeLines returns (UTF-8, each ending in CR LF) to the file in one
// write, with one open and close of the file, so that nothing stays open between records (the
// file can be archived, moved or removed by anyone at any time). They are made under the log
// lock, so that records stand in the file in the order of
// their timestamps, also across processes. When the file cannot be created because folder (may
// be empty) is missing, the folder is made and the append tried once more. A write that fails
// halfway (a full disk) is taken back, so the file ends with a whole line again. False when the
// record was dropped. makeLines may throw std::bad_alloc.
bool AppendLogLines(const std::wstring& filePath, const std::wstring& folder,
                    const std::function<std::string()>& makeLines);

// One record appended to the file, without making its folder.
bool AppendLogRecord(const std::wstring& filePath, const std::wstring& line);

// A record as the file holds it: UTF-8 with CR LF.
std::string ToLogLine(const std::wstring& record);

// After opening the file at platformPath failed with openError: true when the file is only
// held for a moment (by a program without write sharing, or another program deleting it) and
// a retry may succeed; false when it refuses writing for good and the record is dropped.
bool IsLogFileBusy(const std::wstring& platformPath, DWORD openError);

// Opens a log file for appending only, waiting a moment while another program holds it.
// disposition is OPEN_ALWAYS for a record, OPEN_EXISTING to probe without creating.
CQMFileHandle OpenLogFileForAppend(const std::wstring& platformPath, DWORD disposition);

// Cuts the file back to its last whole line (after the last CR LF; to nothing when it holds
// none), taking back a record whose write was cut short. True when the file ends whole.
bool RollBackToLastWholeLine(const std::wstring& platformPath);
