#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/SmallVolume.h"
#include "support/StandInUpdater.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <iostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace
{
const wchar_t kVersionRecord[] = L"PL,CHECK_VERSION,-,1.1.0.13";

class ListOperationsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        ASSERT_TRUE(m_module.Loaded());
    }
    void TearDown() override { ClearServiceLog(); }

    int Installed(const std::wstring& app, const std::wstring& listPath, const std::wstring& type)
    {
        return m_module.m_pfnGetInstalledComponentList(app.c_str(), listPath.c_str(), type.c_str());
    }
    int Latest(const std::wstring& listPath, const std::wstring& type, const std::wstring& version)
    {
        return m_module.m_pfnGetLatestComponentList(listPath.c_str(), type.c_str(), version.c_str());
    }
    // The records of the one archive the call left.
    std::vector<std::wstring> ArchivedRecords()
    {
        std::vector<std::wstring> archives = ArchiveNames();
        EXPECT_EQ(archives.size(), 1u);
        return archives.empty() ? std::vector<std::wstring>()
                                : ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]);
    }

    CStandInUpdater m_updater;
    CPellorinModule m_module;
    CTempFolder m_folder;
};

TEST_F(ListOperationsTest, SuccessfulInstalledListWritesItsRecordsInOrder)
{
    m_updater.SetScenario({"LaunchApp=Y", "Result=0"});
    std::wstring list = m_folder.Child(L"installed.xml");
    EXPECT_EQ(Installed(L"App1", list, L"plugin"), 0);

    std::wstring request = CStandInUpdater::WorkFolder() + L"/App1_1.xml";
    std::wstring result = CStandInUpdater::WorkFolder() + L"/RESULT_App1_1.xml";
    std::vector<std::wstring> expected = {
        L"PL,API_CALL,GetInstalledComponentList,App1," + list + L",plugin",
        kVersionRecord,
        L"PL,CREATE_XML,GetInstalledComponentList," + request,
        L"PL,CATCH_XML,GetInstalledComponentList",
        L"PL,CATCH_XML,-," + result,
        L"PL,API_END,GetInstalledComponentList,0"};
    EXPECT_EQ(ArchivedRecords(), expected);
    EXPECT_TRUE(FileExists(list)) << "the updater's list is left to the host";
    EXPECT_FALSE(FileExists(result)) << "the result is deleted once read";
    EXPECT_TRUE(FileExists(request)) << "requests are left to the updater";

    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].m_vecArguments.size(), 2u);
    EXPECT_EQ(runs[0].m_vecArguments[0], request);
    EXPECT_EQ(runs[0].m_vecArguments[1], L"/component_installedlist");
    EXPECT_EQ(runs[0].m_strCommandLine.substr(runs[0].m_strCommandLine.size() - 1), L" ") << "ends with a space";
}

