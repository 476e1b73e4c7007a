#pragma once
// Run-once flags of the runtime (the threads library's pthread_once), kept on the platform's
// interlocked operations. The library's own version registers the calling thread with itself
// (an event, a duplicated thread handle and a TLS slot per load) and never lets go of a thread
// it did not start; the runtime calls it on the thread that loads the module (the 32-bit
// unwinder registers the module's frame tables then) and at the first thread-local variable
// or guarded static.

#include <windows.h>

// Runs procedure unless the flag says it ran; callers that come while it runs wait for its end.
// The flag starts at 0 and is 1 once procedure has returned (the library's values).
void RunOnce(volatile LONG* flag, void (*procedure)()) noexcept;
