#pragma once
// Whether UpdateComponents would accept an action list, and why not: the words of its reason
// record and of "qmhost doctor --list", from the same code.

#include <windows.h>

#include <string>

struct QMActionListCheck
{
    bool m_bAccepted = false;
    // Why it is refused: "the action list is not well-formed (line 3, column 7)", ...
    std::wstring m_strReason;
    DWORD m_nSystemError = ERROR_SUCCESS;
    bool m_bMissing = false;
    // Of an accepted list: the components it carries, and the child elements of its root that
    // the call drops (no ID or no Action).
    size_t m_nComponents = 0;
    size_t m_nDropped = 0;
};

// Reads the list at path as the call does. The caller has COM set up on its thread.
// Throws std::bad_alloc.
QMActionListCheck CheckActionList(const std::wstring& path);