TEST_F(ListOperationsTest, InstalledRequestCarriesNameListPathAndType)
{
    std::wstring list = m_folder.Child(L"installed.xml");
    Installed(L"App1", list, L"plugin");
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    const std::string& request = runs[0].m_strRequest;
    std::string root = "<AppName InstalledComponentListXMLPath=\"" + WideToUtf8(list) +
                       "\" ComponentType=\"plugin\">App1</AppName>";
    EXPECT_NE(request.find(root), std::string::npos) << request;

    // An empty component type is left out.
    Installed(L"App1", list, L"");
    runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(RequestAttribute(runs[1].m_strRequest, "ComponentType"), "");
    EXPECT_EQ(runs[1].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/App1_2.xml");
}

TEST_F(ListOperationsTest, LatestRequestHasNoApplicationName)
{
    std::wstring list = m_folder.Child(L"latest.xml");
    m_updater.SetScenario({"Result=3"});
    EXPECT_EQ(Latest(list, L"plugin", L"2.1"), 3);
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/GetLatestComponentList_1.xml");
    EXPECT_EQ(runs[0].m_vecArguments[1], L"/component_latestlist");
    std::string root = "<AppName ComponentType=\"plugin\" LatestComponentListXMLPath=\"" + WideToUtf8(list) +
                       "\" Version=\"2.1\">";
    EXPECT_NE(runs[0].m_strRequest.find(root), std::string::npos) << runs[0].m_strRequest;
    EXPECT_EQ(runs[0].m_strRequest.find(">App"), std::string::npos);

    std::vector<std::wstring> records = ArchivedRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[2], L"PL,CREATE_XML,GetLastComponentList," + CStandInUpdater::WorkFolder() +
                              L"/GetLatestComponentList_1.xml");
    EXPECT_EQ(records.back(), L"PL,API_END,GetLastComponentList,3");

    // An empty version is left out; the call goes on.
    ClearServiceLog();
    EXPECT_EQ(Latest(list, L"plugin", L""), 3);
    runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(RequestAttribute(runs[1].m_strRequest, "Version"), "");
    EXPECT_EQ(runs[1].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/GetLatestComponentList_2.xml");
}

struct CodeCase
{
    const char* label;
    std::vector<std::string> scenario;
    int expected;
    // How the reason record begins when the result could not be read; empty when it was read.
    std::wstring reason;
};

TEST_F(ListOperationsTest, ResultCodeComesFromTheResultDocument)
{
    const CodeCase cases[] = {
        {"zero", {"Result=0"}, 0, L""},
        {"blank, digits, letters", {"Result= 12abc"}, 12, L""},
        {"not a number", {"Result=abc"}, 0, L""},
        {"negative", {"Result=-7"}, -7, L""},
        {"no Result attribute", {"LaunchApp=Y"}, 0, L""},
        {"the module's own codes pass through", {"Result=15"}, 15, L""},
        {"wrong root", {"result=wrongroot"}, 20, L"the result document's root is not CheckResult: "},
        {"cut short", {"result=malformed"}, 20, L"the result document is not well-formed"},
        {"a tag that does not match", {"result=raw", "result_raw=<CheckResult>\\n<x></CheckResult>"}, 20,
         L"the result document is not well-formed (line 2 column "},
        {"lower-case root", {"result=raw", "result_raw=<checkresult Result=\"5\"/>"}, 20,
         L"the result document's root is not CheckResult: "},
        {"no result document", {"result=none", "exit_code=5"}, 20,
         L"the updater wrote no result document and ended with exit code 5 (expected at "},
        {"crashed", {"crash=1"}, 20, L"the updater wrote no result document and ended with exit code 3 (expected at "},
        {"empty result document", {"result=raw", "result_raw="}, 20, L"the result document is not well-formed"},
    };
    for (const CodeCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        m_updater.SetScenario(c.scenario);
        EXPECT_EQ(Installed(L"App1", m_folder.Child(L"installed.xml"), L"t"), c.expected);
        std::vector<std::wstring> records = ArchivedRecords();
        ASSERT_EQ(records.size(), 6u);
        EXPECT_EQ(records[3], L"PL,CATCH_XML,GetInstalledComponentList");
        // Read: the result's own record; not read: why, before the exit record.
        const std::wstring fifth =
            c.reason.empty() ? L"PL,CATCH_XML,-," : L"PL,REASON,GetInstalledComponentList," + c.reason;
        EXPECT_EQ(records[4].compare(0, fifth.size(), fifth), 0) << WideToUtf8(records[4]);
        EXPECT_EQ(records.back(), L"PL,API_END,GetInstalledComponentList," + std::to_wstring(c.expected));
        EXPECT_TRUE(ListFolder(CStandInUpdater::WorkFolder(), L"RESULT_*").empty()) << "result left behind";
    }
}

TEST_F(ListOperationsTest, OldListIsDeletedBeforeTheRun)
{
    std::wstring list = m_folder.Child(L"installed.xml");
    ASSERT_TRUE(WriteFileBytes(list, "old list"));
    m_updater.SetScenario({"Result=0", "list=none"});
    EXPECT_EQ(Installed(L"App1", list, L"t"), 0);
    EXPECT_FALSE(FileExists(list));
}

TEST_F(ListOperationsTest, UnusableListPathGives15WithoutRunning)
{
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"folder.xml")));
    EXPECT_EQ(Installed(L"App1", m_folder.Child(L"folder.xml"), L"t"), QM_LIST_PATH_UNUSABLE);
    std::vector<std::wstring> expected = {
        L"PL,API_CALL,GetInstalledComponentList,App1," + m_folder.Child(L"folder.xml") + L",t", kVersionRecord,
        L"PL,REASON,GetInstalledComponentList,the list path is a folder: " + m_folder.Child(L"folder.xml"),
        L"PL,API_END,GetInstalledComponentList,15"};
    EXPECT_EQ(ArchivedRecords(), expected);

    // A list file held open without delete sharing cannot be deleted.
    std::wstring held = m_folder.Child(L"held.xml");
    ASSERT_TRUE(WriteFileBytes(held, "in use"));
    HANDLE handle = ::CreateFileW(PlatformPathForTest(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ClearServiceLog();
    EXPECT_EQ(Latest(held, L"t", L"1"), QM_LIST_PATH_UNUSABLE);
    ::CloseHandle(handle);
    EXPECT_EQ(ReadFileBytes(held), "in use");
    EXPECT_TRUE(m_updater.Runs().empty());
    std::vector<std::wstring> records = ArchivedRecords();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2].rfind(L"PL,REASON,GetLastComponentList,the old list cannot be deleted: " + held + L",error 32", 0),
              0u)
        << WideToUtf8(records[2]);
}

