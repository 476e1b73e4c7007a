#pragma once

#include "api/Pellorin.h"
#include "bridge/UpdaterWorkers.h"
#include "ui/QMMsgBoxInfo.h"

#include <windows.h>

#include <memory>
#include <string>

// Per-call state of an exported function; lives on that function's stack. The worker threads
// get a copy of what they need (WorkerCopy), made before they start.
struct QMCallContext
{
    std::wstring m_strAppName;
    std::wstring m_strActionListPath;
    QMProgressCallback m_pfnProgress = nullptr;
    HWND m_hOwnerWnd = nullptr;
    HWND m_hProgressWnd = nullptr;
    QMMsgBoxInfo m_busyMessage;
    // "Tavrin_Inc_ZL_QM_PL_v1" while this call owns it; released and closed on destruction.
    HANDLE m_hBusyMutex = nullptr;
    // A second handle to the same mutex, for the worker (TakeBusyMutex).
    std::shared_ptr<CQMSharedHandle> m_pBusyHold;
    // The run was given up when the host quit, and the updater may still run: the call returns
    // without waiting for the updater's interface, and the worker keeps the busy mutex in being
    // until the updater has ended.
    bool m_bAbandonedOnQuit = false;

    QMCallContext()
    {
        m_busyMessage.m_nButtons = 4;
        m_busyMessage.m_nIcon = 3;
    }

    ~QMCallContext()
    {
        // A run that ended with the call leaves nothing for the worker to keep: the mutex goes
        // with this call, as if the worker had no handle to it.
        if (m_pBusyHold && !m_bAbandonedOnQuit)
            m_pBusyHold->Close();
        m_pBusyHold.reset();
        if (m_hBusyMutex != nullptr)
        {
            ::ReleaseMutex(m_hBusyMutex);
            ::CloseHandle(m_hBusyMutex);
            m_hBusyMutex = nullptr;
        }
    }

    QMWorkerCopy WorkerCopy(WPARAM doneKey = 0) const
    {
        QMWorkerCopy copy;
        copy.m_strAppName = m_strAppName;
        copy.m_strActionListPath = m_strActionListPath;
        copy.m_hProgressWnd = m_hProgressWnd;
        copy.m_nWindowThreadId = ::GetWindowThreadProcessId(m_hProgressWnd, nullptr);
        copy.m_nDoneKey = doneKey;
        copy.m_pBusyHold = m_pBusyHold;
        return copy;
    }

    QMCallContext(const QMCallContext&) = delete;
    QMCallContext& operator=(const QMCallContext&) = delete;
};
