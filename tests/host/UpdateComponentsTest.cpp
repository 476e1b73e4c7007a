#include "host/PellorinModule.h"

#include "support/ChildProcess.h"
#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/SmallVolume.h"
#include "support/StandInUpdater.h"
#include "support/TempFolder.h"
#include "sys/Handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace
{
struct ProgressCall
{
    int type;
    int percent;
    std::wstring id;
};

std::vector<ProgressCall> g_calls;
size_t g_cancelAtCall = 0; // 1-based; 0 never
// What the host does inside its callback: post its own quit, or destroy its window.
int g_nQuitFromCallback = -1;
HWND g_hDestroyFromCallback = nullptr;
DWORD g_nDestroyTookMs = 0;
size_t g_clearLogAtCall = 0; // 1-based; 0 never
bool g_bLogCleared = false;

QMBool __stdcall HostProgress(int type, int percent, const wchar_t* id, unsigned, unsigned, unsigned long long,
                              unsigned long long)
{
    g_calls.push_back({type, percent, id});
    if (g_nQuitFromCallback >= 0)
        ::PostQuitMessage(g_nQuitFromCallback);
    if (g_hDestroyFromCallback != nullptr)
    {
        DWORD start = ::GetTickCount();
        ::DestroyWindow(g_hDestroyFromCallback);
        g_nDestroyTookMs = ::GetTickCount() - start;
        g_hDestroyFromCallback = nullptr;
    }
    if (g_calls.size() == g_clearLogAtCall)
        g_bLogCleared = RemoveFolderTree(ServiceLogFolderForTest());
    return g_calls.size() != g_cancelAtCall;
}

CSmallVolume* g_pVolumeToFill = nullptr;
std::wstring g_strListToKeep;
std::string g_strListAsRewritten;

// Fills the volume of the list from inside the update, after the rewrite has taken its room,
// and keeps the list as the rewrite left it.
QMBool __stdcall FillingProgress(int type, int percent, const wchar_t* id, unsigned itemsDone, unsigned itemsTotal,
                                 unsigned long long bytesDone, unsigned long long bytesTotal)
{
    if (g_pVolumeToFill != nullptr && g_strListAsRewritten.empty())
    {
        g_strListAsRewritten = ReadFileBytes(g_strListToKeep);
        g_pVolumeToFill->Fill();
    }
    return HostProgress(type, percent, id, itemsDone, itemsTotal, bytesDone, bytesTotal);
}

// The host's main window: closing it ends the host's message loop, as in any application.
LRESULT CALLBACK HostMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY)
    {
        ::PostQuitMessage(5);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// The quit the host's own GetMessageW loop receives next; -1 when none is queued.
int TakeHostQuit()
{
    MSG message = {};
    if (!::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        return -1;
    return static_cast<int>(message.wParam);
}

const char kActionList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ActionList ParentAppName=\"App1\" ComponentType=\"old\">\r\n"
    "     <Component ID=\"CompA\" Action=\"update\" Path=\"a\" Version=\"1\" Result=\"\"/>\r\n"
    "     <Component ID=\"CompB\" Action=\"add\" Path=\"b\" Version=\"2\" Result=\"\"/>\r\n"
    "     <Component ID=\"CompC\" Action=\"delete\" Path=\"c\" Version=\"3\" Result=\"\"/>\r\n"
    "</ActionList>\r\n";

const char kEveryType[] = "progress=1,CompA,0,100,0,0,0;1,CompA,50,100,0,0,0;1,CompA,100,100,0,0,0;"
                          "2,CompA,0,0,1,2,0;3,CompC,0,0,1,1,0;4,CompA,0,0,2,2,0;5,CompB,0,0,1,1,0";

class UpdateComponentsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        ASSERT_TRUE(m_module.Loaded());
        g_calls.clear();
        g_cancelAtCall = 0;
        g_nQuitFromCallback = -1;
        g_hDestroyFromCallback = nullptr;
        g_clearLogAtCall = 0;
        m_strList = m_folder.Child(L"actions.xml");
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    }
    void TearDown() override { ClearServiceLog(); }

    int Update(const wchar_t* type = L"plugin", QMProgressCallback callback = HostProgress)
    {
        return m_module.m_pfnUpdateComponents(L"App1", m_strList.c_str(), type, callback);
    }
    std::vector<std::wstring> Results() { return ResultsOf(m_strList); }
    static std::vector<std::wstring> ResultsOf(const std::wstring& list)
    {
        std::string xml = ReadFileBytes(list);
        std::vector<std::wstring> results;
        for (size_t at = xml.find("Result=\""); at != std::string::npos; at = xml.find("Result=\"", at + 1))
        {
            size_t start = at + 8;
            results.push_back(Utf8ToWide(xml.substr(start, xml.find('"', start) - start)));
        }
        return results;
    }

    CStandInUpdater m_updater;
    CPellorinModule m_module;
    CTempFolder m_folder;
    std::wstring m_strList;
};

TEST_F(UpdateComponentsTest, RegularRunReportsProgressAndSavesResults)
{
    m_updater.SetScenario({kEveryType, "finish_code=0"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"0", L"0"}));
    ASSERT_EQ(g_calls.size(), 7u);
    EXPECT_EQ(g_calls[1].percent, 50);
    EXPECT_EQ(g_calls[3].type, 2);
    EXPECT_EQ(g_calls[3].percent, 50);
    EXPECT_EQ(g_calls[6].id, L"CompB");

    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::wstring> expected = {
        L"PL,API_CALL,UpdateComponents,App1," + m_strList + L",plugin",
        L"PL,CHECK_VERSION,-,1.1.0.13",
        L"PL,UPDATE_XML,UpdateComponents," + m_strList,
        L"PL,CREATE_XML,UpdateComponents," + CStandInUpdater::WorkFolder() + L"/App1_1.xml",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,0",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,50",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,100",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_EXTRACT",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_DELETE",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_UPDATE",
        L"PL,CATCH_MSG,UpdateComponents,TYPE_ADD",
        L"PL,API_END,UpdateComponents,200"};
    EXPECT_EQ(ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]), expected);

    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].m_vecArguments[1], L"/update_components");
    EXPECT_EQ(RequestAttribute(runs[0].m_strRequest, "ActionListXMLPath"), WideToUtf8(m_strList));
    std::string list = ReadFileBytes(m_strList);
    EXPECT_NE(list.find("ComponentType=\"plugin\""), std::string::npos) << "rewritten with the new type";
}

// A process of the session takes the log's lock with an object of another kind, or holds it
// and never lets go (running or suspended): the call still writes every record, whole and in
// order, after one record that says what the lock could not do.
struct QMHostileLock
{
    const wchar_t* m_szHow; // qm_test_child lock <how>
    const wchar_t* m_szNotice;
};

class UpdateComponentsBesideAHostileLock : public UpdateComponentsTest,
                                           public ::testing::WithParamInterface<QMHostileLock>
{
};

