#pragma once

#include "api/Pellorin.h"
#include "bridge/UpdaterWorkers.h"
#include "ui/QMMsgBoxInfo.h"

#include <windows.h>

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
    // The run was given up when the host quit: the call returns without waiting for the
    // updater's interface.
    bool m_bSkipInterfaceWait = false;

    QMCallContext()
    {
        m_busyMessage.m_nButtons = 4;
        m_busyMessage.m_nIcon = 3;
    }

    ~QMCallContext()
    {
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
        return copy;
    }

    QMCallContext(const QMCallContext&) = delete;
    QMCallContext& operator=(const QMCallContext&) = delete;
};
