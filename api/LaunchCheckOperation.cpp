#include "api/Operations.h"

#include "api/BusyMutex.h"
#include "api/CallFrame.h"
#include "api/SupportProbe.h"
#include "bridge/UpdaterWorkers.h"
#include "log/ReasonRecord.h"
#include "sys/MessageWait.h"
#include "ui/HostWindows.h"
#include "ui/ModuleInstance.h"
#include "ui/MutexProbe.h"
#include "ui/ProgressWindow.h"
#include "ui/WinQMMsgBox.h"
#include "ui/resource.h"

#include <vector>

// The launch check: the host's windows are disabled while a worker runs the updater and
// the calling thread pumps messages; the worker's done message carries the answer.

namespace
{
constexpr DWORD kWorkerEndLimitMs = 5000;

// Re-enables the host's windows on every path out of the body.
class CDisabledHostWindows
{
public:
    ~CDisabledHostWindows() { Restore(); }
    void Disable(std::vector<HWND> windows)
    {
        m_vecWindows = std::move(windows);
        EnableWindows(m_vecWindows, false);
    }
    void Restore()
    {
        EnableWindows(m_vecWindows, true);
        m_vecWindows.clear();
    }

private:
    std::vector<HWND> m_vecWindows;
};

// Closes a progress window the busy path does not use, before its context goes away.
void CloseUnusedProgressWindow(QMCallContext& context, QMProgressContext& progress)
{
    CloseProgressWindow(progress);
    ::UnregisterClassW(kProgressWindowClass, GetModuleInstance());
    context.m_hProgressWnd = nullptr;
}

bool PrepareLaunchCheck(CDisabledHostWindows& hostWindows, QMCallContext& context, QMProgressContext& progress,
                        bool& busy)
{
    DWORD processId = ::GetCurrentProcessId();
    busy = false;
    GetProcessMainWindow(processId, context.m_hOwnerWnd);
    hostWindows.Disable(GetProcessTopWindows(processId));
    if (IsInstanceBusy())
    {
        busy = true;
        return true;
    }
    context.m_hProgressWnd = CreateProgressWindow(progress);
    DWORD windowError = ::GetLastError();
    if (!TakeBusyMutex(context))
        busy = true;
    if (context.m_hProgressWnd != nullptr)
        return true;
    WriteReasonRecord(kLogNameLaunchCheck, L"the progress window could not be created", windowError);
    hostWindows.Restore();
    return false;
}

void ShowBusyMessage(QMCallContext& context, const std::wstring& appName)
{
    context.m_busyMessage.m_strText = LoadModuleString(IDS_QM_BUSY_MESSAGE);
    context.m_busyMessage.m_strCaption = appName;
    context.m_busyMessage.m_nButtons = 4;
    context.m_busyMessage.m_nIcon = 3;
    QMMsgBoxInfo shown = context.m_busyMessage;
    ShowQMMsgBox(shown.m_strText, shown.m_strCaption, shown.m_nButtons, shown.m_nIcon);
}

int WaitForLaunchCheck(CDisabledHostWindows& hostWindows, QMCallContext& context, QMProgressContext& progress,
                       HANDLE worker)
{
    RunProgressMessageLoop(progress);
    hostWindows.Restore();
    if (context.m_hOwnerWnd != nullptr)
        BringWindowToFront(context.m_hOwnerWnd);
    // The done message is the worker's last act, so it ends at once; the bound only keeps a
    // worker stalled by the system from holding the host, and the worker keeps the module loaded.
    // A host that quit has waited for the updater long enough.
    if (worker != nullptr && !progress.m_bAbandonedOnQuit)
        WaitHandlingSentMessages(worker, kWorkerEndLimitMs);
    return progress.m_nLaunchFlag;
}
} // namespace

bool RunLaunchCheck(QMCallContext& context, const std::wstring& appName, int& state)
{
    LogModuleVersion();
    if (!IsVestabelRegistered())
        return false;
    context.m_strAppName = appName;

    QMProgressContext progress;
    progress.m_bLaunchCheck = true;
    progress.m_nDoneKey = MakeDoneKey();
    CDisabledHostWindows hostWindows;
    bool busy = false;
    if (!PrepareLaunchCheck(hostWindows, context, progress, busy))
        return false;

    if (busy)
    {
        WriteReasonRecord(kLogNameLaunchCheck, L"busy: a launch check or component update runs in " +
                                                   NameBusyHolder(context.m_hProgressWnd) +
                                                   L": the busy message is shown and the host starts");
        CloseUnusedProgressWindow(context, progress);
        ShowBusyMessage(context, appName);
        state = QM_STATE_GO_ON;
        hostWindows.Restore();
        if (context.m_hOwnerWnd != nullptr)
            BringWindowToFront(context.m_hOwnerWnd);
        return true;
    }

    CQMKernelHandle worker = StartWorker(LaunchCheckThreadProc, context.WorkerCopy(progress.m_nDoneKey));
    if (!worker)
    {
        // No worker, no done message: end as a check without a usable answer.
        ::SendMessageW(context.m_hProgressWnd, WM_QM_CHECK_DONE, progress.m_nDoneKey, QM_STATE_GO_ON);
    }
    state = WaitForLaunchCheck(hostWindows, context, progress, worker.Get());
    // The check's updater may still run: the worker keeps the busy mutex until it has ended.
    context.m_bAbandonedOnQuit = progress.m_bAbandonedOnQuit;
    return true;
}
