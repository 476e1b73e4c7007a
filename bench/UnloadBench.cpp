// What a load, call and unload of the module leaves behind in the host. Each cycle loads
// Pellorin.dll, makes a component update with progress records (progress window, worker
// thread, logged records) and an installed-list call against the stand-in updater, frees the
// module and waits until it has really left the process. All on this one thread, which lives
// on, as a host's main thread does. After a few cycles that set up what stays for the process
// (COM, the XML library, the loader's own tables), handles, thread-local storage slots, the
// heap in use and the commit charge must stay flat.
// Prints the readings, the figures per 100 cycles and the median cycle; exits with 1 when a
// target is missed. Optional argument: the number of measured cycles (default 200).

#define QM_IMPORT
#include "api/Pellorin.h"

#include "BenchSupport.h"
#include "support/ProcessResources.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{
constexpr int kWarmupCycles = 5;
constexpr int kDefaultCycles = 200;
constexpr int kSamples = 4;
// Per 100 cycles. Handles and TLS slots have no slack to hide in and count from the start.
// Heap blocks and the commit charge settle over the first tens of cycles (caches of the system
// libraries, heap segments, page slack) and count from the first quarter on. The heap target
// leaves room for what the runtime keeps of every load and no code of the module can free: a
// lock of 20 to 24 bytes behind guarded function statics, and on x86 the one the unwinder takes
// when it registers the module's frame tables. Before, the cycles left 400 handles, 100 TLS
// slots and 2 MB (x86) or 7.7 MB (x64) of heap per 100 cycles.
constexpr double kMaxHandlesPer100 = 0.0;
constexpr double kMaxHeapBytesPer100 = 4800.0;
constexpr double kMaxCommitKBPer100 = 64.0;
constexpr DWORD kUnloadWaitMs = 10000;

const wchar_t kAppName[] = L"QMUnloadBench";

