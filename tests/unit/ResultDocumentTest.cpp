#include "bridge/ResultDocument.h"

#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{
class ResultDocumentTest : public ::testing::Test
{
protected:
    void SetUp() override { ClearServiceLog(); }
    void TearDown() override { ClearServiceLog(); }

    // Writes the result document of the request m_strRequest.
    void WriteResult(const std::string& xml)
    {
        ASSERT_TRUE(WriteFileBytes(GetResultDocumentPath(m_strRequest), xml));
    }

    CTempFolder m_folder;
    std::wstring m_strRequest = m_folder.Child(L"App_3.xml");
};

TEST(ResultDocumentPath, PrefixGoesAfterTheLastSlash)
{
    EXPECT_EQ(GetResultDocumentPath(L"C:/t/Tavrin_Inc_ZL/Vestabel/MyApp_3.xml"),
              L"C:/t/Tavrin_Inc_ZL/Vestabel/RESULT_MyApp_3.xml");
    EXPECT_EQ(GetResultDocumentPath(L"bare.xml"), L"RESULT_bare.xml");
}

TEST(ResultCode, ReadLikeTheRuntimesConversion)
{
    EXPECT_EQ(ParseResultCode(L" 12abc"), 12);
    EXPECT_EQ(ParseResultCode(L"\t-7"), -7);
    EXPECT_EQ(ParseResultCode(L"+5"), 5);
    EXPECT_EQ(ParseResultCode(L"abc"), 0);
    EXPECT_EQ(ParseResultCode(L""), 0);
}

TEST_F(ResultDocumentTest, RestartWithProcessInfo)
{
    WriteResult("<?xml version=\"1.0\"?><CheckResult LaunchApp=\"R\" ProcessInfo=\"setup 4711\" Result=\"0\"/>");
    std::wstring processInfo = L"stale";
    int code = -1;
    EXPECT_EQ(CatchResultDocument(m_strRequest, processInfo, &code), QM_LAUNCH_RESTART);
    EXPECT_EQ(processInfo, L"setup 4711");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(CurrentLogRecords(), (std::vector<std::wstring>{L"PL,CATCH_XML,-," + GetResultDocumentPath(m_strRequest)}));
    EXPECT_FALSE(FileExists(GetResultDocumentPath(m_strRequest)));

    // A second read finds nothing.
    EXPECT_EQ(CatchResultDocument(m_strRequest, processInfo, &code), QM_LAUNCH_NONE);
    EXPECT_EQ(code, 20);
    EXPECT_EQ(processInfo, L"setup 4711") << "left untouched when nothing was read";
}

TEST_F(ResultDocumentTest, OnlyAResultWrittenAfterItsRequestIsRead)
{
    ASSERT_TRUE(WriteFileBytes(m_strRequest, "<AppName>App</AppName>"));
    WriteResult("<CheckResult LaunchApp=\"Y\" Result=\"7\"/>");
    // Left by an earlier request of the same name: an hour older than this request.
    HANDLE file = ::CreateFileW(PlatformPathForTest(GetResultDocumentPath(m_strRequest)).c_str(), FILE_WRITE_ATTRIBUTES,
                                0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER earlier = {{now.dwLowDateTime, now.dwHighDateTime}};
    earlier.QuadPart -= 36000000000ULL;
    FILETIME old = {earlier.LowPart, earlier.HighPart};
    ASSERT_TRUE(::SetFileTime(file, nullptr, nullptr, &old));
    ::CloseHandle(file);

    std::wstring processInfo;
    int code = -1;
    EXPECT_EQ(CatchResultDocument(m_strRequest, processInfo, &code), QM_LAUNCH_NONE);
    EXPECT_EQ(code, 20);
    EXPECT_FALSE(FileExists(GetResultDocumentPath(m_strRequest))) << "no later run may take it either";
    EXPECT_TRUE(CurrentLogRecords().empty());

    // Written after the request: this run's.
    WriteResult("<CheckResult LaunchApp=\"Y\" Result=\"7\"/>");
    EXPECT_EQ(CatchResultDocument(m_strRequest, processInfo, &code), QM_LAUNCH_YES);
    EXPECT_EQ(code, 7);
}

TEST_F(ResultDocumentTest, OnlyExactAttributeValuesDecide)
{
    const struct
    {
        const char* xml;
        int decision;
    } cases[] = {
        {"<CheckResult LaunchApp=\"Y\"/>", QM_LAUNCH_YES},
        {"<CheckResult LaunchApp=\"N\"/>", QM_LAUNCH_NO},
        {"<CheckResult LaunchApp=\"y\"/>", QM_LAUNCH_NONE},
        {"<CheckResult LaunchApp=\"Yes\"/>", QM_LAUNCH_NONE},
        {"<CheckResult launchapp=\"Y\"/>", QM_LAUNCH_NONE},
        {"<CheckResult><LaunchApp>Y</LaunchApp></CheckResult>", QM_LAUNCH_NONE},
        {"<CheckResult Result=\"4\"/>", QM_LAUNCH_NONE},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.xml);
        WriteResult(c.xml);
        std::wstring processInfo;
        EXPECT_EQ(CatchResultDocument(m_strRequest, processInfo), c.decision);
    }
}

TEST_F(ResultDocumentTest, WrongRootOrUnreadableGivesNoDecisionAndCode20)
{
    const char* bad[] = {"<checkresult LaunchApp=\"Y\" Result=\"1\"/>", "<CheckResult LaunchApp=\"Y\"", "", "\x01\x02"};
    for (const char* xml : bad)
    {
        WriteResult(xml);
        std::wstring processInfo = L"kept";
        int code = -1;
        EXPECT_EQ(CatchResultDocument(m_strRequest, processInfo, &code), QM_LAUNCH_NONE);
        EXPECT_EQ(code, 20);
        EXPECT_EQ(processInfo, L"kept");
        EXPECT_FALSE(FileExists(GetResultDocumentPath(m_strRequest))) << "deleted even when unreadable";
    }
    EXPECT_TRUE(CurrentLogRecords().empty()) << "nothing read, nothing logged";

    QMCheckResult result;
    WriteResult("<checkresult/>");
    EXPECT_EQ(ReadResultDocument(GetResultDocumentPath(m_strRequest), result), QM_RESULT_WRONG_ROOT);
    EXPECT_EQ(ReadResultDocument(m_folder.Child(L"missing.xml"), result), QM_RESULT_UNREADABLE);
}
} // namespace
