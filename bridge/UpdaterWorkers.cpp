#include "bridge/UpdaterWorkers.h"

#include "api/QMCallContext.h"
#include "bridge/RequestDocument.h"
#include "bridge/ResultDocument.h"
#include "bridge/VestabelRun.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"
#include "ui/DecisionWindow.h"
#include "ui/ProgressWindow.h"

#include <windows.h>

namespace
{
void LogLaunchCheckResult()
{
    WriteServiceLog(kServiceLogSource, L"CATCH_XML", L"LaunchCheck");
}

// What a worker takes from the caller's context when it starts; nothing is read later.
struct QMWorkerCopy
{
    std::wstring m_strAppName;
    std::wstring m_strActionListPath;
    QMProgressCallback m_pfnProgress = nullptr;
    HWND m_hProgressWnd = nullptr;
    DWORD m_nWindowThreadId = 0;
};

QMWorkerCopy CopyForWorker(const QMCallContext& context)
{
    QMWorkerCopy copy;
    copy.m_strAppName = context.m_strAppName;
    copy.m_strActionListPath = context.m_strActionListPath;
    copy.m_pfnProgress = context.m_pfnProgress;
    copy.m_hProgressWnd = context.m_hProgressWnd;
    copy.m_nWindowThreadId = ::GetWindowThreadProcessId(context.m_hProgressWnd, nullptr);
    return copy;
}
} // namespace

bool CheckAppUpdate(const std::wstring& appName, int& flag)
{
    flag = 1;
    std::wstring request = CreateLaunchCheckRequest(appName);
    if (!RunVestabel({request, kSwitchCheckAppUpdate}))
        return false;
    LogLaunchCheckResult();

    std::wstring processInfo;
    int decision = CatchResultDocument(request, processInfo);
    if (decision == QM_LAUNCH_YES)
        return true;
    if (decision != QM_LAUNCH_RESTART)
        return false;

    if (!processInfo.empty() && !WaitForUpdateDecision())
        return true;

    std::wstring updateRequest = CreateLaunchCheckRequest(appName);
    if (!RunVestabel({updateRequest, kSwitchUpdateApp}))
        return false;
    LogLaunchCheckResult();
    std::wstring ignored;
    int updateDecision = CatchResultDocument(updateRequest, ignored);
    if (updateDecision == QM_LAUNCH_YES)
        return true;
    if (updateDecision == QM_LAUNCH_NO)
    {
        flag = 0;
        return true;
    }
    return false;
}

bool RunComponentUpdate(const QMCallContext& context)
{
    std::wstring request = CreateUpdateComponentsRequest(context.m_strActionListPath, context.m_strAppName);
    return RunVestabel({request, kSwitchUpdateComponents});
}

unsigned __stdcall LaunchCheckThreadProc(void* argument)
{
    QMWorkerCopy copy;
    try
    {
        copy = CopyForWorker(*static_cast<const QMCallContext*>(argument));
        // One apartment for every request and result document of the sequence.
        CQMComInit com = InitializeComForThread();
        int flag = 1;
        CheckAppUpdate(copy.m_strAppName, flag);
        // The handle copied at the start: this call's own window, never another process's.
        ::SendMessageW(copy.m_hProgressWnd, WM_QM_CHECK_DONE, 0, flag);
    }
    catch (...)
    {
        // The caller's loop must end whatever failed here; the flag stays "may go on starting".
        if (copy.m_hProgressWnd != nullptr)
            ::SendMessageW(copy.m_hProgressWnd, WM_QM_CHECK_DONE, 0, 1);
    }
    return 0;
}

unsigned __stdcall UpdateComponentsThreadProc(void* argument)
{
    QMWorkerCopy copy;
    try
    {
        copy = CopyForWorker(*static_cast<const QMCallContext*>(argument));
        CQMComInit com = InitializeComForThread();
        QMCallContext own;
        own.m_strAppName = copy.m_strAppName;
        own.m_strActionListPath = copy.m_strActionListPath;
        own.m_pfnProgress = copy.m_pfnProgress;
        RunComponentUpdate(own);
    }
    catch (...)
    {
    }
    // Not started, crashed before its finish record, or failed here: while the window is still
    // open nothing else will close it, so end the update as not run.
    if (IsProgressWindowOf(copy.m_hProgressWnd, copy.m_nWindowThreadId))
        SendFinishNotice(copy.m_hProgressWnd, L"", L"");
    return 0;
}
