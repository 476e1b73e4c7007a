#include "support/ChildProcess.h"
#include "support/FileUtilForTest.h"
#include "support/RegistryForTest.h"
#include "support/ServiceLogReader.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace
{
// Hosts of two threads each make calls at once while another process works the log's lock: a
// writer whose turns last long (a loaded machine, a slow share) on a machine kept busy, or a
// process that holds every lock for good. Every call keeps its entry and exit records. (Beside a
// holder of every lock, appends of several processes are atomic on a local NTFS volume, not
// under Wine: one host.)
struct QMStormCase
{
    const char* m_szName;
    const wchar_t* m_szBeside; // qm_test_child arguments
    int m_nBusyProcesses;
    int m_nHosts;
    // LOG_LOCK records of each host that said its records went beside a holder of the current
    // file (a slow writer is waited for at the file, however long its turn at the mutex).
    int m_nBesideNoticesPerHost;
};

class LogStorm : public ::testing::TestWithParam<QMStormCase>
{
};

constexpr int kCallsPerThread = 40;
const std::wstring kCallPrefix = L"PL,API_CALL,GetInstalledComponentList,";
const std::wstring kCallEnd = L"PL,API_END,GetInstalledComponentList,16";

TEST_P(LogStorm, EveryCallKeepsItsRecords)
{
    const QMStormCase& param = GetParam();
    ClearServiceLog();
    CVestabelRegistration noUpdater; // refused at once: the calls are all records
    std::vector<std::unique_ptr<CChildProcess>> beside;
    for (int i = 0; i < param.m_nBusyProcesses; ++i)
        beside.push_back(std::make_unique<CChildProcess>(L"busy"));
    CNamedEventForTest ready;
    beside.push_back(std::make_unique<CChildProcess>(
        param.m_szBeside, std::vector<std::pair<std::wstring, std::wstring>>{{L"QM_TEST_READY", ready.Name()}}));
    ASSERT_TRUE(ready.Wait(20000));

    CNamedEventForTest go;
    std::vector<std::unique_ptr<CChildProcess>> hosts;
    for (int h = 0; h < param.m_nHosts; ++h)
        hosts.push_back(std::make_unique<CChildProcess>(
            L"calls H" + std::to_wstring(h) + L" " + std::to_wstring(kCallsPerThread),
            std::vector<std::pair<std::wstring, std::wstring>>{{L"QM_TEST_GO", go.Name()}}));
    go.Set();
    for (const auto& host : hosts)
    {
        DWORD code = 1;
        ASSERT_TRUE(host->Wait(180000, &code));
        EXPECT_EQ(code, 0u);
    }
    beside.clear();

    // A torn or glued record fails the reading: a line without its timestamp or line end.
    std::vector<std::wstring> timestamps;
    std::vector<std::wstring> records = AllLogRecords(&timestamps);
    EXPECT_TRUE(std::is_sorted(timestamps.begin(), timestamps.end())) << "out of time order";
    std::set<std::wstring> calls;
    int ends = 0;
    int notices = 0;
    for (const std::wstring& record : records)
    {
        if (record.compare(0, kCallPrefix.size(), kCallPrefix) == 0)
            calls.insert(record.substr(kCallPrefix.size()));
        ends += record == kCallEnd ? 1 : 0;
        notices += record.compare(0, 12, L"PL,LOG_LOCK,") == 0 && record.find(L"beside") != std::wstring::npos;
    }
    for (int h = 0; h < param.m_nHosts; ++h)
        for (int t = 0; t < 2; ++t)
            for (int i = 0; i < kCallsPerThread; ++i)
            {
                std::wstring app = L"H" + std::to_wstring(h) + L"." + std::to_wstring(t) + L"." + std::to_wstring(i);
                EXPECT_EQ(calls.count(app + L",C:/in.xml,plugin"), 1u) << "no entry record of " << WideToUtf8(app);
            }
    EXPECT_EQ(ends, param.m_nHosts * 2 * kCallsPerThread);
    EXPECT_EQ(notices, param.m_nHosts * param.m_nBesideNoticesPerHost);
    ClearServiceLog();
}

INSTANTIATE_TEST_SUITE_P(
    Beside, LogStorm,
    ::testing::Values(QMStormCase{"SlowWriterOnABusyMachine", L"slow 40 150", 2, 3, 0},
                      QMStormCase{"HolderOfEveryLock", L"lock every", 0, 1, 1}),
    [](const ::testing::TestParamInfo<QMStormCase>& info) { return std::string(info.param.m_szName); });
} // namespace
