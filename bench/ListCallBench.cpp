// Cost of a list call over the updater run it wraps: GetInstalledComponentList through the
// loaded module against the stand-in updater, and the same stand-in started and waited for
// directly with the same request document, parameters and result handling. Both are timed
// in one run, interleaved, so that they share the machine's noise. When the module's share
// is too large, the split printed below says where it goes.
// Prints medians and the ratio; exits with 1 when the target is missed.

#define QM_IMPORT
#include "api/Pellorin.h"

#include "api/SupportProbe.h"
#include "bridge/RequestDocument.h"
#include "bridge/ResultDocument.h"
#include "bridge/VestabelLocation.h"
#include "log/LogFolderScope.h"
#include "log/LogLock.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"

#include "BenchSupport.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace
{
// The module's own work (registry, request, log records, result) against one process start.
constexpr double kMaxOverDirectRun = 1.10;
constexpr int kWarmups = 3;
// A process start under the emulator takes anywhere from 55 to 110 ms, far more than the
// module's own share varies: the ratio needs many pairs to settle.
constexpr int kPairs = 120;

// The request file stem follows the application name; a name of our own keeps our files apart.
const wchar_t kAppName[] = L"QMListBench";
const wchar_t kComponentType[] = L"plugin";
const wchar_t kSwitch[] = L"/component_installedlist";


std::wstring ResultPathFor(const std::wstring& request)
{
    size_t at = request.find_last_of(L"/\\") + 1;
    return request.substr(0, at) + L"RESULT_" + request.substr(at);
}

// The module's parameter string: a path with a space that names something is quoted, then a
// space after every argument.
std::wstring ParametersFor(const std::wstring& request)
{
    bool quote = request.find(L' ') != std::wstring::npos;
    return (quote ? L"\"" + request + L"\"" : request) + L" " + kSwitch + L" ";
}

// What the module's list call costs without the module: the same request, the same start
// and wait, the same result read and deleted, and the list the updater wrote cleared.
bool RunDirect(const std::wstring& exePath, const std::wstring& requestPath, const std::string& request,
               const std::wstring& listPath)
{
    if (!WriteBytes(requestPath, request))
        return false;
    std::wstring parameters = ParametersFor(requestPath);
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = exePath.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info))
        return false;
    if (info.hProcess != nullptr)
    {
        ::WaitForSingleObject(info.hProcess, INFINITE);
        ::CloseHandle(info.hProcess);
    }
    std::wstring resultPath = ResultPathFor(requestPath);
    bool read = !ReadBytes(resultPath).empty();
    ::DeleteFileW(Backslashed(resultPath).c_str());
    ::DeleteFileW(Backslashed(listPath).c_str());
    return read;
}

// The module's steps around the updater run, timed with the module's own code: one sample of
// each per round, a round after each pair of calls, so that they see the moments the pairs see.
struct Split
{
    std::vector<double> folder, registry, request, logRecord, logLock, versionRecord, result, archive;
};

void MeasureSplitRound(const std::wstring& listPath, const std::string& resultBytes, Split& split)
{
    // As inside an exported call: the log folder is resolved once, at the call's first record,
    // and the call's later records use it.
    CQMLogFolderScope logFolder;
    QMLogLocation location;
    split.folder.push_back(MedianOf(1, [&] { GetCallLogLocation(location); }));
    split.registry.push_back(MedianOf(1, [] { VestabelExeUsable(GetVestabelExePath()); }));
    std::wstring request;
    split.request.push_back(
        MedianOf(1, [&] { request = CreateInstalledListRequest(kAppName, listPath, kComponentType); }));
    split.logRecord.push_back(MedianOf(1, [] {
        WriteServiceLog(kServiceLogSource, L"API_END", JoinLogFields({L"GetInstalledComponentList", L"0"}));
    }));
    // Taken and let go as a record does it; under the emulator each is a request to its server.
    split.logLock.push_back(MedianOf(1, [&] { CQMLogLock lock(location.m_strCurrentFile); }));
    split.versionRecord.push_back(MedianOf(1, [] { LogModuleVersion(); }));
    // The result as the updater leaves it beside its request.
    WriteBytes(ResultPathFor(request), resultBytes);
    std::wstring info;
    int code = 0;
    split.result.push_back(MedianOf(1, [&] { CatchResultDocument(request, info, &code); }));
    // Removed as after each call, so that every request meets the work folder as the calls left it.
    ::DeleteFileW(Backslashed(request).c_str());
    // The round's records are in the current file, as a call's are when it archives them.
    split.archive.push_back(MedianOf(1, [] { ArchiveServiceLog(); }));
}
} // namespace

