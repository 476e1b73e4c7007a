// What others cost a component update through the service log: a process that holds the log's
// lock and never lets go, and slow storage under every write of the log and the list.
//
// Lock: UpdateComponents of a list of 200 components while the stand-in updater sends 200
// progress records (each one logged), the module loaded afresh for every call so that each call
// meets the holder anew; a call with every lock of the log (the session's mutex, and the current
// file open for writing) held by a thread that never lets go against the same call without it, in
// interleaved pairs of the same run. Prints medians and the median of the pairs' ratios.
//
// Stretch: while the calls run, a second thread sends a message to a window of the calling
// thread every few milliseconds; the longest a send waited is the longest stretch in which the
// host's thread answered no sent message. "--stretch <folder>" runs only that, with the list in
// the folder, for bench/slow-storage.sh, which delays every write to the log and the list.
// Exits with 1 when a target is missed.

#define QM_IMPORT
#include "api/Pellorin.h"

#include "BenchSupport.h"

#include "log/ServiceLogNames.h"
#include "log/ServiceLog.h"
#include "sys/PathUtil.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
constexpr double kMaxHeldOverFree = 1.5;
// The stretch runs take fewer: under a delay of 100 ms every record costs that.
int g_nComponents = 200;
constexpr int kStretchComponents = 20;
constexpr int kPairs = 9;
constexpr int kStretchRuns = 3;
constexpr DWORD kPingEveryMs = 2;
const wchar_t kAppName[] = L"QMHostileLogBench";
const wchar_t kLogLockName[] = L"Tavrin_Inc_ZL_QM_LOG_v1";


// One record per component, of the types the module logs every time (2 to 5).
std::string ScenarioText()
{
    std::string progress;
    for (int i = 0; i < g_nComponents; ++i)
    {
        char entry[96];
        snprintf(entry, sizeof(entry), "%s%d,%s,0,0,%d,%d,0", progress.empty() ? "" : ";", 2 + i % 4,
                 BenchComponentId(i).c_str(), i, g_nComponents);
        progress += entry;
    }
    return "progress=" + progress + "\nfinish_code=0\n";
}

QMBool QM_STDCALL GoOn(int, int, const wchar_t*, unsigned, unsigned, unsigned long long, unsigned long long)
{
    return true;
}

// Waits until the module of the last call has left the process (its worker lets go of it once
// the updater has ended), so that the next load starts it afresh.
void WaitForUnload()
{
    for (int i = 0; i < 500 && ::GetModuleHandleW(L"Pellorin.dll") != nullptr; ++i)
        ::Sleep(10);
}

class CPinger;
void StartPinger(CPinger* pinger);
double StopPinger(CPinger* pinger);

// One call with the module loaded for it; seconds, or a negative number when it failed. The
// pinger, when given, measures the call alone.
double TimedUpdate(const std::wstring& list, CPinger* pinger = nullptr, double* longest = nullptr)
{
    HMODULE module = LoadPellorin();
    auto update = ModuleExport<PFN_UpdateComponents>(module, "UpdateComponents");
    if (update == nullptr)
        return -1;
    if (pinger != nullptr)
        StartPinger(pinger);
    double start = NowSeconds();
    int result = update(kAppName, list.c_str(), L"plugin", GoOn);
    double seconds = NowSeconds() - start;
    if (pinger != nullptr)
        *longest = StopPinger(pinger);
    ::FreeLibrary(module);
    WaitForUnload();
    // The updater removes the request it was given; the stand-in leaves it. Left behind, they
    // would crowd the work folder that every later call, and every later bench, reads.
    DeleteMatching(StandInWorkFolder(), std::wstring(kAppName) + L"_*.xml");
    return result == 200 ? seconds : -1;
}

// A thread that takes every lock of the log and keeps them until the end.
class CLockHolder
{
public:
    CLockHolder()
    {
        m_hTaken = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_hEnd = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this] {
            HANDLE mutex = ::CreateMutexW(nullptr, FALSE, kLogLockName);
            DWORD wait = mutex != nullptr ? ::WaitForSingleObject(mutex, 5000) : WAIT_FAILED;
            std::wstring folder = GetServiceLogFolder();
            CreateFolderPath(folder);
            // Open for writing, its deletion not shared: no archive step takes it away.
            HANDLE file = ::CreateFileW(ToPlatformPath(JoinPath(folder, kServiceLogCurrentFile)).c_str(),
                                        GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            m_bHeld = (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) && file != INVALID_HANDLE_VALUE;
            ::SetEvent(m_hTaken);
            ::WaitForSingleObject(m_hEnd, INFINITE);
            if (file != INVALID_HANDLE_VALUE)
                ::CloseHandle(file);
            if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
                ::ReleaseMutex(mutex);
            if (mutex != nullptr)
                ::CloseHandle(mutex);
        });
        ::WaitForSingleObject(m_hTaken, 10000);
    }
    ~CLockHolder()
    {
        ::SetEvent(m_hEnd);
        m_thread.join();
        ::CloseHandle(m_hTaken);
        ::CloseHandle(m_hEnd);
    }
    bool Held() const { return m_bHeld; }

private:
    HANDLE m_hTaken = nullptr;
    HANDLE m_hEnd = nullptr;
    std::atomic<bool> m_bHeld{false};
    std::thread m_thread;
};