TEST_F(ListOperationsTest, MissingUpdaterGives16AfterWritingTheRequest)
{
    CVestabelRegistration registration;
    ASSERT_TRUE(registration.SetPath(PlatformPathForTest(m_folder.Child(L"gone.exe"))));
    EXPECT_EQ(Installed(L"App1", m_folder.Child(L"i.xml"), L"t"), QM_LIST_NOT_SUPPORTED);
    std::vector<std::wstring> records = ArchivedRecords();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1], kVersionRecord);
    EXPECT_EQ(records[2].substr(0, 17), L"PL,CREATE_XML,Get");
    EXPECT_EQ(records[3], L"PL,REASON,GetInstalledComponentList,the registered updater's file is missing: " +
                              PlatformPathForTest(m_folder.Child(L"gone.exe")));
    EXPECT_EQ(records[4], L"PL,API_END,GetInstalledComponentList,16");

    // A folder registered as the updater is not started either.
    ASSERT_TRUE(registration.SetPath(PlatformPathForTest(m_folder.Path())));
    EXPECT_EQ(Latest(m_folder.Child(L"l.xml"), L"t", L"1"), QM_LIST_NOT_SUPPORTED);
}

TEST_F(ListOperationsTest, NumbersSkipExistingFilesAndFolders)
{
    ASSERT_TRUE(CreateFolderPathForTest(CStandInUpdater::WorkFolder()));
    ASSERT_TRUE(WriteFileBytes(CStandInUpdater::WorkFolder() + L"/App1_1.xml", "left behind"));
    ASSERT_TRUE(MakeFolder(CStandInUpdater::WorkFolder() + L"/App1_2.xml"));
    Installed(L"App1", m_folder.Child(L"i.xml"), L"t");
    Installed(L"App1", m_folder.Child(L"i.xml"), L"t");
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/App1_3.xml");
    EXPECT_EQ(runs[1].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/App1_4.xml");
}

TEST_F(ListOperationsTest, ApplicationNameCannotLeaveTheWorkFolder)
{
    const std::wstring name = L"..\\..\\x/y:z";
    EXPECT_EQ(Installed(name, m_folder.Child(L"i.xml"), L"t"), 0);
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/.._.._x_y_z_1.xml");
    // The request itself keeps the name as the host gave it.
    EXPECT_NE(runs[0].m_strRequest.find(">" + WideToUtf8(name) + "</AppName>"), std::string::npos);
}

TEST_F(ListOperationsTest, NamesWhoseResultPathCannotBeUsedRunNothing)
{
    // folder + "/RESULT_" + name + "_1.xml" must fit the path limit of 259 characters.
    const size_t longest = 259 - CStandInUpdater::WorkFolder().size() - 14;
    const struct
    {
        size_t length;
        int expected;
    } cases[] = {{longest, 0}, {longest + 1, QM_LIST_NOT_SUPPORTED}, {longest + 7, QM_LIST_NOT_SUPPORTED},
                 {300, QM_LIST_NOT_SUPPORTED}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.length);
        CStandInUpdater updater({"Result=0"});
        ClearServiceLog();
        EXPECT_EQ(Installed(std::wstring(c.length, L'n'), m_folder.Child(L"i.xml"), L"t"), c.expected);
        EXPECT_EQ(updater.Runs().size(), c.expected == 0 ? 1u : 0u);
        std::vector<std::wstring> records = ArchivedRecords();
        ASSERT_GE(records.size(), 3u);
        if (c.expected != 0)
        {
            EXPECT_EQ(records[2], L"PL,REFUSE_ARG,GetInstalledComponentList,path too long");
            EXPECT_TRUE(ListFolder(CStandInUpdater::WorkFolder(), L"*.xml").empty()) << "no request left";
        }
    }
}

