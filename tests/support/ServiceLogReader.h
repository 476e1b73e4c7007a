#pragma once
// Reads the service log as the module writes it, for tests that run the exports.

#include <string>
#include <vector>

// The log folder of this process's user, "/" form.
std::wstring ServiceLogFolderForTest();

// Removes the log folder with everything in it.
void ClearServiceLog();

// A file's records: its lines without the byte-order mark and CR LF, with the timestamp and
// its comma cut off ("PL,API_CALL,LaunchCheck,App1"). Fails the test on a malformed line.
// The timestamps, one per record, go to timestamps when it is given.
std::vector<std::wstring> ReadLogRecords(const std::wstring& filePath, std::vector<std::wstring>* timestamps = nullptr);

// Records of the current file (empty when there is none).
std::vector<std::wstring> CurrentLogRecords();

// Names of the archives ("Tavrin_ACT_SERVICELOG_<14 digits>.txt"), oldest first.
std::vector<std::wstring> ArchiveNames();

// Records of every archive, oldest archive first, followed by the current file's.
std::vector<std::wstring> AllLogRecords(std::vector<std::wstring>* timestamps = nullptr);

// True when text is a record timestamp: YYYY-MM-DD-hh-mm-ss-mmm.
bool IsLogTimestamp(const std::wstring& text);
