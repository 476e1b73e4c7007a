// Cost of a progress record: UpdateComponents of a 1,000-component action list while the
// stand-in updater sends 5,000 progress records, against the same stand-in sending the same
// records to a bare window of this program that appends each line the module would log (the
// downloads at a new multiple of ten percent, every record of types 2 to 5) with its own open,
// append and close, under a mutex of the session taken and let go around each: what a record
// costs anyway that is in the file before the host hears of it and never torn by a writer of
// another process. The same window without the mutex is shown beside it. The per-record figure
// is taken between the first and the last record, so the process start and the scenario's
// parsing stay out of it. The per-record cost is split into
// parts measured in place: more runs of the same records, to the module with records that log
// nothing, and to a bare window that only counts; the differences between runs add up to the
// whole. Also times the call's end: from the last record to the return, less the fixed wait
// for the updater's user interface, with the list's save (flushed to the disk) and the log's
// archive step timed alone beside it.
// Prints medians and ratios; exits with 1 when a target is missed.

#define QM_IMPORT
#include "api/Pellorin.h"

#include "actionlist/QMActionListXML.h"
#include "log/LogFolderScope.h"
#include "log/LogLock.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "protocol/QMProgressData.h"

#include "BenchSupport.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace
{
// The module may spend at most this many times what a bare receiver that appends the module's
// log lines itself, each under a lock of the session, spends on a record.
constexpr double kMaxOverAppendingWindow = 1.2;
// From the updater's finish record (the bench sees the last progress record just before it)
// to the return of the call, less the fixed wait for the updater's user interface.
constexpr double kMaxFinishToReturnMs = 10.0;
constexpr int kComponents = 1000;
constexpr int kRecords = 5000;
constexpr int kWarmups = 1;
constexpr int kRuns = 7;
constexpr int kAloneRepeats = 300;
constexpr int kEndRepeats = 3;
// UpdateComponents sleeps one round of its wait for the updater's user interface even when
// none is left (kUiWaitRoundMs in the update operation).
constexpr double kFixedUiWaitSeconds = 0.100;
constexpr int kKeepResultsFinishCode = 14;

// The request file stem follows the application name; a name of our own keeps our files apart.
const wchar_t kAppName[] = L"QMProgressBench";

std::string Narrow(const std::wstring& ascii)
{
    return std::string(ascii.begin(), ascii.end());
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
                 BenchComponentId(r.index).c_str(), r.bytesDone, r.bytesTotal, r.itemsDone, r.itemsTotal);
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

// What the bare window does for each record besides counting it, for the records the module
// logs: nothing, or the append of one line to the log's current file with its own open and
// close, with or without a mutex of the session around it, on this thread, inside the
// updater's send.
enum class BarePart
{
    None,
    OpenAppendClose,
    LockedOpenAppendClose,
    ModuleRecord, // WriteServiceLog within the scope of a call, as the progress window writes it
};

BarePart g_barePart = BarePart::None;
int g_bareLastPercent = 100;
const char kSampleLine[] = "2024-01-01-00-00-00-000,PL,CATCH_MSG,UpdateComponents,TYPE_EXTRACT\r\n";
std::wstring g_strBareLogFile;
// The bare window's own lock, so that it never waits for the module's records.
HANDLE g_hBareLock = nullptr;

void OpenAppendClose(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, kSampleLine, sizeof(kSampleLine) - 1, &written, nullptr);
    ::CloseHandle(file);
}

// The module's rule: every record of types 2 to 5, a download when its percentage changes to a multiple of ten.
bool ModuleLogs(const QMProgressData& record, int& lastPercent)
{
    if (record.m_nType != QM_PROGRESS_DOWNLOAD)
        return true;
    int percent = record.m_nBytesTotal == 0 ? 0 : static_cast<int>(record.m_nBytesDone * 100 / record.m_nBytesTotal);
    if (percent == lastPercent)
        return false;
    lastPercent = percent;
    return percent % 10 == 0;
}

