#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/RegistryForTest.h"
#include "support/ServiceLogReader.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace
{
struct FrameCase
{
    const char* label;
    std::function<int(CPellorinModule&)> call;
    int expectedResult;
    std::vector<std::wstring> expectedRecords;
    bool archived;
};

int CallLaunchCheck(CPellorinModule& m, int initialState)
{
    int state = initialState;
    bool result = m.m_pfnLaunchCheck(L"App1", &state);
    EXPECT_EQ(state, initialState);
    return result ? 1 : 0;
}

// Every operation records the module version, then the failed probe adds its own records: the
// version again, why it failed, and its exit record.
const wchar_t kVersion[] = L"PL,CHECK_VERSION,-,1.1.0.13";
const wchar_t kNotRegistered[] = L"PL,REASON,IsSupportQuelmar,the updater is not registered (no value Vestabel exe "
                                 L"path under HKLM\\SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install in "
                                 L"the 32-bit view)";
const wchar_t kProbeFailed[] = L"PL,API_END,IsSupportQuelmar,false";

std::vector<FrameCase> FrameCases()
{
    return {
        {"LaunchCheck state 1", [](CPellorinModule& m) { return CallLaunchCheck(m, 1); }, 0,
         {L"PL,API_CALL,LaunchCheck,App1", kVersion, kVersion, kNotRegistered, kProbeFailed, L"PL,API_END,LaunchCheck,1"}, true},
        {"LaunchCheck state 0", [](CPellorinModule& m) { return CallLaunchCheck(m, 0); }, 0,
         {L"PL,API_CALL,LaunchCheck,App1", kVersion, kVersion, kNotRegistered, kProbeFailed, L"PL,API_END,LaunchCheck,0"}, false},
        {"LaunchCheck state -5", [](CPellorinModule& m) { return CallLaunchCheck(m, -5); }, 0,
         {L"PL,API_CALL,LaunchCheck,App1", kVersion, kVersion, kNotRegistered, kProbeFailed, L"PL,API_END,LaunchCheck,-5"}, false},
        {"IsSupportQuelmar", [](CPellorinModule& m) { return m.m_pfnIsSupportQuelmar() ? 1 : 0; }, 0,
         {kVersion, kNotRegistered, kProbeFailed}, true},
        {"UpdateComponents",
         [](CPellorinModule& m) { return m.m_pfnUpdateComponents(L"App1", L"C:/al.xml", L"plugin", nullptr); }, 100,
         {L"PL,API_CALL,UpdateComponents,App1,C:/al.xml,plugin", kVersion, kVersion, kNotRegistered, kProbeFailed,
          L"PL,API_END,UpdateComponents,100"},
         true},
        {"GetInstalledComponentList",
         [](CPellorinModule& m) { return m.m_pfnGetInstalledComponentList(L"App1", L"C:/in.xml", L"plugin"); }, 16,
         {L"PL,API_CALL,GetInstalledComponentList,App1,C:/in.xml,plugin", kVersion, kVersion, kNotRegistered, kProbeFailed,
          L"PL,API_END,GetInstalledComponentList,16"},
         true},
        {"GetLatestComponentList",
         [](CPellorinModule& m) { return m.m_pfnGetLatestComponentList(L"C:/la.xml", L"plugin", L"2.0"); }, 16,
         {L"PL,API_CALL,GetLastComponentList,C:/la.xml,plugin,2.0", kVersion, kVersion, kNotRegistered, kProbeFailed,
          L"PL,API_END,GetLastComponentList,16"},
         true},
        {"SupportComponentsManagement", [](CPellorinModule& m) { return m.m_pfnSupportComponentsManagement(); }, 300,
         {kVersion, kNotRegistered, kProbeFailed, L"PL,API_END,SupportComponentsManagement,300"}, true},
    };
}

class CallFrameRecordsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        ASSERT_TRUE(m_module.Loaded());
    }
    void TearDown() override { ClearServiceLog(); }
    CVestabelRegistration m_noUpdater;
    CPellorinModule m_module;
};

TEST_F(CallFrameRecordsTest, EveryExportWritesItsRecordsAndArchivesByTheTable)
{
    for (const FrameCase& c : FrameCases())
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        EXPECT_EQ(c.call(m_module), c.expectedResult);
        std::vector<std::wstring> archives = ArchiveNames();
        if (c.archived)
        {
            ASSERT_EQ(archives.size(), 1u);
            EXPECT_EQ(ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]), c.expectedRecords);
            EXPECT_TRUE(CurrentLogRecords().empty());
        }
        else
        {
            EXPECT_TRUE(archives.empty());
            EXPECT_EQ(CurrentLogRecords(), c.expectedRecords);
        }
    }
}

