#include "log/ServiceLog.h"
#include "ui/MutexProbe.h"
#include "ui/ProgressWindow.h"

#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

namespace
{
struct CallbackCall
{
    int type;
    int percent;
    std::wstring id;
    unsigned itemsDone, itemsTotal;
    unsigned long long bytesDone, bytesTotal;
};

std::vector<CallbackCall> g_calls;
std::vector<unsigned char> g_answers; // what the callback returns, call by call (then true)

unsigned char __stdcall RecordingCallback(int type, int percent, const wchar_t* id, unsigned itemsDone, unsigned itemsTotal,
                                   unsigned long long bytesDone, unsigned long long bytesTotal)
{
    g_calls.push_back({type, percent, id, itemsDone, itemsTotal, bytesDone, bytesTotal});
    return g_calls.size() <= g_answers.size() ? g_answers[g_calls.size() - 1] : true;
}

int g_nCancels = 0;

LRESULT CALLBACK CountingUpdaterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_QM_CANCEL)
    {
        ++g_nCancels;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

const char kActionList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ActionList ParentAppName=\"App1\" ComponentType=\"plugin\">\r\n"
    "     <Component ID=\"CompA\" Action=\"update\" Path=\"a\" Version=\"1\" Result=\"\"/>\r\n"
    "     <Component ID=\"CompB\" Action=\"add\" Path=\"b\" Version=\"2\" Result=\"\"/>\r\n"
    "</ActionList>\r\n";

class ProgressWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_hModule = ::LoadLibraryW(L"Pellorin.dll");
        ASSERT_NE(m_hModule, nullptr);
        ClearServiceLog();
        g_calls.clear();
        g_answers.clear();
        g_nCancels = 0;
        m_strList = m_folder.Child(L"list.xml");
        ASSERT_TRUE(WriteFileBytes(m_strList, kActionList));
        ASSERT_TRUE(PrepareProgressContext(m_strList, m_context, RecordingCallback));
        ASSERT_NE(CreateProgressWindow(m_context), nullptr);

        WNDCLASSW updaterClass = {};
        updaterClass.lpfnWndProc = CountingUpdaterProc;
        updaterClass.hInstance = ::GetModuleHandleW(nullptr);
        updaterClass.lpszClassName = L"QMTestUpdater";
        ::RegisterClassW(&updaterClass);
        m_hUpdater = ::CreateWindowExW(0, L"QMTestUpdater", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(m_hUpdater, nullptr);
    }

    void TearDown() override
    {
        if (!m_context.m_bClosed)
            ::DestroyWindow(m_context.m_hProgressWnd);
        RunProgressMessageLoop(m_context);
        ::DestroyWindow(m_hUpdater);
        ClearServiceLog();
        ::FreeLibrary(m_hModule);
    }

    LRESULT Send(unsigned type, const wchar_t* id, unsigned long long bytesDone, unsigned long long bytesTotal,
                 unsigned itemsDone, unsigned itemsTotal, int code, ULONG_PTR tag = QM_COPYDATA_PROGRESS,
                 DWORD bytes = sizeof(QMProgressData))
    {
        QMProgressData record = {};
        record.m_hUpdaterWnd = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(m_hUpdater));
        record.m_nType = type;
        wcsncpy(record.m_szComponentId, id, kComponentIdUnits - 1);
        record.m_nBytesDone = bytesDone;
        record.m_nBytesTotal = bytesTotal;
        record.m_nItemsDone = itemsDone;
        record.m_nItemsTotal = itemsTotal;
        record.m_nCode = code;
        return SendRaw(record, tag, bytes);
    }

    LRESULT SendRaw(const QMProgressData& record, ULONG_PTR tag, DWORD bytes, bool withData = true)
    {
        COPYDATASTRUCT copy = {};
        copy.dwData = tag;
        copy.cbData = bytes;
        copy.lpData = withData ? const_cast<QMProgressData*>(&record) : nullptr;
        return ::SendMessageW(m_context.m_hProgressWnd, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy));
    }

    std::vector<std::wstring> Results()
    {
        CQMActionListXML saved;
        EXPECT_EQ(saved.Load(m_strList), QM_ACTIONLIST_LOADED);
        std::vector<std::wstring> results;
        for (const QMComponentRecord& component : saved.GetComponents())
            results.push_back(component[QM_COMPONENT_RESULT]);
        return results;
    }

    HMODULE m_hModule = nullptr;
    CTempFolder m_folder;
    std::wstring m_strList;
    QMProgressContext m_context;
    HWND m_hUpdater = nullptr;
};

