#pragma once
// qm_test_child from the test program's folder, for tests that need other processes, and the
// named events that start them together.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class CChildProcess
{
public:
    // Starts "qm_test_child <arguments>" with the given variables added to its environment.
    CChildProcess(const std::wstring& arguments, const std::vector<std::pair<std::wstring, std::wstring>>& environment = {});
    // Ends the process if it still runs.
    ~CChildProcess();
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    bool Started() const { return m_hProcess != nullptr; }
    // True when it ended within the time; its exit code then.
    bool Wait(DWORD milliseconds, DWORD* exitCode = nullptr);
    void Terminate();

private:
    HANDLE m_hProcess = nullptr;
};

// A manual-reset event with a name of its own, for QM_TEST_GO and QM_TEST_READY.
class CNamedEventForTest
{
public:
    CNamedEventForTest();
    ~CNamedEventForTest();
    CNamedEventForTest(const CNamedEventForTest&) = delete;
    CNamedEventForTest& operator=(const CNamedEventForTest&) = delete;

    const std::wstring& Name() const { return m_strName; }
    void Set() { ::SetEvent(m_hEvent); }
    void Reset() { ::ResetEvent(m_hEvent); }
    bool Wait(DWORD milliseconds) { return ::WaitForSingleObject(m_hEvent, milliseconds) == WAIT_OBJECT_0; }

private:
    std::wstring m_strName;
    HANDLE m_hEvent = nullptr;
};