struct RefusedCase
{
    const char* label;
    std::wstring app, listPath, type, version;
};

TEST_F(ListOperationsTest, StringsXMLCannotCarryAreRefusedBeforeTheRun)
{
    const std::wstring list = m_folder.Child(L"l.xml");
    const RefusedCase cases[] = {
        {"control character in the name", L"App\x01", list, L"t", L""},
        {"U+001F in the list path", L"App", m_folder.Child(L"l\x1F.xml"), L"t", L""},
        {"U+FFFE in the type", L"App", list, L"\uFFFE", L""},
        {"U+FFFF in the version", L"", list, L"t", L"1.\uFFFF"},
        {"lone high surrogate in the name", L"App\xD83D", list, L"t", L""},
        {"lone low surrogate in the version", L"", list, L"t", L"\xDE00"},
    };
    for (const RefusedCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        bool latest = c.app.empty();
        const wchar_t* logName = latest ? L"GetLastComponentList" : L"GetInstalledComponentList";
        EXPECT_EQ(latest ? Latest(c.listPath, c.type, c.version) : Installed(c.app, c.listPath, c.type),
                  QM_LIST_NOT_SUPPORTED);
        EXPECT_TRUE(m_updater.Runs().empty());
        std::vector<std::wstring> records = ArchivedRecords();
        ASSERT_EQ(records.size(), 4u);
        EXPECT_EQ(records[2], L"PL,REFUSE_ARG," + std::wstring(logName) + L",not XML text");
        EXPECT_EQ(records[3], L"PL,API_END," + std::wstring(logName) + L",16");
    }

    // Tab, line feed, carriage return and surrogate pairs are XML text.
    m_updater.SetScenario({"Result=0"});
    EXPECT_EQ(Installed(L"A\tB\xD83D\xDE00", list, L"t\r\n"), 0);
    EXPECT_EQ(m_updater.Runs().size(), 1u);
}

TEST_F(ListOperationsTest, ResultLeftByAnAbortedCallIsNotRead)
{
    ASSERT_TRUE(CreateFolderPathForTest(CStandInUpdater::WorkFolder()));
    const std::wstring stale = CStandInUpdater::WorkFolder() + L"/RESULT_App1_1.xml";
    ASSERT_TRUE(WriteFileBytes(stale, "<CheckResult LaunchApp=\"Y\" Result=\"7\"/>"));
    m_updater.SetScenario({"result=none"});
    EXPECT_EQ(Installed(L"App1", m_folder.Child(L"i.xml"), L"t"), QM_LIST_NO_RESULT);
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].m_vecArguments[0], CStandInUpdater::WorkFolder() + L"/App1_2.xml") << "number 1 is not free";
    EXPECT_TRUE(FileExists(stale)) << "another call's result is not this call's to delete";
}

