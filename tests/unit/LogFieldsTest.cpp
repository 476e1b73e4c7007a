#include "log/LogFields.h"

#include <gtest/gtest.h>

namespace
{
struct QuotingCase
{
    std::vector<std::wstring> fields;
    std::wstring expected;
};

class JoinLogFieldsTest : public ::testing::TestWithParam<QuotingCase>
{
};

TEST_P(JoinLogFieldsTest, QuotesOnlyFieldsThatNeedIt)
{
    EXPECT_EQ(JoinLogFields(GetParam().fields), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinLogFieldsTest,
    ::testing::Values(QuotingCase{{}, L""},
                      QuotingCase{{L""}, L""},
                      QuotingCase{{L"", L""}, L","},
                      QuotingCase{{L"LaunchCheck", L"App1"}, L"LaunchCheck,App1"},
                      QuotingCase{{L"LaunchCheck", L"a,\"b\""}, L"LaunchCheck,\"a,\"\"b\"\"\""},
                      QuotingCase{{L"a\nb"}, L"\"a\nb\""},
                      QuotingCase{{L"a\rb"}, L"\"a\rb\""},
                      QuotingCase{{L"\""}, L"\"\"\"\""},
                      QuotingCase{{L"sp ace;semi\ttab"}, L"sp ace;semi\ttab"},
                      QuotingCase{{L"\u65e5\u672c", L"x"}, L"\u65e5\u672c,x"}));

SYSTEMTIME MakeTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms)
{
    SYSTEMTIME t = {};
    t.wYear = year;
    t.wMonth = month;
    t.wDay = day;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    return t;
}

TEST(LogRecord, HasTimestampSourceTagAndMessage)
{
    SYSTEMTIME t = MakeTime(2009, 6, 15, 9, 30, 5, 123);
    EXPECT_EQ(BuildLogRecord(t, L"PL", L"API_CALL", L"LaunchCheck,App1"),
              L"2009-06-15-09-30-05-123,PL,API_CALL,LaunchCheck,App1");
}

TEST(LogRecord, EmptyTagLeavesOutItsField)
{
    SYSTEMTIME t = MakeTime(2009, 6, 15, 9, 30, 5, 7);
    EXPECT_EQ(BuildLogRecord(t, L"PL", L"", L"message"), L"2009-06-15-09-30-05-007,PL,message");
    EXPECT_EQ(BuildLogRecord(t, L"PL", L"", L""), L"2009-06-15-09-30-05-007,PL,");
}

TEST(LogRecord, TimestampUsesTheTwentyFourHourClock)
{
    EXPECT_EQ(FormatLogTimestamp(MakeTime(2026, 12, 31, 23, 59, 59, 999)), L"2026-12-31-23-59-59-999");
    EXPECT_EQ(FormatLogTimestamp(MakeTime(2026, 1, 2, 0, 0, 0, 0)), L"2026-01-02-00-00-00-000");
}

TEST(LogRecord, ArchiveStampIsFourteenDigits)
{
    EXPECT_EQ(FormatArchiveStamp(MakeTime(2009, 6, 15, 21, 3, 4, 555)), L"20090615210304");
}
} // namespace
