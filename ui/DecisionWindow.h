#pragma once
// The hidden window through which another process confirms an application update
// during a launch check. Runs on the launch-check worker thread.

// True when the decision message arrived with the confirmation (lParam 4).
bool WaitForUpdateDecision();
