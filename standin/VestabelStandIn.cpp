// A stand-in for the service's updater executable, for host integration tests.
//
//   VestabelStandIn.exe <request document> <switch>
//
// It honours what the module relies on: for the launch-check and list switches it writes
// the result document "RESULT_<request file name>" beside the request, and for the list
// switches the list at the path the request names. What it writes, how long it takes and
// its exit code come from the scenario file named by QM_STANDIN_SCENARIO (see Scenario.h):
//
//   result=checkresult|malformed|wrongroot|raw|none   what result document to write (checkresult)
//   LaunchApp=Y  ProcessInfo=text  Result=0           attributes of "CheckResult", each only when given
//   result_raw=<text>                                 the whole result document for result=raw
//   list=<text>|none                                  the list document (a small default list)
//   delay_ms=<n>                                      time taken before writing anything
//   exit_code=<n>                                     the process's exit code (0)
//   record_folder=<folder>                            where run_<n>_commandline.txt,
//                                                     run_<n>_request.xml and run_<n>_events.txt
//                                                     record each run
//   ui_mutex_ms=<n>                                   hold "Tavrin_Inc_ZL_QM_UI_v1" during the run, and
//                                                     leave it held by a helper process for n ms after
//   decision=<n>  decision_delay_ms=<n>               have a helper process post the decision
//                                                     message with lParam n to the decision window
//   crash=1                                           end at once with exit code 3, writing nothing
//   hostile=1                                         first send the module's progress window what a
//                                                     foreign process could: WM_DESTROY (posted and sent),
//                                                     WM_NCCREATE with a foreign pointer, WM_CLOSE, and
//                                                     the done or save message that is not its call's
//   linger_ms=<n>                                     stay alive n ms after everything else is done
//
// The component-update side (progress records, cancel) is described in ProgressSession.h.
// Internal switches serve the helper processes: "/hold_mutex <name> <ms>" and
// "/post_decision <lParam> <delay ms>". Tests use "/hold_mutex" to play another instance.

#include "ProgressSession.h"
#include "Scenario.h"
#include "StandInFiles.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "protocol/QMMutexNames.h"
#include "protocol/QMProgressData.h"

namespace
{
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

std::wstring ResultPathFor(const std::wstring& request)
{
    size_t slash = request.find_last_of(L"/\\");
    size_t at = slash == std::wstring::npos ? 0 : slash + 1;
    return request.substr(0, at) + L"RESULT_" + request.substr(at);
}

// The stem of this run's record files ("<folder>\\run_<n>"), or empty when not recording.
std::wstring RecordRun(const CStandInScenario& scenario, int argc, wchar_t** argv, const std::string& request)
{
    std::wstring folder = FromUtf8(scenario.Get("record_folder"));
    if (folder.empty())
        return std::wstring();
    std::string text = ToUtf8(::GetCommandLineW()) + "\r\nargc=" + std::to_string(argc) + "\r\n";
    for (int i = 1; i < argc; ++i)
        text += "argv" + std::to_string(i) + "=" + ToUtf8(argv[i]) + "\r\n";
    // The first free run number. Runs of one test may overlap: creating the command-line
    // file anew decides which run takes a number.
    for (int n = 1; n < 10000; ++n)
    {
        std::wstring stem = folder + L"\\run_" + std::to_wstring(n);
        if (!WriteNewBytes(stem + L"_commandline.txt", text))
            continue;
        if (argc > 1 && ::PathFileExistsW(argv[1]))
            WriteBytes(stem + L"_request.xml", request);
        return stem;
    }
    return std::wstring();
}

// Starts this program again with an internal switch, without waiting for it. The helper
// inherits handles only when asked (a readiness event).
void StartHelper(const std::wstring& arguments, bool inheritHandles = false)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (::CreateProcessW(self, &commandLine[0], nullptr, nullptr, inheritHandles, 0, nullptr, nullptr, &startup,
                         &process))
    {
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

int HoldMutex(const wchar_t* name, DWORD milliseconds, HANDLE ready)
{
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, name);
    if (ready != nullptr)
    {
        ::SetEvent(ready);
        ::CloseHandle(ready);
    }
    ::Sleep(milliseconds);
    if (mutex != nullptr)
        ::CloseHandle(mutex);
    return 0;
}

int PostDecision(LPARAM decision, DWORD delay)
{
    // The decision window appears once the module starts waiting for the decision.
    for (int i = 0; i < 2000; ++i)
    {
        HWND window = ::FindWindowW(kDecisionWindowClass, nullptr);
        if (window != nullptr)
        {
            ::Sleep(delay);
            return ::PostMessageW(window, WM_QM_DECISION, 0, decision) ? 0 : 1;
        }
        ::Sleep(10);
    }
    return 1;
}

// What any process of the session can do to the progress window it finds by class.
void SendHostileMessages(bool componentUpdate)
{
    HWND window = ::FindWindowExW(HWND_MESSAGE, nullptr, kProgressWindowClass, nullptr);
    if (window == nullptr)
        return;
    DWORD_PTR ignored = 0;
    auto send = [&](UINT message, WPARAM wParam, LPARAM lParam) {
        ::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 5000, &ignored);
    };
    ::PostMessageW(window, WM_DESTROY, 0, 0);
    send(WM_DESTROY, 0, 0);
    CREATESTRUCTW foreign = {};
    foreign.lpCreateParams = reinterpret_cast<void*>(static_cast<ULONG_PTR>(0x7FFE0000));
    send(WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&foreign));
    send(WM_CLOSE, 0, 0);
    send(WM_QM_CHECK_DONE, 0, 0);
    send(WM_QM_CHECK_DONE, 1, 0);
    // The save message belongs to a component update; a launch check's window must ignore it.
    if (!componentUpdate)
        send(WM_QM_SAVE_AND_CLOSE, 0, 0);
}

