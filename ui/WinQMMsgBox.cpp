#include "ui/WinQMMsgBox.h"

#include "ui/ModuleInstance.h"
#include "ui/resource.h"

#include <algorithm>
#include <vector>

namespace
{
// Pixel margins of the layout.
constexpr int kIconLeft = 30;
constexpr int kIconTop = 20;
constexpr int kTextGapAfterIcon = 50;
constexpr int kTextTop = 30;
constexpr int kExtraWidth = 80;
constexpr int kExtraHeight = 40;
constexpr int kButtonGap = 10;
constexpr int kButtonRowMargin = 30;
constexpr int kButtonRowBelow = 20;
constexpr int kButtonSettingOk = 4;

LPCWSTR SystemIconFor(int setting)
{
    switch (setting)
    {
    case 0: return IDI_ASTERISK;
    case 1: return IDI_QUESTION;
    case 2: return IDI_EXCLAMATION;
    case 3: return IDI_HAND;
    default: return nullptr;
    }
}

SIZE WindowSize(HWND window)
{
    RECT rect = {};
    ::GetWindowRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

SIZE ClientSize(HWND window)
{
    RECT rect = {};
    ::GetClientRect(window, &rect);
    return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

RECT NormalPlacement(HWND window)
{
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof(placement);
    ::GetWindowPlacement(window, &placement);
    return placement.rcNormalPosition;
}

void ResizeKeepingTopLeft(HWND window, int width, int height)
{
    RECT normal = NormalPlacement(window);
    ::SetWindowPos(window, nullptr, normal.left, normal.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Releases the control's device context and restores its font on every path.
class CControlTextMeasure
{
public:
    explicit CControlTextMeasure(HWND control) : m_hControl(control), m_hDC(::GetDC(control))
    {
        HFONT font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
        if (m_hDC != nullptr && font != nullptr)
            m_hOldFont = ::SelectObject(m_hDC, font);
    }
    ~CControlTextMeasure()
    {
        if (m_hDC == nullptr)
            return;
        if (m_hOldFont != nullptr)
            ::SelectObject(m_hDC, m_hOldFont);
        ::ReleaseDC(m_hControl, m_hDC);
    }
    CControlTextMeasure(const CControlTextMeasure&) = delete;
    CControlTextMeasure& operator=(const CControlTextMeasure&) = delete;

    SIZE Measure(const std::wstring& text) const
    {
        return m_hDC != nullptr ? MeasureMsgBoxText(m_hDC, text) : SIZE{0, 0};
    }

private:
    HWND m_hControl;
    HDC m_hDC;
    HGDIOBJ m_hOldFont = nullptr;
};
} // namespace

SIZE MeasureMsgBoxText(HDC dc, const std::wstring& text)
{
    SIZE whole = {};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &whole);
    LONG lineHeight = whole.cy;
    LONG width = 0;
    LONG lines = 0;
    size_t start = 0;
    for (;;)
    {
        size_t end = text.find(L'\n', start);
        std::wstring piece = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        SIZE size = {};
        ::GetTextExtentPoint32W(dc, piece.c_str(), static_cast<int>(piece.size()), &size);
        width = std::max(width, size.cx);
        ++lines;
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return SIZE{width, lineHeight * lines};
}

int MapMsgBoxEndCode(INT_PTR endCode)
{
    switch (endCode)
    {
    case IDYES: return QM_MSGBOX_YES;
    case IDNO: return QM_MSGBOX_NO;
    case IDCANCEL: return QM_MSGBOX_CANCEL;
    case IDOK: return QM_MSGBOX_OK;
    case IDIGNORE: return QM_MSGBOX_IGNORE;
    case IDRETRY: return QM_MSGBOX_RETRY;
    case IDABORT: return QM_MSGBOX_ABORT;
    default: return QM_MSGBOX_NO;
    }
}

CWinQMMsgBox::CWinQMMsgBox(const QMMsgBoxInfo& info)
    : CQMDialog(IDD_QM_MSGBOX), m_strText(info.m_strText), m_strCaption(info.m_strCaption),
      m_nButtons(info.m_nButtons), m_nIcon(info.m_nIcon)
{
}

bool CWinQMMsgBox::OnCommand(WORD id)
{
    if (id == IDYES || id == IDNO)
    {
        EndDialog(id);
        return true;
    }
    return CQMDialog::OnCommand(id);
}

BOOL CWinQMMsgBox::OnInitDialog()
{
    ::SetWindowTextW(m_hWnd, m_strCaption.c_str());
    m_hIconCtrl = ::GetDlgItem(m_hWnd, IDC_QM_MSGBOX_ICON);
    HWND text = ::GetDlgItem(m_hWnd, IDC_QM_MSGBOX_TEXT);

    SIZE textSize = {};
    {
        CControlTextMeasure measure(text);
        textSize = measure.Measure(m_strText);
    }
    ::MoveWindow(text, 0, 0, textSize.cx, textSize.cy, FALSE);
    ::SetWindowTextW(text, m_strText.c_str());

    LPCWSTR iconId = SystemIconFor(m_nIcon);
    HICON icon = iconId != nullptr ? ::LoadIconW(nullptr, iconId) : nullptr;
    ::SendMessageW(m_hIconCtrl, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);

    // The icon control keeps its size whether or not it shows an icon.
    SIZE iconSize = WindowSize(m_hIconCtrl);
    ::SetWindowPos(m_hIconCtrl, nullptr, kIconLeft, kIconTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetWindowPos(text, nullptr, iconSize.cx + kTextGapAfterIcon, kTextTop, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

    SIZE window = WindowSize(m_hWnd);
    SIZE client = ClientSize(m_hWnd);
    int frameWidth = window.cx - client.cx;
    int frameHeight = window.cy - client.cy;
    ResizeKeepingTopLeft(m_hWnd, iconSize.cx + textSize.cx + kExtraWidth + frameWidth,
                         std::max(iconSize.cy, textSize.cy) + kExtraHeight + frameHeight);

    LayoutButtons(frameWidth);
    return TRUE;
}

void CWinQMMsgBox::LayoutButtons(int frameWidth)
{
    std::vector<HWND> buttons;
    if (m_nButtons == kButtonSettingOk)
    {
        HWND ok = ::GetDlgItem(m_hWnd, IDOK);
        ::ShowWindow(ok, SW_SHOW);
        ::SetWindowTextW(ok, LoadModuleString(IDS_QM_OK).c_str());
        buttons.push_back(ok);
    }

    int totalWidth = 0;
    int rowHeight = 0;
    for (size_t i = 0; i < buttons.size(); ++i)
    {
        SIZE size = WindowSize(buttons[i]);
        totalWidth += size.cx + (i == 0 ? 0 : kButtonGap);
        rowHeight = std::max(rowHeight, static_cast<int>(size.cy));
    }

    SIZE client = ClientSize(m_hWnd);
    int rowTop = client.cy;
    int x = 0;
    if (client.cx - 2 * kButtonRowMargin < totalWidth)
    {
        RECT normal = NormalPlacement(m_hWnd);
        ResizeKeepingTopLeft(m_hWnd, totalWidth + 2 * kButtonRowMargin + frameWidth, normal.bottom - normal.top);
        x = kButtonRowMargin;
    }
    else
    {
        x = (client.cx - totalWidth) / 2;
    }

    RECT normal = NormalPlacement(m_hWnd);
    ResizeKeepingTopLeft(m_hWnd, normal.right - normal.left, normal.bottom - normal.top + rowHeight + kButtonRowBelow);

    for (HWND button : buttons)
    {
        ::SetWindowPos(button, nullptr, x, rowTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        x += WindowSize(button).cx + kButtonGap;
    }
}

int ShowQMMsgBox(const std::wstring& text, const std::wstring& caption, int buttons, int icon)
{
    QMMsgBoxInfo info;
    info.m_strText = text;
    info.m_strCaption = caption;
    info.m_nButtons = buttons;
    info.m_nIcon = icon;
    CWinQMMsgBox box(info);
    return MapMsgBoxEndCode(box.DoModal(nullptr));
}
