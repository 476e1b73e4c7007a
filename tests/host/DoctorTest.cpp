#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/RegistryForTest.h"
#include "support/ServiceLogReader.h"
#include "support/SmallVolume.h"
#include "support/StandInUpdater.h"
#include "sys/Handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace
{
const wchar_t kBusyMutex[] = L"Tavrin_Inc_ZL_QM_PL_v1";
const wchar_t kUIMutex[] = L"Tavrin_Inc_ZL_QM_UI_v1";
const wchar_t kProgressClass[] = L"Tavrin.ZL.Quelmar.StartPellorin.1.1.0";
const wchar_t kCurrentLogFile[] = L"Tavrin_ACT_SERVICELOG_tmp.txt";
// The doctor reads the registration where modules of either width read it.
const std::wstring kRegistered = L"registered in the 32-bit registry view";

struct DoctorRun
{
    DWORD m_nExitCode = 0xFFFFFFFF;
    std::wstring m_strOutput;

    bool Has(const std::wstring& text) const { return m_strOutput.find(text) != std::wstring::npos; }
};

// Runs "qmhost.exe <arguments>" with its output captured; a run that hangs is ended after a minute.
DoctorRun RunQmhost(const std::wstring& arguments)
{
    DoctorRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    CQMKernelHandle readEnd;
    CQMKernelHandle writeEnd;
    // Large enough for the whole report, so the child never waits for this side to read.
    if (!::CreatePipe(readEnd.Put(), writeEnd.Put(), &inherit, 1 << 20))
        return run;
    ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.Get();
    startup.hStdError = writeEnd.Get();
    std::wstring exe = BinFolder() + L"qmhost.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process))
        return run;
    CQMKernelHandle child(process.hProcess);
    CQMKernelHandle thread(process.hThread);
    writeEnd.Reset();
    if (::WaitForSingleObject(child.Get(), 60000) != WAIT_OBJECT_0)
    {
        ::TerminateProcess(child.Get(), 99);
        ADD_FAILURE() << "qmhost did not end within a minute";
    }
    ::GetExitCodeProcess(child.Get(), &run.m_nExitCode);
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (::ReadFile(readEnd.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    run.m_strOutput = Utf8ToWide(bytes);
    return run;
}

DoctorRun RunDoctor()
{
    return RunQmhost(L"doctor");
}

// A message-only window of the progress class, as a running launch check or update owns one.
class CProgressWindowForTest
{
public:
    CProgressWindowForTest()
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ::DefWindowProcW;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kProgressClass;
        m_bRegistered = ::RegisterClassW(&windowClass) != 0;
        m_hWnd = ::CreateWindowExW(0, kProgressClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                                   nullptr);
    }
    ~CProgressWindowForTest()
    {
        if (m_hWnd != nullptr)
            ::DestroyWindow(m_hWnd);
        if (m_bRegistered)
            ::UnregisterClassW(kProgressClass, ::GetModuleHandleW(nullptr));
    }
    CProgressWindowForTest(const CProgressWindowForTest&) = delete;
    CProgressWindowForTest& operator=(const CProgressWindowForTest&) = delete;

    HWND Handle() const { return m_hWnd; }

private:
    bool m_bRegistered = false;
    HWND m_hWnd = nullptr;
};

class DoctorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        RemoveFolderTree(CStandInUpdater::WorkFolder());
    }
    void TearDown() override
    {
        DeleteFileForTest(ServiceLogFolderForTest()); // a file put in the folder's way
        ClearServiceLog();
    }

    std::wstring LogFile(const std::wstring& name) const { return ServiceLogFolderForTest() + L"/" + name; }

    CVestabelRegistration m_registration;
};

