#pragma once
// A kernel handle that two threads hold through shared owners: the one that knows it is no longer
// needed closes it at once, else the last owner to let go does. A call and its worker keep the
// busy mutex this way: the call closes the worker's handle when its run ended with the call, and
// the worker keeps it when the call gave up on a run that still goes on.

#include <windows.h>

class CQMSharedHandle
{
public:
    explicit CQMSharedHandle(HANDLE handle) noexcept : m_pHandle(handle) {}
    ~CQMSharedHandle() { Close(); }
    CQMSharedHandle(const CQMSharedHandle&) = delete;
    CQMSharedHandle& operator=(const CQMSharedHandle&) = delete;

    // Closes the handle if nobody has yet; safe against the other thread doing the same.
    void Close() noexcept
    {
        HANDLE handle = static_cast<HANDLE>(::InterlockedExchangePointer(&m_pHandle, nullptr));
        if (handle != nullptr)
            ::CloseHandle(handle);
    }

private:
    void* volatile m_pHandle;
};
