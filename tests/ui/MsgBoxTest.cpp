#include "ui/ModuleInstance.h"
#include "ui/WinQMMsgBox.h"
#include "ui/resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace
{
struct ShownBox
{
    HWND dialog = nullptr;
    RECT client = {};
    RECT icon = {}; // client coordinates
    RECT text = {};
    RECT ok = {};
    bool okVisible = false;
    HICON iconHandle = nullptr;
    SIZE measured = {}; // the text measured with the text control's font
    LONG lineHeight = 0;
};

RECT ChildRect(HWND dialog, int id)
{
    RECT rect = {};
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    ::GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") == 0 && ::IsWindowVisible(window))
    {
        *reinterpret_cast<HWND*>(found) = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CloseAnyDialog(HWND window, LPARAM)
{
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
}

class MsgBoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The box's template and strings come from the module's resources.
        m_hModule = ::LoadLibraryW(L"Pellorin.dll");
        ASSERT_NE(m_hModule, nullptr);
    }
    void TearDown() override { ::FreeLibrary(m_hModule); }

    // Shows a box on its own thread, reads its layout once visible, then sends closeMessage.
    int ShowAndRead(const std::wstring& text, int buttons, int icon, ShownBox& shown, UINT closeMessage = WM_COMMAND,
                    WPARAM closeParam = MAKEWPARAM(IDOK, BN_CLICKED))
    {
        std::atomic<int> result{-100};
        std::atomic<DWORD> threadId{0};
        std::thread ui([&] {
            threadId = ::GetCurrentThreadId();
            result = ShowQMMsgBox(text, L"Caption App", buttons, icon);
        });
        for (int i = 0; i < 3000 && shown.dialog == nullptr && result == -100; ++i)
        {
            ::Sleep(10);
            if (threadId != 0)
                ::EnumThreadWindows(threadId, FindDialog, reinterpret_cast<LPARAM>(&shown.dialog));
        }
        if (shown.dialog != nullptr)
        {
            ::Sleep(50);
            ReadLayout(text, shown);
            ::PostMessageW(shown.dialog, closeMessage, closeParam, 0);
        }
        else
        {
            // Not seen in time: end whatever the box thread shows, so that the test cannot hang.
            while (result == -100 && threadId != 0)
            {
                ::EnumThreadWindows(threadId, CloseAnyDialog, 0);
                ::Sleep(100);
            }
        }
        ui.join();
        return result;
    }

    void ReadLayout(const std::wstring& text, ShownBox& shown)
    {
        HWND dialog = shown.dialog;
        ::GetClientRect(dialog, &shown.client);
        shown.icon = ChildRect(dialog, IDC_QM_MSGBOX_ICON);
        shown.text = ChildRect(dialog, IDC_QM_MSGBOX_TEXT);
        shown.ok = ChildRect(dialog, IDOK);
        shown.okVisible = ::IsWindowVisible(::GetDlgItem(dialog, IDOK)) != FALSE;
        shown.iconHandle = reinterpret_cast<HICON>(::SendDlgItemMessageW(dialog, IDC_QM_MSGBOX_ICON, STM_GETICON, 0, 0));
        HWND textControl = ::GetDlgItem(dialog, IDC_QM_MSGBOX_TEXT);
        HDC dc = ::GetDC(textControl);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(textControl, WM_GETFONT, 0, 0)));
        shown.measured = MeasureMsgBoxText(dc, text);
        SIZE one = {};
        ::GetTextExtentPoint32W(dc, L"X", 1, &one);
        shown.lineHeight = one.cy;
        ::SelectObject(dc, old);
        ::ReleaseDC(textControl, dc);
    }

    static LONG Width(const RECT& r) { return r.right - r.left; }
    static LONG Height(const RECT& r) { return r.bottom - r.top; }

    HMODULE m_hModule = nullptr;
};

#define REQUIRE_DISPLAY(shown)                                                                                      \
    if ((shown).dialog == nullptr)                                                                                  \
    GTEST_SKIP() << "no dialog appeared: without an X display Wine creates no top-level window"

TEST_F(MsgBoxTest, OneLineTextSizesTheBoxAndCentresOk)
{
    ShownBox box;
    const std::wstring text = L"A one-line message that is wider than the button row";
    EXPECT_EQ(ShowAndRead(text, 4, 3, box), QM_MSGBOX_OK);
    REQUIRE_DISPLAY(box);

    EXPECT_EQ(box.icon.left, 30);
    EXPECT_EQ(box.icon.top, 20);
    LONG iconW = Width(box.icon), iconH = Height(box.icon);
    EXPECT_GT(iconW, 0);
    EXPECT_EQ(box.text.left, iconW + 50);
    EXPECT_EQ(box.text.top, 30);
    EXPECT_EQ(Width(box.text), box.measured.cx);
    EXPECT_EQ(Height(box.text), box.measured.cy);
    EXPECT_NE(box.iconHandle, nullptr);

    EXPECT_EQ(Width(box.client), iconW + box.measured.cx + 80);
    LONG rowTop = std::max(iconH, box.measured.cy) + 40;
    ASSERT_TRUE(box.okVisible);
    EXPECT_EQ(box.ok.top, rowTop);
    EXPECT_EQ(box.ok.left, (Width(box.client) - Width(box.ok)) / 2);
    EXPECT_EQ(Height(box.client) - box.ok.bottom, 20);
}