TEST_F(DoctorTest, RegisteredStandInIsAllOkAndShowsTheLastRecords)
{
    CStandInUpdater updater;
    ASSERT_TRUE(CreateFolderPathForTest(ServiceLogFolderForTest()));
    ASSERT_TRUE(CreateFolderPathForTest(CStandInUpdater::WorkFolder()));
    // Ten lines end the log: three from the older archive, seven from the current file.
    std::string archive = "\xEF\xBB\xBF";
    for (int i = 1; i <= 5; ++i)
        archive += "2026-12-07-10-00-00-00" + std::to_string(i) + ",PL,API_CALL,LaunchCheck,archived" +
                   std::to_string(i) + "\r\n";
    std::string current = "\xEF\xBB\xBF";
    for (int i = 1; i <= 7; ++i)
        current += "2026-12-07-11-00-00-00" + std::to_string(i) + ",PL,API_CALL,LaunchCheck,current" +
                   std::to_string(i) + "\r\n";
    ASSERT_TRUE(WriteFileBytes(LogFile(L"Tavrin_ACT_SERVICELOG_20261207100001.txt"), archive));
    ASSERT_TRUE(WriteFileBytes(LogFile(kCurrentLogFile), current));
    ASSERT_TRUE(WriteFileBytes(CStandInUpdater::WorkFolder() + L"/App_1.xml", "<AppName>App</AppName>"));
    ASSERT_TRUE(WriteFileBytes(CStandInUpdater::WorkFolder() + L"/App_2.xml", "<AppName>App</AppName>"));
    ASSERT_TRUE(WriteFileBytes(CStandInUpdater::WorkFolder() + L"/RESULT_App_1.xml", "<Result/>"));

    DoctorRun run = RunDoctor();
    SCOPED_TRACE(run.m_strOutput);
    EXPECT_EQ(run.m_nExitCode, 0u);
    EXPECT_TRUE(run.Has(L"ok       updater      " + kRegistered + L": " + updater.ExePath() + L"\r\n"));
    EXPECT_TRUE(run.Has(L"ok       version      1.1.0.20, at least 1.1.0: SupportComponentsManagement answers 200"));
    EXPECT_TRUE(run.Has(L"writable; 2 request and 1 result documents left\r\n"));
    EXPECT_TRUE(run.Has(L"; current file writable; 2 log files\r\n"));
    EXPECT_TRUE(run.Has(L"ok       busy mutex   Tavrin_Inc_ZL_QM_PL_v1 free\r\n"));
    EXPECT_TRUE(run.Has(L"ok       UI mutex     Tavrin_Inc_ZL_QM_UI_v1 free\r\n"));
    EXPECT_FALSE(run.Has(L"problem"));
    EXPECT_FALSE(run.Has(L"archived2\r\n"));
    EXPECT_TRUE(run.Has(L"\r\n  2026-12-07-10-00-00-003,PL,API_CALL,LaunchCheck,archived3\r\n"));
    EXPECT_TRUE(run.Has(L"archived5\r\n  2026-12-07-11-00-00-001,PL,API_CALL,LaunchCheck,current1\r\n"));
    EXPECT_TRUE(run.Has(L"current7\r\n\r\nAll checks ok.\r\n"));
    // Probes leave nothing behind: no probe file, no record, the log untouched.
    EXPECT_EQ(ListFolder(CStandInUpdater::WorkFolder(), L"*").size(), 3u);
    EXPECT_EQ(ReadFileBytes(LogFile(kCurrentLogFile)), current);
    EXPECT_EQ(ListFolder(ServiceLogFolderForTest(), L"*").size(), 2u);
}

TEST_F(DoctorTest, EmptyLogFolderIsCreatedAndOk)
{
    CStandInUpdater updater;
    DoctorRun run = RunDoctor();
    SCOPED_TRACE(run.m_strOutput);
    EXPECT_EQ(run.m_nExitCode, 0u);
    EXPECT_TRUE(run.Has(L"; no current file, folder writable; 0 log files\r\n"));
    EXPECT_TRUE(run.Has(L"writable; 0 request and 0 result documents left\r\n"));
    EXPECT_TRUE(run.Has(L"\r\nThe service log holds no records.\r\n"));
    EXPECT_TRUE(ListFolder(ServiceLogFolderForTest(), L"*").empty());
}

struct MissingCase
{
    const char* label;
    std::wstring registeredPath; // empty: nothing registered
    std::vector<std::wstring> expected;
};

