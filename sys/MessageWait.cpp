#include "sys/MessageWait.h"

namespace
{
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
    if (::IsGUIThread(FALSE))
        HandleSentMessages();
}

void SleepHandlingSentMessages(DWORD milliseconds)
{
    WaitHandlingSentMessages(nullptr, milliseconds);
}
