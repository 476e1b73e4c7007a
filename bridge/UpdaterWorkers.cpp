#include "bridge/UpdaterWorkers.h"

#include "bridge/RequestDocument.h"
#include "bridge/ResultDocument.h"
#include "bridge/VestabelLocation.h"
#include "bridge/VestabelRun.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"
#include "sys/ModuleThread.h"
#include "sys/ProcessProbe.h"
#include "ui/DecisionWindow.h"
#include "ui/MutexProbe.h"
#include "ui/ProgressWindow.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace
{
void LogLaunchCheckResult()
{
    WriteServiceLog(kServiceLogSource, L"CATCH_XML", kLogNameLaunchCheck);
}

// The updater's side can still decide while its interface is up or any of its processes runs.
bool IsVestabelSideAlive()
{
    return IsAnyMutexPresent({kVestabelUIMutexName}) || IsImageRunning(GetVestabelExePath());
}

bool WaitForDecisionOfAnotherProcess()
{
    QMDecisionOutcome outcome = WaitForUpdateDecision(IsVestabelSideAlive);
    if (outcome == QM_DECISION_SIDE_GONE || outcome == QM_DECISION_TIMED_OUT)
    {
        const bool gone = outcome == QM_DECISION_SIDE_GONE;
        WriteServiceLog(kServiceLogSource, L"CATCH_MSG",
                        JoinLogFields({kLogNameLaunchCheck, gone ? L"NO_DECISION_SIDE_GONE" : L"NO_DECISION_TIMEOUT"}));
        WriteReasonRecord(kLogNameLaunchCheck, gone ? L"the process that was to decide on the application update "
                                                      L"ended without deciding: the host starts"
                                                    : L"nobody decided on the application update in time: the host "
                                                      L"starts");
    }
    return outcome == QM_DECISION_CONFIRMED;
}
} // namespace

bool CheckAppUpdate(const std::wstring& appName, int& flag, const QMWorkerCopy* call)
{
    flag = 1;
    std::wstring request = CreateLaunchCheckRequest(appName);
    unsigned long exitCode = kUpdaterExitUnknown;
    if (!RunVestabel(kLogNameLaunchCheck, {request, kSwitchCheckAppUpdate}, &exitCode))
        return false;
    LogLaunchCheckResult();

    std::wstring processInfo;
    int decision = CatchResultDocument(request, processInfo, nullptr, kLogNameLaunchCheck, exitCode);
    if (decision == QM_LAUNCH_YES)
        return true;
    if (decision != QM_LAUNCH_RESTART)
        return false;

    // A call that has ended (its host quit) waits for no decision and no update: the worker,
    // which keeps the busy mutex until then, ends at once.
    auto callEnded = [call] {
        if (call == nullptr || IsProgressWindowOf(call->m_hProgressWnd, call->m_nWindowThreadId))
            return false;
        WriteReasonRecord(kLogNameLaunchCheck, L"the call ended before the check's answer: the application update "
                                               L"is not started");
        return true;
    };
    if (callEnded())
        return false;
    if (!processInfo.empty() && !WaitForDecisionOfAnotherProcess())
        return true;
    if (callEnded())
        return false;

    std::wstring updateRequest = CreateLaunchCheckRequest(appName);
    if (!RunVestabel(kLogNameLaunchCheck, {updateRequest, kSwitchUpdateApp}, &exitCode))
        return false;
    LogLaunchCheckResult();
    std::wstring ignored;
    int updateDecision = CatchResultDocument(updateRequest, ignored, nullptr, kLogNameLaunchCheck, exitCode);
    if (updateDecision == QM_LAUNCH_YES)
        return true;
    if (updateDecision == QM_LAUNCH_NO)
    {
        flag = 0;
        return true;
    }
    return false;
}

bool RunComponentUpdate(const std::wstring& appName, const std::wstring& actionListPath, unsigned long& exitCode)
{
    std::wstring request = CreateUpdateComponentsRequest(actionListPath, appName);
    return RunVestabel(kLogNameUpdateComponents, {request, kSwitchUpdateComponents}, &exitCode);
}

unsigned __stdcall LaunchCheckThreadProc(void* argument)
{
    std::unique_ptr<QMWorkerCopy> copy(static_cast<QMWorkerCopy*>(argument));
    int flag = 1;
    try
    {
        // One apartment for every request and result document of the sequence.
        CQMComInit com = InitializeComForThread();
        CheckAppUpdate(copy->m_strAppName, flag, copy.get());
    }
    catch (...)
    {
        // The caller's loop must end whatever failed here; the flag stays "may go on starting".
        flag = 1;
    }
    // The handle copied at the start: this call's own window, never another process's.
    SendToProgressWindow(copy->m_hProgressWnd, WM_QM_CHECK_DONE, copy->m_nDoneKey, flag);
    return 0;
}

unsigned __stdcall UpdateComponentsThreadProc(void* argument)
{
    std::unique_ptr<QMWorkerCopy> copy(static_cast<QMWorkerCopy*>(argument));
    bool ran = false;
    unsigned long exitCode = kUpdaterExitUnknown;
    try
    {
        CQMComInit com = InitializeComForThread();
        ran = RunComponentUpdate(copy->m_strAppName, copy->m_strActionListPath, exitCode);
    }
    catch (...)
    {
    }
    // Not started, crashed before its finish record, or failed here: while the window is still
    // open nothing else will close it, so end the update as not run.
    if (IsProgressWindowOf(copy->m_hProgressWnd, copy->m_nWindowThreadId))
    {
        if (ran)
            WriteReasonRecord(kLogNameUpdateComponents, L"the updater ended without reporting its finish (" +
                                                            DescribeUpdaterExitCode(exitCode) +
                                                            L"): every component gets 16");
        SendFinishNotice(copy->m_hProgressWnd, L"", L"", copy->m_nDoneKey);
    }
    // The copy goes with the worker's return, and with it the worker's hold of the busy mutex.
    return 0;
}

CQMKernelHandle StartWorker(unsigned(__stdcall* procedure)(void*), QMWorkerCopy copy)
{
    auto own = std::make_unique<QMWorkerCopy>(std::move(copy));
    CQMKernelHandle worker = StartModuleThread(procedure, own.get());
    if (worker)
        own.release();
    return worker;
}