TEST_F(DoctorTest, MissingUpdaterIsAProblem)
{
    const MissingCase cases[] = {
        {"not registered",
         L"",
         {L"problem  updater      not " + kRegistered +
              L" (HKLM\\SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install, "
              L"value \"Vestabel exe path\")",
          L"what to do: install the update service, or register its updater: qmhost register <updaterPath>"}},
        {"a missing file",
         BinFolder() + L"no_such_updater.exe",
         {L"problem  updater      " + kRegistered + L", but no file at " + BinFolder() + L"no_such_updater.exe\r\n",
          L"problem  version      unreadable, taken as 0.0.0.0, older than 1.1.0: SupportComponentsManagement "
          L"answers 400"}},
        {"a folder",
         BinFolder(),
         {L"problem  updater      " + kRegistered + L", but no file at " + BinFolder() + L"\r\n"}},
    };
    for (const MissingCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        if (c.registeredPath.empty())
            CVestabelRegistration::Remove();
        else
            ASSERT_TRUE(m_registration.SetPath(c.registeredPath));
        DoctorRun run = RunDoctor();
        SCOPED_TRACE(run.m_strOutput);
        EXPECT_EQ(run.m_nExitCode, 1u);
        for (const std::wstring& line : c.expected)
            EXPECT_TRUE(run.Has(line)) << WideToUtf8(line);
        EXPECT_TRUE(run.Has(L"ok       work folder"));
        EXPECT_TRUE(run.Has(L"problem(s) found.\r\n"));
    }
}

struct GateCase
{
    const wchar_t* fixture;
    const wchar_t* line;
    DWORD exitCode;
};

// The doctor's verdict names the answer the module's own gate gives for the same updater.
TEST_F(DoctorTest, VersionVerdictAgreesWithTheModulesGate)
{
    CPellorinModule module;
    ASSERT_TRUE(module.Loaded());
    const GateCase cases[] = {
        {L"qm_ver_1_1_0_13.exe",
         L"ok       version      1.1.0.13, at least 1.1.0: SupportComponentsManagement answers 200", 0},
        {L"qm_ver_1_1.exe", L"ok       version      1.1, at least 1.1.0: SupportComponentsManagement answers 200", 0},
        {L"qm_ver_1_0_9_99.exe",
         L"problem  version      1.0.9.99, older than 1.1.0: SupportComponentsManagement answers 400", 1},
        {L"qm_ver_none.exe",
         L"problem  version      unreadable, taken as 0.0.0.0, older than 1.1.0: SupportComponentsManagement answers "
         L"400",
         1},
    };
    for (const GateCase& c : cases)
    {
        SCOPED_TRACE(WideToUtf8(c.fixture));
        ASSERT_TRUE(m_registration.SetPath(BinFolder() + c.fixture));
        DoctorRun run = RunDoctor();
        SCOPED_TRACE(run.m_strOutput);
        EXPECT_EQ(run.m_nExitCode, c.exitCode);
        EXPECT_TRUE(run.Has(std::wstring(c.line) + L"\r\n"));
        EXPECT_TRUE(run.Has(L"ok       updater      " + kRegistered + L": " + BinFolder() + c.fixture));
        int answer = module.m_pfnSupportComponentsManagement();
        EXPECT_TRUE(run.Has(L"answers " + std::to_wstring(answer) + L"\r\n"));
        if (c.exitCode != 0)
        {
            EXPECT_TRUE(run.Has(L"what to do: update the update service to version 1.1.0 or later\r\n"));
        }
        ClearServiceLog();
    }
}

