// Memory over repeated component updates: ten UpdateComponents calls on a 50,000-component
// action list, with the host's private bytes (the commit charge) after each. Every call
// loads and saves the list several times; once the first call has set up what stays (COM,
// the DOM's classes, the module's parser), later calls must leave nothing behind.
// Prints the figures; exits with 1 when the growth after the first call exceeds the target.

#define QM_IMPORT
#include "api/Pellorin.h"

#include "BenchSupport.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
constexpr int kComponents = 50000;
constexpr int kCalls = 10;
// Growth from the end of the first call to the end of the last, in MB: allocator slack, not a
// leak (one leaked list would be tens of MB).
constexpr double kMaxGrowthMB = 4.0;

// The request file stem follows the application name; a name of our own keeps our files apart.
const wchar_t kAppName[] = L"QMMemoryBench";

std::string ActionListText()
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                       "<ActionList ParentAppName=\"Bench\" ComponentType=\"plugin\">\r\n";
    char line[160];
    for (int i = 0; i < kComponents; ++i)
    {
        snprintf(line, sizeof(line),
                 "     <Component ID=\"C%05d\" Action=\"update\" Path=\"plugins/c%05d.dll\" Version=\"1.0.%d\"/>\r\n", i,
                 i, i % 100);
        text += line;
    }
    return text + "</ActionList>\r\n";
}

// The host's private bytes. Wine reports PrivateUsage as 0; PagefileUsage is the commit charge on both.
double PrivateMB()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)))
        return 0;
    return static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
}
} // namespace

int main()
{
    std::wstring folder = CreateBenchFolder(L"qm_memory_bench");
    std::wstring scenarioPath = folder + L"\\scenario.txt";
    std::wstring actionListPath = folder + L"\\actionlist.xml";
    std::wstring workFolder = StandInWorkFolder();

    int rc = 1;
    {
        CStandInHost host(scenarioPath);
        // A few records that set results, then a finish that sets every one: both kinds of save.
        bool ready = WriteBytes(scenarioPath, "progress=4,C00001,0,0,1,1,7;5,C49999,0,0,1,1,3\nfinish_code=0\n") &&
                     WriteBytes(actionListPath, ActionListText());
        auto update = ModuleExport<PFN_UpdateComponents>(host.Module(), "UpdateComponents");
        if (!ready || !host.IsRegistered() || update == nullptr)
            fprintf(stderr, "setup failed\n");
        else
        {
            bool ok = true;
            std::vector<double> after;
            double before = PrivateMB();
            for (int call = 0; call < kCalls; ++call)
            {
                ok = update(kAppName, actionListPath.c_str(), L"plugin", nullptr) == QM_UPDATE_DONE && ok;
                after.push_back(PrivateMB());
            }
            printf("private bytes (commit charge), MB, %d UpdateComponents calls on a %d-component list:\n", kCalls,
                   kComponents);
            printf("  before the first call %8.1f\n", before);
            for (int call = 0; call < kCalls; ++call)
                printf("  after call %2d         %8.1f\n", call + 1, after[call]);
            double growth = after.back() - after.front();
            bool met = ok && growth <= kMaxGrowthMB;
            printf("%-44s %8.1f MB  (target <= %.1f MB: %s)\n", "growth from the first call to the last", growth,
                   kMaxGrowthMB, met ? "met" : "MISSED");
            if (!ok)
                fprintf(stderr, "some calls failed\n");
            rc = met ? 0 : 1;
        }
    }

    DeleteMatching(workFolder, std::wstring(kAppName) + L"*.xml");
    ::DeleteFileW(scenarioPath.c_str());
    ::DeleteFileW(actionListPath.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return rc;
}
