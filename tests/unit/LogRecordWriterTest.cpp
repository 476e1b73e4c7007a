#include "log/LogRecordWriter.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <thread>
#include <vector>

namespace
{
const char kBom[] = "\xEF\xBB\xBF";

TEST(LogRecordWriter, NewFileGetsOneByteOrderMarkAndCrLfLines)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(AppendLogRecord(file, L"first"));
    ASSERT_TRUE(AppendLogRecord(file, L"second"));
    EXPECT_EQ(ReadFileBytes(file), std::string(kBom) + "first\r\nsecond\r\n");
}

TEST(LogRecordWriter, ExistingEmptyFileGetsTheByteOrderMark)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(WriteFileBytes(file, ""));
    ASSERT_TRUE(AppendLogRecord(file, L"x"));
    EXPECT_EQ(ReadFileBytes(file), std::string(kBom) + "x\r\n");
}

TEST(LogRecordWriter, ExistingRecordsAreKept)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(WriteFileBytes(file, std::string(kBom) + "old\r\n"));
    ASSERT_TRUE(AppendLogRecord(file, L"new"));
    EXPECT_EQ(ReadFileBytes(file), std::string(kBom) + "old\r\nnew\r\n");
}

TEST(LogRecordWriter, WritesUtf8AndKeepsLineFeedsInsideARecord)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(AppendLogRecord(file, L"\u00e9\u20ac\u65e5 \"a\nb\""));
    EXPECT_EQ(ReadFileBytes(file), std::string(kBom) + "\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5 \"a\nb\"\r\n");
}

TEST(LogRecordWriter, FolderAtThePathDropsTheRecord)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(MakeFolder(file));
    EXPECT_FALSE(AppendLogRecord(file, L"lost"));
    EXPECT_TRUE(FolderExists(file));
}

TEST(LogRecordWriter, MissingFolderDropsTheRecord)
{
    CTempFolder temp;
    EXPECT_FALSE(AppendLogRecord(temp.Child(L"missing/log.txt"), L"lost"));
    EXPECT_FALSE(FolderExists(temp.Child(L"missing")));
}

TEST(LogRecordWriter, FileLockedByAnotherWriterDropsTheRecordWithoutHanging)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(WriteFileBytes(file, "held"));
    std::wstring platform = PlatformPathForTest(file);
    HANDLE exclusive = ::CreateFileW(platform.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    DWORD start = ::GetTickCount();
    EXPECT_FALSE(AppendLogRecord(file, L"lost"));
    EXPECT_LT(::GetTickCount() - start, 5000u);
    ::CloseHandle(exclusive);
    EXPECT_EQ(ReadFileBytes(file), "held");
}

TEST(LogRecordWriter, ConcurrentWritersKeepEveryLineWhole)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    constexpr int kThreads = 4;
    constexpr int kRecords = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRecords; ++i)
                AppendLogRecord(file, L"thread" + std::to_wstring(t) + L"-record" + std::to_wstring(i) +
                                          std::wstring(100, L'x'));
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::string bytes = ReadFileBytes(file);
    ASSERT_EQ(bytes.substr(0, 3), kBom);
    EXPECT_EQ(bytes.find(kBom, 3), std::string::npos);
    std::set<std::string> lines;
    size_t start = 3;
    while (start < bytes.size())
    {
        size_t end = bytes.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        std::string line = bytes.substr(start, end - start);
        EXPECT_EQ(line.size(), line.find('x') + 100) << line;
        lines.insert(line);
        start = end + 2;
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(kThreads * kRecords));
}
} // namespace
