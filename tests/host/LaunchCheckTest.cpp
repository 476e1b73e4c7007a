#include "host/HostWindowsForTest.h"
#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/StandInUpdater.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "protocol/QMProgressData.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace
{
class LaunchCheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        ASSERT_TRUE(m_module.Loaded());
    }
    void TearDown() override { ClearServiceLog(); }

    int Run(const wchar_t* app = L"App1", int initial = -1)
    {
        int state = initial;
        EXPECT_TRUE(m_module.m_pfnLaunchCheck(app, &state));
        return state;
    }
    std::vector<std::wstring> Switches() { return SwitchesOf(m_updater); }
    static std::vector<std::wstring> SwitchesOf(const CStandInUpdater& updater)
    {
        std::vector<std::wstring> switches;
        for (const StandInRun& run : updater.Runs())
            switches.push_back(run.m_vecArguments.size() > 1 ? run.m_vecArguments[1] : L"");
        return switches;
    }

    CStandInUpdater m_updater;
    CPellorinModule m_module;
};

const std::vector<std::wstring> kCheckOnly = {L"/check_app_update_qm"};
const std::vector<std::wstring> kCheckAndUpdate = {L"/check_app_update_qm", L"/update_app"};

TEST_F(LaunchCheckTest, YesLetsTheHostStartWithOneRun)
{
    m_updater.SetScenario({"LaunchApp=Y"});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Switches(), kCheckOnly);

    std::wstring request = CStandInUpdater::WorkFolder() + L"/App1_1.xml";
    std::vector<std::wstring> expected = {L"PL,API_CALL,LaunchCheck,App1",
                                          L"PL,CHECK_VERSION,-,1.1.0.13",
                                          L"PL,CREATE_XML,LaunchCheck," + request,
                                          L"PL,CATCH_XML,LaunchCheck",
                                          L"PL,CATCH_XML,-," + CStandInUpdater::WorkFolder() + L"/RESULT_App1_1.xml",
                                          L"PL,CATCH_MSG,LaunchCheck",
                                          L"PL,API_END,LaunchCheck,1"};
    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_EQ(ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]), expected);
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_NE(runs[0].m_strRequest.find(">App1</AppName>"), std::string::npos);
}

struct SequenceCase
{
    const char* label;
    std::vector<std::string> scenario;
    int state;
    std::vector<std::wstring> switches;
};

