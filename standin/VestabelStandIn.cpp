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
//   record_folder=<folder>                            where run_<n>_commandline.txt and
//                                                     run_<n>_request.xml record each run

#include "Scenario.h"
#include "StandInFiles.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

namespace
{
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

std::wstring ResultPathFor(const std::wstring& request)
{
    size_t slash = request.find_last_of(L"/\\");
    size_t at = slash == std::wstring::npos ? 0 : slash + 1;
    return request.substr(0, at) + L"RESULT_" + request.substr(at);
}

void RecordRun(const CStandInScenario& scenario, int argc, wchar_t** argv, const std::string& request)
{
    std::wstring folder = FromUtf8(scenario.Get("record_folder"));
    if (folder.empty())
        return;
    // The first free run number; runs of one test follow each other, never overlap.
    for (int n = 1;; ++n)
    {
        std::wstring stem = folder + L"\\run_" + std::to_wstring(n);
        if (::PathFileExistsW((stem + L"_commandline.txt").c_str()))
            continue;
        std::string text = ToUtf8(::GetCommandLineW()) + "\r\nargc=" + std::to_string(argc) + "\r\n";
        for (int i = 1; i < argc; ++i)
            text += "argv" + std::to_string(i) + "=" + ToUtf8(argv[i]) + "\r\n";
        if (argc > 1 && ::PathFileExistsW(argv[1]))
            WriteBytes(stem + L"_request.xml", request);
        WriteBytes(stem + L"_commandline.txt", text);
        return;
    }
}

std::string BuildResultDocument(const CStandInScenario& scenario)
{
    std::string kind = scenario.Get("result", "checkresult");
    if (kind == "raw")
        return scenario.Get("result_raw");
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
    std::string list = scenario.Get("list");
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
    std::wstring switchName = argc > 2 ? argv[2] : L"";
    CStandInScenario scenario = CStandInScenario::Load(switchName);
    std::string request = requestPath.empty() ? std::string() : ReadBytes(requestPath);
    RecordRun(scenario, argc, argv, request);

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

    return static_cast<int>(scenario.GetNumber("exit_code", 0));
}
