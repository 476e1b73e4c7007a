#pragma once
// Waits that keep a thread answering messages that other threads and processes send to its
// windows. A thread that blocks in a plain wait stalls every sender: the host's own threads,
// broadcasts of the desktop, and the COM apartment's hidden window of a worker.

#include <windows.h>

// Waits for handle up to timeoutMs (INFINITE allowed) while handling sent messages only:
// posted messages and input stay queued for the thread's own loop. Returns WAIT_OBJECT_0,
// WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitHandlingSentMessages(HANDLE handle, DWORD timeoutMs);

// Sleeps for milliseconds while handling sent messages.
void SleepHandlingSentMessages(DWORD milliseconds);