TEST_F(LaunchCheckTest, DecisionSequences)
{
    const SequenceCase cases[] = {
        {"N on the check", {"LaunchApp=N"}, 1, kCheckOnly},
        {"no usable result", {"result=none"}, 1, kCheckOnly},
        {"lower-case y", {"LaunchApp=y"}, 1, kCheckOnly},
        {"crashed check", {"crash=1"}, 1, kCheckOnly},
        {"R, then Y", {"LaunchApp=R", "update_app.LaunchApp=Y"}, 1, kCheckAndUpdate},
        {"R, then N holds the host back", {"LaunchApp=R", "update_app.LaunchApp=N"}, 0, kCheckAndUpdate},
        {"R, then R", {"LaunchApp=R"}, 1, kCheckAndUpdate},
        {"R, then nothing", {"LaunchApp=R", "update_app.result=none"}, 1, kCheckAndUpdate},
    };
    for (const SequenceCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        CStandInUpdater updater(c.scenario);
        ClearServiceLog();
        EXPECT_EQ(Run(), c.state);
        std::vector<std::wstring> switches;
        std::vector<StandInRun> runs = updater.Runs();
        for (const StandInRun& run : runs)
            switches.push_back(run.m_vecArguments.size() > 1 ? run.m_vecArguments[1] : L"");
        EXPECT_EQ(switches, c.switches);
        if (runs.size() == 2)
        {
            EXPECT_EQ(runs[1].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/App1_2.xml");
        }
        // State 0 is not archived; its records wait in the current file.
        EXPECT_EQ(ArchiveNames().empty(), c.state == 0);
    }
}

TEST_F(LaunchCheckTest, RestartWithProcessInfoWaitsForAnotherProcessesDecision)
{
    const struct
    {
        const char* decision;
        const char* delayMs;
        int state;
        std::vector<std::wstring> switches;
    } cases[] = {{"4", "200", 0, kCheckAndUpdate},
                 {"3", "200", 1, kCheckOnly},
                 {"0", "200", 1, kCheckOnly},
                 // The deciding process takes its time: while it lives, the wait goes on.
                 {"4", "3000", 0, kCheckAndUpdate}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(std::string(c.decision) + " after " + c.delayMs + " ms");
        CStandInUpdater updater({"LaunchApp=R", "ProcessInfo=setup.exe 4711", "update_app.LaunchApp=N",
                                 std::string("decision=") + c.decision,
                                 std::string("decision_delay_ms=") + c.delayMs});
        int state = Run();
        std::vector<std::wstring> switches;
        for (const StandInRun& run : updater.Runs())
            switches.push_back(run.m_vecArguments[1]);
        if (switches.size() == 1 && c.state == 0)
            GTEST_SKIP() << "no decision window: without an X display Wine creates no top-level window";
        EXPECT_EQ(state, c.state);
        EXPECT_EQ(switches, c.switches);
    }
}

// Any process may post a decision; only the whole confirmation value confirms.
TEST_F(LaunchCheckTest, DecisionThatOnlyEndsInTheConfirmationDoesNotConfirm)
{
    if (sizeof(LPARAM) < 8)
        GTEST_SKIP() << "a 32-bit host's message carries no more than the confirmation's 32 bits";
    m_updater.SetScenario({"LaunchApp=R", "ProcessInfo=setup.exe 4711", "update_app.LaunchApp=N", "decision=4",
                           "decision_delay_ms=120000"});
    std::atomic<bool> posted{false};
    std::thread poster([&] {
        for (int i = 0; i < 1000 && !posted; ++i)
        {
            HWND window = ::FindWindowW(kDecisionWindowClass, nullptr);
            if (window != nullptr)
                posted = ::PostMessageW(window, WM_QM_DECISION, 0, static_cast<LPARAM>(0x100000004ull)) != FALSE;
            else
                ::Sleep(20);
        }
    });
    int state = Run();
    poster.join();
    CStandInUpdater::EndAllRuns();
    if (!posted)
        GTEST_SKIP() << "no decision window: without an X display Wine creates no top-level window";
    EXPECT_EQ(state, 1);
    EXPECT_EQ(Switches(), kCheckOnly);
}

// The process that was to decide dies: the host starts instead of waiting for ever.
TEST_F(LaunchCheckTest, DecidingProcessKilledEndsTheWait)
{
    m_updater.SetScenario({"LaunchApp=R", "ProcessInfo=setup.exe 4711", "decision=4", "decision_delay_ms=120000"});
    std::atomic<bool> killed{false};
    std::thread killer([&] {
        for (int i = 0; i < 1000 && !killed; ++i)
        {
            if (::FindWindowW(kDecisionWindowClass, nullptr) != nullptr)
            {
                CStandInUpdater::EndAllRuns();
                killed = true;
            }
            ::Sleep(20);
        }
    });
    DWORD start = ::GetTickCount();
    int state = Run();
    DWORD took = ::GetTickCount() - start;
    killed = true;
    killer.join();
    EXPECT_EQ(state, 1);
    EXPECT_EQ(Switches(), kCheckOnly);
    EXPECT_LT(took, 20000u) << "well before the deciding process would have posted";
    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::wstring> records = ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]);
    EXPECT_NE(std::find(records.begin(), records.end(), L"PL,CATCH_MSG,LaunchCheck,NO_DECISION_SIDE_GONE"),
              records.end());
}

void CALLBACK PostQuitFromTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    ::KillTimer(nullptr, id);
    ::PostQuitMessage(7);
}

// A host that quits during the check asks the updater to stop and waits at most 5 s for it:
// an answer in time still counts; a silent updater lets the host go on quitting, and its late
// answer starts no application update.
TEST_F(LaunchCheckTest, HostQuitFromATimerReachesTheHostsLoopAfterTheCheck)
{
    const struct
    {
        const char* label;
        const char* delay;
        int state;
        DWORD atLeastMs, belowMs;
        std::vector<std::wstring> switches;
    } cases[] = {
        {"answers in time", "delay_ms=500", 0, 0, 4000, kCheckAndUpdate},
        {"silent", "check_app_update_qm.delay_ms=8000", 1, 4500, 7500, kCheckOnly},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CStandInUpdater updater({"LaunchApp=R", "update_app.LaunchApp=N", c.delay});
        UINT_PTR timer = ::SetTimer(nullptr, 0, 50, PostQuitFromTimer);
        ASSERT_NE(timer, 0u);
        DWORD start = ::GetTickCount();
        EXPECT_EQ(Run(), c.state);
        DWORD took = ::GetTickCount() - start;
        ::KillTimer(nullptr, timer);
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LT(took, c.belowMs);
        MSG message = {};
        ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(message.wParam, 7u);
        EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        // The worker goes on until the late answer, and must start nothing after it.
        ASSERT_TRUE(CStandInUpdater::WaitUntilNoneRuns(15000));
        ::Sleep(500);
        ASSERT_TRUE(CStandInUpdater::WaitUntilNoneRuns(15000));
        EXPECT_EQ(SwitchesOf(updater), c.switches);
    }
}

