// The module's entry point and the two runtime functions it replaces with platform ones, so
// that a load and unload leaves nothing behind in the host: not on the thread that loads the
// module, not on threads that call it and live on after it has gone.
//
// - The C++ runtime allocates its emergency pool for exceptions as the module loads and frees it
//   only through __gnu_cxx::__freeres(); the entry point calls that when the module is freed.
// - Thread-local variables (the module's and the runtime's own, such as the exception state of
//   each thread) live in the store of sys/EmulatedTls, which frees them at thread end and unload.
// - Run-once flags go through sys/OnceFlag instead of the threads library, which would register
//   the calling thread with itself for good. The link redirects the runtime's calls of
//   pthread_once here (--wrap=pthread_once, see api/CMakeLists.txt).

#include "sys/EmulatedTls.h"
#include "sys/OnceFlag.h"

#include <windows.h>

#include <cstdlib>

namespace __gnu_cxx
{
void __freeres() noexcept;
}

extern "C" {

// Called by the compiler's code for every thread-local variable. The runtime's version ends the
// process when it cannot make a copy; so does this one, since its callers cannot fail.
void* __emutls_get_address(void* variable)
{
    void* copy = EmulatedTlsAddress(static_cast<QMEmulatedTlsVariable*>(variable));
    if (copy == nullptr)
        std::abort();
    return copy;
}

int __wrap_pthread_once(volatile LONG* flag, void (*procedure)())
{
    RunOnce(flag, procedure);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID reserved)
{
    switch (reason)
    {
    case DLL_THREAD_DETACH:
        ReleaseEmulatedTlsOfThread();
        break;
    case DLL_PROCESS_DETACH:
        // Only when the host frees the module: at process exit other threads have been ended
        // wherever they were, and the system takes everything back anyway.
        if (reserved == nullptr)
        {
            ReleaseEmulatedTls();
            __gnu_cxx::__freeres();
        }
        break;
    default:
        break;
    }
    return TRUE;
}

} // extern "C"
