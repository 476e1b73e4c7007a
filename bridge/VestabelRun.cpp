#include "bridge/VestabelRun.h"

#include "bridge/VestabelLocation.h"
#include "log/ReasonRecord.h"
#include "sys/Handle.h"
#include "sys/MessageWait.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

namespace
{
// Each argument went through a MAX_PATH buffer; longer ones are refused rather than cut.
constexpr size_t kMaxArgumentChars = MAX_PATH - 1;

} // namespace

bool BuildVestabelParameters(const std::vector<std::wstring>& arguments, std::wstring& parameters)
{
    std::wstring built;
    for (const std::wstring& argument : arguments)
    {
        if (argument.size() > kMaxArgumentChars)
            return false;
        // Quoted only when it names something and holds a space, so a switch is never quoted.
        // The shell's quoting helper leaves long texts alone; quoting here covers them too.
        if (::PathFileExistsW(argument.c_str()) && argument.find(L' ') != std::wstring::npos)
            built += L'"' + argument + L'"';
        else
            built += argument;
        built += L' ';
    }
    parameters = built;
    return true;
}

std::wstring DescribeUpdaterExitCode(unsigned long exitCode)
{
    if (exitCode == kUpdaterExitUnknown)
        return L"exit code unknown";
    if (exitCode < 0x80000000ul)
        return L"exit code " + std::to_wstring(exitCode);
    wchar_t hex[16] = {};
    ::wsprintfW(hex, L"0x%08lX", exitCode);
    return std::wstring(L"exit code ") + hex;
}

bool RunVestabel(const wchar_t* logName, const std::vector<std::wstring>& arguments, unsigned long* exitCode)
{
    if (exitCode != nullptr)
        *exitCode = kUpdaterExitUnknown;
    // A request that was refused has no path: there is nothing for the updater to do.
    if (arguments.empty() || arguments[0].empty())
        return false;
    std::wstring updater = GetVestabelExePath();
    if (!VestabelExeUsable(updater))
    {
        WriteReasonRecord(logName, L"the registered updater's file is missing: " + updater);
        return false;
    }
    std::wstring parameters;
    if (!BuildVestabelParameters(arguments, parameters))
    {
        WriteReasonRecord(logName, L"an argument of the updater's command line is longer than 259 characters");
        return false;
    }

    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    // Without NO_UI the shell answers a file that is not a program (or any other refusal) with
    // a modal box in this process, and the host's call waits for a click; with it the start
    // fails at once with the error, which the reason record carries.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = updater.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info))
    {
        WriteReasonRecord(logName, L"the updater could not be started: " + updater, ::GetLastError());
        return false;
    }

    // No handle comes back when the shell handed the start to another process; nothing to wait for.
    // The wait has no limit, but the thread keeps answering what other threads send it: the
    // host's own threads during a list call, the desktop, and a worker's COM apartment window.
    CQMKernelHandle process(info.hProcess);
    if (process)
    {
        WaitHandlingSentMessages(process.Get(), INFINITE);
        // Not the outcome (that is the result document's or the records'), but what a support
        // engineer needs when neither came: a crash shows here.
        DWORD code = 0;
        if (exitCode != nullptr && ::GetExitCodeProcess(process.Get(), &code))
            *exitCode = code;
    }
    return true;
}