// Sends to a window of the calling thread from a thread of its own, and keeps the longest wait.
class CPinger
{
public:
    CPinger()
    {
        m_hWindow = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        m_thread = std::thread([this] {
            while (!m_bStop)
            {
                double start = NowSeconds();
                DWORD_PTR result = 0;
                ::SendMessageTimeoutW(m_hWindow, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &result);
                double waited = NowSeconds() - start;
                if (m_bMeasuring)
                    m_longest = std::max(m_longest.load(), waited);
                ::Sleep(kPingEveryMs);
            }
            m_bDone = true;
        });
    }
    ~CPinger()
    {
        m_bStop = true;
        // The last send may wait for this thread's messages.
        while (!m_bDone)
        {
            MSG message;
            ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
            ::Sleep(1);
        }
        m_thread.join();
        ::DestroyWindow(m_hWindow);
    }
    void Start()
    {
        m_longest = 0;
        m_bMeasuring = true;
    }
    double Stop()
    {
        m_bMeasuring = false;
        return m_longest;
    }

private:
    HWND m_hWindow = nullptr;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bDone{false};
    std::atomic<bool> m_bMeasuring{false};
    std::atomic<double> m_longest{0};
    std::thread m_thread;
};

void StartPinger(CPinger* pinger)
{
    pinger->Start();
}

double StopPinger(CPinger* pinger)
{
    return pinger->Stop();
}

struct QMCallFigures
{
    double m_dMedianSeconds = -1;
    double m_dLongestStretchMs = 0;
};

QMCallFigures MeasureCalls(const std::wstring& list, int runs, CPinger& pinger)
{
    std::vector<double> times;
    double longest = 0;
    for (int run = 0; run < runs; ++run)
    {
        if (!WriteBytes(list, BenchActionListText(g_nComponents)))
            return {};
        double stretch = 0;
        double seconds = TimedUpdate(list, &pinger, &stretch);
        longest = std::max(longest, stretch);
        if (seconds < 0)
            return {};
        times.push_back(seconds);
    }
    return {Median(times), longest * 1000.0};
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool stretchOnly = argc > 2 && std::wstring(argv[1]) == L"--stretch";
    std::wstring folder = stretchOnly ? std::wstring(argv[2]) : CreateBenchFolder(L"qm_hostile_log_bench");
    CreateDirectoryW(folder.c_str(), nullptr);
    if (stretchOnly)
        g_nComponents = kStretchComponents;
    std::wstring list = folder + L"\\list.xml";
    std::wstring scenario = folder + L"\\scenario.txt";
    WriteBytes(scenario, ScenarioText());
    CRegistration registration(StandInPath());
    ::SetEnvironmentVariableW(kStandInScenarioVariable, scenario.c_str());
    if (!registration.IsSet())
    {
        printf("the stand-in updater could not be registered\n");
        return 1;
    }
    CPinger pinger;
    int status = 0;

    if (stretchOnly)
    {
        QMCallFigures figures = MeasureCalls(list, kStretchRuns, pinger);
        printf("update of %d records: median %.3f s, longest stretch without answering a sent message %.0f ms\n",
               g_nComponents, figures.m_dMedianSeconds, figures.m_dLongestStretchMs);
        DeleteFileW(list.c_str());
        DeleteFileW(scenario.c_str());
        return figures.m_dMedianSeconds < 0 ? 1 : 0;
    }

    TimedUpdate(list); // warm-up: first start of the stand-in, the log folder
    // A pair's two calls share the machine's moment; alternating which goes first spreads any
    // drift over both.
    std::vector<double> freeTimes, heldTimes, ratios;
    QMCallFigures free, held;
    for (int i = 0; i < kPairs; ++i)
    {
        for (int turn = 0; turn < 2; ++turn)
        {
            bool heldTurn = (turn == 0) == (i % 2 == 0);
            std::unique_ptr<CLockHolder> holder(heldTurn ? new CLockHolder : nullptr);
            if (holder && !holder->Held())
            {
                printf("the log's lock could not be taken for the bench\n");
                return 1;
            }
            QMCallFigures call = MeasureCalls(list, 1, pinger);
            if (call.m_dMedianSeconds < 0)
            {
                printf("an update failed\n");
                return 1;
            }
            QMCallFigures& figures = heldTurn ? held : free;
            figures.m_dLongestStretchMs = std::max(figures.m_dLongestStretchMs, call.m_dLongestStretchMs);
            (heldTurn ? heldTimes : freeTimes).push_back(call.m_dMedianSeconds);
        }
        ratios.push_back(heldTimes.back() / freeTimes.back());
    }
    free.m_dMedianSeconds = Median(freeTimes);
    held.m_dMedianSeconds = Median(heldTimes);
    double ratio = Median(ratios);
    bool met = ratio <= kMaxHeldOverFree;
    printf("update of %d records, module loaded for each call, median of %d pairs:\n", g_nComponents, kPairs);
    printf("  log lock free:                     %.3f s (longest stretch without answering %.0f ms)\n",
           free.m_dMedianSeconds, free.m_dLongestStretchMs);
    printf("  log lock held, never let go:       %.3f s (longest stretch without answering %.0f ms)\n",
           held.m_dMedianSeconds, held.m_dLongestStretchMs);
    printf("  ratio, median of the pairs %.2f (target at most %.1f): %s\n", ratio, kMaxHeldOverFree,
           met ? "met" : "MISSED");
    if (!met)
        status = 1;
    DeleteMatching(folder, L"*");
    RemoveDirectoryW(folder.c_str());
    return status;
}
