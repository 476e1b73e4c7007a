#include "sys/OnceFlag.h"

namespace
{
constexpr LONG kNotRun = 0;
constexpr LONG kDone = 1;
constexpr LONG kRunning = 2;
// Procedures behind such flags make a lock or a key: a waiter yields a few times, then sleeps.
constexpr unsigned kYields = 16;
} // namespace

void RunOnce(volatile LONG* flag, void (*procedure)()) noexcept
{
    for (unsigned round = 0;; ++round)
    {
        LONG state = ::InterlockedCompareExchange(flag, kRunning, kNotRun);
        if (state == kDone)
            return;
        if (state == kNotRun)
        {
            procedure();
            ::InterlockedExchange(flag, kDone);
            return;
        }
        ::Sleep(round < kYields ? 0 : 1);
    }
}
