#pragma once
// Named mutexes by which a running launch check, component update or updater is recognised.

#include "protocol/QMMutexNames.h"

#include <windows.h>

#include <string>
#include <vector>

// True when any of the mutexes exists; only probes, never takes ownership.
bool IsAnyMutexPresent(const std::vector<std::wstring>& names);

// True while a launch check or component update holds the busy mutex.
bool IsInstanceBusy();

// Who holds the busy mutex, in words for the service log: "<program> (process <id>)" of the
// running launch check's or update's progress window, other than skipWindow; "a process that
// cannot be named" when none is found (the holder may have no window, or be another user's).
std::wstring NameBusyHolder(HWND skipWindow = nullptr);
