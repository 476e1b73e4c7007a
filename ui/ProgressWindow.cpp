#include "ui/ProgressWindow.h"

#include "actionlist/ActionListUpdate.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ThreadSlot.h"
#include "ui/ModuleInstance.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace
{
// The finish code that keeps the results the records set.
constexpr std::int32_t kKeepResultsCode = 14;
constexpr std::int32_t kNotRunCode = 16;
// One round of a notice to the calling thread; repeated while the window is open.
constexpr UINT kNoticeRoundMs = 500;


const wchar_t* TypeName(std::uint32_t type)
{
    switch (type)
    {
    case QM_PROGRESS_DOWNLOAD: return L"TYPE_DOWNLOAD";
    case QM_PROGRESS_EXTRACT: return L"TYPE_EXTRACT";
    case QM_PROGRESS_DELETE: return L"TYPE_DELETE";
    case QM_PROGRESS_UPDATE: return L"TYPE_UPDATE";
    default: return L"TYPE_ADD";
    }
}

// The context whose window this thread is creating right now, in a TLS slot of the module's
// own that is given back when the module is unloaded.
CQMThreadSlot g_creatingContext;

QMProgressContext* ContextOf(HWND window)
{
    return reinterpret_cast<QMProgressContext*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Closed by the protocol, or destroyed by anyone on this thread.
bool IsClosed(const QMProgressContext& context)
{
    return context.m_bClosed || context.m_hProgressWnd == nullptr || !::IsWindow(context.m_hProgressWnd);
}

void SaveActionList(QMProgressContext& context)
{
    context.m_bSaving = true;
    context.m_bActionListSaved = SaveActionListRetrying(context.m_actionList, context.m_strActionListPath);
}

// A launch check has no records to place the request among: its record names only how.
void TakeCancelRequest(QMProgressContext& context, const wchar_t* how, bool atRecord)
{
    if (!context.m_bLaunchCheck)
    {
        RequestCancel(context.m_cancel, kLogNameUpdateComponents, how, atRecord);
        return;
    }
    if (context.m_cancel.m_bRequested)
        return;
    context.m_cancel.m_bRequested = true;
    WriteServiceLog(kServiceLogSource, L"CANCEL", JoinLogFields({kLogNameLaunchCheck, how, L""}));
}

// Message 2029 names no sender; what the system tells of how it came is all that is known.
std::wstring DescribeCloseSender(const QMProgressContext& context)
{
    DWORD how = ::InSendMessageEx(nullptr);
    if ((how & (ISMEX_SEND | ISMEX_NOTIFY | ISMEX_CALLBACK)) != 0)
        return L"sent by another thread or process that the system does not name";
    if (context.m_bDispatchingPosted)
        return L"posted to it (a posted message names no sender)";
    return L"sent by this thread of the host (process " + std::to_wstring(::GetCurrentProcessId()) +
           L") or posted and taken by another message loop of it";
}

// The host quit and the updater did not end the run in time: the results known so far are
// kept, and every component still without one gets the code of a run that ended without its
// finish record.
void AbandonRunOnQuit(QMProgressContext& context)
{
    context.m_bAbandonedOnQuit = true;
    if (context.m_bLaunchCheck)
    {
        WriteReasonRecord(kLogNameLaunchCheck, L"the host quit and the updater did not end the check within " +
                                                   std::to_wstring(kQuitGraceMs / 1000) +
                                                   L" s of the cancel request: the host goes on quitting");
        CloseProgressWindow(context);
        return;
    }
    std::vector<std::wstring> pending;
    for (const QMComponentRecord& component : context.m_actionList.GetComponents())
    {
        if (component[QM_COMPONENT_RESULT] == L"0")
            pending.push_back(component[QM_COMPONENT_ID]);
    }
    for (const std::wstring& id : pending)
        context.m_actionList.SetResult(id, std::to_wstring(kNotRunCode));
    WriteReasonRecord(kLogNameUpdateComponents, L"the host quit and the updater did not end the update within " +
                                                    std::to_wstring(kQuitGraceMs / 1000) +
                                                    L" s of the cancel request: every component without a result "
                                                    L"gets 16");
    NoteRunEnding(context.m_cancel, QM_RUN_NOT_WAITED_FOR);
    SaveActionList(context);
    CloseProgressWindow(context);
}

void ReportProgress(QMProgressContext& context, const QMProgressData& record)
{
    if (context.m_pfnCallback == nullptr)
        return;
    int percent = ComputeProgressPercent(record);
    // The record is in the log before the host's callback runs: a host that dies inside its
    // callback leaves the log with every record it was shown.
    if (record.m_nType == QM_PROGRESS_DOWNLOAD)
    {
        if (percent != context.m_nLastPercent)
        {
            context.m_nLastPercent = percent;
            if (percent % 10 == 0)
                WriteServiceLog(kServiceLogSource, L"CATCH_MSG",
                                JoinLogFields({L"UpdateComponents", TypeName(record.m_nType), std::to_wstring(percent)}));
        }
    }
    else
    {
        WriteServiceLog(kServiceLogSource, L"CATCH_MSG", JoinLogFields({L"UpdateComponents", TypeName(record.m_nType)}));
    }

    unsigned char goOn = context.m_pfnCallback(static_cast<int>(record.m_nType), percent, record.m_szComponentId,
                                  record.m_nItemsDone, record.m_nItemsTotal, record.m_nBytesDone,
                                  record.m_nBytesTotal);
    if (goOn == 0)
        TakeCancelRequest(context, L"the host's callback asked to cancel", true);
}

} // namespace

bool PrepareProgressContext(const std::wstring& actionListPath, QMProgressContext& context,
                            QMHostProgressFn callback)
{
    context.m_strActionListPath = actionListPath;
    if (context.m_actionList.Load(actionListPath) != QM_ACTIONLIST_LOADED)
        return false;
    SetAllComponentResults(context, 0);
    if (callback != nullptr)
        context.m_pfnCallback = callback;
    return true;
}

HWND CreateProgressWindow(QMProgressContext& context)
{
    if (context.m_hProgressWnd != nullptr)
        return context.m_hProgressWnd;
    HINSTANCE module = GetModuleInstance();
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = ProgressWindowProc;
    windowClass.hInstance = module;
    windowClass.lpszClassName = kProgressWindowClass;
    // Another call of this process may have registered it already; that registration serves.
    if (!::RegisterClassW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;

    // Without the slot no WM_NCCREATE could be told from a foreign one: no window.
    HWND window = nullptr;
    DWORD error = ERROR_SUCCESS;
    if (!g_creatingContext.Set(&context))
        error = ::GetLastError();
    else
    {
        window = ::CreateWindowExW(WS_EX_TOOLWINDOW, kProgressWindowClass, L"", WS_DISABLED,
                                   ::GetSystemMetrics(SM_CXFULLSCREEN) / 2, ::GetSystemMetrics(SM_CYFULLSCREEN) / 2,
                                   CW_USEDEFAULT, CW_USEDEFAULT, HWND_MESSAGE, nullptr, module, &context);
        error = ::GetLastError();
        g_creatingContext.Set(nullptr);
    }
    if (window == nullptr)
    {
        ::UnregisterClassW(kProgressWindowClass, module);
        // The caller reports why the window was not made, not what the unregistering said.
        ::SetLastError(error);
        return nullptr;
    }
    context.m_hProgressWnd = window;
    ::ShowWindow(window, SW_HIDE);
    ::UpdateWindow(window);
    return window;
}

void RunProgressMessageLoop(QMProgressContext& context)
{
    // A quit message of the host (its window closed, PostQuitMessage from a timer or from its
    // callback) is kept aside and posted again afterwards, so that the host's own loop still
    // ends, with the host's exit code. Meanwhile the updater is asked to stop, and given
    // kQuitGraceMs to do so: a silent one must not keep a quitting host alive for good.
    bool hostQuit = false;
    WPARAM hostExitCode = 0;
    ULONGLONG quitAt = 0;
    while (!IsClosed(context))
    {
        DWORD waitMs = INFINITE;
        if (hostQuit)
        {
            ULONGLONG spent = ::GetTickCount64() - quitAt;
            if (spent >= kQuitGraceMs)
            {
                AbandonRunOnQuit(context);
                break;
            }
            waitMs = static_cast<DWORD>(kQuitGraceMs - spent);
        }
        MSG message = {};
        // Sent messages (the updater's records, the worker's notices) are handled inside the peek.
        if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        {
            if (message.message == WM_QUIT)
            {
                hostExitCode = message.wParam;
                if (!hostQuit)
                {
                    hostQuit = true;
                    quitAt = ::GetTickCount64();
                    TakeCancelRequest(context, L"the host quit", false);
                    RelayCancel(context.m_cancel, context.m_hUpdaterWnd);
                }
                continue;
            }
            ::TranslateMessage(&message);
            context.m_bDispatchingPosted = message.hwnd != nullptr && message.hwnd == context.m_hProgressWnd;
            ::DispatchMessageW(&message);
            context.m_bDispatchingPosted = false;
            continue;
        }
        if (IsClosed(context))
            break;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    CloseProgressWindow(context);
    ::UnregisterClassW(kProgressWindowClass, GetModuleInstance());
    if (hostQuit)
        ::PostQuitMessage(static_cast<int>(hostExitCode));
}

void CloseProgressWindow(QMProgressContext& context)
{
    if (!context.m_bClosed && context.m_hProgressWnd != nullptr && ::IsWindow(context.m_hProgressWnd))
        ::DestroyWindow(context.m_hProgressWnd);
    context.m_bClosed = true;
}

WPARAM MakeDoneKey()
{
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    static LONG s_nCalls = 0;
    WPARAM key = static_cast<WPARAM>(counter.QuadPart) ^ (static_cast<WPARAM>(::InterlockedIncrement(&s_nCalls)) << 20) ^
                 static_cast<WPARAM>(::GetCurrentThreadId()) * 2654435761u;
    // Zero is what a message sent without a key carries.
    return key != 0 ? key : 1;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
    {
        // The context is taken only while this thread creates the window for it. Any process
        // can send WM_NCCREATE later, and its lParam is nothing this process may dereference.
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        void* creating = g_creatingContext.Get();
        if (creating == nullptr || ContextOf(window) != nullptr || create == nullptr ||
            create->lpCreateParams != creating)
            return ContextOf(window) != nullptr ? TRUE : FALSE;
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
    QMProgressContext* context = ContextOf(window);
    if (context == nullptr)
        return 0;
    switch (message)
    {
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_NCDESTROY:
        // Only the protocol's messages close the window; a real destruction is seen by the loop.
        return 0;
    case WM_COPYDATA:
        OnProgressData(window, *context, reinterpret_cast<const COPYDATASTRUCT*>(lParam), wParam);
        return 0;
    case WM_QM_SAVE_AND_CLOSE:
        if (context->m_bLaunchCheck || context->m_bSaving)
            return 0;
        // Afterwards a component's 0 could mean either "not reached" or "closed first": the log tells.
        WriteReasonRecord(kLogNameUpdateComponents, L"the update was closed early by message 2029 " +
                                                        DescribeCloseSender(*context) +
                                                        L": every component keeps the result it had and 0 where the "
                                                        L"updater reported none");
        NoteRunEnding(context->m_cancel, QM_RUN_CLOSED_EARLY);
        SaveActionList(*context);
        CloseProgressWindow(*context);
        return 0;
    case WM_QM_CHECK_DONE:
        if (!context->m_bLaunchCheck || wParam != context->m_nDoneKey)
            return 0;
        context->m_nLaunchFlag = static_cast<int>(lParam);
        CloseProgressWindow(*context);
        WriteServiceLog(kServiceLogSource, L"CATCH_MSG", L"LaunchCheck");
        return 0;
    default:
        return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void OnProgressData(HWND /*window*/, QMProgressContext& context, const COPYDATASTRUCT* copy, WPARAM sender)
{
    // Any process on the desktop can send this: read nothing outside a whole record.
    if (context.m_bSaving || copy == nullptr || copy->cbData != sizeof(QMProgressData) || copy->lpData == nullptr)
        return;
    QMProgressData record;
    std::memcpy(&record, copy->lpData, sizeof(record));
    record.m_szComponentId[kComponentIdUnits - 1] = L'\0';

    if (copy->dwData == QM_COPYDATA_PROGRESS && record.m_nType <= QM_PROGRESS_ADD)
    {
        if (record.m_nType == QM_PROGRESS_FINISH)
        {
            // The module's own notice ends a run the updater left without a finish record.
            bool notice = sender != 0 && sender == context.m_nDoneKey;
            if (!context.m_bLaunchCheck)
                NoteRunEnding(context.m_cancel, notice ? QM_RUN_NO_FINISH : QM_RUN_FINISHED, record.m_nCode);
            if (record.m_nCode != kKeepResultsCode)
                SetAllComponentResults(context, record.m_nCode);
            SaveActionList(context);
            CloseProgressWindow(context);
        }
        else
        {
            NoteProgressRecord(context.m_cancel, record.m_szComponentId);
            context.m_hUpdaterWnd = UpdaterWindowOf(record);
            if (record.m_nCode != 0)
                context.m_actionList.SetResult(record.m_szComponentId, std::to_wstring(record.m_nCode));
            ReportProgress(context, record);
        }
    }
    RelayCancel(context.m_cancel, context.m_hUpdaterWnd);
}

void SetAllComponentResults(QMProgressContext& context, int code)
{
    context.m_actionList.SetEveryResult(std::to_wstring(code));
}

int ComputeProgressPercent(const QMProgressData& record)
{
    if (record.m_nType == QM_PROGRESS_DOWNLOAD)
    {
        if (record.m_nBytesTotal == 0)
            return 0;
        double percent = static_cast<double>(record.m_nBytesDone) * 100.0 / static_cast<double>(record.m_nBytesTotal);
        // Truncated toward zero; only the low 32 bits of the whole number count.
        double low = std::fmod(std::trunc(percent), 4294967296.0);
        return static_cast<int>(static_cast<std::uint32_t>(low));
    }
    if (record.m_nItemsTotal == 0)
        return 0;
    return static_cast<int>(static_cast<std::uint64_t>(record.m_nItemsDone) * 100u / record.m_nItemsTotal);
}

void SendFinishNotice(HWND progressWindow, const std::wstring& componentId, const std::wstring& senderClass,
                      WPARAM doneKey)
{
    QMProgressData record = {};
    HWND sender = senderClass.empty() ? nullptr : ::FindWindowW(senderClass.c_str(), nullptr);
    record.m_hUpdaterWnd = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(sender));
    record.m_nType = QM_PROGRESS_FINISH;
    componentId.copy(record.m_szComponentId, kComponentIdUnits - 1);
    record.m_nCode = kNotRunCode;

    COPYDATASTRUCT copy = {};
    copy.dwData = QM_COPYDATA_PROGRESS;
    copy.cbData = sizeof(record);
    copy.lpData = &record;
    if (::GetWindowThreadProcessId(progressWindow, nullptr) == ::GetCurrentThreadId())
        ::SendMessageW(progressWindow, WM_COPYDATA, doneKey, reinterpret_cast<LPARAM>(&copy));
    else
        SendToProgressWindow(progressWindow, WM_COPYDATA, doneKey, reinterpret_cast<LPARAM>(&copy));
}

bool SendToProgressWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Not SMTO_ABORTIFHUNG: a host callback that shows a dialog for a while is not hung, and
    // the message must still arrive. Each round is bounded, and the window's end stops the rounds.
    while (::IsWindow(window))
    {
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kNoticeRoundMs, &result))
            return true;
    }
    return false;
}

bool IsProgressWindowOf(HWND window, DWORD threadId)
{
    if (window == nullptr || !::IsWindow(window))
        return false;
    if (::GetWindowThreadProcessId(window, nullptr) != threadId)
        return false;
    wchar_t className[64] = {};
    ::GetClassNameW(window, className, 64);
    return wcscmp(className, kProgressWindowClass) == 0;
}
