#pragma once
// Which view of HKLM\SOFTWARE holds the service's keys.

#include <windows.h>

// The service and its installer are 32-bit, so their keys live in the 32-bit view. A 32-bit
// module reads that view by default; a 64-bit module must ask for it, or it would look in the
// 64-bit view, where nothing of the service is registered.
#ifdef _WIN64
constexpr REGSAM kServiceRegistryView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kServiceRegistryView = 0;
#endif