int main()
{
    // As in a host with a user interface, COM is already set up on the calling thread.
    CQMComInit com = InitializeComForThread();
    std::wstring exePath = StandInPath();
    std::wstring folder = CreateBenchFolder(L"qm_list_bench");
    std::wstring recordFolder = folder + L"\\runs";
    ::CreateDirectoryW(recordFolder.c_str(), nullptr);
    std::wstring scenarioPath = folder + L"\\scenario.txt";
    std::wstring listPath = folder + L"\\installed.xml";

    int rc = 1;
    std::wstring workFolder;
    {
        CStandInHost host(scenarioPath);
        auto getList = ModuleExport<PFN_GetInstalledComponentList>(host.Module(), "GetInstalledComponentList");
        if (!host.IsRegistered() || getList == nullptr)
            fprintf(stderr, "setup failed (registration %d, module %p)\n", host.IsRegistered(), (void*)host.Module());
        else
        {
            // One recorded call gives the request document exactly as the module writes it.
            std::string recordLine = "record_folder=";
            for (wchar_t ch : recordFolder)
                recordLine += static_cast<char>(ch); // the temp path of the prefix is ASCII
            WriteBytes(scenarioPath, recordLine + "\nResult=0\n");
            int first = getList(kAppName, listPath.c_str(), kComponentType);
            std::string request = ReadBytes(recordFolder + L"\\run_1_request.xml");
            std::string commandLine = ReadBytes(recordFolder + L"\\run_1_commandline.txt");
            size_t argv1 = commandLine.find("argv1=");
            std::wstring modulesRequest =
                argv1 == std::string::npos
                    ? std::wstring()
                    : FromUtf8(commandLine.substr(argv1 + 6, commandLine.find("\r\n", argv1) - argv1 - 6));
            WriteBytes(scenarioPath, "Result=0\n");

            if (first != 0 || request.empty() || modulesRequest.empty())
                fprintf(stderr, "the recorded call failed (result %d)\n", first);
            else
            {
                workFolder = modulesRequest.substr(0, modulesRequest.find_last_of(L"/\\"));
                std::wstring directRequest = workFolder + L"/" + kAppName + L"Direct.xml";
                bool ok = true;
                std::vector<double> viaModule, direct, ratios;
                std::string resultBytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<CheckResult Result=\"0\"/>\r\n";
                Split split;
                for (int i = 0; i < kWarmups + kPairs; ++i)
                {
                    // Alternating which goes first spreads any drift over both.
                    for (int turn = 0; turn < 2; ++turn)
                    {
                        bool moduleTurn = (turn == 0) == (i % 2 == 0);
                        double start = NowSeconds();
                        if (moduleTurn)
                            ok = getList(kAppName, listPath.c_str(), kComponentType) == 0 && ok;
                        else
                            ok = RunDirect(exePath, directRequest, request, listPath) && ok;
                        double elapsed = NowSeconds() - start;
                        // The updater removes the request it was given; the stand-in leaves it. Left
                        // behind, every call would meet one more name in the folder it numbers its
                        // request by, while the direct run rewrites one file.
                        if (moduleTurn)
                            DeleteMatching(Backslashed(workFolder), std::wstring(kAppName) + L"_*.xml");
                        if (i >= kWarmups)
                            (moduleTurn ? viaModule : direct).push_back(elapsed);
                    }
                    if (i >= kWarmups)
                    {
                        ratios.push_back(viaModule.back() / direct.back());
                        MeasureSplitRound(listPath, resultBytes, split);
                    }
                }
                ::DeleteFileW(Backslashed(directRequest).c_str());

                // The ratio of each pair, then their median: a pair shares the machine's moment.
                double a = Median(viaModule), b = Median(direct);
                double ratio = Median(ratios);
                bool ratioMet = ok && ratio > 0 && ratio <= kMaxOverDirectRun;
                printf("median ms over %d pairs (after %d warm-ups)\n", kPairs, kWarmups);
                printf("A GetInstalledComponentList via module  %9.2f\n", a * 1e3);
                printf("B stand-in started directly             %9.2f\n", b * 1e3);
                printf("%-40s %9.3f   (target <= %.2f: %s)\n", "4. list call, A / B (pairs)", ratio, kMaxOverDirectRun,
                       ratioMet ? "met" : "MISSED");
                printf("A - B (module's own share)              %9.2f\n", (a - b) * 1e3);
                printf("module steps, median ms each over %d rounds, one after each pair; a list call\n"
                       "resolves the log folder once and makes 2 registry reads, 1 request, 1 version\n"
                       "record, 3 more records, 1 result read and 1 archive step:\n",
                       kPairs);
                double folderMs = Median(split.folder) * 1e3, registryMs = Median(split.registry) * 1e3,
                       requestMs = Median(split.request) * 1e3, recordMs = Median(split.logRecord) * 1e3,
                       lockMs = Median(split.logLock) * 1e3, versionMs = Median(split.versionRecord) * 1e3,
                       resultMs = Median(split.result) * 1e3, archiveMs = Median(split.archive) * 1e3;
                printf("  log folder, resolved once a call      %9.3f\n", folderMs);
                printf("  updater path from registry            %9.3f\n", registryMs);
                printf("  request document (incl. its record)   %9.3f\n", requestMs);
                printf("  one service-log record                %9.3f\n", recordMs);
                printf("    of which the log's lock, taken and let go %6.3f\n", lockMs);
                printf("  version record (file version + rec.)  %9.3f\n", versionMs);
                printf("  result document read and delete       %9.3f\n", resultMs);
                printf("  service-log archive step              %9.3f\n", archiveMs);
                double stepsMs = folderMs + 2 * registryMs + requestMs + versionMs + 3 * recordMs + resultMs + archiveMs;
                // Six records in all: three on their own, one each in the request, the version and
                // the result step.
                printf("  of the sum, the log's lock for its 6 records %5.3f\n", 6 * lockMs);
                // An absolute time says little on a machine whose load comes and goes: shown, not judged.
                printf("%-40s %9.3f\n", "5. sum over one call, ms", stepsMs);
                if (!ok)
                    fprintf(stderr, "some runs failed\n");
                rc = ratioMet ? 0 : 1;
            }
        }
    }

    // Our request documents (the module leaves them in its work folder), the recorded run, the list.
    if (!workFolder.empty())
        DeleteMatching(Backslashed(workFolder), std::wstring(kAppName) + L"*.xml");
    DeleteMatching(recordFolder, L"run_*");
    ::RemoveDirectoryW(recordFolder.c_str());
    ::DeleteFileW(scenarioPath.c_str());
    ::DeleteFileW(listPath.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return rc;
}
