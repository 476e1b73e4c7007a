#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/RegistryForTest.h"
#include "support/ServiceLogReader.h"
#include "support/SmallVolume.h"
#include "support/StandInUpdater.h"
#include "support/TempFolder.h"
#include "sys/Handle.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
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

// "qmhost.exe <arguments>" running with its output captured; one that hangs is ended after a minute.
class CQmhostProcess
{
public:
    explicit CQmhostProcess(const std::wstring& arguments)
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        CQMKernelHandle writeEnd;
        // Large enough for the whole report, so the child never waits for this side to read.
        if (!::CreatePipe(m_hRead.Put(), writeEnd.Put(), &inherit, 1 << 20))
            return;
        ::SetHandleInformation(m_hRead.Get(), HANDLE_FLAG_INHERIT, 0);
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
            return;
        m_hProcess.Reset(process.hProcess);
        ::CloseHandle(process.hThread);
    }

    // Ends it at once, as a user or a crash would.
    void Kill()
    {
        ::TerminateProcess(m_hProcess.Get(), 99);
        ::WaitForSingleObject(m_hProcess.Get(), 10000);
    }

    DoctorRun Finish()
    {
        DoctorRun run;
        if (!m_hProcess)
            return run;
        if (::WaitForSingleObject(m_hProcess.Get(), 60000) != WAIT_OBJECT_0)
        {
            Kill();
            ADD_FAILURE() << "qmhost did not end within a minute";
        }
        ::GetExitCodeProcess(m_hProcess.Get(), &run.m_nExitCode);
        std::string bytes;
        char buffer[4096];
        DWORD read = 0;
        // All the ended child wrote is in the pipe, which may never close: under Wine the desktop's
        // explorer.exe, started by the child's first window, keeps the child's output handle.
        for (DWORD left = 0; ::PeekNamedPipe(m_hRead.Get(), nullptr, 0, nullptr, &left, nullptr) && left > 0 &&
                             ::ReadFile(m_hRead.Get(), buffer, std::min<DWORD>(left, sizeof(buffer)), &read, nullptr);)
            bytes.append(buffer, read);
        run.m_strOutput = Utf8ToWide(bytes);
        return run;
    }

private:
    CQMKernelHandle m_hRead;
    CQMKernelHandle m_hProcess;
};

