#pragma once
// The least modal-dialog layer the module needs: a dialog from a template of the module's
// resources, an initialisation hook and a command hook. IDOK and IDCANCEL end the dialog
// with their own ids unless a subclass handles them.

#include <windows.h>

class CQMDialog
{
public:
    explicit CQMDialog(UINT templateId) : m_nTemplateId(templateId) {}
    virtual ~CQMDialog() = default;
    CQMDialog(const CQMDialog&) = delete;
    CQMDialog& operator=(const CQMDialog&) = delete;

    // Runs the dialog modally; its end code, or -1 when it could not be created.
    INT_PTR DoModal(HWND owner);

protected:
    // Return TRUE to let the dialog manager set the default focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // True when the command was handled.
    virtual bool OnCommand(WORD id);
    void EndDialog(INT_PTR code) { ::EndDialog(m_hWnd, code); }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nTemplateId;
};