TEST_F(CallFrameRecordsTest, ArchiveNameCarriesTheLocalTimeOfTheStep)
{
    SYSTEMTIME before = {};
    ::GetLocalTime(&before);
    m_module.m_pfnGetInstalledComponentList(L"App1", L"C:/in.xml", L"t");
    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    const std::wstring& name = archives[0];
    ASSERT_EQ(name.size(), std::wstring(L"Tavrin_ACT_SERVICELOG_20261207101112.txt").size());
    wchar_t day[16];
    swprintf(day, 16, L"%04d%02d%02d", before.wYear, before.wMonth, before.wDay);
    EXPECT_EQ(name.substr(22, 8), day) << "unless the test ran across midnight";
}

TEST_F(CallFrameRecordsTest, RecordsOfANonArchivingCallGoWithTheNextArchive)
{
    int state = 0;
    m_module.m_pfnLaunchCheck(L"App1", &state);
    EXPECT_TRUE(ArchiveNames().empty());
    m_module.m_pfnGetLatestComponentList(L"C:/la.xml", L"t", L"1");
    std::vector<std::wstring> archives = ArchiveNames();
    ASSERT_EQ(archives.size(), 1u);
    std::vector<std::wstring> expected = {L"PL,API_CALL,LaunchCheck,App1", kVersion, kVersion, kNotRegistered, kProbeFailed,
                                          L"PL,API_END,LaunchCheck,0",
                                          L"PL,API_CALL,GetLastComponentList,C:/la.xml,t,1", kVersion, kVersion,
                                          kNotRegistered, kProbeFailed, L"PL,API_END,GetLastComponentList,16"};
    EXPECT_EQ(ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]), expected);
}

TEST_F(CallFrameRecordsTest, ArgumentsWithSeparatorsAreQuoted)
{
    int state = 0;
    m_module.m_pfnLaunchCheck(L"a,\"b\"", &state);
    m_module.m_pfnLaunchCheck(L"two\nlines", &state);
    m_module.m_pfnLaunchCheck(L"\u65e5\u672c\u8a9e \u00e9", &state);
    std::vector<std::wstring> records = CurrentLogRecords();
    ASSERT_EQ(records.size(), 18u);
    EXPECT_EQ(records[0], L"PL,API_CALL,LaunchCheck,\"a,\"\"b\"\"\"");
    EXPECT_EQ(records[6], L"PL,API_CALL,LaunchCheck,\"two\nlines\"");
    EXPECT_EQ(records[12], L"PL,API_CALL,LaunchCheck,\u65e5\u672c\u8a9e \u00e9");
}

void CallAllSix(CPellorinModule& m)
{
    int state = 1;
    EXPECT_FALSE(m.m_pfnLaunchCheck(L"App1", &state));
    EXPECT_EQ(state, 1);
    EXPECT_FALSE(m.m_pfnIsSupportQuelmar());
    EXPECT_EQ(m.m_pfnUpdateComponents(L"App1", L"C:/al.xml", L"t", nullptr), QM_UPDATE_NOT_SUPPORTED);
    EXPECT_EQ(m.m_pfnGetInstalledComponentList(L"App1", L"C:/in.xml", L"t"), QM_LIST_NOT_SUPPORTED);
    EXPECT_EQ(m.m_pfnGetLatestComponentList(L"C:/la.xml", L"t", L"1"), QM_LIST_NOT_SUPPORTED);
    EXPECT_EQ(m.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
}

TEST_F(CallFrameRecordsTest, LogFolderBlockedByAFileChangesNoResult)
{
    std::wstring folder = ServiceLogFolderForTest();
    std::wstring parent = folder.substr(0, folder.rfind(L'/'));
    ASSERT_TRUE(CreateFolderPathForTest(parent));
    ASSERT_TRUE(WriteFileBytes(folder, "not a folder"));
    CallAllSix(m_module);
    EXPECT_TRUE(FileExists(folder));
    EXPECT_EQ(ReadFileBytes(folder), "not a folder");
    EXPECT_TRUE(DeleteFileForTest(folder));
}

TEST_F(CallFrameRecordsTest, CurrentFileHeldExclusivelyChangesNoResult)
{
    std::wstring folder = ServiceLogFolderForTest();
    ASSERT_TRUE(CreateFolderPathForTest(folder));
    std::wstring current = folder + L"/Tavrin_ACT_SERVICELOG_tmp.txt";
    ASSERT_TRUE(WriteFileBytes(current, "held"));
    HANDLE exclusive = ::CreateFileW(current.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    CallAllSix(m_module);
    ::CloseHandle(exclusive);
    EXPECT_EQ(ReadFileBytes(current), "held");
}
} // namespace
