#pragma once
// Where the service's updater executable is installed. Read afresh at every call.

#include <string>

constexpr const wchar_t* kVestabelInstallKey = L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install";
constexpr const wchar_t* kVestabelPathValue = L"Vestabel exe path";

// The registered path of the updater, or empty when none can be read.
std::wstring GetVestabelExePath();

// True when a file (not a folder) exists at path.
bool VestabelExeUsable(const std::wstring& path);