TEST_P(UpdateComponentsBesideAHostileLock, EveryRecordIsWritten)
{
    CNamedEventForTest ready;
    CChildProcess hostile(std::wstring(L"lock ") + GetParam().m_szHow, {{L"QM_TEST_READY", ready.Name()}});
    ASSERT_TRUE(hostile.Started());
    ASSERT_TRUE(ready.Wait(10000));
    m_updater.SetScenario({kEveryType, "finish_code=0"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"0", L"0"}));

    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::wstring> records = ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]);
    ASSERT_EQ(records.size(), 13u);
    EXPECT_EQ(records[0].rfind(L"PL,LOG_LOCK,", 0), 0u) << WideToUtf8(records[0]);
    EXPECT_NE(records[0].find(GetParam().m_szNotice), std::wstring::npos) << WideToUtf8(records[0]);
    EXPECT_EQ(records[1], L"PL,API_CALL,UpdateComponents,App1," + m_strList + L",plugin");
    EXPECT_EQ(records[4], L"PL,CREATE_XML,UpdateComponents," + CStandInUpdater::WorkFolder() + L"/App1_1.xml");
    EXPECT_EQ(records[11], L"PL,CATCH_MSG,UpdateComponents,TYPE_ADD");
    EXPECT_EQ(records[12], L"PL,API_END,UpdateComponents,200");
}

INSTANTIATE_TEST_SUITE_P(Hostile, UpdateComponentsBesideAHostileLock,
                         ::testing::Values(QMHostileLock{L"squat", L"cannot be opened"},
                                           QMHostileLock{L"hold", L"kept it longer"},
                                           QMHostileLock{L"suspend", L"kept it longer"}),
                         [](const ::testing::TestParamInfo<QMHostileLock>& info) {
                             return WideToUtf8(info.param.m_szHow);
                         });

// The call resolves the log folder once; a folder removed meanwhile is made again by the next record.
TEST_F(UpdateComponentsTest, LogFolderRemovedDuringTheCallIsMadeAgain)
{
    m_updater.SetScenario({kEveryType, "finish_code=0"});
    g_clearLogAtCall = 4; // the extract record: its log record was written before the callback
    g_bLogCleared = false;
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_TRUE(g_bLogCleared);
    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::wstring> expected = {L"PL,CATCH_MSG,UpdateComponents,TYPE_DELETE",
                                          L"PL,CATCH_MSG,UpdateComponents,TYPE_UPDATE",
                                          L"PL,CATCH_MSG,UpdateComponents,TYPE_ADD", L"PL,API_END,UpdateComponents,200"};
    EXPECT_EQ(ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]), expected);
}

TEST_F(UpdateComponentsTest, RecordCodesAndFinishCodes)
{
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5;2,CompC,0,0,1,1,0", "finish_code=14"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"5", L"0", L"0"}));

    ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5", "finish_code=3"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"3", L"3", L"3"}));
}

// The records of a cancel: the host's request, then whether the updater stopped or went on.
std::vector<std::wstring> CancelRecords()
{
    std::vector<std::wstring> cancels;
    for (const std::wstring& record : AllLogRecords())
        if (record.compare(0, 10, L"PL,CANCEL,") == 0)
            cancels.push_back(record);
    return cancels;
}

// An updater that ignores the request finishes as if none had come: its finish code decides.
TEST_F(UpdateComponentsTest, CancelReachesTheUpdaterAfterEveryRecordAndTheFinish)
{
    g_cancelAtCall = 2;
    m_updater.SetScenario({kEveryType, "ignore_cancel=1", "cancel_finish_code=2"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    std::string events = m_updater.Events(1);
    EXPECT_NE(events.find("record 1 cancels 0"), std::string::npos) << events;
    EXPECT_NE(events.find("record 2 cancels 1"), std::string::npos) << events;
    EXPECT_NE(events.find("record 7 cancels 6"), std::string::npos) << events;
    EXPECT_NE(events.find("finish 0 cancels 7"), std::string::npos) << events;
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"0", L"0"}));
    EXPECT_EQ(CancelRecords(),
              (std::vector<std::wstring>{L"PL,CANCEL,UpdateComponents,the host's callback asked to cancel,CompA,at record 2",
                                         L"PL,CANCEL,UpdateComponents,the updater went on after the cancel request "
                                         L"(5 more records),finish code 0"}));
}

// A cancelled update ends with the updater's cancel code in every component, and the log says so.
TEST_F(UpdateComponentsTest, UpdaterThatHonoursCancelStopsEarly)
{
    g_cancelAtCall = 1;
    m_updater.SetScenario({kEveryType, "cancel_finish_code=2"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(g_calls.size(), 1u);
    std::string events = m_updater.Events(1);
    EXPECT_NE(events.find("finish 2 cancels 2"), std::string::npos) << events;
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"2", L"2", L"2"}));
    EXPECT_EQ(CancelRecords(),
              (std::vector<std::wstring>{L"PL,CANCEL,UpdateComponents,the host's callback asked to cancel,CompA,at record 1",
                                         L"PL,CANCEL,UpdateComponents,the updater stopped at the cancel request,"
                                         L"finish code 2"}));
}

