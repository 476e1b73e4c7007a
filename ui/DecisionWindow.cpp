#include "ui/DecisionWindow.h"

#include "ui/ModuleInstance.h"
#include "ui/QMProgressData.h"

#include <windows.h>

namespace
{
// Set on the window once the wait is over, so that destroying it posts no second quit.
constexpr LONG_PTR kWaitOver = 1;

LRESULT CALLBACK DecisionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_QM_DECISION:
        // The decision becomes the loop's exit code.
        ::PostMessageW(window, WM_DESTROY, 0, lParam);
        return 0;
    case WM_DESTROY:
        if (::GetWindowLongPtrW(window, GWLP_USERDATA) != kWaitOver)
            ::PostQuitMessage(static_cast<int>(lParam));
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}
} // namespace

bool WaitForUpdateDecision()
{
    HINSTANCE module = GetModuleInstance();
    if (module == nullptr)
        return false;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DecisionWindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kDecisionWindowClass;
    if (!::RegisterClassW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return false;

    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, kDecisionWindowClass, L"", 0,
                                    ::GetSystemMetrics(SM_CXFULLSCREEN) / 2, ::GetSystemMetrics(SM_CYFULLSCREEN) / 2,
                                    0, 0, nullptr, nullptr, module, nullptr);
    if (window == nullptr)
    {
        ::UnregisterClassW(kDecisionWindowClass, module);
        return false;
    }
    ::ShowWindow(window, SW_HIDE);
    ::SetActiveWindow(window);

    MSG message = {};
    BOOL got = 0;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) > 0)
    {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    bool confirmed = got == 0 && message.wParam == static_cast<WPARAM>(QM_DECISION_CONFIRM);

    ::SetWindowLongPtrW(window, GWLP_USERDATA, kWaitOver);
    ::DestroyWindow(window);
    ::UnregisterClassW(kDecisionWindowClass, module);
    return confirmed;
}
