#pragma once
// Named mutexes by which a running launch check, component update or updater is recognised.

#include <string>
#include <vector>

constexpr const wchar_t* kBusyMutexName = L"Tavrin_Inc_ZL_QM_PL_v1";
constexpr const wchar_t* kVestabelUIMutexName = L"Tavrin_Inc_ZL_QM_UI_v1";

// True when any of the mutexes exists; only probes, never takes ownership.
bool IsAnyMutexPresent(const std::vector<std::wstring>& names);

// True while a launch check or component update holds the busy mutex.
bool IsInstanceBusy();
