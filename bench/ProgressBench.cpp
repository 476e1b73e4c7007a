// Cost of a progress record: UpdateComponents of a 1,000-component action list while the
// stand-in updater sends 5,000 progress records, against the same stand-in sending the same
// records to a bare window of this program that only counts them. The per-record figure is
// taken between the first and the last record, so the process start and the scenario's
// parsing stay out of it. When the ratio misses, the module's per-record cost is split into
// its service-log parts, timed with the log's own code. Also times the call's end: from the
// last record to the return, less the fixed wait for the updater's user interface.
// Prints medians and ratios; exits with 1 when the target is missed.

#define QM_IMPORT
#include "api/Pellorin.h"

#include "log/LogRecordWriter.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"
#include "ui/QMProgressData.h"

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
// The module may spend at most this many times what a bare receiver spends on a record.
constexpr double kMaxOverBareWindow = 3.0;
constexpr int kComponents = 1000;
constexpr int kRecords = 5000;
constexpr int kWarmups = 1;
constexpr int kRuns = 5;
constexpr int kSplitRepeats = 300;
// UpdateComponents sleeps one round of its wait for the updater's user interface even when
// none is left (kUiWaitRoundMs in the update operation).
constexpr double kFixedUiWaitSeconds = 0.100;
constexpr int kKeepResultsFinishCode = 14;

const wchar_t kScenarioVariable[] = L"QM_STANDIN_SCENARIO";
// The request file stem follows the application name; a name of our own keeps our files apart.
const wchar_t kAppName[] = L"QMProgressBench";

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
}

std::string ComponentId(int index)
{
    char id[16];
    snprintf(id, sizeof(id), "C%04d", index + 1);
    return id;
}

std::string ActionListText()
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                       "<ActionList ParentAppName=\"Bench\" ComponentType=\"plugin\">\r\n";
    for (int i = 0; i < kComponents; ++i)
        text += "     <Component ID=\"" + ComponentId(i) +
                "\" Action=\"update\" Path=\"p\" Version=\"1\" Result=\"\"/>\r\n";
    return text + "</ActionList>\r\n";
}

struct ProgressRecord
{
    int type;
    int index;
    unsigned long long bytesDone, bytesTotal;
    unsigned itemsDone, itemsTotal;
};

// Types 1 to 5 in turn over the components; every download moves its percentage on, so the
// module's rule (a download is logged when its percentage changes to a multiple of ten) is
// met as often as a real download would meet it.
std::vector<ProgressRecord> MakeRecords()
{
    std::vector<ProgressRecord> records;
    for (int i = 0; i < kRecords; ++i)
    {
        unsigned step = static_cast<unsigned>(i / 5) % 101;
        records.push_back({1 + i % 5, i % kComponents, step, 100, step, 100});
    }
    return records;
}

// The same number of records, all downloads at an unchanging percentage: the module logs only
// the first. The difference to the full set is what the logging rule costs in place.
std::vector<ProgressRecord> MakeQuietRecords()
{
    std::vector<ProgressRecord> records;
    for (int i = 0; i < kRecords; ++i)
        records.push_back({QM_PROGRESS_DOWNLOAD, i % kComponents, 0, 0, 0, 0});
    return records;
}

// How many of the records the module writes a service-log record for.
int LoggedRecordCount(const std::vector<ProgressRecord>& records)
{
    int logged = 0;
    int lastPercent = 100;
    for (const ProgressRecord& r : records)
    {
        if (r.type != QM_PROGRESS_DOWNLOAD)
            ++logged;
        else
        {
            int percent = static_cast<int>(r.bytesDone * 100 / r.bytesTotal);
            if (percent != lastPercent)
            {
                lastPercent = percent;
                logged += percent % 10 == 0;
            }
        }
    }
    return logged;
}

