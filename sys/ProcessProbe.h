#pragma once
// Whether a program is running in any process that this process can see.

#include <string>

// True when a process runs the executable at imagePath (case-insensitive, either separator).
// A process whose image cannot be read but whose file name matches counts as running.
bool IsImageRunning(const std::wstring& imagePath);