// The sample host beside the test program makes one call in a process of its own.
HANDLE StartHostProcess(const std::wstring& arguments)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self);
    exe.erase(exe.rfind(L'\\') + 1).append(L"qmhost.exe");
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process))
        return nullptr;
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

TEST_F(ListOperationsTest, CallsAtOnceFromThreadsAndProcessesEachHaveTheirOwnRequest)
{
    m_updater.SetScenario({"Result=0", "delay_ms=100"});
    constexpr int kThreads = 2;
    constexpr int kCallsEach = 3;
    constexpr int kProcesses = 2;
    std::vector<std::wstring> lists;
    for (int i = 0; i < kThreads * kCallsEach + kProcesses; ++i)
        lists.push_back(m_folder.Child(L"list" + std::to_wstring(i) + L".xml"));

    std::vector<HANDLE> processes;
    for (int p = 0; p < kProcesses; ++p)
        processes.push_back(StartHostProcess(L"GetInstalledComponentList App1 \"" +
                                             PlatformPathForTest(lists[kThreads * kCallsEach + p]) + L"\" t"));
    std::vector<int> codes(kThreads * kCallsEach, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCallsEach; ++i)
                codes[t * kCallsEach + i] = Installed(L"App1", lists[t * kCallsEach + i], L"t");
        });
    for (std::thread& thread : threads)
        thread.join();
    for (HANDLE process : processes)
    {
        ASSERT_NE(process, nullptr);
        EXPECT_EQ(::WaitForSingleObject(process, 60000), WAIT_OBJECT_0);
        ::CloseHandle(process);
    }

    EXPECT_EQ(codes, std::vector<int>(codes.size(), 0));
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), lists.size());
    std::set<std::wstring> requests;
    std::set<std::string> listsReached;
    for (const StandInRun& run : runs)
    {
        requests.insert(run.m_vecArguments[0]);
        listsReached.insert(RequestAttribute(run.m_strRequest, "InstalledComponentListXMLPath"));
    }
    EXPECT_EQ(requests.size(), lists.size()) << "no two calls share a request";
    for (size_t i = 0; i < lists.size(); ++i)
    {
        // The sample host passes its path with backslashes.
        std::wstring reached = i < codes.size() ? lists[i] : PlatformPathForTest(lists[i]);
        EXPECT_EQ(listsReached.count(WideToUtf8(reached)), 1u) << WideToUtf8(reached);
        EXPECT_TRUE(FileExists(lists[i]));
    }
}

TEST_F(ListOperationsTest, RequestPathWithSpacesIsQuotedWhenItExists)
{
    std::wstring spaced = m_folder.Child(L"temp dir");
    ASSERT_TRUE(MakeFolder(spaced));
    CTemporaryFolderOverride temp(spaced);
    EXPECT_EQ(Installed(L"App1", m_folder.Child(L"i.xml"), L"t"), 0);
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 1u);
    std::wstring request = spaced + L"/Tavrin_Inc_ZL/Vestabel/App1_1.xml";
    ASSERT_EQ(runs[0].m_vecArguments.size(), 2u);
    EXPECT_EQ(runs[0].m_vecArguments[0], request);
    EXPECT_NE(runs[0].m_strCommandLine.find(L"\"" + request + L"\" /component_installedlist "), std::wstring::npos)
        << runs[0].m_strCommandLine;
}