std::string ScenarioText(const std::vector<ProgressRecord>& records)
{
    std::string progress;
    for (const ProgressRecord& r : records)
    {
        char entry[96];
        snprintf(entry, sizeof(entry), "%s%d,%s,%llu,%llu,%u,%u,0", progress.empty() ? "" : ";", r.type,
                 ComponentId(r.index).c_str(), r.bytesDone, r.bytesTotal, r.itemsDone, r.itemsTotal);
        progress += entry;
    }
    return "progress=" + progress + "\nfinish_code=" + std::to_string(kKeepResultsFinishCode) + "\n";
}

// Timestamps of the first and the latest record one receiver saw.
struct RecordClock
{
    int count = 0;
    double first = 0;
    double last = 0;
    double previous = 0;

    void Tick()
    {
        double now = NowSeconds();
        if (count == 0)
            first = now;
        previous = last;
        last = now;
        ++count;
    }
};

RecordClock g_callbackClock;
RecordClock g_windowClock;

QMBool QM_STDCALL CountingCallback(int, int, const wchar_t*, unsigned, unsigned, unsigned long long,
                                   unsigned long long)
{
    g_callbackClock.Tick();
    return true;
}

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
    {
        g_windowClock.Tick();
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

struct RunTimes
{
    double perRecord = 0;
    double lastRecordToEnd = 0;
    bool ok = false;
};

RunTimes RunThroughModule(PFN_UpdateComponents update, const std::wstring& actionListPath,
                          const std::string& actionList)
{
    RunTimes times;
    // The call writes the results into the list; every run starts from the same list.
    if (!WriteBytes(actionListPath, actionList))
        return times;
    g_callbackClock = RecordClock();
    int result = update(kAppName, actionListPath.c_str(), L"plugin", CountingCallback);
    double returned = NowSeconds();
    const RecordClock& c = g_callbackClock;
    times.ok = result == QM_UPDATE_DONE && c.count == kRecords;
    if (c.count > 1)
        times.perRecord = (c.last - c.first) / (c.count - 1);
    times.lastRecordToEnd = returned - c.last - kFixedUiWaitSeconds;
    if (!times.ok)
        fprintf(stderr, "module run: result %d, %d callbacks\n", result, c.count);
    return times;
}

RunTimes RunToBareWindow(const std::wstring& exePath, const std::wstring& requestPath)
{
    RunTimes times;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kProgressWindowClass;
    if (!::RegisterClassW(&windowClass))
        return times;
    HWND window = ::CreateWindowExW(0, kProgressWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                                    nullptr);
    g_windowClock = RecordClock();
    std::wstring parameters = requestPath + L" /update_components ";
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = L"open";
    info.lpFile = exePath.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (window != nullptr && ::ShellExecuteExW(&info) && info.hProcess != nullptr)
    {
        // The updater sends, so this thread must keep taking sent messages until it has ended.
        while (::MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
        {
            MSG message;
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&message);
        }
        double ended = NowSeconds();
        ::CloseHandle(info.hProcess);
        // The finish record is the last one the window took; the one before it the last progress record.
        const RecordClock& c = g_windowClock;
        times.ok = c.count == kRecords + 1;
        if (c.count > 2)
            times.perRecord = (c.previous - c.first) / (c.count - 2);
        times.lastRecordToEnd = ended - c.previous;
        if (!times.ok)
            fprintf(stderr, "bare window run: %d records\n", c.count);
    }
    if (window != nullptr)
        ::DestroyWindow(window);
    ::UnregisterClassW(kProgressWindowClass, instance);
    return times;
}

struct Split
{
    double folder = 0;
    double createFolder = 0;
    double append = 0;
    double appendScratch = 0;
    double wholeRecord = 0;
    double wholeRecordFirst = 0;
    double folderAgain = 0;
    double callback = 0;
};

// The parts of one logged record, each timed with the service log's own functions.
Split MeasureSplit(const std::wstring& scratchFile)
{
    Split split;
    std::wstring folder = GetServiceLogFolder();
    std::wstring line = L"2024/01/01 00:00:00.000,PL,CATCH_MSG,UpdateComponents,TYPE_EXTRACT";
    // Whole records before and after the parts, and the folder again at the end: the parts'
    // costs drift with what ran before them, and the spread shows by how much.
    auto writeRecord = [] {
        WriteServiceLog(kServiceLogSource, L"CATCH_MSG", JoinLogFields({L"UpdateComponents", L"TYPE_EXTRACT"}));
    };
    split.wholeRecordFirst = MedianOf(kSplitRepeats, writeRecord);
    split.folder = MedianOf(kSplitRepeats, [] { GetServiceLogFolder(); });
    split.createFolder = MedianOf(kSplitRepeats, [&] { CreateFolderPath(folder); });
    // The log's own current file, its path resolved once, as the module would append with a cached folder.
    std::wstring current = JoinPath(folder, kServiceLogCurrentFile);
    split.append = MedianOf(kSplitRepeats, [&] { AppendLogRecord(current, line); });
    split.appendScratch = MedianOf(kSplitRepeats, [&] { AppendLogRecord(scratchFile, line); });
    split.wholeRecord = MedianOf(kSplitRepeats, writeRecord);
    split.folderAgain = MedianOf(kSplitRepeats, [] { GetServiceLogFolder(); });
    // One call of the host's callback, as the progress window makes it.
    volatile QMProgressCallback callback = CountingCallback;
    split.callback = MedianOf(kSplitRepeats, [&] { callback(4, 50, L"C0001", 50, 100, 50, 100); });
    return split;
}
} // namespace