// A second process sends the progress window a foreign done message (which would hold the
// host back), the save message, WM_CLOSE, WM_DESTROY and WM_NCCREATE: the updater's answer counts.
TEST_F(LaunchCheckTest, ForeignMessagesToTheProgressWindowDoNotDecideTheCheck)
{
    m_updater.SetScenario({"hostile=1", "LaunchApp=Y", "delay_ms=300"});
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(Switches(), kCheckOnly);

    CStandInUpdater holdsBack({"hostile=1", "LaunchApp=R", "update_app.LaunchApp=N"});
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(holdsBack.Runs().size(), 2u);
}

// Whatever keeps the check from an answer lets the host start, and the log says what it was.
TEST_F(LaunchCheckTest, FailuresLetTheHostStartAndTheLogSaysWhy)
{
    const std::wstring result = CStandInUpdater::WorkFolder() + L"/RESULT_App1_";
    const struct
    {
        const char* label;
        std::vector<std::string> scenario;
        const wchar_t* updater; // registered instead of the stand-in; null: the stand-in
        std::wstring reason;    // how the reason record begins, after "PL,REASON,LaunchCheck,"
    } cases[] = {
        {"updater missing", {}, L"C:\\no\\such\\updater.exe",
         L"the registered updater's file is missing: C:\\no\\such\\updater.exe"},
        {"no result", {"result=none"}, nullptr,
         L"the updater wrote no result document and ended with exit code 0 (expected at " + result},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        m_updater.SetScenario(c.scenario);
        CVestabelRegistration registration;
        if (c.updater != nullptr)
            ASSERT_TRUE(registration.SetPath(c.updater));
        else
            ASSERT_TRUE(registration.SetPath(m_updater.ExePath()));
        EXPECT_EQ(Run(L"App1", 7), 1);
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_GE(records.size(), 3u);
        // Why, before the done message's record and the exit record.
        const std::wstring reason = L"PL,REASON,LaunchCheck," + c.reason;
        EXPECT_EQ(records[records.size() - 3].compare(0, reason.size(), reason), 0)
            << WideToUtf8(records[records.size() - 3]);
        EXPECT_EQ(records[records.size() - 2], L"PL,CATCH_MSG,LaunchCheck");
        EXPECT_EQ(records.back(), L"PL,API_END,LaunchCheck,1");
    }
}

TEST_F(LaunchCheckTest, NameTheUpdaterCouldNotReadRunsNothingAndLetsTheHostStart)
{
    const std::wstring tooLong(259 - CStandInUpdater::WorkFolder().size() - 13, L'n');
    for (const std::wstring& name : {std::wstring(L"App\x02"), std::wstring(L"App\xD800"), tooLong})
    {
        ClearServiceLog();
        EXPECT_EQ(Run(name.c_str(), 7), 1);
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_EQ(records.size(), 5u);
        EXPECT_EQ(records[2].substr(0, 25), L"PL,REFUSE_ARG,LaunchCheck");
    }
    EXPECT_TRUE(m_updater.Runs().empty());
}

TEST_F(LaunchCheckTest, NotRegisteredLeavesTheStateAlone)
{
    CVestabelRegistration none;
    int state = 7;
    EXPECT_FALSE(m_module.m_pfnLaunchCheck(L"App1", &state));
    EXPECT_EQ(state, 7);
}