// The records of a cancel say how and when it was asked and judge the updater only by what came
// after the request reached its window; a run without a finish is named so, and an update closed
// early by message 2029 says so and how the message came.
TEST_F(UpdateComponentsTest, CancelAndEarlyCloseRecordsSayWhatHappened)
{
    const std::wstring kAsked = L"UpdateComponents,the host's callback asked to cancel,CompA,at record 1";
    const std::wstring kClosed = L"UpdateComponents,the update was closed early by message 2029 ";
    const std::wstring kKept = L": every component keeps the result it had and 0 where the updater reported none";
    const std::wstring kSent = kClosed + L"sent by another thread or process that the system does not name" + kKept;
    const struct
    {
        std::vector<std::string> scenario;
        char host; // at its call `at`: 'c' answers 0, 'q' quits
        size_t at;
        std::vector<std::wstring> records; // CANCEL and REASON records, without "PL,<tag>,"
    } cases[] = {
        {{kEveryType, "ignore_cancel=1", "finish=none", "exit_code=3"}, 'c', 1,
         {kAsked, L"UpdateComponents,the updater ended without reporting its finish (exit code 3): every component gets 16",
          L"UpdateComponents,the updater went on after the cancel request (6 more records),no finish record from the updater"}},
        // The second record was under way when the request came.
        {{"progress=4,CompA,0,0,1,1,0;4,CompB,0,0,1,1,0;4,CompC,0,0,1,1,0", "record_delay_ms=300"}, 'q', 1,
         {L"UpdateComponents,the host quit,CompA,after record 1",
          L"UpdateComponents,the updater stopped at the cancel request,finish code 2"}},
        {{kEveryType, "ignore_cancel=1"}, 'c', 7,
         {L"UpdateComponents,the host's callback asked to cancel,CompB,at record 7",
          L"UpdateComponents,the updater sent no more records after the cancel request but finished without a failure,"
          L"finish code 0"}},
        // The quit is taken while the updater is silent; its finish comes before it takes the request.
        {{"progress=4,CompA,0,0,1,1,0", "silent_ms=1500"}, 'q', 1,
         {L"UpdateComponents,the host quit,CompA,after record 1",
          L"UpdateComponents,the updater finished before the cancel request reached it,finish code 0"}},
        {{"progress=4,CompA,0,0,1,2,0;4,CompB,0,0,2,2,0", "no_window=1"}, 'c', 1,
         {kAsked, L"UpdateComponents,the cancel request could not reach the updater: no record named its window,"
                  L"finish code 0"}},
        {{"progress=4,CompA,0,0,1,1,5", "close_early=send"}, ' ', 0, {kSent}},
        // It lingers: its end must not end the run before the posted message is taken.
        {{"progress=4,CompA,0,0,1,1,5", "close_early=post", "linger_ms=1000"}, ' ', 0,
         {kClosed + L"posted to it (a posted message names no sender)" + kKept}},
        {{"progress=4,CompA,0,0,1,2,0;4,CompB,0,0,2,2,0", "ignore_cancel=1", "close_early=send"}, 'c', 1,
         {kAsked, kSent,
          L"UpdateComponents,the updater went on after the cancel request (1 more records),closed early by message 2029"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.scenario.back());
        ClearServiceLog();
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
        m_updater.SetScenario(c.scenario);
        g_calls.clear();
        g_cancelAtCall = c.host == 'c' ? c.at : 0;
        g_nQuitFromCallback = c.host == 'q' ? 42 : -1;
        EXPECT_EQ(Update(), QM_UPDATE_DONE);
        g_nQuitFromCallback = -1;
        while (TakeHostQuit() != -1)
        {
        }
        std::vector<std::wstring> records;
        for (const std::wstring& record : AllLogRecords())
            if (record.rfind(L"PL,CANCEL,", 0) == 0 || record.rfind(L"PL,REASON,", 0) == 0)
                records.push_back(record.substr(10));
        EXPECT_EQ(records, c.records);
        CStandInUpdater::WaitUntilNoneRuns(10000);
    }
}

// The texts between backticks in a cell of a markdown table.
std::vector<std::string> Backticked(const std::string& cell)
{
    std::vector<std::string> texts;
    std::regex quoted("`([^`]*)`");
    for (auto match = std::sregex_iterator(cell.begin(), cell.end(), quoted); match != std::sregex_iterator(); ++match)
        texts.push_back((*match)[1]);
    return texts;
}

// The kit's README states what every way of ending gives each component; each of its rows runs
// here against the stand-in, so the reference and the module cannot part.
TEST_F(UpdateComponentsTest, EveryEndingGivesTheResultsTheKitsReferenceStates)
{
    const char kTwoComponents[] = "<ActionList ParentAppName=\"App1\"><Component ID=\"A\" Action=\"update\"/>"
                                  "<Component ID=\"B\" Action=\"add\"/></ActionList>";
    std::string readme = ReadFileBytes(BinFolder() + L"kit_README.md");
    size_t at = readme.find("### How an update ends, and each component's Result");
    ASSERT_NE(at, std::string::npos) << "the section is in the kit's README";
    at = readme.find("|---|", at);
    ASSERT_NE(at, std::string::npos);
    // Each row: how it ends | scenario | returns | results.
    std::regex rowPattern("\\|[^|]*\\|([^|]*)\\|\\s*(\\d+)\\s*\\|([^|]*)\\|\\r?\\n");
    int rows = 0;
    std::smatch row;
    for (auto from = readme.cbegin() + static_cast<std::ptrdiff_t>(readme.find('\n', at) + 1);
         std::regex_search(from, readme.cend(), row, rowPattern, std::regex_constants::match_continuous);
         from = row[0].second)
    {
        SCOPED_TRACE(row.str());
        std::vector<std::string> scenario;
        bool hostCancels = false, hostQuits = false, busy = false;
        for (const std::string& key : Backticked(row[1]))
        {
            hostCancels |= key == "host_cancels=1";
            hostQuits |= key == "host_quits=1";
            busy |= key == "busy=1";
            if (key != "host_cancels=1" && key != "host_quits=1" && key != "busy=1")
                scenario.push_back(key);
        }
        std::vector<std::wstring> stated;
        for (const std::string& code : Backticked(row[3]))
            stated.push_back(Utf8ToWide(code));

        ASSERT_TRUE(WriteFileBytes(m_strList, kTwoComponents));
        m_updater.SetScenario(scenario);
        g_calls.clear();
        g_cancelAtCall = hostCancels ? 1 : 0;
        g_nQuitFromCallback = hostQuits ? 42 : -1;
        // Another update runs: the busy mutex exists.
        CQMKernelHandle running(busy ? ::CreateMutexW(nullptr, TRUE, L"Tavrin_Inc_ZL_QM_PL_v1") : nullptr);
        EXPECT_EQ(Update(), std::stoi(row[2]));
        EXPECT_EQ(Results(), stated);
        EXPECT_EQ(TakeHostQuit(), hostQuits ? 42 : -1);
        ++rows;
        // An updater left running after a quit keeps the next row busy until it ends.
        CStandInUpdater::EndAllRuns();
    }
    EXPECT_GE(rows, 9);
}

// A relative path is the host's: resolved against its working folder, and logged resolved.
TEST_F(UpdateComponentsTest, RelativeListIsResolvedAndLoggedResolved)
{
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(PlatformPathForTest(m_folder.Path()).c_str()));
    int result = m_module.m_pfnUpdateComponents(L"App1", L"actions.xml", L"plugin", nullptr);
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(result, QM_UPDATE_DONE);
    std::vector<std::wstring> records = AllLogRecords();
    EXPECT_NE(std::find(records.begin(), records.end(), L"PL,UPDATE_XML,UpdateComponents," + m_strList), records.end());
}

// An updater that cannot run, or ends without its finish: every component 16, and the log says why.
TEST_F(UpdateComponentsTest, UpdaterThatDidNotFinishMarksEveryComponent16)
{
    const struct
    {
        const char* label;
        const wchar_t* updater; // registered instead of the stand-in; null: the stand-in
        std::vector<std::string> scenario;
        std::wstring reason;
    } cases[] = {
        {"missing", L"C:\\no\\such\\updater.exe", {},
         L"PL,REASON,UpdateComponents,the registered updater's file is missing: C:\\no\\such\\updater.exe"},
        {"crashed", nullptr, {"progress=4,CompA,0,0,1,1,5", "finish=none", "exit_code=7"},
         L"PL,REASON,UpdateComponents,the updater ended without reporting its finish (exit code 7): every component "
         L"gets 16"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
        m_updater.SetScenario(c.scenario);
        CVestabelRegistration registration;
        ASSERT_TRUE(registration.SetPath(c.updater != nullptr ? c.updater : m_updater.ExePath()));
        EXPECT_EQ(Update(), QM_UPDATE_DONE);
        EXPECT_EQ(Results(), (std::vector<std::wstring>{L"16", L"16", L"16"}));
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records[records.size() - 2], c.reason);
        EXPECT_EQ(records.back(), L"PL,API_END,UpdateComponents,200");
    }
}

TEST_F(UpdateComponentsTest, MalformedRecordsAreIgnored)
{
    m_updater.SetScenario({"progress=short;nodata;tag;unterminated,4;4,CompB,0,0,1,1,6", "finish_code=14"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"6", L"0"}));
    ASSERT_EQ(g_calls.size(), 2u);
    // The stand-in fills all 256 units with letters and no terminator: read as cut at 255.
    std::wstring cut;
    for (size_t i = 0; i < 255; ++i)
        cut += static_cast<wchar_t>(L'A' + i % 26);
    EXPECT_EQ(g_calls[0].id, cut);
}

TEST_F(UpdateComponentsTest, BusyInstanceMarksEveryComponentBusy)
{
    ASSERT_TRUE(m_updater.HoldMutexElsewhere(L"Tavrin_Inc_ZL_QM_PL_v1", 60000));
    EXPECT_EQ(Update(L"newtype"), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"1", L"1", L"1"}));
    EXPECT_TRUE(m_updater.Runs().empty());
    std::vector<std::wstring> records = AllLogRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2],
              L"PL,REASON,UpdateComponents,busy: a launch check or component update runs in a process that cannot be "
              L"named: every component is marked 1");
    EXPECT_NE(ReadFileBytes(m_strList).find("ComponentType=\"newtype\""), std::string::npos);
}

