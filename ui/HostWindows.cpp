#include "ui/HostWindows.h"

#include <algorithm>

namespace
{
struct EnumState
{
    DWORD processId;
    std::vector<HWND>* windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM lParam)
{
    auto* state = reinterpret_cast<EnumState*>(lParam);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner == state->processId)
        state->windows->push_back(window);
    return TRUE;
}
} // namespace

std::vector<HWND> GetProcessTopWindows(DWORD processId)
{
    std::vector<HWND> all;
    EnumState state = {processId, &all};
    ::EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&state));
    std::vector<HWND> usable;
    for (HWND window : all)
    {
        LONG style = ::GetWindowLongW(window, GWL_STYLE);
        if ((style & WS_VISIBLE) && !(style & WS_DISABLED))
            usable.push_back(window);
    }
    return usable;
}

bool GetProcessMainWindow(DWORD processId, HWND& window)
{
    HWND foreground = ::GetForegroundWindow();
    if (foreground == nullptr)
        return false;
    std::vector<HWND> windows = GetProcessTopWindows(processId);
    if (std::find(windows.begin(), windows.end(), foreground) != windows.end())
    {
        window = foreground;
        return true;
    }
    if (windows.empty())
        return false;
    window = windows.front();
    return true;
}

bool BringWindowToFront(HWND window)
{
    if (window == nullptr)
        return false;
    HWND foreground = ::GetForegroundWindow();
    DWORD foregroundThread = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
    DWORD self = ::GetCurrentThreadId();
    // Disabling the host's active window can leave no foreground window at all; there is no
    // input to join then, and the window may simply take the foreground.
    if (foregroundThread == self || foregroundThread == 0)
    {
        ::SetForegroundWindow(window);
    }
    else if (::AttachThreadInput(self, foregroundThread, TRUE))
    {
        ::SetForegroundWindow(window);
        ::AttachThreadInput(self, foregroundThread, FALSE);
    }
    return true;
}

void EnableWindows(const std::vector<HWND>& windows, bool enable)
{
    for (HWND window : windows)
        ::EnableWindow(window, enable ? TRUE : FALSE);
}
