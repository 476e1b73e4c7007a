#pragma once
// The module's window onto the operating system for everything that is not a file.
// Failures come back as false, -1, empty text or an unchanged output; nothing throws.

#include <windows.h>

#include <string>

class CQMSystemUtil
{
public:
    virtual ~CQMSystemUtil() = default;

    // Appends "major.minor" to text (kept otherwise); always true.
    virtual bool GetOSVersionString(std::wstring& text) = 0;
    virtual bool GetOSVersion(DWORD& major, DWORD& minor, DWORD& servicePackMajor) = 0;
    // -1 when the version cannot be read.
    virtual int GetServicePackMajor() = 0;
    // The system default locale as a decimal number ("1033").
    virtual std::wstring GetSystemLocaleID() = 0;
    // True when the user of this process's session is a local account with administrator privilege.
    virtual bool IsSessionUserAdmin() = 0;
    // True when the caller may use strictly more than requiredBytes on the volume of folder.
    virtual bool HasFreeDiskSpace(const ULONGLONG& requiredBytes, const std::wstring& folder) = 0;
    // True when the calling thread's token is in the built-in Administrators group.
    virtual bool IsAdministratorsMember() = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    // Starts procedure(argument) on a new thread; returns its identifier, 0 when none was started.
    virtual unsigned StartThread(unsigned(__stdcall* procedure)(void*), void* argument) = 0;
    // Waits without time-out for a thread started by StartThread (or any thread by identifier).
    virtual void WaitForThread(unsigned threadId) = 0;
    // Asks the system to restart.
    virtual BOOL RebootSystem() = 0;
    // "InstVersion_forUIW" under HKLM\SOFTWARE\Tavrin_Inc_ZL\<subKey>, or empty.
    virtual std::wstring GetInstVersionForUI(const std::wstring& subKey) = 0;
    // The calling thread's user name, or empty.
    virtual std::wstring GetCurrentUserName() = 0;
};

// The process-wide instance; it lives as long as the module.
CQMSystemUtil* GetSystemUtil();
