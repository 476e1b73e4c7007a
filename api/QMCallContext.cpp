#include "api/QMCallContext.h"

QMCallContext::QMCallContext()
    : m_pfnProgress(nullptr), m_hOwnerWnd(nullptr), m_hProgressWnd(nullptr), m_hBusyMutex(nullptr)
{
    m_busyMessage.m_nButtons = 4;
    m_busyMessage.m_nIcon = 3;
}

QMCallContext::~QMCallContext()
{
    if (m_hBusyMutex != nullptr)
    {
        ::ReleaseMutex(m_hBusyMutex);
        ::CloseHandle(m_hBusyMutex);
        m_hBusyMutex = nullptr;
    }
}
