#pragma once
// The result document the updater leaves beside a request: "RESULT_" + the request's file name.

#include "bridge/VestabelRun.h"

#include <string>

// Launch decisions read from "LaunchApp".
enum
{
    QM_LAUNCH_YES = 0,     // "Y"
    QM_LAUNCH_NO = 1,      // "N"
    QM_LAUNCH_RESTART = 2, // "R"
    QM_LAUNCH_NONE = 3     // no usable decision
};

struct QMCheckResult
{
    int m_nLaunchDecision = QM_LAUNCH_NONE;
    std::wstring m_strProcessInfo;
    std::wstring m_strResult;
};

// Read statuses.
enum
{
    QM_RESULT_READ = 0,
    QM_RESULT_UNREADABLE = 1,
    QM_RESULT_WRONG_ROOT = 2
};

std::wstring GetResultDocumentPath(const std::wstring& requestPath);

// The integer at the start of text as the C library reads it (blanks, sign, digits); 0 when none.
int ParseResultCode(const std::wstring& text);

int ReadResultDocument(const std::wstring& resultPath, QMCheckResult& result);

// Reads and deletes the result of a request; returns the launch decision. A missing or
// unreadable result, or one written before the request, gives QM_LAUNCH_NONE and, when
// asked for, the code 20; with a log name, a reason record says which it was, with the
// updater's exit code (as RunVestabel gave it) when it wrote none.
int CatchResultDocument(const std::wstring& requestPath, std::wstring& processInfo, int* resultCode = nullptr,
                        const wchar_t* logName = nullptr, unsigned long updaterExitCode = kUpdaterExitUnknown);
