#pragma once
// The host's top-level windows during a launch check.

#include <windows.h>

#include <vector>

// The visible, enabled top-level windows of a process, in enumeration order.
std::vector<HWND> GetProcessTopWindows(DWORD processId);

// The window that gets the foreground back: the foreground window when it is one of the
// process's windows, else its first one; false, output untouched, when there is none.
bool GetProcessMainWindow(DWORD processId, HWND& window);

// Gives the window the foreground, joining the foreground thread's input when needed.
bool BringWindowToFront(HWND window);

void EnableWindows(const std::vector<HWND>& windows, bool enable);
