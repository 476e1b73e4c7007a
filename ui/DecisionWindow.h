#pragma once
// The hidden window through which another process confirms an application update
// during a launch check. Runs on the launch-check worker thread.

#include <windows.h>

#include <functional>

enum QMDecisionOutcome
{
    QM_DECISION_CONFIRMED,    // the decision message arrived with the confirmation (lParam 4)
    QM_DECISION_DECLINED,     // it arrived with another value, or the window was destroyed
    QM_DECISION_SIDE_GONE,    // nobody is left who could decide
    QM_DECISION_TIMED_OUT,    // nothing arrived within the limit
    QM_DECISION_NO_WINDOW     // the window could not be made
};

// Nobody decides for longer than this: past it the host may start.
constexpr DWORD kDecisionWaitLimitMs = 5 * 60 * 1000;

// Waits for the decision message. decidingSideAlive is asked now and then whether the side that
// is to decide still exists; when it says no twice in a row, the wait ends.
QMDecisionOutcome WaitForUpdateDecision(const std::function<bool()>& decidingSideAlive,
                                        DWORD limitMs = kDecisionWaitLimitMs);
