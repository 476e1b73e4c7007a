#pragma once
// The worker threads that carry the updater runs of a launch check and a component update,
// and the launch-check sequence that decides whether the host may go on starting.

#include "sys/Handle.h"
#include "sys/SharedHandle.h"

#include <windows.h>

#include <memory>
#include <string>

// What a worker needs of the call, copied before the worker starts: the call may return (and
// its context go) while the worker still waits for the updater to end.
struct QMWorkerCopy
{
    std::wstring m_strAppName;
    std::wstring m_strActionListPath;
    HWND m_hProgressWnd = nullptr;
    DWORD m_nWindowThreadId = 0;
    WPARAM m_nDoneKey = 0;
    // The worker's own handle to the call's busy mutex: while the worker holds it, the mutex
    // exists, so a call that gives up on a run (its host quit) leaves no gap for another run
    // until the updater has ended. The call closes it when its run ended with it.
    std::shared_ptr<CQMSharedHandle> m_pBusyHold;
};

// Runs the check (and, when the result says so, the application update); sets flag to 1
// (may go on starting) or 0 (must not). True when the sequence came to a regular end. With
// call given, no further run starts once that call's progress window is gone: the call no
// longer waits for the answer (its host quit).
bool CheckAppUpdate(const std::wstring& appName, int& flag, const QMWorkerCopy* call = nullptr);

// Writes the component-update request and runs the updater with it.
bool RunComponentUpdate(const std::wstring& appName, const std::wstring& actionListPath, unsigned long& exitCode);

// Thread procedures: the argument is a QMWorkerCopy allocated with new, which they own.
unsigned __stdcall LaunchCheckThreadProc(void* argument);
unsigned __stdcall UpdateComponentsThreadProc(void* argument);

// Starts procedure on a worker that keeps the module loaded until it ends, with its own copy of
// what it needs. Returns the thread's handle; empty when none was started.
CQMKernelHandle StartWorker(unsigned(__stdcall* procedure)(void*), QMWorkerCopy copy);