TEST_F(UpdateComponentsTest, TwoCallsAtOnceRunTheUpdaterOnlyOnce)
{
    std::wstring second = m_folder.Child(L"second.xml");
    ASSERT_TRUE(WriteFileBytes(second, kActionList));
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,0;4,CompB,0,0,1,1,0", "record_delay_ms=300", "finish_code=0"});
    int otherResult = 0;
    std::thread other([&] {
        otherResult = m_module.m_pfnUpdateComponents(L"App1", second.c_str(), L"plugin", nullptr);
    });
    int result = Update(L"plugin", nullptr);
    other.join();
    EXPECT_EQ(result, QM_UPDATE_DONE);
    EXPECT_EQ(otherResult, QM_UPDATE_DONE);
    EXPECT_EQ(m_updater.Runs().size(), 1u);
    // One list went through the updater, the other was refused as busy.
    std::vector<std::wstring> mine = Results();
    std::string otherXml = ReadFileBytes(second);
    bool otherBusy = otherXml.find("Result=\"1\"") != std::string::npos;
    EXPECT_NE(mine == std::vector<std::wstring>({L"1", L"1", L"1"}), otherBusy);
    // The busy one names the process whose update runs: this one.
    const std::wstring busy = L"PL,REASON,UpdateComponents,busy: a launch check or component update runs in "
                              L"qm_host_tests.exe (process " + std::to_wstring(::GetCurrentProcessId()) + L")";
    std::vector<std::wstring> records = AllLogRecords();
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [&](const std::wstring& record) { return record.compare(0, busy.size(), busy) == 0; }),
              1);
}

// Two hosts released by one event update the same long list, replaced, then held sharing reading
// and writing (every save written in place): each waits out the other's save and its redo copy
// instead of reading a torn list or blaming the folder. Neither gets 100, and every component
// ends with a Result, whichever call ran the updater.
TEST_F(UpdateComponentsTest, TwoHostsUpdatingOneListBothSucceed)
{
    std::string bytes = "<ActionList ParentAppName=\"App1\">";
    for (int i = 0; i < 3000; ++i)
        bytes += "<Component ID=\"C" + std::to_string(i) + "\" Action=\"update\" Path=\"plugins/c.dll\"/>";
    bytes += "</ActionList>";
    m_updater.SetScenario({"finish_code=0"});
    CNamedEventForTest holding;
    std::unique_ptr<CChildProcess> holder;
    for (int pair = 0; pair < 10; ++pair)
    {
        SCOPED_TRACE(pair);
        if (pair == 5)
        {
            holder.reset(new CChildProcess(L"hold \"" + PlatformPathForTest(m_strList) + L"\" 3",
                                           {{L"QM_TEST_READY", holding.Name()}}));
            ASSERT_TRUE(holding.Wait(20000));
        }
        ClearServiceLog();
        ASSERT_TRUE(WriteFileBytes(m_strList, bytes));
        CNamedEventForTest go;
        CChildProcess first(L"host \"" + m_strList + L"\" 0 exit", {{L"QM_TEST_GO", go.Name()}});
        CChildProcess second(L"host \"" + m_strList + L"\" 0 exit", {{L"QM_TEST_GO", go.Name()}});
        go.Set();
        DWORD codes[2] = {};
        ASSERT_TRUE(first.Wait(60000, &codes[0]) && second.Wait(60000, &codes[1]));
        EXPECT_EQ(codes[0], static_cast<DWORD>(QM_UPDATE_DONE));
        EXPECT_EQ(codes[1], static_cast<DWORD>(QM_UPDATE_DONE));
        EXPECT_EQ(Results().size(), 3000u);
        for (const std::wstring& record : AllLogRecords())
            EXPECT_EQ(record.find(L"takes no new file"), std::wstring::npos) << WideToUtf8(record);
    }
    CStandInUpdater::EndAllRuns();
}

// A list the call cannot take is left as it was (a missing one becomes an empty list with the
// type), nothing runs, and the log says why before the exit record.
TEST_F(UpdateComponentsTest, ActionListRefusedBeforeTheRunIsKeptAndTheLogSaysWhy)
{
    const std::string malformedByte = std::string(kActionList).replace(std::string(kActionList).find("CompB"), 1, "\xFF");
    enum EKind
    {
        kFile,
        kFolder,
        kMissing
    };
    const struct
    {
        const char* label;
        EKind kind;
        std::string bytes;
        std::wstring reason; // how the reason record begins, after "PL,REASON,UpdateComponents,"
    } cases[] = {
        {"not XML", kFile, "not xml", L"the action list is not well-formed"},
        {"a tag that does not match", kFile,
         "<ActionList ParentAppName=\"App1\">\r\n<Component ID=\"A\" Action=\"update\"></ActionList>",
         L"the action list is not well-formed (line 2 column "},
        {"CDATA", kFile,
         "<ActionList ParentAppName=\"App1\"><Component ID=\"A\" Action=\"update\"><![CDATA[x]]>"
         "</Component></ActionList>",
         L"the action list holds what the module does not read"},
        {"entity reference", kFile,
         "<!DOCTYPE ActionList [<!ENTITY co \"x\">]><ActionList ParentAppName=\"App1\">"
         "<Component ID=\"A\" Action=\"update\">&co;</Component></ActionList>",
         L"the action list holds what the module does not read"},
        {"wrong-case root", kFile,
         "<actionlist ParentAppName=\"App1\"><Component ID=\"A\" Action=\"update\"/></actionlist>",
         L"the action list's root is actionlist instead of ActionList: "},
        {"one malformed byte", kFile, malformedByte, L"the action list is not well-formed"},
        {"root without components", kFile, "<ActionList ParentAppName=\"App1\" ComponentType=\"old\"/>",
         L"the action list names no component: "},
        {"a folder", kFolder, "", L"the action list is a folder: "},
        {"missing", kMissing, "", L"the action list does not exist: an empty list with the component type was written: "},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        std::wstring list = m_folder.Child(std::string(c.label) == "a folder" ? L"folder.xml" : L"actions.xml");
        DeleteFileForTest(list);
        if (c.kind == kFile)
        {
            ASSERT_TRUE(WriteFileBytes(list, c.bytes));
        }
        else if (c.kind == kFolder)
        {
            ASSERT_TRUE(MakeFolder(list));
        }
        EXPECT_EQ(m_module.m_pfnUpdateComponents(L"App1", list.c_str(), L"plugin", nullptr), QM_UPDATE_NOT_SUPPORTED);
        if (c.kind == kFile)
        {
            EXPECT_EQ(ReadFileBytes(list), c.bytes);
        }
        std::vector<std::wstring> records = AllLogRecords();
        const std::wstring reason = L"PL,REASON,UpdateComponents," + c.reason;
        // Missing: the empty list is written (and logged) before the preparation refuses it.
        ASSERT_EQ(records.size(), c.kind == kMissing ? 5u : 4u);
        EXPECT_EQ(records[records.size() - 2].compare(0, reason.size(), reason), 0) << WideToUtf8(records[records.size() - 2]);
        EXPECT_NE(records[records.size() - 2].find(list), std::wstring::npos) << "the list is named";
        EXPECT_EQ(records.back(), L"PL,API_END,UpdateComponents,100");
    }
    EXPECT_TRUE(m_updater.Runs().empty());
}

TEST_F(UpdateComponentsTest, MissingActionListBecomesAnEmptyListWithTheType)
{
    ASSERT_TRUE(DeleteFileForTest(m_strList));
    EXPECT_EQ(Update(L"plugin"), QM_UPDATE_NOT_SUPPORTED);
    EXPECT_TRUE(m_updater.Runs().empty());
    std::string list = ReadFileBytes(m_strList);
    EXPECT_NE(list.find("ComponentType=\"plugin\""), std::string::npos) << list;
    EXPECT_EQ(list.find("<Component "), std::string::npos) << list;
}