TEST_F(ProgressWindowTest, DownloadPercentagesAndTheirLogRecords)
{
    for (unsigned long long done : {0ull, 5ull, 10ull, 10ull, 25ull})
        Send(QM_PROGRESS_DOWNLOAD, L"CompA", done, 100, 0, 0, 0);
    ASSERT_EQ(g_calls.size(), 5u);
    const int expected[] = {0, 5, 10, 10, 25};
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(g_calls[i].percent, expected[i]);
    EXPECT_EQ(g_calls[2].id, L"CompA");
    EXPECT_EQ(g_calls[2].bytesDone, 10u);
    EXPECT_EQ(g_calls[2].bytesTotal, 100u);
    std::vector<std::wstring> records = CurrentLogRecords();
    std::vector<std::wstring> logged = {L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,0",
                                        L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,10"};
    EXPECT_EQ(records, logged);
}

TEST_F(ProgressWindowTest, PercentagesOfZeroTotalsAndItems)
{
    Send(QM_PROGRESS_DOWNLOAD, L"CompA", 50, 0, 0, 0, 0);
    Send(QM_PROGRESS_UPDATE, L"CompA", 0, 0, 3, 4, 0);
    Send(QM_PROGRESS_EXTRACT, L"CompA", 0, 0, 5, 0, 0);
    Send(QM_PROGRESS_DOWNLOAD, L"CompA", 300, 100, 0, 0, 0);
    ASSERT_EQ(g_calls.size(), 4u);
    EXPECT_EQ(g_calls[0].percent, 0);
    EXPECT_EQ(g_calls[1].percent, 75);
    EXPECT_EQ(g_calls[1].itemsDone, 3u);
    EXPECT_EQ(g_calls[1].itemsTotal, 4u);
    EXPECT_EQ(g_calls[2].percent, 0);
    EXPECT_EQ(g_calls[3].percent, 300) << "not clamped";
    // The first download differs from the starting 100 and is a multiple of 10: logged, as is 300.
    std::vector<std::wstring> logged = {L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,0",
                                        L"PL,CATCH_MSG,UpdateComponents,TYPE_UPDATE",
                                        L"PL,CATCH_MSG,UpdateComponents,TYPE_EXTRACT",
                                        L"PL,CATCH_MSG,UpdateComponents,TYPE_DOWNLOAD,300"};
    EXPECT_EQ(CurrentLogRecords(), logged);
}

TEST_F(ProgressWindowTest, CodesSetResultsAndTheFinishRecordSavesThem)
{
    Send(QM_PROGRESS_EXTRACT, L"CompA", 0, 0, 1, 1, 0);
    Send(QM_PROGRESS_EXTRACT, L"CompB", 0, 0, 1, 1, 7);
    Send(QM_PROGRESS_ADD, L"Unknown", 0, 0, 1, 1, 9);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"", L""})) << "nothing saved before the finish record";
    Send(QM_PROGRESS_FINISH, L"", 0, 0, 0, 0, 14);
    EXPECT_TRUE(m_context.m_bClosed);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"7"}));
}

TEST_F(ProgressWindowTest, FinishCodeOtherThan14SetsEveryResult)
{
    Send(QM_PROGRESS_UPDATE, L"CompB", 0, 0, 1, 1, 7);
    Send(QM_PROGRESS_FINISH, L"", 0, 0, 0, 0, 3);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"3", L"3"}));
}

TEST_F(ProgressWindowTest, CancelIsRelayedAfterEveryLaterRecordAndTheFinish)
{
    g_answers = {true, false};
    Send(QM_PROGRESS_DOWNLOAD, L"CompA", 1, 10, 0, 0, 0);
    EXPECT_EQ(g_nCancels, 0);
    Send(QM_PROGRESS_DOWNLOAD, L"CompA", 2, 10, 0, 0, 0);
    EXPECT_EQ(g_nCancels, 1);
    Send(QM_PROGRESS_UPDATE, L"CompA", 0, 0, 1, 2, 0);
    EXPECT_EQ(g_nCancels, 2);
    Send(QM_PROGRESS_FINISH, L"", 0, 0, 0, 0, 2);
    EXPECT_EQ(g_nCancels, 3);
}

