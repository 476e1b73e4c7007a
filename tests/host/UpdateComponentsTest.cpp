#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/StandInUpdater.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

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
size_t g_clearLogAtCall = 0; // 1-based; 0 never

QMBool __stdcall HostProgress(int type, int percent, const wchar_t* id, unsigned, unsigned, unsigned long long,
                              unsigned long long)
{
    g_calls.push_back({type, percent, id});
    if (g_calls.size() == g_clearLogAtCall)
        ClearServiceLog();
    return g_calls.size() != g_cancelAtCall;
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
        g_clearLogAtCall = 0;
        m_strList = m_folder.Child(L"actions.xml");
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
    }
    void TearDown() override { ClearServiceLog(); }

    int Update(const wchar_t* type = L"plugin", QMProgressCallback callback = HostProgress)
    {
        return m_module.m_pfnUpdateComponents(L"App1", m_strList.c_str(), type, callback);
    }
    std::vector<std::wstring> Results()
    {
        std::string xml = ReadFileBytes(m_strList);
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

// The call resolves the log folder once; a folder removed meanwhile is made again by the next record.
TEST_F(UpdateComponentsTest, LogFolderRemovedDuringTheCallIsMadeAgain)
{
    m_updater.SetScenario({kEveryType, "finish_code=0"});
    g_clearLogAtCall = 4; // the extract record, whose log record follows the callback
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::wstring> expected = {L"PL,CATCH_MSG,UpdateComponents,TYPE_EXTRACT",
                                          L"PL,CATCH_MSG,UpdateComponents,TYPE_DELETE",
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

TEST_F(UpdateComponentsTest, CancelReachesTheUpdaterAfterEveryRecordAndTheFinish)
{
    g_cancelAtCall = 2;
    m_updater.SetScenario({kEveryType, "ignore_cancel=1", "cancel_finish_code=2"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    std::string events = m_updater.Events(1);
    EXPECT_NE(events.find("record 1 cancels 0"), std::string::npos) << events;
    EXPECT_NE(events.find("record 2 cancels 1"), std::string::npos) << events;
    EXPECT_NE(events.find("record 7 cancels 6"), std::string::npos) << events;
    EXPECT_NE(events.find("finish 2 cancels 7"), std::string::npos) << events;
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"2", L"2", L"2"}));
}

TEST_F(UpdateComponentsTest, UpdaterThatHonoursCancelStopsEarly)
{
    g_cancelAtCall = 1;
    m_updater.SetScenario({kEveryType, "cancel_finish_code=2"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(g_calls.size(), 1u);
    std::string events = m_updater.Events(1);
    EXPECT_NE(events.find("finish 2 cancels 2"), std::string::npos) << events;
}

TEST_F(UpdateComponentsTest, UpdaterThatCannotRunMarksEveryComponent16)
{
    CVestabelRegistration registration;
    ASSERT_TRUE(registration.SetPath(L"C:\\no\\such\\updater.exe"));
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"16", L"16", L"16"}));
}

TEST_F(UpdateComponentsTest, CrashedUpdaterEndsTheCallAsNotRun)
{
    m_updater.SetScenario({"progress=4,CompA,0,0,1,1,5", "finish=none"});
    EXPECT_EQ(Update(), QM_UPDATE_DONE);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"16", L"16", L"16"}));
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
}

TEST_F(UpdateComponentsTest, UnreadableActionListGives100AndAnEmptyList)
{
    ASSERT_TRUE(WriteFileBytes(m_strList, "not xml"));
    EXPECT_EQ(Update(L"plugin"), QM_UPDATE_NOT_SUPPORTED);
    EXPECT_TRUE(m_updater.Runs().empty());
    std::string list = ReadFileBytes(m_strList);
    EXPECT_NE(list.find("ComponentType=\"plugin\""), std::string::npos) << list;
    EXPECT_EQ(list.find("<Component "), std::string::npos) << list;
}

TEST_F(UpdateComponentsTest, WithoutCallbackTheUpdateStillRuns)
{
    m_updater.SetScenario({kEveryType, "finish_code=14", "progress=4,CompC,0,0,1,1,8"});
    EXPECT_EQ(Update(L"plugin", nullptr), QM_UPDATE_DONE);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"0", L"8"}));
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
}
} // namespace
