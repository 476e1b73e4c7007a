#pragma once
// Named mutexes by which a running launch check, component update or updater is recognised.

#include "protocol/QMMutexNames.h"

#include <string>
#include <vector>

// True when any of the mutexes exists; only probes, never takes ownership.
bool IsAnyMutexPresent(const std::vector<std::wstring>& names);

// True while a launch check or component update holds the busy mutex.
bool IsInstanceBusy();
