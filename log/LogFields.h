#pragma once
// Formatting of service log records.

#include <windows.h>

#include <string>
#include <vector>

// Fields joined with ","; a field holding LF, CR, '"' or ',' is quoted with its quotes doubled.
std::wstring JoinLogFields(const std::vector<std::wstring>& fields);

// 2009-06-15-09-30-05-123
std::wstring FormatLogTimestamp(const SYSTEMTIME& time);

// timestamp,source[,tag],message  (an empty tag leaves out its field and comma)
std::wstring BuildLogRecord(const SYSTEMTIME& time, const std::wstring& source,
                            const std::wstring& tag, const std::wstring& message);

// YYYYMMDDhhmmss, the archive name's stamp.
std::wstring FormatArchiveStamp(const SYSTEMTIME& time);
