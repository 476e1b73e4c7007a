// Runs a sample of the kit as its user would, against the kit's stand-in updater, and checks
// what it did. The window sample is driven like a person: once its progress bar moves, the
// driver clicks Cancel, waits for it to report the end, and closes it.
//
//   qm_sample_driver gui|console <sample.exe> <VestabelStandIn.exe> <work folder> <scenario>
//
// The scenario is the one the kit ships for the samples' steps.
//
// The stand-in is registered for the run and the registration removed at its end, as the tests
// do. Exit code 0 when all is well.

#include "support/FileUtilForTest.h"
#include "support/RegistryForTest.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
const char kActionList[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<ActionList ParentAppName=\"SampleApp\" ComponentType=\"plugin\">\r\n"
                           "     <Component ID=\"Editor\" Action=\"update\" Path=\"plugins/editor\" Version=\"2.1\"/>\r\n"
                           "     <Component ID=\"Spelling\" Action=\"add\" Path=\"plugins/spelling\" Version=\"1.0\"/>\r\n"
                           "</ActionList>\r\n";

int g_failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    g_failures += ok ? 0 : 1;
}

std::vector<std::string> Results(const std::string& list)
{
    std::vector<std::string> results;
    for (size_t at = list.find("Result=\""); at != std::string::npos; at = list.find("Result=\"", at + 1))
        results.push_back(list.substr(at + 8, list.find('"', at + 8) - at - 8));
    return results;
}

template <class Condition>
bool WaitFor(Condition condition, DWORD milliseconds)
{
    for (DWORD waited = 0; waited < milliseconds; waited += 50)
    {
        if (condition())
            return true;
        ::Sleep(50);
    }
    return condition();
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = {};
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &ignored);
    return text;
}

// Starts the sample; with output, its standard output goes into that pipe.
HANDLE StartSample(const std::wstring& exe, const std::wstring& list, HANDLE output = nullptr)
{
    std::wstring commandLine = L"\"" + exe + L"\" \"" + list + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (output != nullptr)
    {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
    }
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr,
                          &startup, &process))
        return nullptr;
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD Finish(HANDLE process, DWORD milliseconds)
{
    DWORD code = 999;
    if (::WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0)
        ::TerminateProcess(process, 998);
    ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    return code;
}

void DriveGui(const std::wstring& exe, const std::wstring& list)
{
    HANDLE process = StartSample(exe, list);
    Check(process != nullptr, "the window sample starts");
    if (process == nullptr)
        return;
    HWND window = nullptr;
    Check(WaitFor([&] { return (window = ::FindWindowW(L"PellorinGuiSample", nullptr)) != nullptr; }, 30000),
          "its window appears");
    // The window can be found while its WM_CREATE is still making the controls.
    HWND bar = nullptr, status = nullptr, cancel = nullptr;
    Check(window != nullptr && WaitFor(
                                   [&] {
                                       bar = ::FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
                                       status = ::FindWindowExW(window, nullptr, L"Static", nullptr);
                                       cancel = ::FindWindowExW(window, nullptr, L"Button", L"Cancel");
                                       return bar != nullptr && status != nullptr && cancel != nullptr;
                                   },
                                   10000),
          "it has a progress bar, a status line and Cancel");
    if (bar == nullptr || status == nullptr || cancel == nullptr)
    {
        Finish(process, 0);
        return;
    }
    Check(WaitFor([&] { return ::SendMessageW(bar, PBM_GETPOS, 0, 0) > 0; }, 30000),
          "the progress bar moves with the updater's records");
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(100, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
    Check(WaitFor([&] { return WindowText(status).compare(0, 8, L"Finished") == 0; }, 60000),
          "after Cancel the sample reports the end of the call");
    Check(WindowText(status).find(L"cancelled (200)") != std::wstring::npos, "the call returned 200 after the cancel");
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    Check(Finish(process, 30000) == 0, "it closes with exit code 0");
    // The stand-in honours the cancel with its cancel code, which every component gets.
    Check(Results(ReadFileBytes(list)) == std::vector<std::string>{"2", "2"}, "the list holds the cancelled results");
}

void DriveConsole(const std::wstring& exe, const std::wstring& list)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    // Large enough for all it prints, so it never waits for this side to read.
    Check(::CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 20) != 0, "a pipe for its output");
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE process = StartSample(exe, list, writeEnd);
    ::CloseHandle(writeEnd);
    Check(process != nullptr, "the console sample starts");
    if (process != nullptr)
        Check(Finish(process, 60000) == 0, "it ends with exit code 0");
    // What is in the pipe once it has ended; a process that inherited the pipe's other end (under
    // Wine, one started for the sample's COM) may keep it open, so the read must not wait for its end.
    std::string output;
    char buffer[4096];
    DWORD available = 0, read = 0;
    while (::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
           ::ReadFile(readEnd, buffer, sizeof(buffer) < available ? sizeof(buffer) : available, &read, nullptr))
        output.append(buffer, read);
    ::CloseHandle(readEnd);
    std::printf("%s", output.c_str());
    Check(Results(ReadFileBytes(list)) == std::vector<std::string>{"0", "0"}, "the list holds the results");
    Check(output.find("download Editor") != std::string::npos && output.find("add      Spelling") != std::string::npos,
          "it prints the progress the kit's scenario sends");
    Check(output.find("  Editor           Result 0") != std::string::npos &&
              output.find("  Spelling         Result 0") != std::string::npos,
          "it prints each component's result, read back from the list");
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 6)
    {
        std::fprintf(stderr,
                     "usage: qm_sample_driver gui|console <sample.exe> <VestabelStandIn.exe> <folder> <scenario>\n");
        return 2;
    }
    std::wstring kind = argv[1], exe = argv[2], updater = argv[3], folder = argv[4], scenario = argv[5];
    std::wstring list = folder + L"\\actions.xml";
    bool gui = kind == L"gui";
    // The kit's scenario: records slow enough that the cancel comes in the middle; the stand-in
    // honours it with code 2.
    Check(WriteFileBytes(list, kActionList), "the action list is written");
    ::SetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", scenario.c_str());
    {
        CVestabelRegistration registration;
        Check(registration.SetPath(updater), "the stand-in is registered for the run");
        if (gui)
            DriveGui(exe, list);
        else
            DriveConsole(exe, list);
    }
    std::printf("%s\n", g_failures == 0 ? "all ok" : "some checks failed");
    return g_failures == 0 ? 0 : 1;
}
