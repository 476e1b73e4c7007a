#pragma once
// What qmhost doctor looks at on a machine. Every probe only looks: it writes no log record,
// takes no mutex and leaves no file behind. Paths are in platform ("\") form.

#include "sys/ProcessProbe.h"

#include <windows.h>

#include <string>
#include <vector>

// ERROR_SUCCESS when a new file can be created in the folder and deleted again, otherwise
// the platform's error of the step that failed.
DWORD ProbeFolderWritable(const std::wstring& folder);

// ERROR_SUCCESS when the existing file opens for appending, otherwise the platform's error.
// Nothing is written, and a missing file is not created.
DWORD ProbeFileAppendable(const std::wstring& path);

// ERROR_BAD_EXE_FORMAT when the file is not a program the system would start (a text file
// under a program's name), which the shell refuses with that error; ERROR_SUCCESS for a
// program; another error when the file cannot be read to tell.
DWORD ProbeProgramFile(const std::wstring& path);

// True when the named mutex exists. It is opened for SYNCHRONIZE only and never waited on,
// so it is never owned; access denied means it exists (another account or integrity level).
bool IsMutexHeld(const std::wstring& name);

// The registered updater's value as stored: its registry type (REG_SZ, REG_EXPAND_SZ, ...), or
// REG_NONE when it cannot be read.
DWORD ReadUpdaterRegistrationType();

// What the system tells of the processes that have a named mutex open.
struct QMMutexHolders
{
    // False where the system does not say (the handle table hides object addresses from this
    // account, or does not carry them).
    bool m_bKnown = false;
    std::vector<QMProcessInfo> m_vecProcesses; // other than this one
};
QMMutexHolders FindMutexHolders(const std::wstring& name);

// The running processes whose image has the file name of imagePath (letter case ignored):
// a snapshot names images by file name only.
std::vector<QMProcessInfo> FindProcessesOfImage(const std::wstring& imagePath);

// The whole file, shared with its writers; empty when it cannot be read or passes 64 MB.
std::string ReadWholeFile(const std::wstring& path);

// Names of the files (not folders) matching the pattern in the folder, by code units.
std::vector<std::wstring> ListFiles(const std::wstring& folder, const std::wstring& pattern);

// The last count lines of the UTF-8 files taken as one text in the given order, without
// byte-order marks and line ends.
std::vector<std::wstring> ReadLastLines(const std::vector<std::wstring>& paths, size_t count);
