#pragma once
// The store behind every thread-local variable of the module, the runtime's included (the
// exception machinery keeps each thread's caught exceptions in one). GCC on Windows emulates
// thread-local variables through a single runtime function; the runtime's own version keeps
// each thread's copies under a key of its threads library, and for a thread the library did not
// start that sets up state (an event, a duplicated thread handle, a TLS slot per load, key
// tables) that only the thread's end would free. On a host thread that lives on, every load
// and unload of the module left that behind. This store keeps the copies in one slot of the
// platform, frees a thread's copies when the thread ends while the module is loaded, and frees
// everything, slot included, when the module is unloaded.

#include <windows.h>

#include <cstdint>

// The compiler's descriptor of one variable (libgcc's struct __emutls_object): word-sized fields,
// and a word is a pointer's size on both targets.
struct QMEmulatedTlsVariable
{
    uintptr_t m_nSize;
    uintptr_t m_nAlign;
    // 0 until the variable's first use, then its 1-based number in this store.
    uintptr_t m_nIndex;
    // The initial bytes; null for zero bytes.
    const void* m_pTemplate;
};

// The calling thread's copy of the variable, made on first use; null when memory or TLS slots
// are exhausted. The thread's last error is left as it was.
void* EmulatedTlsAddress(QMEmulatedTlsVariable* variable) noexcept;

// Frees the calling thread's copies: the thread is ending while the module is loaded.
void ReleaseEmulatedTlsOfThread() noexcept;

// Frees the copies of every thread and gives the slot back: the module is being unloaded, so no
// thread runs its code any more. Threads that still hold copies are the ones that outlive it.
void ReleaseEmulatedTls() noexcept;