int main()
{
    std::wstring bin = ExeFolder();
    std::wstring exePath = bin + L"VestabelStandIn.exe";
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"qm_progress_bench_" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring scenarioPath = folder + L"\\scenario.txt";
    std::wstring quietScenarioPath = folder + L"\\scenario_quiet.txt";
    std::wstring actionListPath = folder + L"\\actionlist.xml";
    std::wstring requestPath = folder + L"\\request.xml";
    std::wstring scratchLog = folder + L"\\scratch_log.txt";
    std::wstring workFolder = std::wstring(temp) + L"Tavrin_Inc_ZL\\Vestabel";

    std::vector<ProgressRecord> records = MakeRecords();
    std::string actionList = ActionListText();
    int rc = 1;
    {
        CRegistration registration(exePath);
        ::SetEnvironmentVariableW(kScenarioVariable, scenarioPath.c_str());
        bool ready = WriteBytes(scenarioPath, ScenarioText(records)) &&
                     WriteBytes(quietScenarioPath, ScenarioText(MakeQuietRecords())) &&
                     WriteBytes(requestPath, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<AppName ActionListXMLPath=\"" +
                                                 Narrow(actionListPath) + "\">" + Narrow(kAppName) + "</AppName>\r\n");
        HMODULE module = ::LoadLibraryW((bin + L"Pellorin.dll").c_str());
        auto update = module ? reinterpret_cast<PFN_UpdateComponents>(
                                   reinterpret_cast<void*>(::GetProcAddress(module, "UpdateComponents")))
                             : nullptr;
        if (!ready || !registration.IsSet() || update == nullptr)
            fprintf(stderr, "setup failed\n");
        else
        {
            // One after the other on this thread: only one window of the progress class may exist.
            bool ok = true;
            std::vector<double> modulePerRecord, barePerRecord, quietPerRecord, moduleEnd, bareEnd;
            for (int i = 0; i < kWarmups + kRuns; ++i)
            {
                // The order turns with every round, so that no variant always follows the same one.
                for (int turn = 0; turn < 3; ++turn)
                {
                    int variant = (turn + i) % 3;
                    RunTimes t;
                    if (variant == 0)
                        t = RunThroughModule(update, actionListPath, actionList);
                    else if (variant == 1)
                        t = RunToBareWindow(exePath, requestPath);
                    else
                    {
                        ::SetEnvironmentVariableW(kScenarioVariable, quietScenarioPath.c_str());
                        t = RunThroughModule(update, actionListPath, actionList);
                        ::SetEnvironmentVariableW(kScenarioVariable, scenarioPath.c_str());
                    }
                    ok = t.ok && ok;
                    if (i < kWarmups)
                        continue;
                    if (variant == 0)
                    {
                        modulePerRecord.push_back(t.perRecord);
                        moduleEnd.push_back(t.lastRecordToEnd);
                    }
                    else if (variant == 1)
                    {
                        barePerRecord.push_back(t.perRecord);
                        bareEnd.push_back(t.lastRecordToEnd);
                    }
                    else
                        quietPerRecord.push_back(t.perRecord);
                }
            }
            Split split = MeasureSplit(scratchLog);

            double a = Median(modulePerRecord), b = Median(barePerRecord);
            double ratio = b > 0 ? a / b : 0;
            bool met = ok && ratio > 0 && ratio <= kMaxOverBareWindow;
            int logged = LoggedRecordCount(records);
            double loggedShare = static_cast<double>(logged) / kRecords;
            printf("median over %d runs (after %d warm-up), %d records, first to last record\n", kRuns, kWarmups,
                   kRecords);
            printf("A per record, UpdateComponents + callback   %9.1f us\n", a * 1e6);
            printf("B per record, bare counting window          %9.1f us\n", b * 1e6);
            printf("%-44s %9.2f   (target <= %.1f: %s)\n", "A / B per record", ratio, kMaxOverBareWindow,
                   met ? "met" : "MISSED");
            double quiet = Median(quietPerRecord);
            printf("A' per record, downloads that log nothing   %9.1f us\n", quiet * 1e6);
            printf("%-44s %9.2f\n", "A' / B per record", b > 0 ? quiet / b : 0);
            printf("A last record to return, less the fixed %.0f ms UI wait  %7.1f ms\n", kFixedUiWaitSeconds * 1e3,
                   Median(moduleEnd) * 1e3);
            printf("B last record to the updater's end                %7.1f ms\n", Median(bareEnd) * 1e3);
            printf("split of A per record (%d of %d records write a log record; median of %d calls each):\n",
                   logged, kRecords, kSplitRepeats);
            double folderPart = loggedShare * split.folder;
            double createPart = loggedShare * split.createFolder;
            double appendPart = loggedShare * split.append;
            double restPart = a - folderPart - createPart - appendPart - split.callback;
            printf("  log folder resolution (GetServiceLogFolder)  %9.1f us per call, %9.1f us per record\n",
                   split.folder * 1e6, folderPart * 1e6);
            printf("  log folder creation (CreateFolderPath)       %9.1f us per call, %9.1f us per record\n",
                   split.createFolder * 1e6, createPart * 1e6);
            printf("  file append (AppendLogRecord)                %9.1f us per call, %9.1f us per record\n",
                   split.append * 1e6, appendPart * 1e6);
            printf("  (append to a fresh file of our own          %9.1f us per call)\n", split.appendScratch * 1e6);
            printf("  callback                                     %9.3f us per call, %9.3f us per record\n",
                   split.callback * 1e6, split.callback * 1e6);
            printf("  rest (message, bookkeeping, record build)    %9.1f us per record\n", restPart * 1e6);
            printf("  logging in place, A - A'                     %9.1f us per record\n", (a - quiet) * 1e6);
            printf("  (a whole WriteServiceLog, before the parts  %9.1f us per call)\n", split.wholeRecordFirst * 1e6);
            printf("  (a whole WriteServiceLog, after the parts   %9.1f us per call)\n", split.wholeRecord * 1e6);
            printf("  (log folder resolution again, at the end    %9.1f us per call)\n", split.folderAgain * 1e6);
            if (!ok)
                fprintf(stderr, "some runs failed\n");
            rc = met ? 0 : 1;
        }
        if (module != nullptr)
            ::FreeLibrary(module);
        ::SetEnvironmentVariableW(kScenarioVariable, nullptr);
    }

    // Our request documents (the module leaves them in its work folder) and our own files.
    DeleteMatching(workFolder, std::wstring(kAppName) + L"*.xml");
    for (const std::wstring& path : {scenarioPath, quietScenarioPath, actionListPath, requestPath, scratchLog})
        ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return rc;
}