// Opens the action list without write sharing, as another program would, until released.
class CHeldFile
{
public:
    void Hold(const std::wstring& path)
    {
        m_hFile = ::CreateFileW(PlatformPathForTest(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(m_hFile, INVALID_HANDLE_VALUE);
    }
    void ReleaseAfter(DWORD milliseconds)
    {
        m_releaser = std::thread([this, milliseconds] {
            ::Sleep(milliseconds);
            Release();
        });
    }
    void Release()
    {
        HANDLE file = m_hFile.exchange(INVALID_HANDLE_VALUE);
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
    }
    ~CHeldFile()
    {
        if (m_releaser.joinable())
            m_releaser.join();
        Release();
    }

private:
    std::atomic<HANDLE> m_hFile{INVALID_HANDLE_VALUE};
    std::thread m_releaser;
};

TEST_F(UpdateComponentsTest, ActionListThatCannotBeWrittenGives100BeforeTheRun)
{
    std::string before = ReadFileBytes(m_strList);
    {
        CHeldFile held;
        held.Hold(m_strList);
        EXPECT_EQ(Update(L"plugin"), QM_UPDATE_NOT_SUPPORTED);
    }
    EXPECT_TRUE(m_updater.Runs().empty());
    EXPECT_EQ(ReadFileBytes(m_strList), before);
    std::vector<std::wstring> records = AllLogRecords();
    ASSERT_EQ(records.size(), 5u);
    // Wine refuses the replace with access denied, Windows with a sharing violation.
    const std::wstring saveFailed = L"PL,SAVE_FAILED,UpdateComponents," + m_strList + L",error ";
    EXPECT_EQ(records[2].compare(0, saveFailed.size(), saveFailed), 0) << WideToUtf8(records[2]);
    // The holder, and its error, whatever the replace met.
    EXPECT_EQ(records[3].rfind(L"PL,REASON,UpdateComponents,another program holds the action list without sharing "
                               L"its writing: " + m_strList + L",error 32: ", 0), 0u) << WideToUtf8(records[3]);
    EXPECT_EQ(records[4], L"PL,API_END,UpdateComponents,100");
}

CHeldFile* g_holder = nullptr;
std::wstring g_heldList;
DWORD g_holdMs = 0; // INFINITE: until the test releases it

// Another program takes the list while the update runs, after the rewrite.
QMBool __stdcall HoldingProgress(int, int, const wchar_t*, unsigned, unsigned, unsigned long long, unsigned long long)
{
    if (g_holder != nullptr)
    {
        g_holder->Hold(g_heldList);
        if (g_holdMs != INFINITE)
            g_holder->ReleaseAfter(g_holdMs);
        g_holder = nullptr;
    }
    return true;
}

// Meanwhile the host's thread answers the messages its other threads send it.
TEST_F(UpdateComponentsTest, FinalSaveWaitsForAListHeldForAMomentAndReportsOneNeverWritten)
{
    const struct
    {
        DWORD holdMs;
        int expected;
        std::vector<std::wstring> results;
    } cases[] = {{500, QM_UPDATE_DONE, {L"5", L"0", L"0"}},
                 {1800, QM_UPDATE_DONE, {L"5", L"0", L"0"}},
                 {INFINITE, QM_UPDATE_NOT_SUPPORTED, {}}};
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.holdMs);
        ClearServiceLog();
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
        m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5", "finish_code=14"});
        CHeldFile holder;
        g_holder = &holder;
        g_heldList = m_strList;
        g_holdMs = c.holdMs;
        std::atomic<bool> stop{false};
        std::atomic<bool> stopped{false};
        DWORD longest = 0;
        std::thread pinger([&] {
            for (DWORD_PTR ignored = 0; !stop; ::Sleep(20))
            {
                DWORD start = ::GetTickCount();
                ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
                longest = std::max(longest, ::GetTickCount() - start);
            }
            stopped = true;
        });
        EXPECT_EQ(Update(L"plugin", HoldingProgress), c.expected);
        stop = true;
        // The test's own thread answers the last ping too.
        for (MSG message; !stopped; ::Sleep(1))
            ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
        pinger.join();
        EXPECT_LT(longest, 250u);
        holder.Release();
        // Not written: the list is as the rewrite left it, without this run's results.
        EXPECT_EQ(Results(), c.results);
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_GE(records.size(), 3u);
        EXPECT_EQ(records.back(), L"PL,API_END,UpdateComponents," + std::to_wstring(c.expected));
        bool reported = records[records.size() - 3].rfind(L"PL,SAVE_FAILED,UpdateComponents," + m_strList + L",error ", 0) == 0;
        EXPECT_EQ(reported, c.expected != QM_UPDATE_DONE);
        bool explained = records[records.size() - 2].rfind(L"PL,REASON,UpdateComponents,another program holds", 0) == 0;
        EXPECT_EQ(explained, c.expected != QM_UPDATE_DONE);
    }
    ::DestroyWindow(window);
}

// Another process holds the list for reading and writing, sharing both but not its deletion
// (as a scanner, a sync client or an editor does): every save is written in place. A host ended
// at each step of such a save leaves the old list, the new one, or a beginning of the new one
// behind a sealed redo copy; the next call finishes the list from the copy before it reads it.
TEST_F(UpdateComponentsTest, SaveInPlaceEndedAtAnyStepIsFinishedByTheNextCall)
{
    CNamedEventForTest holding;
    CChildProcess holder(L"hold \"" + PlatformPathForTest(m_strList) + L"\" 3", {{L"QM_TEST_READY", holding.Name()}});
    ASSERT_TRUE(holding.Wait(20000));
    int finished = 0;
    int cutAt = 0;
    for (int step = 1; step < 30; ++step)
    {
        SCOPED_TRACE(step);
        CChildProcess saver(L"save \"" + m_strList + L"\" 50 400 " + std::to_wstring(step));
        DWORD code = 1;
        ASSERT_TRUE(saver.Wait(60000, &code));
        std::string before = ReadFileBytes(m_strList);
        ClearServiceLog();
        EXPECT_EQ(Update(L"plugin", nullptr), QM_UPDATE_DONE);
        std::string after = ReadFileBytes(m_strList);
        EXPECT_NE(after.find("ComponentType=\"plugin\""), std::string::npos);
        bool redone = AllLogRecords()[2] == L"PL,SAVE_FINISHED,UpdateComponents," + m_strList;
        bool whole = before.find("</ActionList>") != std::string::npos;
        EXPECT_TRUE(redone || whole) << "a torn list is finished from its copy";
        // One '<' per element, and the declaration's.
        EXPECT_EQ(std::count(after.begin(), after.end(), '<'), redone ? 403 : std::count(before.begin(), before.end(), '<'));
        EXPECT_TRUE(ListFolder(m_folder.Path(), L"*.~qm").empty());
        finished += redone ? 1 : 0;
        cutAt = whole ? cutAt : step;
        if (code == 0)
            break;
        EXPECT_EQ(code, 3u) << "ended by the test's hook";
    }
    EXPECT_EQ(finished, 2) << "ended after the copy was sealed: before the cut, and with the list cut";
    // A list the host wrote anew after the cut-off save is its own: the copy is dropped.
    CChildProcess saver(L"save \"" + m_strList + L"\" 50 400 " + std::to_wstring(cutAt));
    ASSERT_TRUE(saver.Wait(60000));
    holder.Terminate();
    ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    EXPECT_EQ(Update(L"plugin", nullptr), QM_UPDATE_DONE);
    EXPECT_EQ(ReadFileBytes(m_strList).find("C399"), std::string::npos) << "the host's list, not the copy's";
    EXPECT_TRUE(ListFolder(m_folder.Path(), L"*.~qm").empty());
}