TEST_F(ProgressWindowTest, WithoutCallbackResultsAreKeptAndNothingIsLogged)
{
    m_context.m_pfnCallback = nullptr;
    Send(QM_PROGRESS_DOWNLOAD, L"CompA", 10, 100, 0, 0, 5);
    Send(QM_PROGRESS_UPDATE, L"CompB", 0, 0, 1, 2, 0);
    Send(QM_PROGRESS_FINISH, L"", 0, 0, 0, 0, 14);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_TRUE(CurrentLogRecords().empty());
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"5", L"0"}));
}

TEST_F(ProgressWindowTest, MalformedRecordsAreIgnored)
{
    QMProgressData record = {};
    record.m_nType = QM_PROGRESS_FINISH;
    record.m_nCode = 3;
    SendRaw(record, QM_COPYDATA_PROGRESS, sizeof(record) - 1);
    SendRaw(record, QM_COPYDATA_PROGRESS, sizeof(record) + 1);
    SendRaw(record, QM_COPYDATA_PROGRESS, 0);
    SendRaw(record, QM_COPYDATA_PROGRESS, sizeof(record), false);
    SendRaw(record, 999, sizeof(record));
    record.m_nType = 6;
    SendRaw(record, QM_COPYDATA_PROGRESS, sizeof(record));
    EXPECT_FALSE(m_context.m_bClosed);
    EXPECT_TRUE(g_calls.empty());

    // An ID without its terminator is read as cut at 255 units.
    QMProgressData unterminated = {};
    unterminated.m_nType = QM_PROGRESS_UPDATE;
    for (size_t i = 0; i < kComponentIdUnits; ++i)
        unterminated.m_szComponentId[i] = L'x';
    SendRaw(unterminated, QM_COPYDATA_PROGRESS, sizeof(unterminated));
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].id, std::wstring(255, L'x'));
}

TEST_F(ProgressWindowTest, FinishNoticeMarksEveryComponent16)
{
    SendFinishNotice(m_context.m_hProgressWnd, L"", L"");
    EXPECT_TRUE(m_context.m_bClosed);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"16", L"16"}));
}

TEST_F(ProgressWindowTest, DoneMessageStoresTheFlagAndLogs)
{
    EXPECT_EQ(m_context.m_nLaunchFlag, 1);
    ::SendMessageW(m_context.m_hProgressWnd, WM_QM_CHECK_DONE, 0, 0);
    EXPECT_FALSE(m_context.m_bClosed) << "a component update's window takes no done message";

    m_context.m_bLaunchCheck = true;
    m_context.m_nDoneKey = MakeDoneKey();
    ::SendMessageW(m_context.m_hProgressWnd, WM_QM_CHECK_DONE, m_context.m_nDoneKey + 1, 0);
    ::SendMessageW(m_context.m_hProgressWnd, WM_QM_SAVE_AND_CLOSE, 0, 0);
    EXPECT_FALSE(m_context.m_bClosed) << "a wrong key and the save message leave a launch check's window open";
    ::SendMessageW(m_context.m_hProgressWnd, WM_QM_CHECK_DONE, m_context.m_nDoneKey, 0);
    EXPECT_TRUE(m_context.m_bClosed);
    EXPECT_EQ(m_context.m_nLaunchFlag, 0);
    EXPECT_EQ(CurrentLogRecords(), (std::vector<std::wstring>{L"PL,CATCH_MSG,LaunchCheck"}));
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"", L""})) << "the done message saves nothing";
}

TEST_F(ProgressWindowTest, SaveAndCloseFromOutsideKeepsTheFlagDefined)
{
    Send(QM_PROGRESS_UPDATE, L"CompA", 0, 0, 1, 1, 4);
    ::SendMessageW(m_context.m_hProgressWnd, WM_QM_SAVE_AND_CLOSE, 0, 0);
    EXPECT_TRUE(m_context.m_bClosed);
    EXPECT_EQ(m_context.m_nLaunchFlag, 1);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"4", L"0"}));
}

