#include "sys/MessageWait.h"

namespace
{
// Well below what a sender may wait for an answer (a quarter of a second).
constexpr DWORD kAnswerAgainAfterMs = 20;

DWORD Remaining(DWORD start, DWORD timeoutMs)
{
    if (timeoutMs == INFINITE)
        return INFINITE;
    DWORD spent = ::GetTickCount() - start;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

void HandleSentMessages()
{
    // Sent messages are delivered inside the peek; nothing posted is removed.
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}
} // namespace

DWORD WaitHandlingSentMessages(HANDLE handle, DWORD timeoutMs)
{
    DWORD start = ::GetTickCount();
    for (;;)
    {
        DWORD count = handle != nullptr ? 1 : 0;
        DWORD woken = ::MsgWaitForMultipleObjectsEx(count, handle != nullptr ? &handle : nullptr,
                                                    Remaining(start, timeoutMs), QS_SENDMESSAGE, 0);
        if (count == 1 && (woken == WAIT_OBJECT_0 || woken == WAIT_ABANDONED_0))
            return woken;
        if (woken == WAIT_TIMEOUT)
            return WAIT_TIMEOUT;
        if (woken == WAIT_FAILED)
            return WAIT_FAILED;
        HandleSentMessages();
        if (Remaining(start, timeoutMs) == 0)
        {
            DWORD last = handle != nullptr ? ::WaitForSingleObject(handle, 0) : WAIT_TIMEOUT;
            return last == WAIT_OBJECT_0 || last == WAIT_ABANDONED ? last : WAIT_TIMEOUT;
        }
    }
}

void AnswerSentMessages()
{
    // The thread that answered last, and when: a thread that answered a moment ago has kept
    // nobody waiting, and asking again would cost each of a burst of fast records a call.
    static volatile DWORD s_nThread = 0;
    static volatile DWORD s_nAnsweredAt = 0;
    DWORD thread = ::GetCurrentThreadId();
    if (s_nThread == thread && ::GetTickCount() - s_nAnsweredAt < kAnswerAgainAfterMs)
        return;
    if (!::IsGUIThread(FALSE))
        return;
    // A peek that finds nothing lets the window system deliver what it holds for the thread
    // (focus changes of the display, under Wine), out of the order the thread's own loop
    // would see it in: the thread peeks only when a sent message waits. Only the sent-message
    // bit of the queue's news is taken, so the thread's own waits still see their input as new.
    if (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE)
        HandleSentMessages();
    s_nAnsweredAt = ::GetTickCount();
    s_nThread = thread;
}

void SleepHandlingSentMessages(DWORD milliseconds)
{
    WaitHandlingSentMessages(nullptr, milliseconds);
}