const char kActionList[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<ActionList ParentAppName=\"Bench\" ComponentType=\"plugin\">\r\n"
                           "     <Component ID=\"C1\" Action=\"update\" Path=\"a\" Version=\"1\" Result=\"\"/>\r\n"
                           "     <Component ID=\"C2\" Action=\"add\" Path=\"b\" Version=\"2\" Result=\"\"/>\r\n"
                           "</ActionList>\r\n";

// Download records at new tens of percent and every other record are logged.
const char kScenario[] = "progress=1,C1,0,100,0,0,0;1,C1,100,100,0,0,0;4,C1,0,0,1,1,0;5,C2,0,0,1,1,0\n"
                         "finish_code=0\n"
                         "list=<ComponentList/>\n";

QMBool __stdcall Progress(int, int, const wchar_t*, unsigned, unsigned, unsigned long long, unsigned long long)
{
    return true;
}

// One load, update, list call and unload; false when a call failed or the module stayed.
bool Cycle(const std::wstring& actionListPath, const std::wstring& installedListPath)
{
    HMODULE module = LoadPellorin();
    auto update = ModuleExport<PFN_UpdateComponents>(module, "UpdateComponents");
    auto installed = ModuleExport<PFN_GetInstalledComponentList>(module, "GetInstalledComponentList");
    bool ok = update != nullptr && installed != nullptr &&
              update(kAppName, actionListPath.c_str(), L"plugin", Progress) == QM_UPDATE_DONE &&
              installed(kAppName, installedListPath.c_str(), L"plugin") == 0;
    if (module != nullptr)
        ::FreeLibrary(module);
    return WaitUntilModuleLeaves(L"Pellorin.dll", kUnloadWaitMs) && ok;
}

struct QMSample
{
    int m_nCycle;
    size_t m_nHandles;
    size_t m_nHeapBlocks;
    SIZE_T m_nHeapBytes;
    SIZE_T m_nCommitBytes;
    DWORD m_nFreeTlsSlot;
};

QMSample SampleOf(int cycle, const QMProcessResources& resources)
{
    return {cycle, resources.m_nHandles, resources.m_nHeapBlocks, resources.m_nHeapBytes, resources.m_nCommitBytes,
            resources.m_nFreeTlsSlot};
}

double PerHundred(double growth, int cycles)
{
    return growth * 100.0 / cycles;
}


struct QMRun
{
    bool m_bOk = true;
    std::vector<QMSample> m_vecSamples;
    std::vector<double> m_vecTimes;
    // Only the first and last readings are kept whole: the handle types of the ones between
    // would be heap blocks of this program's own, counted by the later readings.
    QMProcessResources m_first;
    QMProcessResources m_last;
};

void RunCycles(int cycles, const std::wstring& actionListPath, const std::wstring& installedListPath, QMRun& run)
{
    const std::wstring workFolder = StandInWorkFolder();
    const std::wstring requests = std::wstring(kAppName) + L"*.xml";
    for (int i = 0; i < kWarmupCycles; ++i)
        run.m_bOk = Cycle(actionListPath, installedListPath) && run.m_bOk;
    DeleteMatching(workFolder, requests);
    // Made to their full size first: their growth would count as heap in use.
    run.m_vecSamples.reserve(kSamples + 2);
    run.m_vecTimes.reserve(cycles);
    ReadProcessResources(); // its own first use sets up what the readings must not count
    run.m_first = ReadProcessResources();
    run.m_vecSamples.push_back(SampleOf(0, run.m_first));
    for (int i = 1; i <= cycles; ++i)
    {
        double start = NowSeconds();
        run.m_bOk = Cycle(actionListPath, installedListPath) && run.m_bOk;
        run.m_vecTimes.push_back(NowSeconds() - start);
        // Requests the updater leaves behind would make every later call read a longer folder.
        DeleteMatching(workFolder, requests);
        if (i == cycles)
        {
            run.m_last = ReadProcessResources();
            run.m_vecSamples.push_back(SampleOf(i, run.m_last));
        }
        else if (i % (cycles / kSamples) == 0)
            run.m_vecSamples.push_back(SampleOf(i, ReadProcessResources()));
    }
}

// Prints the readings and the figures; true when every target is met.
bool Report(int cycles, const QMRun& run)
{
    printf("%d load, UpdateComponents, GetInstalledComponentList, unload cycles on one thread (after %d warm-up "
           "cycles):\n",
           cycles, kWarmupCycles);
    printf("  %-8s %8s %12s %12s %12s %9s\n", "cycle", "handles", "heap blocks", "heap KB", "commit KB", "free TLS");
    for (const QMSample& sample : run.m_vecSamples)
        printf("  %-8d %8zu %12zu %12.1f %12.0f %9lu\n", sample.m_nCycle, sample.m_nHandles, sample.m_nHeapBlocks,
               sample.m_nHeapBytes / 1024.0, sample.m_nCommitBytes / 1024.0,
               static_cast<unsigned long>(sample.m_nFreeTlsSlot));

    const QMSample& start = run.m_vecSamples.front();
    const QMSample& settled = run.m_vecSamples[1];
    const QMSample& end = run.m_vecSamples.back();
    const int settledCycles = end.m_nCycle - settled.m_nCycle;
    double handles = PerHundred(static_cast<double>(end.m_nHandles) - start.m_nHandles, cycles);
    double slots = PerHundred(static_cast<double>(end.m_nFreeTlsSlot) - start.m_nFreeTlsSlot, cycles);
    double heapBytes = PerHundred(static_cast<double>(end.m_nHeapBytes) - settled.m_nHeapBytes, settledCycles);
    double heapBlocks = PerHundred(static_cast<double>(end.m_nHeapBlocks) - settled.m_nHeapBlocks, settledCycles);
    double commitSettled =
        PerHundred((static_cast<double>(end.m_nCommitBytes) - settled.m_nCommitBytes) / 1024.0, settledCycles);
    double commitAll = PerHundred((static_cast<double>(end.m_nCommitBytes) - start.m_nCommitBytes) / 1024.0, cycles);
    bool handlesMet = run.m_first.m_bHandlesRead && run.m_last.m_bHandlesRead && handles <= kMaxHandlesPer100;
    bool slotsMet = slots <= 0.0;
    bool heapMet = heapBytes <= kMaxHeapBytesPer100;
    bool commitMet = commitSettled <= kMaxCommitKBPer100;

    printf("handles gained by type: %ls\n", DescribeHandleGrowth(run.m_first, run.m_last).c_str());
    printf("%-52s %10.1f ms\n", "median cycle", Median(run.m_vecTimes) * 1000.0);
    printf("%-52s %10.1f     (target <= %.0f: %s)\n", "handles per 100 cycles", handles, kMaxHandlesPer100,
           handlesMet ? "met" : "MISSED");
    printf("%-52s %10.1f     (target 0: %s)\n", "TLS slots taken per 100 cycles", slots, slotsMet ? "met" : "MISSED");
    printf("%-52s %10.0f B   (%.1f blocks; target <= %.0f B: %s)\n",
           "heap in use per 100 cycles, from the first quarter", heapBytes, heapBlocks, kMaxHeapBytesPer100,
           heapMet ? "met" : "MISSED");
    printf("%-52s %10.1f KB  (target <= %.0f KB: %s)\n", "commit charge per 100 cycles, from the first quarter",
           commitSettled, kMaxCommitKBPer100, commitMet ? "met" : "MISSED");
    printf("%-52s %10.1f KB\n", "commit charge per 100 cycles, all cycles", commitAll);
    return handlesMet && slotsMet && heapMet && commitMet;
}
} // namespace

int main(int argc, char** argv)
{
    int cycles = argc > 1 ? std::atoi(argv[1]) : kDefaultCycles;
    if (cycles < kSamples)
        cycles = kDefaultCycles;
    std::wstring folder = CreateBenchFolder(L"qm_unload_bench");
    std::wstring scenarioPath = folder + L"\\scenario.txt";
    std::wstring actionListPath = folder + L"\\actionlist.xml";
    std::wstring installedListPath = folder + L"\\installed.xml";

    int rc = 1;
    {
        CRegistration registration(StandInPath());
        ::SetEnvironmentVariableW(kStandInScenarioVariable, scenarioPath.c_str());
        if (!registration.IsSet() || !WriteBytes(scenarioPath, kScenario) || !WriteBytes(actionListPath, kActionList))
            fprintf(stderr, "setup failed\n");
        else
        {
            QMRun run;
            RunCycles(cycles, actionListPath, installedListPath, run);
            bool met = Report(cycles, run);
            if (!run.m_bOk)
                fprintf(stderr, "some calls failed or the module stayed loaded\n");
            rc = run.m_bOk && met ? 0 : 1;
        }
        ::SetEnvironmentVariableW(kStandInScenarioVariable, nullptr);
    }

    DeleteMatching(StandInWorkFolder(), std::wstring(kAppName) + L"*.xml");
    ::DeleteFileW(scenarioPath.c_str());
    ::DeleteFileW(actionListPath.c_str());
    ::DeleteFileW(installedListPath.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return rc;
}
