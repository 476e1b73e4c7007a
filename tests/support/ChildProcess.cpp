#include "support/ChildProcess.h"

#include <atomic>

namespace
{
std::wstring ChildPath()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"qm_test_child.exe";
}
} // namespace

CChildProcess::CChildProcess(const std::wstring& arguments,
                             const std::vector<std::pair<std::wstring, std::wstring>>& environment)
{
    // The child inherits this process's environment, with the variables set for it alone.
    for (const auto& variable : environment)
        ::SetEnvironmentVariableW(variable.first.c_str(), variable.second.c_str());
    std::wstring exe = ChildPath();
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &process))
    {
        ::CloseHandle(process.hThread);
        m_hProcess = process.hProcess;
    }
    for (const auto& variable : environment)
        ::SetEnvironmentVariableW(variable.first.c_str(), nullptr);
}

CChildProcess::~CChildProcess()
{
    if (m_hProcess == nullptr)
        return;
    Terminate();
    ::CloseHandle(m_hProcess);
}

bool CChildProcess::Wait(DWORD milliseconds, DWORD* exitCode)
{
    if (m_hProcess == nullptr || ::WaitForSingleObject(m_hProcess, milliseconds) != WAIT_OBJECT_0)
        return false;
    if (exitCode != nullptr)
        ::GetExitCodeProcess(m_hProcess, exitCode);
    return true;
}

void CChildProcess::Terminate()
{
    if (m_hProcess == nullptr)
        return;
    ::TerminateProcess(m_hProcess, 9);
    ::WaitForSingleObject(m_hProcess, 10000);
}

CNamedEventForTest::CNamedEventForTest()
{
    static std::atomic<unsigned> s_nCounter{0};
    m_strName = L"QMTestEvent_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(s_nCounter++);
    m_hEvent = ::CreateEventW(nullptr, TRUE, FALSE, m_strName.c_str());
}

CNamedEventForTest::~CNamedEventForTest()
{
    if (m_hEvent != nullptr)
        ::CloseHandle(m_hEvent);
}
