#include "sys/ThreadSlot.h"

CQMThreadSlot::~CQMThreadSlot()
{
    LONG slot = ::InterlockedExchange(&m_nSlot, kNoSlot);
    if (slot != kNoSlot)
        ::TlsFree(static_cast<DWORD>(slot));
}

void* CQMThreadSlot::Get() const noexcept
{
    LONG slot = m_nSlot;
    // TlsGetValue leaves the last error alone only on success; callers may be between a
    // failing call and its GetLastError.
    DWORD lastError = ::GetLastError();
    void* value = slot != kNoSlot ? ::TlsGetValue(static_cast<DWORD>(slot)) : nullptr;
    ::SetLastError(lastError);
    return value;
}

bool CQMThreadSlot::Set(void* value) noexcept
{
    LONG slot = m_nSlot;
    if (slot == kNoSlot)
    {
        DWORD taken = ::TlsAlloc();
        if (taken == TLS_OUT_OF_INDEXES)
            return false;
        // Two first users racing: the slot stored first serves, the other goes back.
        slot = ::InterlockedCompareExchange(&m_nSlot, static_cast<LONG>(taken), kNoSlot);
        if (slot == kNoSlot)
            slot = static_cast<LONG>(taken);
        else
            ::TlsFree(taken);
    }
    return ::TlsSetValue(static_cast<DWORD>(slot), value) != FALSE;
}
