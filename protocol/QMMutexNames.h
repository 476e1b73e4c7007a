#pragma once
// Named mutexes of the service, shared with the updater: a launch check or component update of
// the module holds the busy mutex while it runs; the updater holds its interface mutex while its
// window is up.

constexpr const wchar_t* kBusyMutexName = L"Tavrin_Inc_ZL_QM_PL_v1";
constexpr const wchar_t* kVestabelUIMutexName = L"Tavrin_Inc_ZL_QM_UI_v1";
