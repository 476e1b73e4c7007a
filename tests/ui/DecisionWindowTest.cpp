#include "ui/DecisionWindow.h"
#include "ui/QMProgressData.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

namespace
{
class DecisionWindowTest : public ::testing::TestWithParam<std::pair<LPARAM, bool>>
{
protected:
    void SetUp() override { m_hModule = ::LoadLibraryW(L"Pellorin.dll"); }
    void TearDown() override { ::FreeLibrary(m_hModule); }
    HMODULE m_hModule = nullptr;
};

TEST_P(DecisionWindowTest, OnlyTheConfirmationCounts)
{
    std::atomic<bool> posted{false};
    std::thread other([&] {
        for (int i = 0; i < 500; ++i)
        {
            HWND window = ::FindWindowW(kDecisionWindowClass, nullptr);
            if (window != nullptr)
            {
                posted = ::PostMessageW(window, WM_QM_DECISION, 0, GetParam().first) != FALSE;
                return;
            }
            ::Sleep(10);
        }
    });
    bool confirmed = WaitForUpdateDecision();
    other.join();
    if (!posted)
        GTEST_SKIP() << "no decision window: without an X display Wine creates no top-level window";
    EXPECT_EQ(confirmed, GetParam().second);
    EXPECT_EQ(::FindWindowW(kDecisionWindowClass, nullptr), nullptr) << "the window is gone after the wait";
}

INSTANTIATE_TEST_SUITE_P(Decisions, DecisionWindowTest,
                         ::testing::Values(std::make_pair(LPARAM(4), true), std::make_pair(LPARAM(3), false),
                                           std::make_pair(LPARAM(0), false)));
} // namespace