// Running as root under Wine, read-only attributes do not bind: things in the way and a
// file held without write sharing stand for an unwritable log.
TEST_F(DoctorTest, UnwritableLogIsAProblem)
{
    CStandInUpdater updater;
    std::wstring folder = PlatformPathForTest(ServiceLogFolderForTest());

    // A file where the folder should be.
    ASSERT_TRUE(CreateFolderPathForTest(ServiceLogFolderForTest().substr(0, ServiceLogFolderForTest().rfind(L'/'))));
    ASSERT_TRUE(WriteFileBytes(ServiceLogFolderForTest(), "in the way"));
    DoctorRun run = RunDoctor();
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"problem  log folder   " + folder + L" cannot be created")) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"every record is lost until then\r\n"));
    ASSERT_TRUE(DeleteFileForTest(ServiceLogFolderForTest()));

    // A folder where the current file should be.
    ASSERT_TRUE(CreateFolderPathForTest(LogFile(kCurrentLogFile)));
    run = RunDoctor();
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"problem  log folder   " + folder + L"\\" + kCurrentLogFile + L" is a folder"))
        << WideToUtf8(run.m_strOutput);
    ClearServiceLog();

    // The current file held open by another program that shares no writing.
    ASSERT_TRUE(CreateFolderPathForTest(ServiceLogFolderForTest()));
    ASSERT_TRUE(WriteFileBytes(LogFile(kCurrentLogFile), "\xEF\xBB\xBF"));
    {
        CQMFileHandle locked(::CreateFileW((folder + L"\\" + kCurrentLogFile).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked);
        run = RunDoctor();
    }
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"problem  log folder   " + folder + L"\\" + kCurrentLogFile + L" is not writable (error 32"))
        << WideToUtf8(run.m_strOutput);
}

TEST_F(DoctorTest, FileInTheWayOfTheWorkFolderIsAProblem)
{
    CStandInUpdater updater;
    ASSERT_TRUE(WriteFileBytes(CStandInUpdater::WorkFolder(), "in the way"));
    DoctorRun run = RunDoctor();
    DeleteFileForTest(CStandInUpdater::WorkFolder());
    SCOPED_TRACE(run.m_strOutput);
    EXPECT_EQ(run.m_nExitCode, 1u);
    EXPECT_TRUE(run.Has(L"problem  work folder  " + PlatformPathForTest(CStandInUpdater::WorkFolder()) +
                        L" is not writable (error "));
    EXPECT_TRUE(run.Has(L"no request reaches the updater until then\r\n"));
    EXPECT_TRUE(run.Has(L"ok       log folder"));
}

TEST_F(DoctorTest, HeldMutexesAreProblemsWithTheirHolders)
{
    CStandInUpdater updater;

    // Held elsewhere by a process without a progress window: the holder cannot be told.
    ASSERT_TRUE(updater.HoldMutexElsewhere(kBusyMutex, 60000));
    DoctorRun run = RunDoctor();
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"problem  busy mutex   Tavrin_Inc_ZL_QM_PL_v1 held by unknown\r\n"))
        << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"what to do: a launch check or component update is running"));
    EXPECT_TRUE(run.Has(L"ok       UI mutex"));

    // The updater's helper holds the UI mutex: named by the registered updater's file name.
    ASSERT_TRUE(updater.HoldMutexElsewhere(kUIMutex, 60000));
    run = RunDoctor();
    EXPECT_TRUE(run.Has(L"problem  UI mutex     Tavrin_Inc_ZL_QM_UI_v1 held, likely by process "))
        << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"VestabelStandIn.exe)\r\n")) << WideToUtf8(run.m_strOutput);
}

TEST_F(DoctorTest, BusyMutexHolderIsTheOwnerOfAProgressWindow)
{
    CStandInUpdater updater;
    CProgressWindowForTest window;
    ASSERT_NE(window.Handle(), nullptr);
    CQMKernelHandle busy(::CreateMutexW(nullptr, TRUE, kBusyMutex));
    ASSERT_TRUE(busy);

    DoctorRun run = RunDoctor();
    SCOPED_TRACE(run.m_strOutput);
    EXPECT_EQ(run.m_nExitCode, 1u);
    std::wstring holder = L"problem  busy mutex   Tavrin_Inc_ZL_QM_PL_v1 held by process " +
                          std::to_wstring(::GetCurrentProcessId()) + L" (";
    ASSERT_TRUE(run.Has(holder));
    std::wstring image = run.m_strOutput.substr(run.m_strOutput.find(holder) + holder.size());
    image = image.substr(0, image.find(L")\r\n"));
    EXPECT_EQ(_wcsicmp(image.c_str(), TestProgramPath().c_str()), 0) << WideToUtf8(image);
}
} // namespace

