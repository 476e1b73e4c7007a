#include "sys/EmulatedTls.h"

#include "sys/SlimLock.h"

#include <cstring>

namespace
{
// One thread's copies, by variable number; linked so that the unload can free every thread's.
struct QMThreadCopies
{
    QMThreadCopies* m_pNext;
    QMThreadCopies* m_pPrev;
    size_t m_nCapacity;
    void** m_ppCopies;
};

constexpr size_t kInitialCapacity = 8;

CQMSlimLock g_lock;
QMThreadCopies* g_pThreads = nullptr;
uintptr_t g_nVariables = 0;
DWORD g_nSlot = TLS_OUT_OF_INDEXES;

void* Allocate(size_t bytes) noexcept
{
    return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

void Free(void* block) noexcept
{
    if (block != nullptr)
        ::HeapFree(::GetProcessHeap(), 0, block);
}

// The copy sits at its alignment inside a larger block whose start is kept just before it.
void* NewCopy(const QMEmulatedTlsVariable& variable) noexcept
{
    size_t align = variable.m_nAlign > sizeof(void*) ? variable.m_nAlign : sizeof(void*);
    size_t size = variable.m_nSize;
    if (size > SIZE_MAX - sizeof(void*) - align)
        return nullptr;
    void* block = Allocate(size + sizeof(void*) + align - 1);
    if (block == nullptr)
        return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(block) + sizeof(void*);
    void* copy = reinterpret_cast<void*>((start + align - 1) & ~static_cast<uintptr_t>(align - 1));
    static_cast<void**>(copy)[-1] = block;
    if (variable.m_pTemplate != nullptr)
        std::memcpy(copy, variable.m_pTemplate, size);
    return copy;
}

void FreeCopies(QMThreadCopies* copies) noexcept
{
    for (size_t i = 0; i < copies->m_nCapacity; ++i)
    {
        if (copies->m_ppCopies[i] != nullptr)
            Free(static_cast<void**>(copies->m_ppCopies[i])[-1]);
    }
    Free(copies->m_ppCopies);
    Free(copies);
}

// The calling thread's copies, made with room for index; null when memory or slots ran out.
// The caller holds g_lock.
QMThreadCopies* CopiesWithRoomLocked(uintptr_t index) noexcept
{
    if (g_nSlot == TLS_OUT_OF_INDEXES)
    {
        g_nSlot = ::TlsAlloc();
        if (g_nSlot == TLS_OUT_OF_INDEXES)
            return nullptr;
    }
    auto* copies = static_cast<QMThreadCopies*>(::TlsGetValue(g_nSlot));
    if (copies == nullptr)
    {
        copies = static_cast<QMThreadCopies*>(Allocate(sizeof(QMThreadCopies)));
        if (copies == nullptr)
            return nullptr;
        if (!::TlsSetValue(g_nSlot, copies))
        {
            Free(copies);
            return nullptr;
        }
        copies->m_pNext = g_pThreads;
        if (g_pThreads != nullptr)
            g_pThreads->m_pPrev = copies;
        g_pThreads = copies;
    }
    if (index > copies->m_nCapacity)
    {
        size_t capacity = copies->m_nCapacity * 2 > kInitialCapacity ? copies->m_nCapacity * 2 : kInitialCapacity;
        if (capacity < index)
            capacity = index;
        auto** grown = static_cast<void**>(Allocate(capacity * sizeof(void*)));
        if (grown == nullptr)
            return nullptr;
        if (copies->m_nCapacity != 0)
            std::memcpy(grown, copies->m_ppCopies, copies->m_nCapacity * sizeof(void*));
        Free(copies->m_ppCopies);
        copies->m_ppCopies = grown;
        copies->m_nCapacity = capacity;
    }
    return copies;
}

void* FirstUse(QMEmulatedTlsVariable* variable) noexcept
{
    CQMSlimLockGuard guard(g_lock);
    uintptr_t index = variable->m_nIndex;
    if (index == 0)
    {
        index = ++g_nVariables;
        __atomic_store_n(&variable->m_nIndex, index, __ATOMIC_RELEASE);
    }
    QMThreadCopies* copies = CopiesWithRoomLocked(index);
    if (copies == nullptr)
        return nullptr;
    void*& copy = copies->m_ppCopies[index - 1];
    if (copy == nullptr)
        copy = NewCopy(*variable);
    return copy;
}
} // namespace

void* EmulatedTlsAddress(QMEmulatedTlsVariable* variable) noexcept
{
    // TlsGetValue clears the last error, and a variable may be read between a failed call and
    // its GetLastError.
    DWORD lastError = ::GetLastError();
    void* copy = nullptr;
    uintptr_t index = __atomic_load_n(&variable->m_nIndex, __ATOMIC_ACQUIRE);
    DWORD slot = __atomic_load_n(&g_nSlot, __ATOMIC_ACQUIRE);
    if (index != 0 && slot != TLS_OUT_OF_INDEXES)
    {
        auto* copies = static_cast<QMThreadCopies*>(::TlsGetValue(slot));
        if (copies != nullptr && index <= copies->m_nCapacity)
            copy = copies->m_ppCopies[index - 1];
    }
    if (copy == nullptr)
        copy = FirstUse(variable);
    ::SetLastError(lastError);
    return copy;
}

void ReleaseEmulatedTlsOfThread() noexcept
{
    DWORD lastError = ::GetLastError();
    QMThreadCopies* copies = nullptr;
    {
        CQMSlimLockGuard guard(g_lock);
        if (g_nSlot == TLS_OUT_OF_INDEXES)
            return;
        copies = static_cast<QMThreadCopies*>(::TlsGetValue(g_nSlot));
        if (copies != nullptr)
        {
            ::TlsSetValue(g_nSlot, nullptr);
            if (copies->m_pPrev != nullptr)
                copies->m_pPrev->m_pNext = copies->m_pNext;
            else
                g_pThreads = copies->m_pNext;
            if (copies->m_pNext != nullptr)
                copies->m_pNext->m_pPrev = copies->m_pPrev;
        }
    }
    if (copies != nullptr)
        FreeCopies(copies);
    ::SetLastError(lastError);
}

void ReleaseEmulatedTls() noexcept
{
    QMThreadCopies* threads = nullptr;
    DWORD slot = TLS_OUT_OF_INDEXES;
    {
        CQMSlimLockGuard guard(g_lock);
        threads = g_pThreads;
        g_pThreads = nullptr;
        slot = g_nSlot;
        __atomic_store_n(&g_nSlot, TLS_OUT_OF_INDEXES, __ATOMIC_RELEASE);
    }
    while (threads != nullptr)
    {
        QMThreadCopies* next = threads->m_pNext;
        FreeCopies(threads);
        threads = next;
    }
    if (slot != TLS_OUT_OF_INDEXES)
        ::TlsFree(slot);
}