TEST_F(LaunchCheckTest, HostWindowsAreDisabledDuringTheCheckAndRestoredAfter)
{
    CHostWindow main(true, true), disabled(true, false), hidden(false, true);
    if (main.Handle() == nullptr)
        GTEST_SKIP() << "no top-level windows: Wine needs an X display";
    ::SetForegroundWindow(main.Handle());
    m_updater.SetScenario({"LaunchApp=Y", "delay_ms=1500"});

    // The foreground goes elsewhere meanwhile; the check gives it back.
    CHostWindow other(true, true);
    ::SetForegroundWindow(other.Handle());
    // Without a window manager Wine takes a foreground change in with the X server's focus
    // events: the call must find it made, or it gives back the window it found (none at all when
    // a late event has just taken the foreground away); and the window it gives back is in
    // front once those events of its own change have arrived. Settled: in front for 10 looks
    // in a row, with the events between them handled. Before the call the host's window is
    // asked again while a late event keeps it out; after it, only the call may bring it back.
    auto settleOn = [&main](bool askAgain) {
        for (int i = 0, inFront = 0; i < 250 && inFront < 10; ++i)
        {
            if (askAgain && inFront == 0 && i % 25 == 0)
                ::SetForegroundWindow(main.Handle());
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&message);
            inFront = ::GetForegroundWindow() == main.Handle() ? inFront + 1 : 0;
            ::Sleep(20);
        }
    };
    settleOn(true);
    if (::GetForegroundWindow() != main.Handle())
        GTEST_SKIP() << "Wine's display gave the host's window no stable foreground within 5 s";

    std::atomic<int> mainEnabledDuring{-1}, hiddenEnabledDuring{-1};
    std::thread watcher([&] {
        ::Sleep(700);
        mainEnabledDuring = main.Enabled() ? 1 : 0;
        hiddenEnabledDuring = hidden.Enabled() ? 1 : 0;
    });
    EXPECT_EQ(Run(), 1);
    watcher.join();
    settleOn(false);

    EXPECT_EQ(mainEnabledDuring, 0);
    EXPECT_EQ(hiddenEnabledDuring, 1) << "a hidden window is not touched";
    EXPECT_TRUE(main.Enabled());
    EXPECT_FALSE(disabled.Enabled()) << "a window disabled before stays disabled";
    EXPECT_FALSE(hidden.Visible());
    EXPECT_TRUE(other.Enabled());
    EXPECT_EQ(::GetForegroundWindow(), main.Handle());
}

TEST_F(LaunchCheckTest, BusyInstanceShowsTheBusyMessageAndStartsNothing)
{
    CHostWindow main(true, true);
    if (main.Handle() == nullptr)
        GTEST_SKIP() << "no top-level windows: Wine needs an X display";
    ASSERT_TRUE(m_updater.HoldMutexElsewhere(L"Tavrin_Inc_ZL_QM_PL_v1", 60000));
    m_updater.SetScenario({"LaunchApp=N"});

    std::wstring shownText;
    std::atomic<bool> mainDisabledWhileShown{false};
    std::atomic<bool> returned{false};
    DWORD hostThread = ::GetCurrentThreadId();
    std::thread user([&] {
        HWND box = WaitForDialog(L"Busy App", 30000);
        if (box != nullptr)
        {
            wchar_t text[1024] = {};
            ::GetDlgItemTextW(box, 2001, text, 1024);
            shownText = text;
            mainDisabledWhileShown = !main.Enabled();
            // Clicked again until the call returns, in case a click arrives before the box takes it.
            for (int i = 0; i < 300 && !returned; ++i)
            {
                if (i % 50 == 0)
                    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                ::Sleep(100);
            }
        }
        // Not found: close whatever dialog the call shows, so that the test fails instead of hanging.
        while (!returned)
        {
            CancelDialogsOfThread(hostThread);
            ::Sleep(100);
        }
    });
    int state = Run(L"Busy App", 0);
    returned = true;
    user.join();
    EXPECT_EQ(state, 1);
    // The mutex's holder here has no window to be named by.
    std::vector<std::wstring> records = AllLogRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2],
              L"PL,REASON,LaunchCheck,busy: a launch check or component update runs in a process that cannot be "
              L"named: the busy message is shown and the host starts");
    EXPECT_EQ(shownText,
              L"Si sta installando altro software.\nAl termine dell'installazione, confermare l'ultima versione.");
    EXPECT_TRUE(mainDisabledWhileShown);
    EXPECT_TRUE(main.Enabled());
    EXPECT_TRUE(m_updater.Runs().empty());
}
} // namespace