DoctorRun RunQmhost(const std::wstring& arguments)
{
    return CQmhostProcess(arguments).Finish();
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
    DWORD type = REG_SZ;
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
         {L"problem  updater      " + kRegistered + L", but no file at " + BinFolder() + L"no_such_updater.exe\r\n"}},
        // The module reads the value as text and expands nothing; the doctor says so.
        {"a path to expand",
         L"%QM_DOCTOR_BIN%qm_ver_1_1_0_13.exe",
         {L"problem  updater      " + kRegistered + L" as REG_EXPAND_SZ %QM_DOCTOR_BIN%qm_ver_1_1_0_13.exe; the "
          L"module takes the text as it stands and expands no variables, so it finds no file there, although " +
              BinFolder() + L"qm_ver_1_1_0_13.exe exists\r\n",
          L"what to do: store the expanded path as a string value: qmhost register --repair \"" + BinFolder() +
              L"qm_ver_1_1_0_13.exe\" (it stays the machine's own registration"},
         REG_EXPAND_SZ},
        {"a folder",
         BinFolder(),
         {L"problem  updater      " + kRegistered + L", but no file at " + BinFolder() + L"\r\n"}},
        // The module takes the quotes as part of the name.
        {"a path in quotes",
         L"\"" + BinFolder() + L"qm_ver_1_1_0_13.exe\"",
         {L"exe\" in quotes; the module takes the text as it stands, quotes and all, so it finds no file there",
          L"what to do: store the path without quotes: qmhost register --repair \"" + BinFolder() + L"qm_ver_1_1"}},
        // Every start fails (error 193), and there is no version to judge.
        {"a file that is not a program",
         BinFolder() + L"qm_not_a_program.exe",
         {L"qm_not_a_program.exe, but that file is not a program: every call fails to start it (error 193",
          L"what to do: repair or reinstall the update service, whose registration names a file that is not its"}},
    };
    for (const MissingCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        if (c.registeredPath.empty())
            CVestabelRegistration::Remove();
        else
            ASSERT_TRUE(m_registration.SetRaw(c.registeredPath.c_str(),
                                              DWORD((c.registeredPath.size() + 1) * sizeof(wchar_t)), c.type));
        ::SetEnvironmentVariableW(L"QM_DOCTOR_BIN", BinFolder().c_str());
        DoctorRun run = RunDoctor();
        SCOPED_TRACE(run.m_strOutput);
        EXPECT_EQ(run.m_nExitCode, 1u);
        for (const std::wstring& line : c.expected)
            EXPECT_TRUE(run.Has(line)) << WideToUtf8(line);
        EXPECT_TRUE(run.Has(L"ok       work folder"));
        EXPECT_TRUE(run.Has(L"problem(s) found.\r\n"));
        // Without the updater's file there is no version to judge, and no other advice to give.
        EXPECT_FALSE(run.Has(L"version ")) << WideToUtf8(run.m_strOutput);
        // The repair as advised mends the registration, and the kit's clean-up step leaves it so.
        size_t repair = run.m_strOutput.find(L"qmhost register --repair ");
        if (repair != std::wstring::npos)
        {
            std::wstring command = run.m_strOutput.substr(repair + 7);
            EXPECT_EQ(RunQmhost(command.substr(0, command.find(L"\" ") + 1)).m_nExitCode, 0u);
            RunQmhost(L"unregister");
            EXPECT_TRUE(RunDoctor().Has(L"ok       updater      " + kRegistered + L": " + BinFolder() + L"qm_ver"));
        }
        ::SetEnvironmentVariableW(L"QM_DOCTOR_BIN", nullptr);
    }
}

// A registered file that is not a program fails every call that starts the updater at once, with
// its failure result and the reason: no box waits for a click in the host (qmhost here).
TEST_F(DoctorTest, NotAProgramFailsEveryCallAtOnce)
{
    const std::wstring file = BinFolder() + L"qm_not_a_program.exe";
    ASSERT_TRUE(m_registration.SetPath(file));
    CTempFolder folder;
    ASSERT_TRUE(WriteFileBytes(folder.Child(L"a.xml"), "<ActionList><Component ID=\"a\" Action=\"u\"/></ActionList>"));
    const std::pair<std::wstring, std::wstring> calls[] = {
        {L"LaunchCheck App1 7", L"LaunchCheck = 1, state 1"},
        {L"GetInstalledComponentList App1 \"" + folder.Child(L"i.xml") + L"\" t", L"GetInstalledComponentList = 16"},
        {L"UpdateComponents App1 \"" + folder.Child(L"a.xml") + L"\" t", L"UpdateComponents = 200"},
    };
    for (const auto& call : calls)
    {
        DWORD start = ::GetTickCount();
        DoctorRun run = RunQmhost(call.first);
        EXPECT_LT(::GetTickCount() - start, 20000u) << WideToUtf8(call.first);
        EXPECT_TRUE(run.Has(call.second)) << WideToUtf8(run.m_strOutput);
        std::wstring function = call.first.substr(0, call.first.find(L' '));
        EXPECT_TRUE(run.Has(L"," + function + L",the updater could not be started: " + file + L",error 193"))
            << WideToUtf8(run.m_strOutput);
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

    // Held elsewhere by a process without a progress window: named by the system's handle table
    // where it tells, else the doctor says how to find it. Wine's table carries no object
    // addresses, so under Wine it is the second.
    ASSERT_TRUE(updater.HoldMutexElsewhere(kBusyMutex, 60000));
    DoctorRun run = RunDoctor();
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"problem  busy mutex   Tavrin_Inc_ZL_QM_PL_v1 held by process ") ||
                run.Has(L"problem  busy mutex   Tavrin_Inc_ZL_QM_PL_v1 held by a process without a progress window, "
                        L"which the system does not name here; to find the holder, search the open handles for "
                        L"Tavrin_Inc_ZL_QM_PL_v1 with a handle viewer run elevated"))
        << WideToUtf8(run.m_strOutput);
    EXPECT_FALSE(run.Has(L"unknown")) << WideToUtf8(run.m_strOutput);
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
struct RegistrationNow
{
    DWORD m_nType = REG_NONE; // REG_NONE: none
    std::wstring m_strText;