TEST_F(MsgBoxTest, BusyMessageIsTwoLinesHigh)
{
    ShownBox box;
    std::wstring busy = LoadModuleString(IDS_QM_BUSY_MESSAGE);
    ASSERT_NE(busy.find(L'\n'), std::wstring::npos);
    EXPECT_EQ(ShowAndRead(busy, 4, 3, box), QM_MSGBOX_OK);
    REQUIRE_DISPLAY(box);
    EXPECT_EQ(Height(box.text), 2 * box.lineHeight);
    EXPECT_EQ(Width(box.text), box.measured.cx);
}

TEST_F(MsgBoxTest, ShortTextWidensTheBoxForTheButton)
{
    ShownBox box;
    EXPECT_EQ(ShowAndRead(L"x", 4, 3, box), QM_MSGBOX_OK);
    REQUIRE_DISPLAY(box);
    LONG natural = Width(box.icon) + box.measured.cx + 80;
    if (natural - 60 >= Width(box.ok))
        GTEST_SKIP() << "the icon and one letter already leave room for the button with this font";
    EXPECT_EQ(Width(box.client), Width(box.ok) + 60);
    EXPECT_EQ(box.ok.left, 30);
}

TEST_F(MsgBoxTest, UnknownIconSettingShowsNoIconButKeepsItsPlace)
{
    ShownBox box;
    EXPECT_EQ(ShowAndRead(L"No icon here", 4, 7, box), QM_MSGBOX_OK);
    REQUIRE_DISPLAY(box);
    EXPECT_EQ(box.iconHandle, nullptr);
    EXPECT_EQ(box.text.left, Width(box.icon) + 50);
}

TEST_F(MsgBoxTest, OtherButtonSettingShowsNoButtonAndClosesAsCancel)
{
    ShownBox box;
    EXPECT_EQ(ShowAndRead(L"No buttons", 5, 0, box, WM_CLOSE, 0), QM_MSGBOX_CANCEL);
    REQUIRE_DISPLAY(box);
    EXPECT_FALSE(box.okVisible);
    EXPECT_EQ(Height(box.client), std::max(Height(box.icon), box.measured.cy) + 40 + 20);
}

TEST_F(MsgBoxTest, YesAndNoEndTheBoxWithTheirResults)
{
    ShownBox yes, no;
    EXPECT_EQ(ShowAndRead(L"?", 4, 1, yes, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED)), QM_MSGBOX_YES);
    REQUIRE_DISPLAY(yes);
    EXPECT_EQ(ShowAndRead(L"?", 4, 1, no, WM_COMMAND, MAKEWPARAM(IDNO, BN_CLICKED)), QM_MSGBOX_NO);
}

TEST(MsgBoxResult, EndCodesMapToResults)
{
    const struct
    {
        INT_PTR endCode;
        int result;
    } cases[] = {{IDYES, 0}, {IDNO, 1}, {IDCANCEL, 2}, {IDOK, 3}, {IDIGNORE, 4},
                 {IDRETRY, 5}, {IDABORT, 6}, {-1, 1}, {0, 1}, {42, 1}};
    for (const auto& c : cases)
        EXPECT_EQ(MapMsgBoxEndCode(c.endCode), c.result) << c.endCode;
}

TEST(MsgBoxText, MeasuresLinesAndTrailingLineFeed)
{
    HDC dc = ::CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    SIZE one = MeasureMsgBoxText(dc, L"short");
    SIZE two = MeasureMsgBoxText(dc, L"short\nmuch longer line");
    SIZE trailing = MeasureMsgBoxText(dc, L"short\n");
    SIZE longer = {};
    ::GetTextExtentPoint32W(dc, L"much longer line", 16, &longer);
    ::DeleteDC(dc);
    EXPECT_GT(one.cy, 0);
    EXPECT_EQ(two.cy, 2 * one.cy);
    EXPECT_EQ(two.cx, longer.cx);
    EXPECT_EQ(trailing.cy, 2 * one.cy);
    EXPECT_EQ(trailing.cx, one.cx);
}

TEST(MsgBoxShow, WithoutTheModuleTheBoxFailsAsNo)
{
    // No Pellorin.dll in this process: no template, the dialog fails, the result is 1.
    ASSERT_EQ(::GetModuleHandleW(L"Pellorin.dll"), nullptr);
    EXPECT_EQ(ShowQMMsgBox(L"text", L"caption", 4, 3), QM_MSGBOX_NO);
}
} // namespace
