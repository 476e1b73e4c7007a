// Action-list speed: load and save through CQMActionListXML against the bare DOM doing the
// same load and save without the tree, and setting the result of every component.
// Prints medians and ratios; exits with 1 when a target is missed.

#include "actionlist/QMActionListXML.h"
#include "sys/ComHandle.h"
#include "sys/PathUtil.h"
#include "xml/DOMInstance.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace
{
// Targets: the tree may cost at most this much over the bare DOM, and ten times the
// components at most this many times the time (linear growth with headroom, not quadratic).
constexpr double kMaxOverBareDOM = 2.0;
constexpr double kMaxGrowthForTenfold = 11.0;
// Results set per timed sample, whatever the list's length: every sample then lasts about as
// long, so that the machine's noise weighs on both lengths alike (a pass over 1,000 components
// takes some microseconds).
constexpr int kSetEveryResultsPerSample = 200000;
constexpr int kSetEveryPairs = 31;

double NowSeconds()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double MedianSeconds(int runs, const std::function<void()>& prepare, const std::function<void()>& measured)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        prepare();
        double start = NowSeconds();
        measured();
        times.push_back(NowSeconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::wstring BenchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = JoinPath(temp, L"qm_xml_bench_" + std::to_wstring(::GetCurrentProcessId()));
    CreateFolderPath(folder);
    return folder;
}

bool WriteActionList(const std::wstring& path, int components)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                       "<ActionList ParentAppName=\"BenchApp\" ComponentType=\"Plugin\">\r\n";
    char line[512];
    for (int i = 0; i < components; ++i)
    {
        snprintf(line, sizeof(line),
                 "     <Component ID=\"component-%05d\" Action=\"Update\" "
                 "Path=\"C:/Program Files/BenchApp/plugins/component-%05d.dll\" Version=\"1.2.%d.%d\"/>\r\n",
                 i, i, i / 100, i % 100);
        text += line;
    }
    text += "</ActionList>\r\n";
    CQMFileHandle file(::CreateFileW(ToPlatformPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// What the module's load and save would cost without its tree: the DOM loads and saves the file.
bool LoadAndSaveBare(const std::wstring& source, const std::wstring& target)
{
    CQMComInit com = InitializeComForThread();
    CQMComPtr<IXMLDOMDocument> dom = CreateDOMDocument(kClsidDOMDocument30);
    if (!dom)
        return false;
    dom->put_async(VARIANT_FALSE);
    dom->put_preserveWhiteSpace(VARIANT_FALSE);
    dom->put_resolveExternals(VARIANT_FALSE);
    dom->put_validateOnParse(VARIANT_FALSE);
    CQMBstr loadPath = AllocateBstr(source);
    CQMBstr savePath = AllocateBstr(ToPlatformPath(target));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    return dom->load(BorrowedStringVariant(loadPath.Get()), &loaded) == S_OK && loaded == VARIANT_TRUE &&
           dom->save(BorrowedStringVariant(savePath.Get())) == S_OK;
}

struct Measurement
{
    double ours = 0;
    double bare = 0;
};

Measurement Measure(const std::wstring& folder, int components, int runs)
{
    std::wstring source = JoinPath(folder, L"list_" + std::to_wstring(components) + L".xml");
    std::wstring ourTarget = JoinPath(folder, L"ours_" + std::to_wstring(components) + L".xml");
    std::wstring bareTarget = JoinPath(folder, L"bare_" + std::to_wstring(components) + L".xml");
    if (!WriteActionList(source, components))
        return Measurement();

    Measurement m;
    bool ok = true;
    m.bare = MedianSeconds(runs, [] {}, [&] { ok = LoadAndSaveBare(source, bareTarget) && ok; });
    m.ours = MedianSeconds(runs, [] {}, [&] {
        CQMActionListXML list;
        ok = list.Load(source) == QM_ACTIONLIST_LOADED && ok;
        list.Save(ourTarget.c_str());
    });

    if (!ok)
        fprintf(stderr, "load or save failed for %d components\n", components);
    return ok ? m : Measurement();
}

// Setting every result, per pass over the list, for both lengths in turn: each pair of samples
// shares the machine's state of the moment, and the growth is the median of the pairs' ratios.
struct SetEveryMeasurement
{
    double small = 0;
    double large = 0;
    double growth = 0;
};

SetEveryMeasurement MeasureSetEvery(const std::wstring& folder, int smallCount, int largeCount)
{
    SetEveryMeasurement m;
    CQMActionListXML lists[2];
    int counts[2] = {smallCount, largeCount};
    for (int i = 0; i < 2; ++i)
    {
        std::wstring source = JoinPath(folder, L"set_" + std::to_wstring(counts[i]) + L".xml");
        bool loaded = WriteActionList(source, counts[i]) && lists[i].Load(source) == QM_ACTIONLIST_LOADED &&
                      lists[i].GetComponentIDs().size() == size_t(counts[i]);
        ::DeleteFileW(ToPlatformPath(source).c_str());
        if (!loaded)
            return m;
    }
    std::vector<std::wstring> results;
    for (int pass = 0; pass < kSetEveryResultsPerSample / smallCount; ++pass)
        results.push_back(std::to_wstring(pass));
    std::vector<double> perPass[2], ratios;
    for (int pair = 0; pair < kSetEveryPairs; ++pair)
    {
        for (int i = 0; i < 2; ++i)
        {
            const int passes = kSetEveryResultsPerSample / counts[i];
            double start = NowSeconds();
            for (int pass = 0; pass < passes; ++pass)
                lists[i].SetEveryResult(results[pass]);
            perPass[i].push_back((NowSeconds() - start) / passes);
        }
        ratios.push_back(perPass[1].back() / perPass[0].back());
    }
    m.small = Median(perPass[0]);
    m.large = Median(perPass[1]);
    m.growth = Median(ratios);
    return m;
}

bool Report(const char* what, double value, double limit)
{
    bool met = value > 0 && value <= limit;
    printf("%-44s %8.2f   (target <= %.1f: %s)\n", what, value, limit, met ? "met" : "MISSED");
    return met;
}
} // namespace

int main()
{
    // As in a host with a user interface, COM is already set up on the calling thread; both
    // sides then pay the same for it.
    CQMComInit com = InitializeComForThread();
    std::wstring folder = BenchFolder();
    Measurement small = Measure(folder, 1000, 15);
    Measurement large = Measure(folder, 10000, 7);
    SetEveryMeasurement setEvery = MeasureSetEvery(folder, 1000, 10000);
    for (const wchar_t* name : {L"list_1000.xml", L"ours_1000.xml", L"bare_1000.xml", L"list_10000.xml",
                                L"ours_10000.xml", L"bare_10000.xml"})
        ::DeleteFileW(ToPlatformPath(JoinPath(folder, name)).c_str());
    ::RemoveDirectoryW(ToPlatformPath(folder).c_str());

    printf("median seconds            1,000 components   10,000 components\n");
    printf("load+save, action list    %17.4f   %17.4f\n", small.ours, large.ours);
    printf("load+save, bare DOM       %17.4f   %17.4f\n", small.bare, large.bare);
    printf("set every result, a pass  %17.6f   %17.6f\n", setEvery.small, setEvery.large);
    printf("%-44s %8.2f   (for reference)\n", "action list / bare DOM, 1,000", small.bare > 0 ? small.ours / small.bare : 0);
    printf("%-44s %8.2f   (for reference)\n", "bare DOM 10,000 / 1,000", small.bare > 0 ? large.bare / small.bare : 0);
    bool met = true;
    met &= Report("2. action list / bare DOM, 10,000", large.bare > 0 ? large.ours / large.bare : 0, kMaxOverBareDOM);
    met &= Report("2. action list 10,000 / 1,000", small.ours > 0 ? large.ours / small.ours : 0, kMaxGrowthForTenfold);
    met &= Report("2. set every result 10,000 / 1,000 (pairs)", setEvery.growth, kMaxGrowthForTenfold);
    return met ? 0 : 1;
}
