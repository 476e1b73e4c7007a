#pragma once
// The processes this process can see, whether a program runs in any of them, and which of
// them own the windows of a class.

#include <windows.h>

#include <string>
#include <vector>

struct QMProcessEntry
{
    DWORD m_nId;
    std::wstring m_strExeName; // the file name a process snapshot gives
};

// Every process of a snapshot; empty when none can be taken.
std::vector<QMProcessEntry> ListProcesses();

// The full image path of a process, or empty when it cannot be read (another user, elevated).
std::wstring GetProcessImage(DWORD processId);

// The file name part of a path with either separator.
std::wstring FileNameOfPath(const std::wstring& path);

// True when a process runs the executable at imagePath (case-insensitive, either separator).
// A process whose image cannot be read but whose file name matches counts as running.
bool IsImageRunning(const std::wstring& imagePath);

struct QMProcessInfo
{
    DWORD m_nId;
    std::wstring m_strImage; // full image path when it can be read, else the file name, else empty
};

// The processes that own a message-only window of the class, each once, other than the owner of
// skipWindow's.
std::vector<QMProcessInfo> FindMessageWindowOwners(const std::wstring& windowClass, HWND skipWindow = nullptr);