    bool Is(DWORD type, const std::wstring& text) const { return m_nType == type && m_strText == text; }
};

RegistrationNow ReadRegistrationNow()
{
    RegistrationNow now;
    std::vector<wchar_t> text(4096);
    DWORD size = DWORD(text.size() * sizeof(wchar_t));
    CQMRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install", 0,
                        KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.Put()) == ERROR_SUCCESS &&
        ::RegQueryValueExW(key.Get(), L"Vestabel exe path", nullptr, &now.m_nType, reinterpret_cast<BYTE*>(text.data()),
                           &size) == ERROR_SUCCESS)
        now.m_strText = text.data();
    return now;
}

// The demo puts the registration it found back as it was, type, length and all.
TEST(QmhostDemo, PutsTheRegistrationBackAsItWasOrLeavesItAlone)
{
    CStandInUpdater updater;
    const struct
    {
        const char* label;
        std::wstring value;
        DWORD type;
    } cases[] = {
        {"a path to expand", L"%ProgramFiles%\\Service\\updater.exe", REG_EXPAND_SZ},
        {"a long path", L"C:\\" + std::wstring(1500, L'p') + L".exe", REG_SZ},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        CVestabelRegistration registration;
        ASSERT_TRUE(registration.SetRaw(c.value.c_str(), DWORD((c.value.size() + 1) * sizeof(wchar_t)), c.type));
        DoctorRun run = RunQmhost(L"demo");
        EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);
        EXPECT_TRUE(ReadRegistrationNow().Is(c.type, c.value));
    }
}

// What qmhost keeps of a registration it replaced lives beside the service's key.
void RemoveQmhostJournal()
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tavrin_Inc_ZL\\Pellorin Kit", KEY_WOW64_32KEY, 0);
}

class QmhostRegistration : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RemoveQmhostJournal();
        ASSERT_TRUE(m_registration.SetRaw(kInstalled.c_str(), DWORD((kInstalled.size() + 1) * sizeof(wchar_t)),
                                          REG_EXPAND_SZ));
    }
    void TearDown() override
    {
        CStandInUpdater::EndAllRuns();
        RemoveQmhostJournal();
    }

    // A demo started and seen to have borrowed the registration for the stand-in.
    std::unique_ptr<CQmhostProcess> StartDemo()
    {
        auto demo = std::make_unique<CQmhostProcess>(L"demo");
        for (int i = 0; i < 300 && !ReadRegistrationNow().Is(REG_SZ, StandInPath()); ++i)
            ::Sleep(20);
        EXPECT_TRUE(ReadRegistrationNow().Is(REG_SZ, StandInPath()));
        return demo;
    }

    static std::wstring StandInPath() { return PlatformPathForTest(BinFolder()) + L"VestabelStandIn.exe"; }

    const std::wstring kInstalled = L"%ProgramFiles%\\Service\\updater.exe";
    CVestabelRegistration m_registration;
};

