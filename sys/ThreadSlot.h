#pragma once
// One pointer per thread, in a thread-local storage slot of the platform that is taken on the
// first Set and given back when the owner goes (for an object of static storage: when the
// module is unloaded). Unlike a thread_local it needs nothing of the runtime and nothing per
// thread: the slot holds a plain pointer that its user resets, so a host thread that lives on
// after the module keeps nothing of it.

#include <windows.h>

class CQMThreadSlot
{
public:
    constexpr CQMThreadSlot() noexcept = default;
    ~CQMThreadSlot();
    CQMThreadSlot(const CQMThreadSlot&) = delete;
    CQMThreadSlot& operator=(const CQMThreadSlot&) = delete;

    // The calling thread's pointer; null until it set one.
    void* Get() const noexcept;
    // False when no slot was free: then Get keeps returning what it did.
    bool Set(void* value) noexcept;

private:
    static constexpr LONG kNoSlot = static_cast<LONG>(TLS_OUT_OF_INDEXES);
    volatile LONG m_nSlot = kNoSlot;
};
