#pragma once
// One run of the updater executable: request path and switch on its command line,
// waited for without time limit.

#include <string>
#include <vector>

constexpr const wchar_t* kSwitchCheckAppUpdate = L"/check_app_update_qm";
constexpr const wchar_t* kSwitchUpdateApp = L"/update_app";
constexpr const wchar_t* kSwitchUpdateComponents = L"/update_components";
constexpr const wchar_t* kSwitchInstalledList = L"/component_installedlist";
constexpr const wchar_t* kSwitchLatestList = L"/component_latestlist";

// Each argument followed by one space; an argument naming an existing object and holding
// a space is quoted. False, with nothing built, when an argument does not fit 259 characters.
bool BuildVestabelParameters(const std::vector<std::wstring>& arguments, std::wstring& parameters);

// The exit code of a run that could not be read (the shell handed the start to another process).
constexpr unsigned long kUpdaterExitUnknown = 0xFFFFFFFFul;

// True when the registered updater was started and has ended; false when it was not started,
// also when the first argument (the request path) is empty. Why not goes into a reason record
// of the exported call logName. exitCode, when given, gets the process's exit code.
bool RunVestabel(const wchar_t* logName, const std::vector<std::wstring>& arguments,
                 unsigned long* exitCode = nullptr);

// "exit code 3", "exit code 0xC0000005" (a crash's status reads as one in hex), or that it is unknown.
std::wstring DescribeUpdaterExitCode(unsigned long exitCode);