// A save in place ends after sealing its redo copy (the list still old, or cut to a beginning of
// the new one); then the copy is damaged, the list's folder moved, or the list emptied by hand. A
// copy that cannot be applied is kept under another name and named in the log; a whole copy
// beside the list is the list's wherever its folder went; an empty list is the host's.
TEST_F(UpdateComponentsTest, RedoCopyDamagedMovedOrOutdatedByTheHost)
{
    const struct
    {
        const char* label;
        size_t flip, cut; // the copy's byte whose bit is flipped, the bytes cut off its end
        bool moved, emptied;
        int expected;
    } cases[] = {{"a bit flipped", 100, 0, false, false, QM_UPDATE_NOT_SUPPORTED},
                 {"10 bytes cut off", 0, 10, false, false, QM_UPDATE_NOT_SUPPORTED},
                 {"folder moved", 0, 0, true, false, QM_UPDATE_DONE},
                 {"list emptied by hand", 0, 0, false, true, QM_UPDATE_NOT_SUPPORTED}};
    m_updater.SetScenario({"finish_code=0"});
    int cutStep = 0;
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        const std::wstring folder = m_folder.Child(L"before"), list = folder + L"/actions.xml";
        ASSERT_TRUE(MakeFolder(folder) && WriteFileBytes(list, kActionList));
        {
            CNamedEventForTest holding;
            CChildProcess holder(L"hold \"" + PlatformPathForTest(list) + L"\" 3",
                                 {{L"QM_TEST_READY", holding.Name()}});
            ASSERT_TRUE(holding.Wait(20000));
            auto endSaveAt = [&](int step) {
                DeleteFileForTest(list + L".~qm");
                CChildProcess saver(L"save \"" + list + L"\" 50 400 " + std::to_wstring(step));
                return saver.Wait(60000) && ReadFileBytes(list).find("</ActionList>") == std::string::npos;
            };
            while (cutStep == 0 || !endSaveAt(cutStep))
                ASSERT_LT(++cutStep, 30) << "a step leaves the list cut";
            if (c.emptied)
                ASSERT_FALSE(endSaveAt(cutStep - 1)) << "ended before the cut";
        }
        std::string copy = ReadFileBytes(list + L".~qm");
        copy[c.flip] ^= c.flip != 0 ? 0x08 : 0;
        copy.resize(copy.size() - c.cut);
        ASSERT_TRUE(WriteFileBytes(list + L".~qm", copy));
        ASSERT_TRUE(!c.emptied || WriteFileBytes(list, ""));
        m_strList = c.moved ? m_folder.Child(L"after/actions.xml") : list;
        ASSERT_TRUE(!c.moved || ::MoveFileW(PlatformPathForTest(folder).c_str(),
                                            PlatformPathForTest(m_folder.Child(L"after")).c_str()));
        const std::string before = ReadFileBytes(m_strList);
        ClearServiceLog();
        EXPECT_EQ(Update(L"plugin", nullptr), c.expected);
        if (c.moved)
            EXPECT_EQ(Results().size(), 400u) << "finished from the copy";
        else
            EXPECT_EQ(ReadFileBytes(m_strList), before);
        const bool damaged = c.flip != 0 || c.cut != 0;
        const std::wstring kept = PlatformPathForTest(m_strList) + L".~qm.kept";
        EXPECT_EQ(ReadFileBytes(kept) == copy, damaged);
        std::vector<std::wstring> records = AllLogRecords();
        EXPECT_EQ(std::count(records.begin(), records.end(),
                             L"PL,REASON,UpdateComponents,a redo copy of the action list cannot be applied (it is "
                             L"damaged): it is kept as " + kept + L": " + m_strList),
                  damaged ? 1 : 0);
        EXPECT_FALSE(FileExists(m_strList + L".~qm"));
        ASSERT_TRUE(RemoveFolderTree(c.moved ? m_folder.Child(L"after") : folder));
    }
}

// A file symbolic link: Windows makes one where links are allowed. Wine 8 answers success
// without making any, but starts Unix programs, and shows a Unix link as the file it leads to.
bool MakeFileSymbolicLink(const std::wstring& link, const std::wstring& target)
{
    if (::CreateSymbolicLinkW(PlatformPathForTest(link).c_str(), PlatformPathForTest(target).c_str(), 0x2) &&
        FileExists(link))
        return true;
    using UnixNameFn = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    std::wstring commandLine = L"/bin/ln -s";
    for (const std::wstring* path : {&target, &link})
    {
        char* name = unixName != nullptr ? unixName(PlatformPathForTest(*path).c_str()) : nullptr;
        if (name == nullptr)
            return false;
        commandLine += L" \"" + Utf8ToWide(name) + L"\"";
        ::HeapFree(::GetProcessHeap(), 0, name);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(L"/bin/ln", &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    // Wine gives no handle of a Unix process to wait for: the link is there when it is.
    for (int round = 0; round < 100 && !FileExists(link); ++round)
        ::Sleep(50);
    return FileExists(link);
}

// The host names a symbolic link: the file it leads to gets the results, and the link stays a
// link to it (a replace of the link's name would leave the real list without results).
TEST_F(UpdateComponentsTest, ListNamedThroughASymbolicLinkGetsTheResultsWhereTheLinkLeads)
{
    const std::wstring target = m_strList;
    const std::wstring link = m_folder.Child(L"link.xml");
    if (!MakeFileSymbolicLink(link, target))
        GTEST_SKIP() << "no file symbolic link can be made here (Windows: developer mode or the privilege)";
    m_strList = link;
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5", "finish_code=14"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    m_strList = target;
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"5", L"0", L"0"}));
    EXPECT_EQ(ReadFileBytes(link), ReadFileBytes(target)) << "the link leads to the list still";
}

TEST_F(UpdateComponentsTest, StringsXMLCannotCarryAreRefusedBeforeTheRewrite)
{
    std::string before = ReadFileBytes(m_strList);
    const struct
    {
        const wchar_t* app;
        const wchar_t* type;
    } cases[] = {{L"App\x01", L"plugin"}, {L"App1", L"plug\uFFFF"}, {L"App\xDC00", L"plugin"}};
    for (const auto& c : cases)
    {
        ClearServiceLog();
        EXPECT_EQ(m_module.m_pfnUpdateComponents(c.app, m_strList.c_str(), c.type, HostProgress),
                  QM_UPDATE_NOT_SUPPORTED);
        EXPECT_EQ(ReadFileBytes(m_strList), before);
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[2], L"PL,REFUSE_ARG,UpdateComponents,not XML text");
    }
    EXPECT_TRUE(m_updater.Runs().empty());
}

TEST_F(UpdateComponentsTest, WithoutCallbackTheUpdateStillRuns)
{
    m_updater.SetScenario({kEveryType, "finish_code=14", "progress=4,CompC,0,0,1,1,8"});
    EXPECT_EQ(Update(L"plugin", nullptr), QM_UPDATE_DONE);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"0", L"8"}));
}

