#include "ui/QMDialog.h"

#include "ui/ActivationContext.h"
#include "ui/ModuleInstance.h"

INT_PTR CQMDialog::DoModal(HWND owner)
{
    HINSTANCE module = GetModuleInstance();
    if (module == nullptr)
        return -1;
    // The module's manifest asks for the version 6 common controls for its dialogs.
    CQMActivationScope scope(module);
    return ::DialogBoxParamW(module, MAKEINTRESOURCEW(m_nTemplateId), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

bool CQMDialog::OnCommand(WORD id)
{
    if (id == IDOK || id == IDCANCEL)
    {
        EndDialog(id);
        return true;
    }
    return false;
}

INT_PTR CALLBACK CQMDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
    {
        auto* self = reinterpret_cast<CQMDialog*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->m_hWnd = dialog;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CQMDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED)
        return self->OnCommand(LOWORD(wParam)) ? TRUE : FALSE;
    if (message == WM_DESTROY)
        self->m_hWnd = nullptr;
    return FALSE;
}