namespace
{
// Redirected output is UTF-8 whatever the code page: paths in any script come out whole.
TEST(QmhostOutput, PathsOutsideTheCodePageComeOutWhole)
{
    CStandInUpdater updater;
    CTempFolder folder;
    std::wstring temp = folder.Child(L"\u5C71\u7530\u592A\u90CE");
    ASSERT_TRUE(MakeFolder(temp));
    DoctorRun run;
    {
        CTemporaryFolderOverride override(temp);
        run = RunQmhost(L"demo");
    }
    EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"(list: " + PlatformPathForTest(temp) + L"\\qmhost_installed.xml)")) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"Component results in " + PlatformPathForTest(temp) + L"\\qmhost_actionlist.xml"));
    EXPECT_TRUE(run.Has(L"demo: the updater registration is back to ")) << "the fixture's registration is put back";
}
} // namespace

namespace
{
// The demo puts the registration it found back as it was, type and all, and leaves one it
// cannot read whole alone rather than lose it.
TEST(QmhostDemo, PutsTheRegistrationBackAsItWasOrLeavesItAlone)
{
    CStandInUpdater updater;
    const struct
    {
        const char* label;
        std::wstring value;
        DWORD type;
        DWORD exitCode;
    } cases[] = {
        {"a path to expand", L"%ProgramFiles%\\Service\\updater.exe", REG_EXPAND_SZ, 0},
        {"longer than the demo reads", L"C:\\" + std::wstring(1500, L'p') + L".exe", REG_SZ, 1},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CVestabelRegistration registration;
        ASSERT_TRUE(registration.SetRaw(c.value.c_str(), DWORD((c.value.size() + 1) * sizeof(wchar_t)), c.type));
        DoctorRun run = RunQmhost(L"demo");
        EXPECT_EQ(run.m_nExitCode, c.exitCode) << WideToUtf8(run.m_strOutput);
        std::vector<wchar_t> after(4096);
        DWORD size = DWORD(after.size() * sizeof(wchar_t)), type = 0;
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install", 0,
                                  KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key),
                  ERROR_SUCCESS);
        LONG read = ::RegQueryValueExW(key, L"Vestabel exe path", nullptr, &type, reinterpret_cast<BYTE*>(after.data()), &size);
        ::RegCloseKey(key);
        ASSERT_EQ(read, ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(std::wstring(after.data()), c.value);
    }
}

