#pragma once
// The module's window onto the operating system for everything that is not a file.

#include <string>

class CQMSystemUtil
{
public:
    virtual ~CQMSystemUtil() = default;

    // True when the user of this process's session is a local account with administrator privilege.
    virtual bool IsSessionUserAdmin() = 0;

    // The calling thread's user name, or empty.
    virtual std::wstring GetCurrentUserName() = 0;
};

// The process-wide instance, created on first use and never deleted.
CQMSystemUtil* GetSystemUtil();
