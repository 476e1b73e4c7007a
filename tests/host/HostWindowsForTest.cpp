#include "host/HostWindowsForTest.h"

CHostWindow::CHostWindow(bool visible, bool enabled)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ::DefWindowProcW;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QMTestHostWindow";
    ::RegisterClassW(&windowClass);
    DWORD style = WS_OVERLAPPEDWINDOW | (visible ? WS_VISIBLE : 0) | (enabled ? 0 : WS_DISABLED);
    m_hWnd = ::CreateWindowExW(0, L"QMTestHostWindow", L"Host", style, 10, 10, 200, 100, nullptr, nullptr,
                               ::GetModuleHandleW(nullptr), nullptr);
}

CHostWindow::~CHostWindow()
{
    if (m_hWnd != nullptr)
        ::DestroyWindow(m_hWnd);
}

namespace
{
struct DialogSearch
{
    const wchar_t* caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = {};
    wchar_t title[256] = {};
    ::GetClassNameW(window, className, 16);
    // Read without a message: the window's thread may be blocked waiting for this one.
    ::InternalGetWindowText(window, title, 256);
    if (process == ::GetCurrentProcessId() && wcscmp(className, L"#32770") == 0 && ::IsWindowVisible(window) &&
        wcscmp(title, search->caption) == 0)
    {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND WaitForDialog(const wchar_t* caption, DWORD timeoutMs)
{
    DialogSearch search = {caption, nullptr};
    for (DWORD waited = 0; waited < timeoutMs && search.found == nullptr; waited += 10)
    {
        ::EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            ::Sleep(10);
    }
    return search.found;
}

namespace
{
BOOL CALLBACK CancelDialog(HWND window, LPARAM)
{
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") == 0)
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
}
} // namespace

void CancelDialogsOfThread(DWORD threadId)
{
    ::EnumThreadWindows(threadId, CancelDialog, 0);
}
