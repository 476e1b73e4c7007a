#include "api/Operations.h"

#include "actionlist/ActionListCheck.h"
#include "actionlist/ActionListUpdate.h"
#include "actionlist/QMActionListXML.h"
#include "api/ActionListClaim.h"
#include "api/BusyMutex.h"
#include "api/CallFrame.h"
#include "api/SupportProbe.h"
#include "bridge/RequestArguments.h"
#include "bridge/UpdaterWorkers.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"
#include "sys/MessageWait.h"
#include "sys/PathUtil.h"
#include "ui/ModuleInstance.h"
#include "ui/MutexProbe.h"
#include "ui/ProgressWindow.h"

// The component update: the action list is rewritten with the component type, a worker runs
// the updater, and the calling thread pumps messages until the updater's finish record has
// been handled and the results saved.

namespace
{
constexpr int kUiWaitRounds = 50;
constexpr DWORD kUiWaitRoundMs = 100;

// False when the results could not be written.
bool MarkAllBusy(const std::wstring& path)
{
    CQMActionListXML model;
    int loaded = QM_ACTIONLIST_UNREADABLE;
    if (!ReadActionListSettled(path, [&] { return model.Load(path); }, loaded) || loaded != QM_ACTIONLIST_LOADED)
        return true;
    for (const std::wstring& id : model.GetComponentIDs())
        model.SetResult(id, L"1");
    return SaveActionListRetrying(model, path);
}

// The list as the call found it, refused: its reason record.
void ExplainRefusedList(const std::wstring& path, bool created = false)
{
    if (created)
    {
        WriteReasonRecord(kLogNameUpdateComponents,
                          L"the action list does not exist: an empty list with the component type was written: " + path);
        return;
    }
    QMActionListCheck check = CheckActionList(path);
    if (!check.m_bAccepted)
        WriteReasonRecord(kLogNameUpdateComponents, check.m_strReason + L": " + path, check.m_nSystemError);
}

bool PrepareComponentUpdate(QMProgressContext& progress, bool& busy, QMCallContext& context)
{
    busy = false;
    if (IsInstanceBusy())
    {
        busy = true;
        return true;
    }
    // The window reads the host's one-byte boolean as the byte it is.
    auto callback = reinterpret_cast<QMHostProgressFn>(reinterpret_cast<void*>(context.m_pfnProgress));
    // Another host's save of the same list may be writing it in place right now.
    const std::wstring& path = context.m_strActionListPath;
    auto prepare = [&] {
        return PrepareProgressContext(path, progress, callback) ? QM_ACTIONLIST_LOADED : QM_ACTIONLIST_UNREADABLE;
    };
    int prepared = QM_ACTIONLIST_UNREADABLE;
    if (!ReadActionListSettled(path, prepare, prepared))
        return false;
    if (prepared != QM_ACTIONLIST_LOADED)
    {
        ExplainRefusedList(path);
        return false;
    }
    context.m_hProgressWnd = CreateProgressWindow(progress);
    if (context.m_hProgressWnd == nullptr)
        WriteReasonRecord(kLogNameUpdateComponents, L"the progress window could not be created", ::GetLastError());
    if (!TakeBusyMutex(context))
        busy = true;
    return context.m_hProgressWnd != nullptr;
}
} // namespace

int RunUpdateComponents(QMCallContext& context, const std::wstring& appName, const std::wstring& actionListPath,
                        const std::wstring& componentType, QMProgressCallback progressCallback)
{
    LogModuleVersion();
    if (!IsVestabelRegistered())
        return QM_UPDATE_NOT_SUPPORTED;
    context.m_strAppName = appName;
    // The updater runs in a folder of its own: the request names the file the host meant.
    context.m_strActionListPath = ResolveHostPath(actionListPath);
    context.m_pfnProgress = progressCallback;

    // Nothing is touched or run for strings the list and the request could not carry.
    if (!AcceptHostStrings(L"UpdateComponents", {appName, actionListPath, componentType}))
        return QM_UPDATE_NOT_SUPPORTED;
    // A running call of this process works on this list (a handler of the host's that the
    // module's loop dispatched, or another thread): it is busy, and its list is not ours to
    // write; that call writes the results.
    CQMActionListClaim claim(context.m_strActionListPath);
    if (!claim.Claimed())
    {
        WriteReasonRecord(kLogNameUpdateComponents, L"busy: a running call of this process works on this action list and "
                                                    L"writes its results: " + actionListPath);
        return QM_UPDATE_DONE;
    }
    // One apartment for every load and save of the action list during this call.
    CQMComInit com = InitializeComForThread();
    int rewrite = RewriteActionList(context.m_strActionListPath, componentType);
    if (rewrite == QM_REWRITE_KEPT)
        ExplainRefusedList(context.m_strActionListPath);
    if (rewrite != QM_REWRITE_SAVED && rewrite != QM_REWRITE_CREATED)
        return QM_UPDATE_NOT_SUPPORTED;
    // The file the call works on: a relative path as resolved against the host's working folder.
    WriteServiceLog(kServiceLogSource, L"UPDATE_XML",
                    JoinLogFields({L"UpdateComponents", context.m_strActionListPath}));
    // An empty list is refused, busy or not: the answer does not depend on what else runs.
    if (rewrite == QM_REWRITE_CREATED)
    {
        ExplainRefusedList(context.m_strActionListPath, true);
        return QM_UPDATE_NOT_SUPPORTED;
    }

    QMProgressContext progress;
    bool busy = false;
    if (!PrepareComponentUpdate(progress, busy, context))
    {
        CloseProgressWindow(progress);
        return QM_UPDATE_NOT_SUPPORTED;
    }

    if (busy)
    {
        WriteReasonRecord(kLogNameUpdateComponents, L"busy: a launch check or component update runs in " +
                                                        NameBusyHolder(context.m_hProgressWnd) +
                                                        L": every component is marked 1");
        // A window made before the mutex turned out to be taken must not outlive its context.
        if (progress.m_hProgressWnd != nullptr)
        {
            CloseProgressWindow(progress);
            ::UnregisterClassW(kProgressWindowClass, GetModuleInstance());
            context.m_hProgressWnd = nullptr;
        }
        return MarkAllBusy(context.m_strActionListPath) ? QM_UPDATE_DONE : QM_UPDATE_NOT_SUPPORTED;
    }

    // Not waited for: after the finish record the updater may linger for as long as it likes.
    // The worker keeps the module loaded until it has seen the updater end.
    progress.m_nDoneKey = MakeDoneKey();
    CQMKernelHandle worker = StartWorker(UpdateComponentsThreadProc, context.WorkerCopy(progress.m_nDoneKey));
    if (!worker)
        SendFinishNotice(context.m_hProgressWnd, L"", L"", progress.m_nDoneKey);
    RunProgressMessageLoop(progress);
    // A host that quit has waited for the updater long enough: not for its interface either,
    // and the worker keeps the busy mutex while the updater still runs.
    context.m_bAbandonedOnQuit = progress.m_bAbandonedOnQuit;
    // The updater has run, but results the host cannot read are no results.
    return progress.m_bActionListSaved ? QM_UPDATE_DONE : QM_UPDATE_NOT_SUPPORTED;
}

void WaitForVestabelUI()
{
    for (int round = 0; round < kUiWaitRounds; ++round)
    {
        bool gone = !IsAnyMutexPresent({kVestabelUIMutexName});
        SleepHandlingSentMessages(kUiWaitRoundMs);
        if (gone)
            break;
    }
}