// A host that quits asks the updater to stop; its quit reaches its own loop after the call.
TEST_F(UpdateComponentsTest, HostQuitDuringTheUpdateReachesTheHostsLoopAfterTheCall)
{
    // The updater sees the cancel with its second record and sends no third.
    m_updater.SetScenario(
        {"progress=4,CompA,0,0,1,1,0;4,CompB,0,0,1,1,0;4,CompC,0,0,1,1,0", "record_delay_ms=300", "finish_code=0"});
    g_nQuitFromCallback = 42;
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(g_calls.size(), 2u) << "the updater stopped when asked";
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"2", L"2", L"2"}));
    EXPECT_EQ(TakeHostQuit(), 42);
    EXPECT_EQ(TakeHostQuit(), -1) << "exactly the host's quit, once";

    // The host's window is destroyed from its callback; its WM_DESTROY posts the quit.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostMainWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QMTestHostMain";
    ::RegisterClassW(&windowClass);
    auto createHost = [] {
        return ::CreateWindowExW(0, L"QMTestHostMain", L"Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                 nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    };
    // Wine's X11 driver without a window manager takes about 2 s to destroy a visible
    // window anywhere; only what the call adds to that counts.
    HWND alone = createHost();
    if (alone == nullptr)
        GTEST_SKIP() << "no host window: without an X display Wine creates no top-level window";
    DWORD start = ::GetTickCount();
    ::DestroyWindow(alone);
    DWORD aloneTookMs = ::GetTickCount() - start;
    EXPECT_EQ(TakeHostQuit(), 5);
    HWND host = createHost();
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    g_nQuitFromCallback = -1;
    g_hDestroyFromCallback = host;
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_FALSE(::IsWindow(host));
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"2", L"2", L"2"}));
    EXPECT_EQ(TakeHostQuit(), 5);
    EXPECT_LT(g_nDestroyTookMs, aloneTookMs + 500u) << "the worker's apartment answers meanwhile";
    ::UnregisterClassW(L"QMTestHostMain", ::GetModuleHandleW(nullptr));
}

// An updater that stays silent after the host quit holds it at most 5 s (what each component
// gets is a row of the ending table). Until that updater has ended, a second update in another
// process or in this one is refused as busy; within a second of its end the next call runs.
TEST_F(UpdateComponentsTest, SilentUpdaterReleasesAQuittingHostWithin5sAndKeepsOthersBusyUntilItEnds)
{
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5", "silent_ms=30000"});
    g_nQuitFromCallback = 42;
    DWORD start = ::GetTickCount();
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    DWORD took = ::GetTickCount() - start;
    EXPECT_GE(took, 4500u);
    EXPECT_LT(took, 7500u);
    EXPECT_EQ(TakeHostQuit(), 42);
    std::vector<std::wstring> records = AllLogRecords();
    EXPECT_NE(std::find_if(records.begin(), records.end(),
                           [](const std::wstring& r) { return r.find(L"PL,REASON,UpdateComponents,the host quit") == 0; }),
              records.end());
    // The silent updater took no request within the send's time.
    EXPECT_EQ(CancelRecords().back(), L"PL,CANCEL,UpdateComponents,the cancel request did not reach the updater: its "
                                      L"window did not take it,not waited for after the host quit");

    // The silent updater still runs: another process's update and this process's next one are busy.
    g_nQuitFromCallback = -1;
    std::wstring other = m_folder.Child(L"other.xml");
    ASSERT_TRUE(WriteFileBytes(other, kActionList));
    CChildProcess otherHost(L"host \"" + other + L"\" 0 exit");
    DWORD code = 0;
    ASSERT_TRUE(otherHost.Wait(30000, &code));
    EXPECT_EQ(code, static_cast<DWORD>(QM_UPDATE_DONE));
    EXPECT_EQ(ResultsOf(other), (std::vector<std::wstring>{L"1", L"1", L"1"}));
    ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"1", L"1", L"1"}));
    EXPECT_EQ(m_updater.Runs().size(), 1u);

    CStandInUpdater::EndAllRuns();
    EXPECT_TRUE(CStandInUpdater::WaitUntilMutexGone(L"Tavrin_Inc_ZL_QM_PL_v1", 1000));
    ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    CStandInUpdater next({"progress=4,CompB,0,0,1,1,7", "finish_code=14"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"7", L"0"}));
    CStandInUpdater::EndAllRuns();
}

// A second process finds the progress window by class and sends it what it likes.
TEST_F(UpdateComponentsTest, ForeignMessagesToTheProgressWindowDoNotEndTheUpdate)
{
    m_updater.SetScenario({"hostile=1", "progress=4,CompA,0,0,1,1,5", "finish_code=14"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"5", L"0", L"0"})) << "the updater's results, not the old ones";
}

TEST_F(UpdateComponentsTest, CallReturnsSoonAfterTheFinishWhileTheUpdaterLingers)
{
    const struct
    {
        const char* label;
        std::vector<std::string> scenario;
        DWORD atLeastMs, belowMs;
    } cases[] = {
        {"lingers", {"finish_code=0", "linger_ms=8000"}, 0, 3000},
        {"lingers holding its interface", {"finish_code=0", "linger_ms=8000", "ui_mutex_ms=1500"}, 1400, 4500},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
        m_updater.SetScenario(c.scenario);
        DWORD start = ::GetTickCount();
        EXPECT_EQ(Update(), QM_UPDATE_DONE);
        DWORD took = ::GetTickCount() - start;
        EXPECT_GE(took, c.atLeastMs);
        EXPECT_LT(took, c.belowMs);
        EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"0", L"0"}));
        CStandInUpdater::EndAllRuns();
    }
}

// The host unloads the module right after the call; the worker still waits for the updater.
TEST(UpdateComponentsUnload, ModuleStaysUntilTheWorkerHasEnded)
{
    ASSERT_EQ(::GetModuleHandleW(L"Pellorin.dll"), nullptr);
    // A holder of the interface mutex left by another test would make the call wait it out.
    CStandInUpdater::EndAllRuns();
    CStandInUpdater updater({"finish_code=0", "linger_ms=4000"});
    CTempFolder folder;
    std::wstring list = folder.Child(L"actions.xml");
    ASSERT_TRUE(WriteFileBytes(list, kActionList));
    {
        CPellorinModule module;
        ASSERT_TRUE(module.Loaded());
        EXPECT_EQ(module.m_pfnUpdateComponents(L"App1", list.c_str(), L"plugin", nullptr), QM_UPDATE_DONE);
    }
    EXPECT_NE(::GetModuleHandleW(L"Pellorin.dll"), nullptr) << "the worker holds it while the updater lingers";
    ASSERT_TRUE(CStandInUpdater::WaitUntilNoneRuns(15000));
    HMODULE left = ::GetModuleHandleW(L"Pellorin.dll");
    for (int i = 0; i < 100 && left != nullptr; ++i)
    {
        ::Sleep(50);
        left = ::GetModuleHandleW(L"Pellorin.dll");
    }
    EXPECT_EQ(left, nullptr) << "the worker lets it go as it ends";
}

TEST_F(UpdateComponentsTest, WaitsForTheUpdaterInterfaceToClose)
{
    m_updater.SetScenario({"finish_code=0", "ui_mutex_ms=1500"});
    DWORD start = ::GetTickCount();
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    DWORD took = ::GetTickCount() - start;
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 4500u);

    ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    m_updater.SetScenario({"finish_code=0", "ui_mutex_ms=9000"});
    start = ::GetTickCount();
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    took = ::GetTickCount() - start;
    EXPECT_GE(took, 5000u) << "50 rounds of 100 ms";
    EXPECT_LT(took, 7500u);
    CStandInUpdater::EndAllRuns();
}
} // namespace

