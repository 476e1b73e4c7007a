#pragma once
// A registration that names the updater in a form the module cannot use: the module takes the
// value's text as it stands, so quotes around it are part of the name and variables in a
// REG_EXPAND_SZ value stay unexpanded. qmhost doctor names the fix, and qmhost register
// --repair stores it.

#include <windows.h>

#include <string>

struct QMRegisteredPathFix
{
    std::wstring m_strPath; // the file the value means, which the module could start; empty: no such fix
    bool m_bQuoted = false;   // the value is in double quotes
    bool m_bExpanded = false; // the value's variables were expanded
};

// The fix for a registered value of the given registry type: empty when the text is usable as it
// stands, or when neither its quotes nor its variables are why no usable file is found.
QMRegisteredPathFix FindRegisteredPathFix(const std::wstring& text, DWORD type);
