#include "api/Operations.h"

#include "actionlist/QMActionListXML.h"
#include "api/BusyMutex.h"
#include "api/SupportProbe.h"
#include "bridge/UpdaterWorkers.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"
#include "sys/MessageWait.h"
#include "ui/ModuleInstance.h"
#include "ui/MutexProbe.h"
#include "ui/ProgressWindow.h"
#include "xml/XMLParser.h"

#include <memory>

// The component update: the action list is rewritten with the component type, a worker runs
// the updater, and the calling thread pumps messages until the updater's finish record has
// been handled and the results saved.

namespace
{
constexpr int kUiWaitRounds = 50;
constexpr DWORD kUiWaitRoundMs = 100;

void RewriteActionList(const std::wstring& path, const std::wstring& componentType)
{
    CQMActionListXML model;
    model.Load(path);
    model.m_strComponentType = componentType;
    std::unique_ptr<CXMLDocument> document(model.CreateDocument());
    if (document)
        GetXMLParser()->SaveFile(document.get(), path.c_str());
}

void MarkAllBusy(const std::wstring& path)
{
    CQMActionListXML model;
    if (model.Load(path) != QM_ACTIONLIST_LOADED)
        return;
    for (const std::wstring& id : model.GetComponentIDs())
        model.SetResult(id, L"1");
    model.Save(path.c_str());
}

bool PrepareComponentUpdate(QMProgressContext& progress, bool& busy, QMCallContext& context)
{
    busy = false;
    if (IsInstanceBusy())
    {
        busy = true;
        return true;
    }
    if (!PrepareProgressContext(context.m_strActionListPath, progress, context.m_pfnProgress))
        return false;
    context.m_hProgressWnd = CreateProgressWindow(progress);
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
    context.m_strActionListPath = actionListPath;
    context.m_pfnProgress = progressCallback;

    // One apartment for every load and save of the action list during this call.
    CQMComInit com = InitializeComForThread();
    RewriteActionList(actionListPath, componentType);
    WriteServiceLog(kServiceLogSource, L"UPDATE_XML", JoinLogFields({L"UpdateComponents", actionListPath}));

    QMProgressContext progress;
    bool busy = false;
    if (!PrepareComponentUpdate(progress, busy, context))
    {
        CloseProgressWindow(progress);
        return QM_UPDATE_NOT_SUPPORTED;
    }

    if (busy)
    {
        // A window made before the mutex turned out to be taken must not outlive its context.
        if (progress.m_hProgressWnd != nullptr)
        {
            CloseProgressWindow(progress);
            ::UnregisterClassW(kProgressWindowClass, GetModuleInstance());
            context.m_hProgressWnd = nullptr;
        }
        MarkAllBusy(actionListPath);
        return QM_UPDATE_DONE;
    }

    // Not waited for: after the finish record the updater may linger for as long as it likes.
    // The worker keeps the module loaded until it has seen the updater end.
    CQMKernelHandle worker = StartWorker(UpdateComponentsThreadProc, context);
    if (!worker)
        SendFinishNotice(context.m_hProgressWnd, L"", L"");
    RunProgressMessageLoop(progress);
    return QM_UPDATE_DONE;
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