TEST_F(QmhostRegistration, RegisterKeepsWhatItReplacesAndUnregisterPutsItBack)
{
    DoctorRun run = RunQmhost(L"register \"" + StandInPath() + L"\"");
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"not one that qmhost made")) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(ReadRegistrationNow().Is(REG_EXPAND_SZ, kInstalled));

    run = RunQmhost(L"register --force \"" + StandInPath() + L"\"");
    EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"it replaced " + kInstalled + L" (REG_EXPAND_SZ)")) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(ReadRegistrationNow().Is(REG_SZ, StandInPath()));
    // Its own registration is replaced without --force, and what goes back stays the installed one.
    run = RunQmhost(L"register \"" + BinFolder() + L"qm_ver_1_1.exe\"");
    EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);

    run = RunQmhost(L"unregister");
    EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"unregistered: the updater registration is back to " + kInstalled + L" (REG_EXPAND_SZ)"))
        << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(ReadRegistrationNow().Is(REG_EXPAND_SZ, kInstalled));

    // Nothing of qmhost's left: a registration it did not make is removed only when told.
    run = RunQmhost(L"unregister");
    EXPECT_EQ(run.m_nExitCode, 1u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(ReadRegistrationNow().Is(REG_EXPAND_SZ, kInstalled));
    run = RunQmhost(L"unregister --force");
    EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);
    EXPECT_EQ(ReadRegistrationNow().m_nType, DWORD(REG_NONE));
}

TEST_F(QmhostRegistration, AKilledDemosRegistrationIsPutBackByTheNextCommand)
{
    std::unique_ptr<CQmhostProcess> demo = StartDemo();
    demo->Kill();
    ASSERT_TRUE(ReadRegistrationNow().Is(REG_SZ, StandInPath())) << "the kill left the stand-in registered";
    DoctorRun run = RunQmhost(L"log");
    EXPECT_TRUE(run.Has(L"did not finish; the updater registration is back to " + kInstalled)) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(ReadRegistrationNow().Is(REG_EXPAND_SZ, kInstalled));
}

TEST_F(QmhostRegistration, OverlappingDemosTakeTurns)
{
    std::unique_ptr<CQmhostProcess> first = StartDemo();
    DoctorRun second = RunQmhost(L"demo");
    DoctorRun firstRun = first->Finish();
    EXPECT_EQ(firstRun.m_nExitCode, 0u) << WideToUtf8(firstRun.m_strOutput);
    EXPECT_EQ(second.m_nExitCode, 0u) << WideToUtf8(second.m_strOutput);
    EXPECT_TRUE(second.Has(L"is changing the updater registration; waiting")) << WideToUtf8(second.m_strOutput);
    EXPECT_TRUE(second.Has(L"LaunchCheck(SampleApp)        = 1, state 1")) << WideToUtf8(second.m_strOutput);
    EXPECT_TRUE(ReadRegistrationNow().Is(REG_EXPAND_SZ, kInstalled));
}