// The updater runs in a folder of its own; the host's relative path is the host's. A path past
// the limit could neither be cleared nor written everywhere: refused before anything runs.
TEST_F(ListOperationsTest, ListPathsAreTheHostsOwn)
{
    CTempFolder elsewhere;
    m_updater.SetScenario({"Result=0", "working_folder=" + WideToUtf8(PlatformPathForTest(elsewhere.Path()))});
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"lists")));
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(PlatformPathForTest(m_folder.Path()).c_str()));
    int installed = Installed(L"App1", L"lists\\installed.xml", L"t");
    int latest = Latest(L"lists/latest.xml", L"t", L"1");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(installed, 0);
    EXPECT_EQ(latest, 0);
    EXPECT_TRUE(FileExists(m_folder.Child(L"lists/installed.xml")));
    EXPECT_TRUE(FileExists(m_folder.Child(L"lists/latest.xml")));
    EXPECT_TRUE(ListFolder(elsewhere.Path(), L"*").empty());
    std::vector<StandInRun> runs = m_updater.Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(RequestAttribute(runs[0].m_strRequest, "InstalledComponentListXMLPath"),
              WideToUtf8(m_folder.Child(L"lists/installed.xml")));

    ClearServiceLog();
    std::wstring tooLong = m_folder.Child(std::wstring(MAX_PATH - m_folder.Path().size(), L'n'));
    ASSERT_EQ(tooLong.size(), size_t(MAX_PATH + 1));
    EXPECT_EQ(Installed(L"App1", tooLong, L"t"), QM_LIST_NOT_SUPPORTED);
    EXPECT_EQ(m_updater.Runs().size(), 2u) << "nothing run";
    std::vector<std::wstring> records = ArchivedRecords();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[2], L"PL,REFUSE_ARG,GetInstalledComponentList,path too long");
}

// No request, no run: the call ends as one whose updater could not be run, and the log says why.
TEST_F(ListOperationsTest, RequestThatCannotBeWrittenRunsNothing)
{
    CSmallVolume volume;
    const struct
    {
        const char* label;
        bool fullDisk;
    } cases[] = {{"a file where the work folder should be", false}, {"a full disk", true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        if (c.fullDisk && !volume.Available())
        {
            std::cout << "[ SKIPPED  ] " << c.label << ": " << CSmallVolume::SkipReason() << std::endl;
            continue;
        }
        std::wstring temp = c.fullDisk ? volume.Child(L"temp") : m_folder.Child(L"temp dir");
        ASSERT_TRUE(MakeFolder(temp));
        if (c.fullDisk)
        {
            ASSERT_TRUE(MakeFolder(temp + L"/Tavrin_Inc_ZL"));
            ASSERT_TRUE(MakeFolder(temp + L"/Tavrin_Inc_ZL/Vestabel"));
            ASSERT_TRUE(volume.Fill());
        }
        else
        {
            ASSERT_TRUE(WriteFileBytes(temp + L"/Tavrin_Inc_ZL", "blocks the folder"));
        }
        CTemporaryFolderOverride override(temp);
        EXPECT_EQ(Installed(L"App1", m_folder.Child(L"i.xml"), L"t"), QM_LIST_NOT_SUPPORTED);
        EXPECT_EQ(Latest(m_folder.Child(L"l.xml"), L"t", L"1"), QM_LIST_NOT_SUPPORTED);
        volume.Release();
        EXPECT_TRUE(m_updater.Runs().empty());
        if (c.fullDisk)
        {
            EXPECT_TRUE(ListFolder(temp + L"/Tavrin_Inc_ZL/Vestabel", L"*").empty()) << "nothing left behind";
        }
        std::vector<std::wstring> records = AllLogRecords();
        ASSERT_EQ(records.size(), 10u);
        EXPECT_EQ(records[2].rfind(L"PL,SAVE_FAILED,GetInstalledComponentList," + temp + L"/Tavrin_Inc_ZL/Vestabel,error ", 0), 0u)
            << records[2];
        const std::wstring reason = c.fullDisk ? L"the work folder's disk is full: no request can be written: "
                                               : L"no request can be written in the work folder: ";
        EXPECT_EQ(records[3].rfind(L"PL,REASON,GetInstalledComponentList," + reason + temp + L"/Tavrin_Inc_ZL/Vestabel,error ", 0), 0u)
            << records[3];
        EXPECT_EQ(records[4], L"PL,API_END,GetInstalledComponentList,16");
        EXPECT_EQ(records[7].rfind(L"PL,SAVE_FAILED,GetLastComponentList,", 0), 0u) << records[7];
        EXPECT_EQ(records[8].rfind(L"PL,REASON,GetLastComponentList," + reason, 0), 0u) << records[8];
    }
}
} // namespace
