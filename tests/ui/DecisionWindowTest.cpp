#include "ui/DecisionWindow.h"
#include "protocol/QMProgressData.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

namespace
{
class DecisionWindowTest : public ::testing::TestWithParam<std::pair<LPARAM, QMDecisionOutcome>>
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
    QMDecisionOutcome outcome = WaitForUpdateDecision([] { return true; });
    other.join();
    if (!posted)
        GTEST_SKIP() << "no decision window: without an X display Wine creates no top-level window";
    EXPECT_EQ(outcome, GetParam().second);
    EXPECT_EQ(::FindWindowW(kDecisionWindowClass, nullptr), nullptr) << "the window is gone after the wait";
}

INSTANTIATE_TEST_SUITE_P(Decisions, DecisionWindowTest,
                         ::testing::Values(std::make_pair(LPARAM(4), QM_DECISION_CONFIRMED),
                                           std::make_pair(LPARAM(3), QM_DECISION_DECLINED),
                                           std::make_pair(LPARAM(0), QM_DECISION_DECLINED)));

// Nobody posts: the wait ends when the deciding side is gone, or at the limit, never later.
TEST_F(DecisionWindowTest, WaitWithoutDecisionEndsWhenNobodyIsLeftOrAtTheLimit)
{
    int probes = 0;
    DWORD start = ::GetTickCount();
    QMDecisionOutcome outcome = WaitForUpdateDecision([&] { return ++probes < 3; }, 60000);
    DWORD took = ::GetTickCount() - start;
    if (outcome == QM_DECISION_NO_WINDOW)
        GTEST_SKIP() << "no decision window: without an X display Wine creates no top-level window";
    EXPECT_EQ(outcome, QM_DECISION_SIDE_GONE);
    EXPECT_EQ(probes, 4) << "gone twice in a row ends the wait";
    EXPECT_LT(took, 10000u);

    start = ::GetTickCount();
    EXPECT_EQ(WaitForUpdateDecision([] { return true; }, 1200), QM_DECISION_TIMED_OUT);
    took = ::GetTickCount() - start;
    EXPECT_GE(took, 1150u);
    EXPECT_LT(took, 6000u);
    EXPECT_EQ(::FindWindowW(kDecisionWindowClass, nullptr), nullptr);
}
} // namespace
