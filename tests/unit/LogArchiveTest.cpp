#include "log/LogArchive.h"

#include "log/LogRecordWriter.h"
#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

namespace
{
const wchar_t kCurrent[] = L"Tavrin_ACT_SERVICELOG_tmp.txt";
const std::string kBom = "\xEF\xBB\xBF";

std::wstring ArchiveName(int index)
{
    // Stamps of consecutive seconds on one day, oldest first.
    wchar_t stamp[32];
    swprintf(stamp, 32, L"20260101%02d%02d%02d", index / 3600, (index / 60) % 60, index % 60);
    return std::wstring(L"Tavrin_ACT_SERVICELOG_") + stamp + L".txt";
}

class LogArchiveTest : public ::testing::Test
{
protected:
    void AddArchives(int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(WriteFileBytes(m_folder.Child(ArchiveName(i)), kBom + "archive\r\n"));
    }
    void AddCurrent(const std::string& records)
    {
        ASSERT_TRUE(WriteFileBytes(m_folder.Child(kCurrent), kBom + records));
    }
    std::vector<std::wstring> Entries() const { return ListFolder(m_folder.Path(), L"*"); }
    bool Has(const std::wstring& name) const { return FileExists(m_folder.Child(name)); }

    CTempFolder m_folder;
};

TEST_F(LogArchiveTest, CurrentFileBecomesTheStampedArchive)
{
    AddCurrent("one\r\ntwo\r\n");
    ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");
    EXPECT_FALSE(Has(kCurrent));
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207101112.txt")), kBom + "one\r\ntwo\r\n");
}

TEST_F(LogArchiveTest, CopiesFilesLargerThanOneBlock)
{
    std::string records;
    for (int i = 0; i < 300; ++i)
        records += "record " + std::to_string(i) + "\r\n";
    AddCurrent(records);
    ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207101112.txt")), kBom + records);
}

TEST_F(LogArchiveTest, FiftyArchivesAndCurrentLoseTheOldestArchive)
{
    AddArchives(50);
    AddCurrent("newest\r\n");
    ArchiveServiceLogAs(m_folder.Path(), L"20261207000000");
    EXPECT_FALSE(Has(ArchiveName(0)));
    EXPECT_TRUE(Has(ArchiveName(1)));
    EXPECT_FALSE(Has(kCurrent));
    EXPECT_EQ(Entries().size(), 50u);
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207000000.txt")), kBom + "newest\r\n");
}

TEST_F(LogArchiveTest, FiftyArchivesWithoutCurrentStayAsTheyAre)
{
    AddArchives(50);
    ArchiveServiceLogAs(m_folder.Path(), L"20261207000000");
    EXPECT_EQ(Entries().size(), 50u);
    EXPECT_TRUE(Has(ArchiveName(0)));
}

TEST_F(LogArchiveTest, MoreThanFiftyArchivesKeepTheirNumber)
{
    AddArchives(55);
    AddCurrent("x\r\n");
    ArchiveServiceLogAs(m_folder.Path(), L"20261207000000");
    EXPECT_EQ(Entries().size(), 55u);
    EXPECT_FALSE(Has(ArchiveName(0)));
    EXPECT_TRUE(Has(ArchiveName(1)));
}

TEST_F(LogArchiveTest, OtherNamesWithThePrefixCountButAreNeverDeleted)
{
    AddArchives(49);
    ASSERT_TRUE(WriteFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_old.txt"), "keep"));
    AddCurrent("x\r\n");
    // 49 archives + old + current = 51 entries: the oldest archive goes.
    ArchiveServiceLogAs(m_folder.Path(), L"20261207000000");
    EXPECT_TRUE(Has(L"Tavrin_ACT_SERVICELOG_old.txt"));
    EXPECT_FALSE(Has(ArchiveName(0)));
    EXPECT_EQ(Entries().size(), 50u);
}

TEST_F(LogArchiveTest, ArchivesThatCannotBeDeletedArePassedOver)
{
    AddArchives(50);
    AddCurrent("x\r\n");
    // The oldest name is a folder, the next an archive another program holds without delete sharing.
    ASSERT_TRUE(DeleteFileForTest(m_folder.Child(ArchiveName(0))));
    ASSERT_TRUE(MakeFolder(m_folder.Child(ArchiveName(0))));
    HANDLE held = ::CreateFileW(PlatformPathForTest(m_folder.Child(ArchiveName(1))).c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    ArchiveServiceLogAs(m_folder.Path(), L"20261207000000");
    EXPECT_TRUE(FolderExists(m_folder.Child(ArchiveName(0))));
    EXPECT_TRUE(Has(ArchiveName(1)));
    EXPECT_FALSE(Has(ArchiveName(2))) << "the oldest archive that can go";
    EXPECT_EQ(Entries().size(), 50u);

    // And so at every later step: the folder stops growing.
    AddCurrent("y\r\n");
    ArchiveServiceLogAs(m_folder.Path(), L"20261207000001");
    ::CloseHandle(held);
    EXPECT_FALSE(Has(ArchiveName(3)));
    EXPECT_EQ(Entries().size(), 50u);
}

TEST_F(LogArchiveTest, NothingBelowTheSentinelMeansNothingDeleted)
{
    for (int i = 0; i < 51; ++i)
        ASSERT_TRUE(WriteFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_x" + std::to_wstring(i) + L".txt"), "k"));
    PruneServiceLogs(m_folder.Path());
    EXPECT_EQ(Entries().size(), 51u);
}

TEST_F(LogArchiveTest, FilesWithoutThePrefixAreIgnored)
{
    AddArchives(50);
    ASSERT_TRUE(WriteFileBytes(m_folder.Child(L"other.txt"), "k"));
    ASSERT_TRUE(WriteFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20250101000000.log"), "k"));
    PruneServiceLogs(m_folder.Path());
    EXPECT_TRUE(Has(ArchiveName(0)));
}

TEST_F(LogArchiveTest, TwoStepsInOneSecondLoseNoRecord)
{
    AppendLogRecord(m_folder.Child(kCurrent), L"first call");
    ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");
    AppendLogRecord(m_folder.Child(kCurrent), L"second call");
    ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");

    // The archive is never overwritten; the later records wait for the next step.
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207101112.txt")), kBom + "first call\r\n");
    EXPECT_EQ(ReadFileBytes(m_folder.Child(kCurrent)), kBom + "second call\r\n");

    ArchiveServiceLogAs(m_folder.Path(), L"20261207101113");
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207101113.txt")), kBom + "second call\r\n");
    EXPECT_FALSE(Has(kCurrent));
}

TEST_F(LogArchiveTest, ArchiveThatCannotBeCreatedKeepsTheCurrentFile)
{
    AddCurrent("kept\r\n");
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207101112.txt")));
    ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");
    EXPECT_EQ(ReadFileBytes(m_folder.Child(kCurrent)), kBom + "kept\r\n");
}

// Writers of other processes keep the current file open during their calls and share its
// deletion: the archive step renames it under them. A program that shares no deletion keeps it.
TEST_F(LogArchiveTest, CurrentFileHeldOpenIsArchivedUnlessItsHolderRefusesDeletion)
{
    const struct
    {
        DWORD share;
        bool archived;
    } cases[] = {{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true}, {FILE_SHARE_READ | FILE_SHARE_WRITE, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.share);
        ::DeleteFileW(PlatformPathForTest(m_folder.Child(L"Tavrin_ACT_SERVICELOG_20261207101112.txt")).c_str());
        AddCurrent("held\r\n");
        HANDLE writer = ::CreateFileW(PlatformPathForTest(m_folder.Child(kCurrent)).c_str(), FILE_APPEND_DATA, c.share,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(writer, INVALID_HANDLE_VALUE);
        ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");
        ::CloseHandle(writer);
        EXPECT_EQ(Has(L"Tavrin_ACT_SERVICELOG_20261207101112.txt"), c.archived);
        EXPECT_EQ(ReadFileBytes(m_folder.Child(c.archived ? L"Tavrin_ACT_SERVICELOG_20261207101112.txt" : kCurrent)),
                  kBom + "held\r\n");
    }
}

// A step without records (a file the disk filled before its first record) archives nothing
// and prunes nothing.
TEST_F(LogArchiveTest, CurrentFileWithoutRecordsMakesNoArchiveAndPrunesNothing)
{
    AddArchives(51);
    for (const std::string& bytes : {std::string(), kBom})
    {
        ASSERT_TRUE(WriteFileBytes(m_folder.Child(kCurrent), bytes));
        ArchiveServiceLogAs(m_folder.Path(), L"20261207101112");
        EXPECT_TRUE(Has(ArchiveName(0)));
        EXPECT_FALSE(Has(L"Tavrin_ACT_SERVICELOG_20261207101112.txt"));
    }
}

TEST_F(LogArchiveTest, MissingFolderIsNoError)
{
    ArchiveServiceLogAs(m_folder.Child(L"missing"), L"20261207101112");
    EXPECT_FALSE(FolderExists(m_folder.Child(L"missing")));
}

TEST_F(LogArchiveTest, RecordsWrittenWhileArchivingAreNeverLost)
{
    constexpr int kRecords = 400;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kRecords; ++i)
            ASSERT_TRUE(AppendLogRecord(m_folder.Child(kCurrent), L"record " + std::to_wstring(i)));
        done = true;
    });
    int steps = 0;
    while (!done && steps < 40)
    {
        wchar_t stamp[32];
        swprintf(stamp, 32, L"202612071000%02d", steps++);
        ArchiveServiceLogAs(m_folder.Path(), stamp);
    }
    writer.join();

    std::string all;
    for (const std::wstring& name : Entries())
    {
        std::string bytes = ReadFileBytes(m_folder.Child(name));
        ASSERT_EQ(bytes.substr(0, 3), kBom) << "archive without byte-order mark";
        all += bytes.substr(3);
    }
    for (int i = 0; i < kRecords; ++i)
    {
        std::string line = "record " + std::to_string(i) + "\r\n";
        size_t at = all.find(line);
        ASSERT_NE(at, std::string::npos) << "lost: " << line;
        EXPECT_EQ(all.find(line, at + 1), std::string::npos) << "twice: " << line;
    }
}
} // namespace