// The close is sent before the loop begins, so the loop takes it before the quit: a request
// that came after the update had ended, which no updater could have had.
TEST_F(ProgressWindowTest, LoopEndsWhenTheWindowClosesAndKeepsTheHostsQuit)
{
    ::PostQuitMessage(7);
    HWND window = m_context.m_hProgressWnd;
    std::thread finisher([window] { ::SendMessageW(window, WM_QM_SAVE_AND_CLOSE, 0, 0); });
    ::Sleep(200);
    RunProgressMessageLoop(m_context);
    finisher.join();
    EXPECT_TRUE(m_context.m_bClosed);
    MSG message = {};
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
    std::vector<std::wstring> records = CurrentLogRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1], L"PL,CANCEL,UpdateComponents,the host quit,,before the first record");
    EXPECT_EQ(records[2], L"PL,CANCEL,UpdateComponents,the update was closed before the cancel request reached the "
                          L"updater,closed early by message 2029");
}

TEST_F(ProgressWindowTest, WindowClosedOutsideTheLoopLeavesNoQuitForTheHost)
{
    // A call that gives up before its loop (busy after all) closes the window itself.
    CloseProgressWindow(m_context);
    EXPECT_TRUE(m_context.m_bClosed);
    EXPECT_FALSE(::IsWindow(m_context.m_hProgressWnd));
    MSG message = {};
    EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "a quit left behind would end the host's own message loop";
}

// Any thread or process can find the window by its class and send it anything.
TEST_F(ProgressWindowTest, ForeignMessagesNeitherCloseTheWindowNorReplaceItsContext)
{
    HWND window = m_context.m_hProgressWnd;
    std::atomic<bool> sent{false};
    std::thread other([window, &sent] {
        ::PostMessageW(window, WM_DESTROY, 0, 0);
        ::SendMessageW(window, WM_DESTROY, 0, 0);
        ::SendMessageW(window, WM_NCDESTROY, 0, 0);
        ::SendMessageW(window, WM_CLOSE, 0, 0);
        CREATESTRUCTW foreign = {};
        foreign.lpCreateParams = reinterpret_cast<void*>(0x12345678);
        ::SendMessageW(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&foreign));
        sent = true;
    });
    // Pump as the loop would, until the sends are through and the posted message is handled.
    for (int round = 0; round < 2 || !sent; ++round)
    {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&message);
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, 0);
    }
    other.join();
    EXPECT_FALSE(m_context.m_bClosed);
    ASSERT_TRUE(::IsWindow(window));
    Send(QM_PROGRESS_UPDATE, L"CompB", 0, 0, 1, 1, 9);
    ASSERT_EQ(g_calls.size(), 1u) << "the window still works with its own context";
    Send(QM_PROGRESS_FINISH, L"", 0, 0, 0, 0, 14);
    EXPECT_TRUE(m_context.m_bClosed);
    EXPECT_EQ(Results(), (std::vector<std::wstring>{L"0", L"9"}));
}

TEST(MutexProbe, FindsOnlyExistingMutexes)
{
    std::wstring name = L"QMTestProbe_" + std::to_wstring(::GetCurrentProcessId());
    EXPECT_FALSE(IsAnyMutexPresent({name}));
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    EXPECT_TRUE(IsAnyMutexPresent({L"QMTestNoSuchMutex", name}));
    ::CloseHandle(mutex);
    EXPECT_FALSE(IsAnyMutexPresent({name}));
    EXPECT_FALSE(IsAnyMutexPresent({}));
}

// A mutex made by an elevated process refuses a standard one: it is there all the same.
TEST(MutexProbe, MutexThatRefusesAccessCountsAsPresent)
{
    std::wstring name = L"QMTestLocked_" + std::to_wstring(::GetCurrentProcessId());
    ACL emptyAcl;
    ASSERT_TRUE(::InitializeAcl(&emptyAcl, sizeof(emptyAcl), ACL_REVISION));
    SECURITY_DESCRIPTOR descriptor;
    ASSERT_TRUE(::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(::SetSecurityDescriptorDacl(&descriptor, TRUE, &emptyAcl, FALSE));
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    HANDLE mutex = ::CreateMutexW(&attributes, FALSE, name.c_str());
    ASSERT_NE(mutex, nullptr);
    HANDLE opened = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    DWORD error = ::GetLastError();
    if (opened != nullptr)
    {
        ::CloseHandle(opened);
        ::CloseHandle(mutex);
        GTEST_SKIP() << "Wine does not apply a mutex's empty access list to its own user";
    }
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsAnyMutexPresent({name}));
    ::CloseHandle(mutex);
}
} // namespace