namespace
{
// A host ended by its user, or crashing in its callback, keeps in the log every record it was
// shown: each is in the file before the callback runs for it.
TEST_F(UpdateComponentsTest, HostEndedInItsCallbackLosesNoRecordItWasShown)
{
    m_updater.SetScenario({kEveryType, "finish_code=0"});
    int request = 0;
    for (const wchar_t* how : {L"terminate", L"exit"})
    {
        SCOPED_TRACE(WideToUtf8(how));
        ++request;
        ClearServiceLog();
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
        CChildProcess host(std::wstring(L"host \"") + m_strList + L"\" 6 " + how);
        DWORD code = 0;
        ASSERT_TRUE(host.Wait(60000, &code));
        EXPECT_EQ(code, 3u);
        CStandInUpdater::EndAllRuns();
        std::vector<std::wstring> expected = {
            L"PL,API_CALL,UpdateComponents,Killed," + m_strList + L",plugin",
            L"PL,CHECK_VERSION,-,1.1.0.13",
            L"PL,UPDATE_XML,UpdateComponents," + m_strList,
            L"PL,CREATE_XML,UpdateComponents," + CStandInUpdater::WorkFolder() + L"/Killed_" + std::to_wstring(request) + L".xml",
            L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,0",
            L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,50",
            L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,100",
            L"PL,CATCH_MSG,UpdateComponents,TYPE_EXTRACT",
            L"PL,CATCH_MSG,UpdateComponents,TYPE_DELETE",
            L"PL,CATCH_MSG,UpdateComponents,TYPE_UPDATE"};
        EXPECT_EQ(CurrentLogRecords(), expected) << "nothing archived: the host ended before";
        std::string list = ReadFileBytes(m_strList);
        EXPECT_EQ(list.substr(list.size() - 15), "</ActionList>\r\n") << "the list as the rewrite left it";
    }
}

// A handler of the host's that the module's loop dispatches calls again on the same list: the
// running updater's list is not touched; the running call writes its results.
const wchar_t kNestingClass[] = L"QMTestNestingHost";
struct QMNestedCall
{
    PFN_UpdateComponents m_pfnUpdate = nullptr;
    std::wstring m_strList;
    int m_nResult = -1;
    std::string m_strListDuring;
} g_nested;

LRESULT CALLBACK NestingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
    {
        g_nested.m_nResult = g_nested.m_pfnUpdate(L"App1", g_nested.m_strList.c_str(), L"other", nullptr);
        g_nested.m_strListDuring = ReadFileBytes(g_nested.m_strList);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

HWND g_hNestingWindow = nullptr;
QMBool __stdcall NestingProgress(int type, int percent, const wchar_t* id, unsigned itemsDone, unsigned itemsTotal,
                                 unsigned long long bytesDone, unsigned long long bytesTotal)
{
    if (g_calls.empty())
        ::PostMessageW(g_hNestingWindow, WM_APP, 0, 0);
    return HostProgress(type, percent, id, itemsDone, itemsTotal, bytesDone, bytesTotal);
}

TEST_F(UpdateComponentsTest, NestedCallOnTheSameListLeavesItToTheRunningCall)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = NestingWindowProc;
    windowClass.hInstance = ::GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kNestingClass;
    ::RegisterClassW(&windowClass);
    g_hNestingWindow = ::CreateWindowExW(0, kNestingClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         ::GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(g_hNestingWindow, nullptr);
    g_nested = QMNestedCall();
    g_nested.m_pfnUpdate = m_module.m_pfnUpdateComponents;
    g_nested.m_strList = m_strList;
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5;4,CompB,0,0,1,1,0", "record_delay_ms=200", "finish_code=14"});

    EXPECT_EQ(Update(L"plugin", NestingProgress), QM_UPDATE_DONE);
    ::DestroyWindow(g_hNestingWindow);
    ::UnregisterClassW(kNestingClass, ::GetModuleHandleW(nullptr));
    EXPECT_EQ(g_nested.m_nResult, QM_UPDATE_DONE) << "the nested call ran while the update did";
    EXPECT_EQ(g_nested.m_strListDuring.find("Result=\"1\""), std::string::npos) << "not marked busy";
    EXPECT_EQ(g_nested.m_strListDuring.find("ComponentType=\"other\""), std::string::npos) << "not rewritten";
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"5", L"0", L"0"}));
    EXPECT_EQ(m_updater.Runs().size(), 1u);
}

// When the list cannot be written for want of room, it stays as it was and the call ends at
// once: a full disk is not waited for.
TEST_F(UpdateComponentsTest, FullDiskLeavesTheListAsItWas)
{
    CSmallVolume volume;
    if (!volume.Available())
        GTEST_SKIP() << CSmallVolume::SkipReason();
    // Long enough that its new text needs more room than the volume has left.
    std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"App1\">\r\n";
    for (int i = 0; i < 3000; ++i)
        bytes += "     <Component ID=\"C" + std::to_string(i) + "\" Action=\"update\"/>\r\n";
    bytes += "</ActionList>\r\n";
    m_strList = volume.Child(L"actions.xml");
    const struct
    {
        const char* label;
        bool fillDuringTheRun;
    } cases[] = {{"the rewrite before the run", false}, {"the save after the finish", true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        ASSERT_TRUE(WriteFileBytes(m_strList, bytes));
        std::string before = bytes;
        if (c.fillDuringTheRun)
        {
            // The rewrite takes the room it needs; the volume fills while the updater runs.
            m_updater.SetScenario({"progress=4,C1,0,0,1,1,5", "record_delay_ms=300", "finish_code=0"});
            g_pVolumeToFill = &volume;
            g_strListToKeep = m_strList;
            g_strListAsRewritten.clear();
        }
        else
        {
            ASSERT_TRUE(volume.Fill());
        }
        DWORD start = ::GetTickCount();
        EXPECT_EQ(Update(L"plugin", FillingProgress), QM_UPDATE_NOT_SUPPORTED);
        DWORD took = ::GetTickCount() - start;
        g_pVolumeToFill = nullptr;
        if (c.fillDuringTheRun)
            before = g_strListAsRewritten;
        volume.Release();
        EXPECT_EQ(ReadFileBytes(m_strList), before);
        EXPECT_EQ(before.find("ComponentType=\"plugin\"") != std::string::npos, c.fillDuringTheRun) << "rewritten";
        EXPECT_EQ(ListFolder(volume.Child(L"").substr(0, 2), L"*.~qm").size(), 0u) << "no temporary file left";
        EXPECT_LT(took, c.fillDuringTheRun ? 3000u : 1000u) << "no retries";
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_GE(records.size(), 3u);
        EXPECT_EQ(records[records.size() - 3].rfind(L"PL,SAVE_FAILED,UpdateComponents," + m_strList + L",error 112", 0), 0u)
            << WideToUtf8(records[records.size() - 3]);
        const std::wstring reason = L"PL,REASON,UpdateComponents,the disk of " + PlatformPathForTest(volume.Child(L"")).substr(0, 2);
        EXPECT_EQ(records[records.size() - 2].rfind(reason + L" is full", 0), 0u) << WideToUtf8(records[records.size() - 2]);
        EXPECT_EQ(records.back(), L"PL,API_END,UpdateComponents,100");
        EXPECT_EQ(m_updater.Runs().size(), c.fillDuringTheRun ? 1u : 0u);
    }
}
} // namespace