void DoBarePart(const COPYDATASTRUCT* copy)
{
    if (g_barePart == BarePart::None || copy->cbData != sizeof(QMProgressData))
        return;
    QMProgressData record;
    memcpy(&record, copy->lpData, sizeof(record));
    if (record.m_nType == QM_PROGRESS_FINISH || record.m_nType > QM_PROGRESS_ADD || !ModuleLogs(record, g_bareLastPercent))
        return;
    if (g_barePart == BarePart::OpenAppendClose)
        OpenAppendClose(g_strBareLogFile);
    else if (g_barePart == BarePart::LockedOpenAppendClose)
    {
        ::WaitForSingleObject(g_hBareLock, INFINITE);
        OpenAppendClose(g_strBareLogFile);
        ::ReleaseMutex(g_hBareLock);
    }
    else
        WriteServiceLog(kServiceLogSource, L"CATCH_MSG", JoinLogFields({L"UpdateComponents", L"TYPE_EXTRACT"}));
}

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
    {
        g_windowClock.Tick();
        DoBarePart(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
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

RunTimes RunToBareWindow(const std::wstring& exePath, const std::wstring& requestPath, BarePart part)
{
    RunTimes times;
    // The parts run as they would inside an exported call: the log folder resolved once.
    CQMLogFolderScope logFolder;
    QMLogLocation location = ResolveLogLocation();
    CreateFolderPath(location.m_strFolder);
    g_strBareLogFile = ToPlatformPath(location.m_strCurrentFile);
    g_barePart = part;
    g_bareLastPercent = 100;
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
    // The records of this run go to an archive of their own, as a call of the module would do:
    // the module's next run then archives only its own records, as in a host.
    ArchiveServiceLog();
    if (window != nullptr)
        ::DestroyWindow(window);
    ::UnregisterClassW(kProgressWindowClass, instance);
    return times;
}

struct Alone
{
    double folder = 0;
    double openAppendClose = 0;
    double lock = 0;
    double recordOutsideCall = 0;
    double recordInCall = 0;
    double listSave = 0;
    double listSaveUnflushed = 0;
    double archive = 0;
};

// Parts of one logged record timed alone, outside any progress run, for comparison with the
// same parts in place.
Alone MeasureAlone(const std::wstring& actionListPath, int loggedRecords)
{
    Alone alone;
    auto writeRecord = [] {
        WriteServiceLog(kServiceLogSource, L"CATCH_MSG", JoinLogFields({L"UpdateComponents", L"TYPE_EXTRACT"}));
    };
    alone.folder = MedianOf(kAloneRepeats, [] { ResolveLogLocation(); });
    alone.recordOutsideCall = MedianOf(kAloneRepeats, writeRecord);
    QMLogLocation location = ResolveLogLocation();
    std::wstring current = ToPlatformPath(location.m_strCurrentFile);
    alone.openAppendClose = MedianOf(kAloneRepeats, [&] { OpenAppendClose(current); });
    // What a record adds to the bare window's open, append and close: its turn with the records
    // of every other thread and process of the session.
    alone.lock = MedianOf(kAloneRepeats, [&] { CQMLogLock lock(location.m_strCurrentFile); });
    {
        // Inside an exported call the log folder is resolved once for all records.
        CQMLogFolderScope logFolder;
        alone.recordInCall = MedianOf(kAloneRepeats, writeRecord);
    }

    // The two steps of the call's end that grow with the run: the finish record's save of the
    // list, and the archive step of the log the run wrote.
    CQMComInit com = InitializeComForThread();
    CQMActionListXML list;
    list.Load(actionListPath);
    alone.listSave = MedianOf(kEndRepeats, [&] { list.Save(actionListPath.c_str()); });
    // The same text written in place without a flush: what the save's safety costs.
    std::string text = ReadBytes(actionListPath);
    alone.listSaveUnflushed = MedianOf(kEndRepeats, [&] { WriteBytes(actionListPath, text); });
    std::vector<double> archives;
    for (int i = 0; i < kEndRepeats; ++i)
    {
        for (int record = 0; record < loggedRecords; ++record)
            writeRecord();
        archives.push_back(MedianOf(1, [] { ArchiveServiceLog(); }));
    }
    alone.archive = Median(archives);
    return alone;
}

bool Report(const char* what, double value, double limit, const char* unit)
{
    bool met = value > 0 && value <= limit;
    printf("%-52s %9.2f%s  (target <= %.1f%s: %s)\n", what, value, unit, limit, unit, met ? "met" : "MISSED");
    return met;
}

enum Variant
{
    kModule,
    kModuleQuiet,
    kBare,
    kBareAppend,
    kBareLockedAppend,
    kBareModuleRecord,
    kVariantCount
};
} // namespace

int main()
{
    // As in a host with a user interface, COM is already set up on the calling thread: the
    // call's own apartment is then a reference on it, not one made and torn down each time.
    CQMComInit com = InitializeComForThread();
    std::wstring exePath = StandInPath();
    std::wstring folder = CreateBenchFolder(L"qm_progress_bench");
    std::wstring scenarioPath = folder + L"\\scenario.txt";
    std::wstring quietScenarioPath = folder + L"\\scenario_quiet.txt";
    std::wstring actionListPath = folder + L"\\actionlist.xml";
    std::wstring requestPath = folder + L"\\request.xml";
    std::wstring workFolder = StandInWorkFolder();

    std::vector<ProgressRecord> records = MakeRecords();
    std::string actionList = BenchActionListText(kComponents);
    CQMKernelHandle bareLock(::CreateMutexW(nullptr, FALSE, L"QMProgressBench_BareLock"));
    g_hBareLock = bareLock.Get();
    int rc = 1;
    {
        CStandInHost host(scenarioPath);
        bool ready = WriteBytes(scenarioPath, ScenarioText(records)) &&
                     WriteBytes(quietScenarioPath, ScenarioText(MakeQuietRecords())) &&
                     WriteBytes(requestPath, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<AppName ActionListXMLPath=\"" +
                                                 Narrow(actionListPath) + "\">" + Narrow(kAppName) + "</AppName>\r\n");
        auto update = ModuleExport<PFN_UpdateComponents>(host.Module(), "UpdateComponents");
        if (!ready || !host.IsRegistered() || update == nullptr || g_hBareLock == nullptr)
            fprintf(stderr, "setup failed\n");
        else
        {
            // One after the other on this thread: only one window of the progress class may exist.
            bool ok = true;
            std::vector<double> perRecord[kVariantCount];
            std::vector<double> moduleEnd, bareEnd;
            for (int i = 0; i < kWarmups + kRuns; ++i)
            {
                // The order turns with every round, so that no variant always follows the same one.
                for (int turn = 0; turn < kVariantCount; ++turn)
                {
                    int variant = (turn + i) % kVariantCount;
                    RunTimes t;
                    if (variant == kModule)
                        t = RunThroughModule(update, actionListPath, actionList);
                    else if (variant == kModuleQuiet)
                    {
                        ::SetEnvironmentVariableW(kStandInScenarioVariable, quietScenarioPath.c_str());
                        t = RunThroughModule(update, actionListPath, actionList);
                        ::SetEnvironmentVariableW(kStandInScenarioVariable, scenarioPath.c_str());
                    }
                    else
                    {
                        t = RunToBareWindow(exePath, requestPath,
                                            variant == kBare               ? BarePart::None
                                            : variant == kBareAppend       ? BarePart::OpenAppendClose
                                            : variant == kBareLockedAppend ? BarePart::LockedOpenAppendClose
                                                                           : BarePart::ModuleRecord);
                    }
                    ok = t.ok && ok;
                    if (i < kWarmups)
                        continue;
                    perRecord[variant].push_back(t.perRecord);
                    if (variant == kModule)
                        moduleEnd.push_back(t.lastRecordToEnd);
                    else if (variant == kBare)
                        bareEnd.push_back(t.lastRecordToEnd);
                }
            }
            Alone alone = MeasureAlone(actionListPath, LoggedRecordCount(records));

            double m[kVariantCount];
            for (int v = 0; v < kVariantCount; ++v)
                m[v] = Median(perRecord[v]);
            double a = m[kModule], b = m[kBare], w = m[kBareAppend], l = m[kBareLockedAppend];
            double end = Median(moduleEnd);
            int logged = LoggedRecordCount(records);
            printf("median over %d runs (after %d warm-up), %d records of which %d are logged; per record\n"
                   "from the first to the last record:\n",
                   kRuns, kWarmups, kRecords, logged);
            printf("A  UpdateComponents, host callback counts              %9.1f us\n", a * 1e6);
            printf("L  bare window, appends each logged line under a lock  %9.1f us\n", l * 1e6);
            printf("   (open, append and close inside a session mutex)\n");
            printf("W  the same bare window with no lock                   %9.1f us\n", w * 1e6);
            printf("B  bare window, only counts                            %9.1f us\n", b * 1e6);
            bool met = Report("1. progress record, A / L", l > 0 ? a / l : 0, kMaxOverAppendingWindow, "x");
            printf("   (A / W, the same window with no lock: %.2fx)\n", w > 0 ? a / w : 0);
            met = Report("3. finish record to return, less the 100 ms UI wait", end * 1e3, kMaxFinishToReturnMs,
                         " ms") && met;
            met = met && ok;
            printf("   (B: last record to the updater's end              %9.2f ms)\n", Median(bareEnd) * 1e3);
            printf("   parts of the end, alone: the list's save %.2f ms (written in place without a flush: %.2f ms),\n"
                   "   the log's archive step %.2f ms; the rest is the updater's exit, the worker's end and the\n"
                   "   exit record\n",
                   alone.listSave * 1e3, alone.listSaveUnflushed * 1e3, alone.archive * 1e3);

            // Every part is a difference of two runs of the same records, so the parts are what
            // they cost in place and add up to A.
            double handling = m[kModuleQuiet] - b;
            double logging = a - m[kModuleQuiet];
            printf("split of A per record, measured in place:\n");
            printf("  B  the updater's send, bare receive            %9.1f us\n", b * 1e6);
            printf("  progress window and callback, no log (A' - B)  %9.1f us   (A' = %.1f us: downloads that log nothing)\n",
                   handling * 1e6, m[kModuleQuiet] * 1e6);
            printf("  the module's log records (A - A')              %9.1f us\n", logging * 1e6);
            printf("  (a bare window writing the module's record in place: %.1f us, %.1f us per logged record)\n",
                   m[kBareModuleRecord] * 1e6, (m[kBareModuleRecord] - b) * kRecords / logged * 1e6);
            printf("  sum                                            %9.1f us   (A = %.1f us)\n",
                   (b + handling + logging) * 1e6, a * 1e6);
            printf("per logged record in place: the module %.1f us, the bare window's open, append and close %.1f us;\n"
                   "  alone: open, append and close %.1f us, WriteServiceLog in a call %.1f us, outside any call %.1f us,\n"
                   "  of which log folder resolution %.1f us; the log's lock, taken and let go, %.1f us\n",
                   logging * kRecords / logged * 1e6, (w - b) * kRecords / logged * 1e6, alone.openAppendClose * 1e6,
                   alone.recordInCall * 1e6, alone.recordOutsideCall * 1e6, alone.folder * 1e6, alone.lock * 1e6);
            if (!ok)
                fprintf(stderr, "some runs failed\n");
            rc = met ? 0 : 1;
        }
    }

    // Our request documents (the module leaves them in its work folder) and our own files.
    DeleteMatching(workFolder, std::wstring(kAppName) + L"*.xml");
    for (const std::wstring& path : {scenarioPath, quietScenarioPath, actionListPath, requestPath})
        ::DeleteFileW(path.c_str());
    ::RemoveDirectoryW(folder.c_str());
    return rc;
}