// The doctor reads a list as UpdateComponents does: the same verdict, the same reason.
TEST(DoctorListCheck, SaysWhetherTheCallWouldTakeTheListAndWhyNot)
{
    CTempFolder folder;
    const struct
    {
        const char* label;
        const char* bytes; // null: no file; "": a folder
        DWORD exitCode;
        std::wstring says;
    } cases[] = {
        {"two components and one without Action",
         "<ActionList ParentAppName=\"A\"><Component ID=\"a\" Action=\"update\"/><Component ID=\"b\" "
         "Action=\"add\"/><Component ID=\"c\"/></ActionList>",
         0, L"2 component(s): UpdateComponents rewrites the list"},
        {"a tag that does not match", "<ActionList>\r\n<Component ID=\"a\" Action=\"u\"></ActionList>", 1,
         L"the action list is not well-formed (line 2 column "},
        {"another root", "<List><Component ID=\"a\" Action=\"u\"/></List>", 1,
         L"the action list's root is List instead of ActionList"},
        {"no components", "<ActionList ParentAppName=\"A\"/>", 1, L"the action list names no component"},
        {"missing", nullptr, 1, L"the action list does not exist: UpdateComponents answers 100 and writes an empty list"},
        {"a folder", "", 1, L"the action list is a folder"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring list = folder.Child(Utf8ToWide(c.label) + L".xml");
        if (c.bytes != nullptr && c.bytes[0] != '\0')
        {
            ASSERT_TRUE(WriteFileBytes(list, c.bytes));
        }
        else if (c.bytes != nullptr)
        {
            ASSERT_TRUE(MakeFolder(list));
        }
        DoctorRun run = RunQmhost(L"doctor --list \"" + PlatformPathForTest(list) + L"\"");
        EXPECT_EQ(run.m_nExitCode, c.exitCode) << WideToUtf8(run.m_strOutput);
        EXPECT_TRUE(run.Has(c.says)) << WideToUtf8(run.m_strOutput);
        EXPECT_TRUE(run.Has(c.exitCode == 0 ? L"ok       action list" : L"problem  action list"));
    }
}

// qmhost log shows each call with its arguments, result and time, in the order they ran, and
// below each failed one the reason it failed, for the stand-in's failure scenarios (each
// reason's words are the operations' tests' to check).
TEST(QmhostLog, ShowsEachCallWithItsResultAndReason)
{
    ClearServiceLog();
    CStandInUpdater updater({"Result=0"});
    CTempFolder folder;
    std::wstring bad = folder.Child(L"bad.xml");
    std::wstring good = folder.Child(L"good.xml");
    ASSERT_TRUE(WriteFileBytes(bad, "<ActionList>\r\n<Component ID=\"a\" Action=\"u\"></ActionList>"));
    ASSERT_TRUE(WriteFileBytes(good, "<ActionList><Component ID=\"a\" Action=\"update\"/></ActionList>"));
    const struct
    {
        std::vector<std::string> scenario;
        std::wstring list; // empty: a list call on a list of its own
        int result;
        std::wstring why; // empty: no reason below the call
    } calls[] = {
        {{"Result=0"}, L"", 0, L""},
        {{"result=none"}, L"", 20, L"why: the updater wrote no result document: "},
        {{"crash=1"}, L"", 20, L"why: the updater wrote no result document: "},
        {{"finish=none"}, good, 200, L"why: the updater ended without reporting its finish: every component gets 16"},
        {{"Result=0"}, bad, 100, L"why: the action list is not well-formed (line 2 column "},
    };
    std::vector<std::wstring> heads;
    {
        CPellorinModule module;
        ASSERT_TRUE(module.Loaded());
        for (const auto& c : calls)
        {
            updater.SetScenario(c.scenario);
            std::wstring head;
            if (c.list.empty())
            {
                std::wstring out = folder.Child(std::to_wstring(heads.size()) + L".xml");
                EXPECT_EQ(module.m_pfnGetInstalledComponentList(L"App1", out.c_str(), L"t"), c.result);
                head = L"GetInstalledComponentList(App1, " + out + L", t) = ";
            }
            else
            {
                EXPECT_EQ(module.m_pfnUpdateComponents(L"App1", c.list.c_str(), L"plugin", nullptr), c.result);
                head = L"UpdateComponents(App1, " + c.list + L", plugin) = ";
            }
            heads.push_back(head + std::to_wstring(c.result) + L"   ");
        }
    }
    DoctorRun run = RunQmhost(L"log");
    EXPECT_EQ(run.m_nExitCode, 0u);
    const std::wstring& text = run.m_strOutput;
    size_t at = 0;
    for (size_t i = 0; i < heads.size(); ++i)
    {
        SCOPED_TRACE(WideToUtf8(heads[i]));
        size_t head = text.find(heads[i], at);
        ASSERT_NE(head, std::wstring::npos) << "each call once, in the order they ran\n" << WideToUtf8(text);
        size_t next = i + 1 < heads.size() ? text.find(heads[i + 1], head) : text.size();
        ASSERT_NE(next, std::wstring::npos) << WideToUtf8(text);
        std::wstring block = text.substr(head, next - head);
        if (calls[i].why.empty())
            EXPECT_EQ(block.find(L"why:"), std::wstring::npos) << WideToUtf8(block);
        else
            EXPECT_NE(block.find(calls[i].why), std::wstring::npos) << WideToUtf8(block);
        at = head;
    }
    ClearServiceLog();
}
} // namespace
