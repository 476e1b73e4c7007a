#pragma once

#include "api/Pellorin.h"
#include "ui/QMMsgBoxInfo.h"

#include <windows.h>

#include <string>

// Per-call state of an exported function; lives on that function's stack.
struct QMCallContext
{
    std::wstring m_strAppName;
    std::wstring m_strActionListPath;
    QMProgressCallback m_pfnProgress;
    HWND m_hOwnerWnd;
    HWND m_hProgressWnd;
    QMMsgBoxInfo m_busyMessage;
    // "Tavrin_Inc_ZL_QM_PL_v1" while this call owns it; released and closed on destruction.
    HANDLE m_hBusyMutex;

    QMCallContext();
    ~QMCallContext();

    QMCallContext(const QMCallContext&) = delete;
    QMCallContext& operator=(const QMCallContext&) = delete;
};
