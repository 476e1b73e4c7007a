#include "api/BusyMutex.h"

#include "sys/Handle.h"
#include "ui/MutexProbe.h"

bool TakeBusyMutex(QMCallContext& context)
{
    CQMKernelHandle mutex(::CreateMutexW(nullptr, TRUE, kBusyMutexName));
    if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return false;
    context.m_hBusyMutex = mutex.Release();
    return true;
}
