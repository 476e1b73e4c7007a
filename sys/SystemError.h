#pragma once
// The platform's error codes as words for the service log.

#include <windows.h>

#include <string>

// "error 112: There is not enough space on the disk." in the system's language; "error 112"
// alone when the system has no text for it.
std::wstring DescribeSystemError(DWORD error);