std::string BuildResultDocument(const CStandInScenario& scenario)
{
    std::string kind = scenario.Get("result", "checkresult");
    if (kind == "raw")
        return scenario.GetText("result_raw");
    if (kind == "malformed")
        return std::string(kDeclaration) + "<CheckResult LaunchApp=\"Y\" Result=\"0\"";
    if (kind == "wrongroot")
        return std::string(kDeclaration) + "<Result LaunchApp=\"Y\" Result=\"5\"/>\r\n";
    std::string document = std::string(kDeclaration) + "<CheckResult";
    for (const char* name : {"LaunchApp", "ProcessInfo", "Result"})
    {
        if (scenario.Has(name))
            document += std::string(" ") + name + "=\"" + EscapeAttribute(scenario.Get(name)) + "\"";
    }
    return document + "/>\r\n";
}

void WriteList(const CStandInScenario& scenario, const std::string& request, const char* attribute)
{
    std::string listPath = FindAttribute(request, attribute);
    std::string list = scenario.GetText("list");
    if (listPath.empty() || list == "none")
        return;
    if (list.empty())
        list = std::string(kDeclaration) + "<ComponentList ComponentType=\"" +
               EscapeAttribute(FindAttribute(request, "ComponentType")) + "\"/>\r\n";
    WriteBytes(FromUtf8(listPath), list);
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring requestPath = argc > 1 ? argv[1] : L"";
    if (requestPath == L"/hold_mutex" && argc > 3)
        return HoldMutex(argv[2], static_cast<DWORD>(_wtoi(argv[3])),
                         argc > 4 ? reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(_wtoi64(argv[4]))) : nullptr);
    if (requestPath == L"/post_decision" && argc > 3)
        return PostDecision(_wtoi(argv[2]), static_cast<DWORD>(_wtoi(argv[3])));

    std::wstring switchName = argc > 2 ? argv[2] : L"";
    CStandInScenario scenario = CStandInScenario::Load(switchName);
    // An updater that runs in another folder than its host resolves relative paths there.
    if (scenario.Has("working_folder"))
        ::SetCurrentDirectoryW(FromUtf8(scenario.Get("working_folder")).c_str());
    std::string request = requestPath.empty() ? std::string() : ReadBytes(requestPath);
    std::wstring record = RecordRun(scenario, argc, argv, request);
    if (scenario.Get("crash") == "1")
        return 3;

    // The updater's interface is up from the start of the run.
    long uiMutex = scenario.GetNumber("ui_mutex_ms", 0);
    HANDLE uiMutexHandle = uiMutex > 0 ? ::CreateMutexW(nullptr, FALSE, kVestabelUIMutexName) : nullptr;

    if (scenario.Get("hostile") == "1")
        SendHostileMessages(switchName == L"/update_components");

    long delay = scenario.GetNumber("delay_ms", 0);
    if (delay > 0)
        ::Sleep(static_cast<DWORD>(delay));

    if (switchName == L"/component_installedlist")
        WriteList(scenario, request, "InstalledComponentListXMLPath");
    else if (switchName == L"/component_latestlist")
        WriteList(scenario, request, "LatestComponentListXMLPath");

    bool writesResult = switchName == L"/check_app_update_qm" || switchName == L"/update_app" ||
                        switchName == L"/component_installedlist" || switchName == L"/component_latestlist";
    if (writesResult && scenario.Get("result") != "none" && !requestPath.empty())
        WriteBytes(ResultPathFor(requestPath), BuildResultDocument(scenario));

    // Only the check run is followed by a decision from another process.
    if (switchName == L"/check_app_update_qm" && scenario.Has("decision"))
        StartHelper(L"/post_decision " + FromUtf8(scenario.Get("decision")) + L" " +
                    std::to_wstring(scenario.GetNumber("decision_delay_ms", 0)));

    if (switchName == L"/update_components")
    {
        std::string events = RunProgressSession(scenario);
        if (!record.empty())
            WriteBytes(record + L"_events.txt", events);
    }

    if (uiMutex > 0)
    {
        // A helper takes over the interface mutex; this process lets its own go only once the
        // helper holds it, so the mutex never lapses between the run and the time after it.
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE ready = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
        StartHelper(L"/hold_mutex " + std::wstring(kVestabelUIMutexName) + L" " + std::to_wstring(uiMutex) + L" " +
                        std::to_wstring(reinterpret_cast<ULONG_PTR>(ready)),
                    true);
        ::WaitForSingleObject(ready, 10000);
        ::CloseHandle(ready);
    }
    if (uiMutexHandle != nullptr)
        ::CloseHandle(uiMutexHandle);
    long linger = scenario.GetNumber("linger_ms", 0);
    if (linger > 0)
        ::Sleep(static_cast<DWORD>(linger));

    return static_cast<int>(scenario.GetNumber("exit_code", 0));
}
