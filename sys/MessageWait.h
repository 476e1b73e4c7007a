#pragma once
// Waits that keep a thread answering messages that other threads and processes send to its
// windows. A thread that blocks in a plain wait stalls every sender: the host's own threads,
// broadcasts of the desktop, and the COM apartment's hidden window of a worker.

#include <windows.h>

// Waits for handle up to timeoutMs (INFINITE allowed) while handling sent messages only:
// posted messages and input stay queued for the thread's own loop. Returns WAIT_OBJECT_0,
// WAIT_ABANDONED (a mutex whose owner ended without releasing it: the caller owns it now),
// WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitHandlingSentMessages(HANDLE handle, DWORD timeoutMs);

// Handles the messages sent to this thread's windows now, without waiting; posted messages and
// input stay queued. For a thread that does several slow things in a row (writes to a slow
// disk) between which the senders should not wait for all of them. Does nothing on a thread
// that has no windows, so that it gets no message queue from it, nor on the thread that
// answered last when it did so less than 20 ms ago.
void AnswerSentMessages();

// Sleeps for milliseconds while handling sent messages.
void SleepHandlingSentMessages(DWORD milliseconds);
