#include "api/BusyMutex.h"

#include "sys/Handle.h"
#include "sys/SharedHandle.h"
#include "ui/MutexProbe.h"

#include <memory>

bool TakeBusyMutex(QMCallContext& context)
{
    CQMKernelHandle mutex(::CreateMutexW(nullptr, TRUE, kBusyMutexName));
    if (!mutex || ::GetLastError() == ERROR_ALREADY_EXISTS)
        return false;
    // The worker's handle, made while this thread owns the mutex, so that the mutex can outlive
    // the call without a moment of not existing. Without it the mutex goes with the call.
    CQMKernelHandle hold;
    if (::DuplicateHandle(::GetCurrentProcess(), mutex.Get(), ::GetCurrentProcess(), hold.Put(), SYNCHRONIZE, FALSE, 0))
    {
        context.m_pBusyHold = std::make_shared<CQMSharedHandle>(hold.Get());
        hold.Release();
    }
    context.m_hBusyMutex = mutex.Release();
    return true;
}
