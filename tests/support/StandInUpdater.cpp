#include "support/StandInUpdater.h"

#include "support/FileUtilForTest.h"
#include "sys/Handle.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

std::wstring CStandInUpdater::WorkFolder()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"Tavrin_Inc_ZL/Vestabel";
    for (wchar_t& ch : folder)
        if (ch == L'\\')
            ch = L'/';
    return folder;
}

std::wstring CStandInUpdater::ExePath() const
{
    return BinFolder() + L"VestabelStandIn.exe";
}

CStandInUpdater::CStandInUpdater(const std::vector<std::string>& scenario)
{
    RemoveFolderTree(WorkFolder());
    EXPECT_TRUE(MakeFolder(m_folder.Child(L"runs")));
    EXPECT_TRUE(m_registration.SetPath(ExePath()));
    SetScenario(scenario);
    std::wstring scenarioPath = PlatformPathForTest(m_folder.Child(L"scenario.txt"));
    // The module starts the updater from this process, so the child inherits the variable.
    ::SetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", scenarioPath.c_str());
}

CStandInUpdater::~CStandInUpdater()
{
    for (HANDLE holder : m_vecHolders)
    {
        ::TerminateProcess(holder, 0);
        ::WaitForSingleObject(holder, 5000);
        ::CloseHandle(holder);
    }
    ::SetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", nullptr);
    RemoveFolderTree(WorkFolder());
}

bool CStandInUpdater::HoldMutexElsewhere(const std::wstring& name, unsigned milliseconds)
{
    std::wstring exe = ExePath();
    std::wstring commandLine = L"\"" + exe + L"\" /hold_mutex " + name + L" " + std::to_wstring(milliseconds);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    ::CloseHandle(process.hThread);
    m_vecHolders.push_back(process.hProcess);
    for (int i = 0; i < 500; ++i)
    {
        HANDLE mutex = ::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
        if (mutex != nullptr)
        {
            ::CloseHandle(mutex);
            return true;
        }
        ::Sleep(10);
    }
    return false;
}

namespace
{
// Calls visit with every process id of the stand-in's executable; counts them.
template <class Visit>
int ForEachStandInProcess(Visit visit)
{
    int count = 0;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
    {
        if (_wcsicmp(entry.szExeFile, L"VestabelStandIn.exe") == 0)
        {
            ++count;
            visit(entry.th32ProcessID);
        }
    }
    ::CloseHandle(snapshot);
    return count;
}
} // namespace

void CStandInUpdater::EndAllRuns()
{
    ForEachStandInProcess([](DWORD id) {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr)
            return;
        ::TerminateProcess(process, 9);
        ::WaitForSingleObject(process, 5000);
        ::CloseHandle(process);
    });
}

bool CStandInUpdater::WaitUntilNoneRuns(unsigned milliseconds)
{
    DWORD start = ::GetTickCount();
    while (ForEachStandInProcess([](DWORD) {}) > 0)
    {
        if (::GetTickCount() - start > milliseconds)
            return false;
        ::Sleep(50);
    }
    return true;
}

bool CStandInUpdater::WaitUntilMutexGone(const std::wstring& name, unsigned milliseconds)
{
    for (DWORD start = ::GetTickCount();; ::Sleep(20))
    {
        if (!CQMKernelHandle(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())))
            return true;
        if (::GetTickCount() - start >= milliseconds)
            return false;
    }
}

std::string CStandInUpdater::Events(int run) const
{
    return ReadFileBytes(m_folder.Child(L"runs/run_" + std::to_wstring(run) + L"_events.txt"));
}

void CStandInUpdater::SetScenario(const std::vector<std::string>& scenario)
{
    std::string text = "record_folder=" + WideToUtf8(PlatformPathForTest(m_folder.Child(L"runs"))) + "\n";
    for (const std::string& line : scenario)
        text += line + "\n";
    EXPECT_TRUE(WriteFileBytes(m_folder.Child(L"scenario.txt"), text));
}

std::vector<StandInRun> CStandInUpdater::Runs() const
{
    std::vector<StandInRun> runs;
    for (int n = 1;; ++n)
    {
        std::wstring stem = m_folder.Child(L"runs/run_" + std::to_wstring(n));
        if (!FileExists(stem + L"_commandline.txt"))
            break;
        std::wstring text = Utf8ToWide(ReadFileBytes(stem + L"_commandline.txt"));
        StandInRun run;
        size_t lineEnd = text.find(L"\r\n");
        run.m_strCommandLine = text.substr(0, lineEnd);
        size_t at = lineEnd + 2;
        while (at < text.size())
        {
            size_t end = text.find(L"\r\n", at);
            std::wstring line = text.substr(at, end - at);
            at = end + 2;
            if (line.compare(0, 4, L"argv") == 0)
                run.m_vecArguments.push_back(line.substr(line.find(L'=') + 1));
        }
        run.m_strRequest = ReadFileBytes(stem + L"_request.xml");
        runs.push_back(run);
    }
    return runs;
}

std::string RequestAttribute(const std::string& request, const std::string& name)
{
    std::string needle = " " + name + "=\"";
    size_t start = request.find(needle);
    if (start == std::string::npos)
        return std::string();
    start += needle.size();
    return request.substr(start, request.find('"', start) - start);
}
