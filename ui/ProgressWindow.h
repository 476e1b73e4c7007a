#pragma once
// The hidden progress window of a launch check or component update: it runs on the host's
// calling thread, takes the updater's progress records, keeps the per-component results,
// calls the host's progress callback, relays a cancel request to the updater and saves the
// action list when the updater reports the end of its work.

#include "actionlist/QMActionListXML.h"
#include "protocol/QMProgressData.h"
#include "ui/CancelRequest.h"

#include <windows.h>

#include <string>

// The host's progress function as the window calls it: the exports' callback type, whose
// one-byte boolean result is read as the byte it is, whatever the host's language made of it.
using QMHostProgressFn = unsigned char(__stdcall*)(int type, int percent, const wchar_t* componentId,
                                                   unsigned itemsDone, unsigned itemsTotal,
                                                   unsigned long long bytesDone, unsigned long long bytesTotal);

// The launch flag that lets the host go on starting.
constexpr int kLaunchFlagGoOn = 1;

struct QMProgressContext
{
    // The host's cancel: asked (by the callback or a quit), sent to the updater, accounted for.
    QMCancelTrack m_cancel;
    // Starts at "may go on starting": only the worker's done message sets another value.
    int m_nLaunchFlag = kLaunchFlagGoOn;
    HWND m_hProgressWnd = nullptr;
    HWND m_hUpdaterWnd = nullptr;
    std::wstring m_strActionListPath;
    CQMActionListXML m_actionList;
    QMHostProgressFn m_pfnCallback = nullptr;
    int m_nLastPercent = 100;
    // False when the results could not be written at the end of the update.
    bool m_bActionListSaved = true;
    // Set while the results are saved: the save's retries answer sent messages, and a record or
    // a second finish that arrives meanwhile changes nothing.
    bool m_bSaving = false;
    // Set once the window has really been destroyed. A WM_DESTROY that merely arrives (any
    // process can post one) closes nothing.
    bool m_bClosed = false;
    // What the window serves: the done message closes only a launch check's window, and only
    // with this call's key in wParam; the save message closes only a component update's.
    bool m_bLaunchCheck = false;
    // This call's key: in wParam of its worker's done message, or of the finish notice by which
    // the module ends an update that has no finish record of the updater's.
    WPARAM m_nDoneKey = 0;
    // The loop is dispatching a message that was posted to the window.
    bool m_bDispatchingPosted = false;
    // The host quit during the run and the updater did not end it in time: the loop gave up
    // waiting for it.
    bool m_bAbandonedOnQuit = false;
};

// Loads the action list into the context with every result "0"; false when it cannot be loaded.
bool PrepareProgressContext(const std::wstring& actionListPath, QMProgressContext& context,
                            QMHostProgressFn callback);

// The context's window, created (message-only, hidden) on the first call; null on failure.
HWND CreateProgressWindow(QMProgressContext& context);

// Dispatches the thread's messages until the context's window has closed. A WM_QUIT of the host
// that arrives meanwhile asks the updater to cancel, as a callback answering zero does, and is
// posted again, with its exit code, when the loop ends. An updater that has not ended the run
// kQuitGraceMs after the quit is not waited for any longer: the run ends as one without its
// finish record (the list saved with the results known so far, every component without one
// marked 16; a launch check lets the host go on quitting) and m_bAbandonedOnQuit is set.
constexpr DWORD kQuitGraceMs = 5000;
void RunProgressMessageLoop(QMProgressContext& context);

// Destroys the context's window if it is still open.
void CloseProgressWindow(QMProgressContext& context);

// A key for the done message that no other call or process can guess in advance.
WPARAM MakeDoneKey();

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Handles one WM_COPYDATA. Records of the wrong size or without data are ignored. sender is its
// wParam: the call's key marks the module's own finish notice.
void OnProgressData(HWND window, QMProgressContext& context, const COPYDATASTRUCT* copy, WPARAM sender = 0);

// Sets the result of every component to code in decimal.
void SetAllComponentResults(QMProgressContext& context, int code);

// The percentage a record reports: bytes for downloads, items otherwise; 0 for a zero total.
int ComputeProgressPercent(const QMProgressData& record);

// Sends a finish record with code 16 to the given progress window. The updater window of
// the record is the one found by senderClass (none for an empty name). The send never blocks
// for ever: it is retried while the window is still open and given up once it has gone. With
// the call's key (doneKey) the window takes it as the module's own end of a run without the
// updater's finish record; without it, as a finish record like the updater's.
void SendFinishNotice(HWND progressWindow, const std::wstring& componentId, const std::wstring& senderClass,
                      WPARAM doneKey = 0);

// Sends message to a progress window of another thread of this process without hanging on it:
// it waits while that thread is busy (a host callback may show a dialog), and gives up once the
// window has been destroyed. True when the window handled the message.
bool SendToProgressWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// True when window is still a progress window of the given thread.
bool IsProgressWindowOf(HWND window, DWORD threadId);
