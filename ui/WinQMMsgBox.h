#pragma once
// The module's message box: sizes itself to its text and places icon and buttons by fixed
// pixel margins, on dialog template 131.

#include "ui/QMDialog.h"
#include "ui/QMMsgBoxInfo.h"

#include <windows.h>

#include <string>

// Results of ShowQMMsgBox.
enum
{
    QM_MSGBOX_YES = 0,
    QM_MSGBOX_NO = 1,
    QM_MSGBOX_CANCEL = 2,
    QM_MSGBOX_OK = 3,
    QM_MSGBOX_IGNORE = 4,
    QM_MSGBOX_RETRY = 5,
    QM_MSGBOX_ABORT = 6
};

class CWinQMMsgBox : public CQMDialog
{
public:
    explicit CWinQMMsgBox(const QMMsgBoxInfo& info);

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD id) override;

private:
    void LayoutButtons(int frameWidth);

    HWND m_hIconCtrl = nullptr;
    std::wstring m_strText;
    std::wstring m_strCaption;
    int m_nButtons;
    int m_nIcon;
};

// Width of the widest line and height of one line times the number of lines; a text that
// ends with a line feed has an empty last line that counts.
SIZE MeasureMsgBoxText(HDC dc, const std::wstring& text);

// The box's result for the dialog's end code: anything unknown (a failed dialog too) gives 1.
int MapMsgBoxEndCode(INT_PTR endCode);

// Shows the box modally (no owner) and returns the mapped result.
int ShowQMMsgBox(const std::wstring& text, const std::wstring& caption, int buttons, int icon);
