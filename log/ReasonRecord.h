#pragma once
// The record that says why a call failed, before its exit record: in words a support engineer
// can act on, with the system's error code and text where there is one.
//
//   timestamp,PL,REASON,<function>,<why>[,error <n>: <system text>]

#include <windows.h>

#include <string>

void WriteReasonRecord(const std::wstring& logName, const std::wstring& reason,
                       DWORD systemError = ERROR_SUCCESS) noexcept;
