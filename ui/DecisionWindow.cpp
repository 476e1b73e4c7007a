#include "ui/DecisionWindow.h"

#include "ui/ModuleInstance.h"
#include "protocol/QMProgressData.h"

#include <windows.h>

namespace
{
// Set on the window once the wait is over, so that destroying it posts no second quit.
constexpr LONG_PTR kWaitOver = 1;
// How often the wait asks whether anybody is left to decide.
constexpr DWORD kProbeIntervalMs = 500;

LRESULT CALLBACK DecisionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_QM_DECISION:
        // The decision becomes the loop's exit code.
        ::PostMessageW(window, WM_DESTROY, 0, lParam);
        return 0;
    case WM_DESTROY:
        // The whole value decides: a 64-bit value that merely ends in the confirmation's bits
        // is no confirmation, and the quit code is only an int.
        if (::GetWindowLongPtrW(window, GWLP_USERDATA) != kWaitOver)
            ::PostQuitMessage(lParam == QM_DECISION_CONFIRM ? static_cast<int>(QM_DECISION_CONFIRM) : 0);
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}
} // namespace

QMDecisionOutcome WaitForUpdateDecision(const std::function<bool()>& decidingSideAlive, DWORD limitMs)
{
    HINSTANCE module = GetModuleInstance();
    if (module == nullptr)
        return QM_DECISION_NO_WINDOW;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DecisionWindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kDecisionWindowClass;
    if (!::RegisterClassW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return QM_DECISION_NO_WINDOW;

    HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, kDecisionWindowClass, L"", 0,
                                    ::GetSystemMetrics(SM_CXFULLSCREEN) / 2, ::GetSystemMetrics(SM_CYFULLSCREEN) / 2,
                                    0, 0, nullptr, nullptr, module, nullptr);
    if (window == nullptr)
    {
        ::UnregisterClassW(kDecisionWindowClass, module);
        return QM_DECISION_NO_WINDOW;
    }
    ::ShowWindow(window, SW_HIDE);
    ::SetActiveWindow(window);

    QMDecisionOutcome outcome = QM_DECISION_TIMED_OUT;
    DWORD start = ::GetTickCount();
    DWORD lastProbe = start;
    int goneProbes = 0;
    bool sideGone = false;
    bool waiting = true;
    while (waiting)
    {
        MSG message = {};
        while (waiting && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            if (message.message == WM_QUIT)
            {
                outcome = message.wParam == static_cast<WPARAM>(QM_DECISION_CONFIRM) ? QM_DECISION_CONFIRMED
                                                                                      : QM_DECISION_DECLINED;
                waiting = false;
                break;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (!waiting)
            break;
        if (sideGone)
        {
            outcome = QM_DECISION_SIDE_GONE;
            break;
        }
        DWORD now = ::GetTickCount();
        if (now - start >= limitMs)
            break;
        if (now - lastProbe >= kProbeIntervalMs)
        {
            lastProbe = now;
            // Twice in a row, so that a hand-over between two of the updater's processes
            // is not taken for its end; a decision posted just before is already queued.
            goneProbes = decidingSideAlive && !decidingSideAlive() ? goneProbes + 1 : 0;
            if (goneProbes >= 2)
            {
                // One more look at the queue first: a decision posted just before its sender ended counts.
                sideGone = true;
                continue;
            }
        }
        DWORD left = limitMs - (now - start);
        ::MsgWaitForMultipleObjectsEx(0, nullptr, left < kProbeIntervalMs ? left : kProbeIntervalMs, QS_ALLINPUT,
                                      MWMO_INPUTAVAILABLE);
    }

    ::SetWindowLongPtrW(window, GWLP_USERDATA, kWaitOver);
    ::DestroyWindow(window);
    ::UnregisterClassW(kDecisionWindowClass, module);
    return outcome;
}