// The doctor takes a list through the call's own steps: for every list it says "problem" (exit
// 1) exactly when UpdateComponents answers 100, and a list the call refuses is left as it was.
TEST(DoctorListCheck, SaysWhetherTheCallWouldTakeTheListAndWhyNot)
{
    CStandInUpdater updater;
    CPellorinModule module;
    ASSERT_TRUE(module.Loaded());
    CTempFolder folder;
    enum EKind
    {
        kFile,
        kFolder,
        kMissing,
        kHeld, // held open by another program that shares neither writing nor deletion
        kReadOnly,
    };
    const struct
    {
        const char* label;
        EKind kind;
        const char* bytes;
        DWORD exitCode;
        std::wstring says;
        std::wstring advice = L""; // checked where given
        std::wstring reason = L""; // where given, the call's reason: "<reason>: <list>"
    } cases[] = {
        {"two components and one without Action", kFile,
         "<ActionList ParentAppName=\"A\"><Component ID=\"a\" Action=\"update\"/><Component ID=\"b\" "
         "Action=\"add\"/><Component ID=\"c\"/></ActionList>",
         0, L"2 component(s): UpdateComponents rewrites the list"},
        {"one good component among bad ones", kFile,
         "<ActionList><Component ID=\"a\"/><Component Action=\"u\"/><Item ID=\"b\" Action=\"add\"/>"
         "<Component ID=\"\" Action=\"u\"/></ActionList>",
         0, L"1 component(s): UpdateComponents rewrites the list"},
        {"no IDs", kFile, "<ActionList ParentAppName=\"A\"><Component Action=\"u\"/><Component Action=\"v\"/></ActionList>",
         1, L"the action list names no component with both ID and Action (2 element(s) lack one)"},
        {"no Actions", kFile, "<ActionList><Component ID=\"a\"/><Component ID=\"b\" Action=\"\"/></ActionList>", 1,
         L"the action list names no component with both ID and Action"},
        {"comments only", kFile, "<ActionList>\r\n<!-- <Component ID=\"a\" Action=\"u\"/> -->\r\n</ActionList>", 1,
         L"the action list names no component"},
        {"a tag that does not match", kFile, "<ActionList>\r\n<Component ID=\"a\" Action=\"u\"></ActionList>", 1,
         L"the action list is not well-formed (line 2 column "},
        {"another root", kFile, "<List><Component ID=\"a\" Action=\"u\"/></List>", 1,
         L"the action list's root is List instead of ActionList"},
        {"root only", kFile, "<ActionList ParentAppName=\"A\"/>", 1, L"the action list names no component"},
        {"an empty file", kFile, "", 1, L"problem  action list  the action list "},
        {"missing", kMissing, nullptr, 1,
         L"the action list does not exist: UpdateComponents answers 100 and writes an empty list"},
        // Where nothing can be written; as root under Wine no folder refuses files, a missing one does.
        {"no folder/to write in", kMissing, nullptr, 1, L"the action list's folder takes no new file"},
        {"a folder", kFolder, nullptr, 1, L"the action list is a folder",
         L"what to do: pass the path of the action list's file, not of a folder\r\n", L"the action list is a folder"},
        {"held by another program", kHeld, "<ActionList><Component ID=\"a\" Action=\"u\"/></ActionList>", 1,
         L"another program holds the action list without sharing its writing (error 32",
         L"what to do: close the program that holds the list, or have it share writing\r\n",
         L"another program holds the action list without sharing its writing"},
        {"read-only", kReadOnly, "<ActionList><Component ID=\"a\" Action=\"u\"/></ActionList>", 1,
         L"the action list is read-only (error 5", L"what to do: clear the list's read-only attribute",
         L"the action list is read-only"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring list = folder.Child(Utf8ToWide(c.label) + L".xml");
        if (c.kind == kFile || c.kind == kHeld || c.kind == kReadOnly)
        {
            ASSERT_TRUE(WriteFileBytes(list, c.bytes));
        }
        else if (c.kind == kFolder)
        {
            ASSERT_TRUE(MakeFolder(list));
        }
        CQMFileHandle held;
        if (c.kind == kHeld)
            held.Reset(::CreateFileW(PlatformPathForTest(list).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
        if (c.kind == kReadOnly)
            ASSERT_TRUE(::SetFileAttributesW(PlatformPathForTest(list).c_str(), FILE_ATTRIBUTE_READONLY));
        DoctorRun run = RunQmhost(L"doctor --list \"" + PlatformPathForTest(list) + L"\" plugin");
        EXPECT_EQ(run.m_nExitCode, c.exitCode) << WideToUtf8(run.m_strOutput);
        EXPECT_TRUE(run.Has(c.says)) << WideToUtf8(run.m_strOutput);
        EXPECT_TRUE(c.advice.empty() || run.Has(c.advice)) << WideToUtf8(run.m_strOutput);
        EXPECT_TRUE(run.Has(c.exitCode == 0 ? L"ok       action list" : L"problem  action list"));
        // The doctor only read the list, and its copy is gone.
        EXPECT_EQ(ListFolder(folder.Path(), L"*.~qm*").size(), 0u);
        if (c.bytes != nullptr)
        {
            EXPECT_EQ(ReadFileBytes(list), c.bytes);
        }
        else
        {
            EXPECT_EQ(c.kind == kFolder, ::GetFileAttributesW(PlatformPathForTest(list).c_str()) != INVALID_FILE_ATTRIBUTES);
        }

        ClearServiceLog();
        int result = module.m_pfnUpdateComponents(L"App1", list.c_str(), L"plugin", nullptr);
        ::SetFileAttributesW(PlatformPathForTest(list).c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(result == QM_UPDATE_NOT_SUPPORTED, c.exitCode == 1) << result;
        if (!c.reason.empty())
        {
            // The call names the same cause, with the doctor's error.
            std::wstring reason = L"PL,REASON,UpdateComponents," + c.reason + L": " + list;
            size_t error = c.says.find(L"(error ");
            reason += error == std::wstring::npos ? L"" : L"," + c.says.substr(error + 1);
            EXPECT_EQ(AllLogRecords().at(AllLogRecords().size() - 2).substr(0, reason.size()), reason);
        }
        if (result == QM_UPDATE_NOT_SUPPORTED && c.bytes != nullptr)
        {
            EXPECT_EQ(ReadFileBytes(list), c.bytes) << "a refused list is left as it was";
        }
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
        {{"result=none"}, L"", 20, L"why: the updater wrote no result document and ended with exit code 0"},
        {{"crash=1"}, L"", 20, L"why: the updater wrote no result document and ended with exit code 3"},
        {{"finish=none"}, good, 200,
         L"why: the updater ended without reporting its finish (exit code 0): every component gets 16"},
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

// A list the user may write, in a folder that takes no new file from them (a list beside a
// program, made writable by an administrator), is written in place behind a redo copy in the
// module's own folder, and the doctor names the folder; a list that is not there cannot be made
// there: 100 at once, and the reason names the folder. Root passes every permission check:
// tests/RunUnprivileged.sh runs this as an unprivileged user, such a folder in QM_LOCKED_FOLDER.
TEST(UnwritableFolder, ListIsWrittenInPlaceAndTheFolderIsNamed)
{
    wchar_t locked[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"QM_LOCKED_FOLDER", locked, MAX_PATH) == 0)
        GTEST_SKIP() << "runs as an unprivileged user, in qm_unprivileged_host_tests";
    const std::wstring folder = locked;
    const std::wstring list = folder + L"\\actions.xml";
    ASSERT_FALSE(WriteFileBytes(folder + L"\\probe.xml", "")) << "the folder takes new files";
    ASSERT_TRUE(WriteFileBytes(list, "<ActionList><Component ID=\"CompA\" Action=\"update\"/></ActionList>"));
    CStandInUpdater updater({"progress=4,CompA,0,0,1,1,5", "finish_code=14"});
    CPellorinModule module;
    ClearServiceLog();
    EXPECT_EQ(module.m_pfnUpdateComponents(L"App1", list.c_str(), L"plugin", nullptr), QM_UPDATE_DONE);
    EXPECT_NE(ReadFileBytes(list).find("Result=\"5\""), std::string::npos) << ReadFileBytes(list);
    const std::wstring logFolder = ServiceLogFolderForTest();
    EXPECT_TRUE(ListFolder(logFolder.substr(0, logFolder.find_last_of(L"/\\")), L"ActionListRedo_*").empty());
    DoctorRun run = RunQmhost(L"doctor --list \"" + list + L"\"");
    EXPECT_EQ(run.m_nExitCode, 0u) << WideToUtf8(run.m_strOutput);
    EXPECT_TRUE(run.Has(L"the folder " + folder + L" takes no new file from this user")) << WideToUtf8(run.m_strOutput);

    const std::wstring missing = folder + L"\\missing.xml";
    ClearServiceLog();
    DWORD start = ::GetTickCount();
    EXPECT_EQ(module.m_pfnUpdateComponents(L"App1", missing.c_str(), L"plugin", nullptr), QM_UPDATE_NOT_SUPPORTED);
    EXPECT_LT(::GetTickCount() - start, 1000u) << "a folder that takes no file is not waited for";
    std::vector<std::wstring> records = AllLogRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2].rfind(L"PL,REASON,UpdateComponents,the folder " + folder + L" takes no new file", 0), 0u)
        << WideToUtf8(records[records.size() - 2]);
    ClearServiceLog();
}
} // namespace
