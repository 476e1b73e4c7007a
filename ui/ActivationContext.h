#pragma once
// Activates the manifest of a module (resource 2) for the scope's lifetime, so that the
// windows created meanwhile use the common controls the manifest asks for.

#include <windows.h>

class CQMActivationScope
{
public:
    explicit CQMActivationScope(HMODULE module);
    ~CQMActivationScope();
    CQMActivationScope(const CQMActivationScope&) = delete;
    CQMActivationScope& operator=(const CQMActivationScope&) = delete;

    bool Active() const { return m_nCookie != 0; }

private:
    HANDLE m_hContext = INVALID_HANDLE_VALUE;
    ULONG_PTR m_nCookie = 0;
};
