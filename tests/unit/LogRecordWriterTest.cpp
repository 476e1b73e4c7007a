#include "log/LogLock.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLog.h"

#include "sys/Handle.h"

#include "support/ChildProcess.h"
#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/SmallVolume.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <memory>
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

TEST(LogRecordWriter, FolderAtThePathDropsTheRecordAtOnce)
{
    CTempFolder temp;
    std::wstring file = temp.Child(L"log.txt");
    ASSERT_TRUE(MakeFolder(file));
    // Retried like a held file, 20 records would wait at least 1.9 s.
    DWORD start = ::GetTickCount();
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(AppendLogRecord(file, L"lost"));
    EXPECT_LT(::GetTickCount() - start, 1000u);
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

// The open of a record fails; only a file that is held for a moment is worth waiting for.
TEST(LogRecordWriter, OnlyAHeldFileIsRetried)
{
    CTempFolder temp;
    auto openError = [](const std::wstring& path) {
        HANDLE file = ::CreateFileW(PlatformPathForTest(path).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
        return error;
    };

    std::wstring folder = temp.Child(L"folder.txt");
    ASSERT_TRUE(MakeFolder(folder));
    DWORD error = openError(folder);
    ASSERT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(IsLogFileBusy(PlatformPathForTest(folder), error)) << "a folder of that name";
    // A profile that refuses new files: nothing there, access denied.
    EXPECT_FALSE(IsLogFileBusy(PlatformPathForTest(temp.Child(L"new.txt")), ERROR_ACCESS_DENIED));
    std::wstring readOnly = temp.Child(L"readonly.txt");
    ASSERT_TRUE(WriteFileBytes(readOnly, "r"));
    ASSERT_TRUE(::SetFileAttributesW(PlatformPathForTest(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
    // Running as root, Wine lets the open succeed: the decision is asked with the error Windows gives.
    EXPECT_FALSE(IsLogFileBusy(PlatformPathForTest(readOnly), ERROR_ACCESS_DENIED)) << "a read-only file";
    ::SetFileAttributesW(PlatformPathForTest(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);

    std::wstring held = temp.Child(L"held.txt");
    ASSERT_TRUE(WriteFileBytes(held, "h"));
    HANDLE holder = ::CreateFileW(PlatformPathForTest(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    error = openError(held);
    EXPECT_TRUE(IsLogFileBusy(PlatformPathForTest(held), error)) << "held without write sharing, error " << error;
    ::CloseHandle(holder);

    // An archive step of another process has marked the file for deletion and still holds it.
    std::wstring deleting = temp.Child(L"deleting.txt");
    ASSERT_TRUE(WriteFileBytes(deleting, "d"));
    // Sharing everything, so that only the pending deletion refuses the writer.
    HANDLE archiver = ::CreateFileW(PlatformPathForTest(deleting).c_str(), GENERIC_READ | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
    ASSERT_NE(archiver, INVALID_HANDLE_VALUE);
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    ASSERT_TRUE(::SetFileInformationByHandle(archiver, FileDispositionInfo, &disposition, sizeof(disposition)));
    // Windows refuses the open with access denied while the name is there.
    EXPECT_TRUE(IsLogFileBusy(PlatformPathForTest(deleting), ERROR_ACCESS_DENIED)) << "being deleted";
    error = openError(deleting);
    ::CloseHandle(archiver);
    if (error == ERROR_SUCCESS)
        GTEST_SKIP() << "Wine opens a file that is marked for deletion, so the refusal cannot be seen here";
    EXPECT_TRUE(IsLogFileBusy(PlatformPathForTest(deleting), error)) << "being deleted, error " << error;
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
// A slow disk makes every record slow: a message another thread sent to this thread's window
// before the record is answered by the time the record has been written.
TEST(LogRecordWriter, ServiceLogRecordAnswersMessagesSentToTheThread)
{
    ClearServiceLog();
    HWND window = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    std::thread sender([window] {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result);
    });
    auto sentWaiting = [] { return (HIWORD(::GetQueueStatus(QS_SENDMESSAGE)) & QS_SENDMESSAGE) != 0; };
    for (int i = 0; i < 2000 && !sentWaiting(); ++i)
        ::Sleep(1);
    // Not an assertion: the sender must be joined whatever happens (its send gives up after 10 s).
    EXPECT_TRUE(sentWaiting());
    // As after a slow write: the thread has not answered for a while.
    ::Sleep(50);
    WriteServiceLog(L"PL", L"CATCH_MSG", L"slow");
    EXPECT_FALSE(sentWaiting());
    MSG message;
    while (sentWaiting())
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    sender.join();
    ::DestroyWindow(window);
    EXPECT_EQ(CurrentLogRecords(), std::vector<std::wstring>{L"PL,CATCH_MSG,slow"});
    ClearServiceLog();
}

std::wstring Record(const std::wstring& message)
{
    return L"PL,CATCH_MSG," + message;
}

TEST(LogRecordWriter, RecordsOfManyThreadsAreAllKeptInEachThreadsOrder)
{
    ClearServiceLog();
    constexpr int kThreads = 3;
    constexpr int kRecords = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back([t] {
            for (int i = 0; i < kRecords; ++i)
            {
                WriteServiceLog(L"PL", L"CATCH_MSG", std::to_wstring(t) + L"," + std::to_wstring(i));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    std::vector<std::wstring> records = CurrentLogRecords();
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kRecords));
    std::vector<int> next(kThreads, 0);
    for (const std::wstring& record : records)
    {
        std::wstring fields = record.substr(Record(L"").size());
        size_t comma = fields.find(L',');
        ASSERT_NE(comma, std::wstring::npos) << record;
        int thread = std::stoi(fields.substr(0, comma));
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << record;
        EXPECT_EQ(std::stoi(fields.substr(comma + 1)), next[thread]++) << record;
    }
    ClearServiceLog();
}
} // namespace

// Processes of two threads each write at once, one thread of each archiving now and then,
// beside another process of the session (hostile, or a writer whose turns last long on a busy
// machine) or none: every record lands in exactly one file, whole, each writer's records in
// their order, and the files in the order of their names hold the records in the order of their
// timestamps. What the lock could not do is said once by each writer; no record goes beside a
// holder of the current file but of every lock (then one writer: several processes' appends are
// atomic on a local NTFS volume, not under Wine).
struct QMHostileLockCase
{
    const char* m_szName;
    const wchar_t* m_szHostile; // qm_test_child arguments, or none
    int m_nRecords;
    const wchar_t* m_szNotice; // of each writer, or none
    bool m_bNameKeptOpen;      // by this process, so that the lock outlives its hostile holder
    int m_nWriters = 3;
    int m_nBusy = 0; // processes that keep a processor busy meanwhile
};

class LogAcrossProcesses : public ::testing::TestWithParam<QMHostileLockCase>
{
};

TEST_P(LogAcrossProcesses, EveryRecordIsInOneFileWholeAndInTimeOrder)
{
    const QMHostileLockCase& param = GetParam();
    ClearServiceLog();
    // This process wrote records before: its handle would keep the name from the hostile one.
    ResetLogLockForTest();
    CQMKernelHandle name(param.m_bNameKeptOpen ? ::CreateMutexW(nullptr, FALSE, L"Tavrin_Inc_ZL_QM_LOG_v1") : nullptr);
    const int kProcesses = param.m_nWriters;
    std::vector<std::unique_ptr<CChildProcess>> busy;
    for (int i = 0; i < param.m_nBusy; ++i)
        busy.push_back(std::make_unique<CChildProcess>(L"busy"));
    CNamedEventForTest go;
    CNamedEventForTest ready;
    std::unique_ptr<CChildProcess> hostile;
    if (param.m_szHostile != nullptr)
    {
        hostile = std::make_unique<CChildProcess>(param.m_szHostile, std::vector<std::pair<std::wstring, std::wstring>>{
                                                                         {L"QM_TEST_READY", ready.Name()}});
        ASSERT_TRUE(hostile->Started());
        // One that dies holding the lock is ready once it is gone.
        if (std::wstring(param.m_szHostile) == L"lock die")
            ASSERT_TRUE(hostile->Wait(10000));
        else
            ASSERT_TRUE(ready.Wait(10000));
    }
    const int count = param.m_nRecords;
    std::vector<std::unique_ptr<CChildProcess>> writers;
    for (int p = 0; p < kProcesses; ++p)
        writers.push_back(std::make_unique<CChildProcess>(L"log W" + std::to_wstring(p) + L" " +
                                                              std::to_wstring(count) + L" 100",
                                                          std::vector<std::pair<std::wstring, std::wstring>>{
                                                              {L"QM_TEST_GO", go.Name()}}));
    for (const auto& writer : writers)
        ASSERT_TRUE(writer->Started());
    go.Set();
    for (const auto& writer : writers)
    {
        DWORD code = 1;
        ASSERT_TRUE(writer->Wait(120000, &code));
        EXPECT_EQ(code, 0u);
    }
    // A writer beside them ends of itself.
    if (param.m_szHostile != nullptr && std::wstring(param.m_szHostile).rfind(L"slow", 0) == 0)
        ASSERT_TRUE(hostile->Wait(60000));

    // A torn or glued record fails the reading: a line without its timestamp or line end.
    std::vector<std::wstring> timestamps;
    std::vector<std::wstring> records = AllLogRecords(&timestamps);
    EXPECT_TRUE(std::is_sorted(timestamps.begin(), timestamps.end())) << "out of time order";
    std::map<std::wstring, int> next;
    int traced = 0;
    int notices = 0;
    for (const std::wstring& record : records)
    {
        const std::wstring notice = L"PL,LOG_LOCK,";
        if (record.compare(0, notice.size(), notice) == 0)
        {
            // A writer's turn that lasts long may see the mutex passed by: a record says so.
            if (param.m_szNotice != nullptr && record.find(param.m_szNotice) != std::wstring::npos)
                ++notices;
            else
                EXPECT_EQ(record.find(L"beside"), std::wstring::npos) << WideToUtf8(record);
            continue;
        }
        const std::wstring prefix = L"PL,CATCH_MSG,";
        ASSERT_EQ(record.compare(0, prefix.size(), prefix), 0) << WideToUtf8(record);
        std::wstring fields = record.substr(prefix.size());
        size_t comma = fields.find(L',');
        ASSERT_NE(comma, std::wstring::npos) << WideToUtf8(record);
        EXPECT_EQ(std::stoi(fields.substr(comma + 1)), next[fields.substr(0, comma)]++) << WideToUtf8(fields);
        traced += fields[0] == L'W' ? 1 : 0;
    }
    EXPECT_EQ(traced, kProcesses * 2 * count);
    EXPECT_EQ(next.size(), static_cast<size_t>(kProcesses * 2) + next.count(L"S.0"));
    EXPECT_EQ(notices, param.m_szNotice != nullptr ? kProcesses : 0);
    // A holder of the current file that shares no deletion keeps every record in it.
    EXPECT_EQ(ArchiveNames().empty(), param.m_szHostile != nullptr && std::wstring(param.m_szHostile) == L"lock every");
    hostile.reset();
    ResetLogLockForTest();
    ClearServiceLog();
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, LogAcrossProcesses,
    ::testing::Values(QMHostileLockCase{"None", nullptr, 1000, nullptr, false},
                      QMHostileLockCase{"NameTakenByAnEvent", L"lock squat", 400, L"cannot be opened", false},
                      QMHostileLockCase{"HolderNeverLetsGo", L"lock hold", 400, L"kept it longer", false},
                      QMHostileLockCase{"SuspendedHolder", L"lock suspend", 400, L"kept it longer", false},
                      QMHostileLockCase{"HolderDiedInItsAppend", L"lock die", 400, nullptr, true},
                      QMHostileLockCase{"LastHolderDiedInItsAppend", L"lock die", 400, nullptr, false},
                      QMHostileLockCase{"SlowWriterOnABusyMachine", L"slow 40 150 25", 400, nullptr, false, 3, 2},
                      QMHostileLockCase{"HolderOfEveryLock", L"lock every", 400, L"beside", false, 1}),
    [](const ::testing::TestParamInfo<QMHostileLockCase>& info) { return std::string(info.param.m_szName); });

// A record cut short (a full disk, a writer that died in its append) is taken back, so that the
// next one starts a line of its own.
TEST(LogRecordWriter, RollBackTakesBackWhatFollowsTheLastWholeLine)
{
    CTempFolder temp;
    const std::string whole = std::string(kBom) + "2026,PL,A\r\n2026,PL,B \"x\ny\"\r\n";
    const struct
    {
        const char* label;
        std::string before, after;
    } cases[] = {
        {"whole", whole, whole},
        {"a head after the last line", whole + "2026,PL,C", whole},
        {"a head ending in a line feed of its message", whole + "2026,PL,\"a\n", whole},
        {"a head longer than the block read at a time", whole + "2026,PL," + std::string(200000, 'x'), whole},
        {"nothing whole", std::string(kBom) + "2026,P", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring file = temp.Child(L"log.txt");
        ASSERT_TRUE(WriteFileBytes(file, c.before));
        EXPECT_TRUE(RollBackToLastWholeLine(PlatformPathForTest(file)));
        EXPECT_EQ(ReadFileBytes(file), c.after);
    }
}

// On a full disk records are dropped whole: the file never holds the head of one, and once
// there is room again the records go on, each on its own line.
TEST(LogRecordWriter, FullDiskDropsWholeRecordsOnly)
{
    CSmallVolume volume;
    if (!volume.Available())
        GTEST_SKIP() << CSmallVolume::SkipReason();
    std::wstring file = volume.Child(L"log.txt");
    ASSERT_TRUE(AppendLogRecord(file, L"first"));
    ASSERT_TRUE(volume.Fill(300));
    const std::wstring record(100, L'r');
    // More than the block the file has already: the disk fills on the way.
    int written = 0;
    for (int i = 0; i < 100; ++i)
        written += AppendLogRecord(file, record) ? 1 : 0;
    EXPECT_LT(written, 100) << "the disk never filled";
    volume.Release();
    ASSERT_TRUE(AppendLogRecord(file, L"after"));
    std::string expected = std::string(kBom) + "first\r\n";
    for (int i = 0; i < written; ++i)
        expected += WideToUtf8(record) + "\r\n";
    EXPECT_EQ(ReadFileBytes(file), expected + "after\r\n");
}
