#pragma once

#include <string>

// What the module's message box shows.
struct QMMsgBoxInfo
{
    std::wstring m_strText;    // a line feed starts a new line
    std::wstring m_strCaption;
    int m_nButtons = 4;        // 4: one OK button; anything else: none
    int m_nIcon = 3;           // 0 information, 1 question, 2 warning, 3 error, else none
};
