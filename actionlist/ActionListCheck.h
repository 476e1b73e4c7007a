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

// Why the existing list at path cannot be written, as it shows now: the call's reason record
// after a failed save and "qmhost doctor --list" name it in the same words.
struct QMListWriteRefusal
{
    enum EKind
    {
        QM_WRITABLE,      // nothing shows (no file, a folder, or it opens for writing now)
        QM_READ_ONLY,     // the read-only attribute: the save leaves such a file alone
        QM_HELD,          // another program holds it without sharing its writing
        QM_NOT_PERMITTED, // this user may not write it
    };
    EKind m_eKind = QM_WRITABLE;
    std::wstring m_strReason; // empty when writable
    DWORD m_nSystemError = ERROR_SUCCESS; // the error that showed it (read-only: the save's)
};
QMListWriteRefusal CheckListWriteRefusal(const std::wstring& path);
