#pragma once
// The worker threads that carry the updater runs of a launch check and a component update,
// and the launch-check sequence that decides whether the host may go on starting.

#include <string>

struct QMCallContext;

// Runs the check (and, when the result says so, the application update); sets flag to 1
// (may go on starting) or 0 (must not). True when the sequence came to a regular end.
bool CheckAppUpdate(const std::wstring& appName, int& flag);

// Writes the component-update request and runs the updater with it.
bool RunComponentUpdate(const QMCallContext& context);

// Thread procedures: the argument is the caller's context, read only at the start.
unsigned __stdcall LaunchCheckThreadProc(void* argument);
unsigned __stdcall UpdateComponentsThreadProc(void* argument);
