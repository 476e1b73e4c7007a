#pragma once
// Top-level windows of the test process that play the host's own windows.

#include <windows.h>

class CHostWindow
{
public:
    // A plain top-level window; visible and enabled as asked. Null handle without a display.
    CHostWindow(bool visible, bool enabled);
    ~CHostWindow();
    CHostWindow(const CHostWindow&) = delete;
    CHostWindow& operator=(const CHostWindow&) = delete;

    HWND Handle() const { return m_hWnd; }
    bool Enabled() const { return ::IsWindowEnabled(m_hWnd) != FALSE; }
    bool Visible() const { return ::IsWindowVisible(m_hWnd) != FALSE; }

private:
    HWND m_hWnd = nullptr;
};

// Finds a visible dialog (#32770) of this process with this caption; waits up to timeoutMs.
HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs);

// Ends every dialog of a thread with IDCANCEL: the way out when a test could not find the one
// it expected, so that the modal call it waits for still returns.
void CancelDialogsOfThread(DWORD threadId);
