// What a host keeps of the module once it has freed it: a host thread that loads the module,
// calls it and frees it again, and lives on, as a host's main thread does. Everything the
// module or its runtime set up for that thread, for its own threads and per load must go
// with the module: handles, TLS slots and memory. (qm_unload_bench prints the same figures,
// and the commit charge, over 200 cycles.)

#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/ProcessResources.h"
#include "support/StandInUpdater.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace
{
constexpr int kWarmupCycles = 4;
constexpr int kCycles = 8;
// Heap in use, counted block by block: over a few cycles the commit charge's slack hides what
// matters here. The room is for the system libraries' caches and, per cycle, for what the
// runtime keeps of every load (qm_unload_bench says what).
constexpr SIZE_T kCacheSettlingBytes = 2048;
constexpr SIZE_T kMaxHeapGrowthPerCycle = 48;
constexpr DWORD kUnloadWaitMs = 10000;

const char kActionList[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<ActionList ParentAppName=\"App1\" ComponentType=\"old\">\r\n"
                           "     <Component ID=\"CompA\" Action=\"update\" Path=\"a\" Version=\"1\" Result=\"\"/>\r\n"
                           "     <Component ID=\"CompB\" Action=\"add\" Path=\"b\" Version=\"2\" Result=\"\"/>\r\n"
                           "</ActionList>\r\n";

// One load, component update (progress window, worker thread), installed list call and unload;
// the module must have left the process at the end. No progress callback: with one, the heap
// of the system libraries takes tens of cycles to settle, which qm_unload_bench allows for.
void Cycle(const std::wstring& actionList, const std::wstring& installedList)
{
    {
        CPellorinModule module;
        ASSERT_TRUE(module.Loaded());
        EXPECT_EQ(module.m_pfnUpdateComponents(L"App1", actionList.c_str(), L"plugin", nullptr), QM_UPDATE_DONE);
        EXPECT_EQ(module.m_pfnGetInstalledComponentList(L"App1", installedList.c_str(), L"plugin"), 0);
    }
    EXPECT_TRUE(WaitUntilModuleLeaves(L"Pellorin.dll", kUnloadWaitMs)) << "the module stayed loaded";
}
} // namespace

TEST(ModuleUnload, CyclesOnALivingThreadLeaveNoHandlesSlotsOrHeap)
{
    // Workers of earlier tests may still hold the module while their updater lingers.
    CStandInUpdater::EndAllRuns();
    ASSERT_TRUE(WaitUntilModuleLeaves(L"Pellorin.dll", kUnloadWaitMs));
    CStandInUpdater updater({"progress=1,CompA,0,100,0,0,0;1,CompA,100,100,0,0,0;4,CompA,0,0,1,1,0;5,CompB,0,0,1,1,0",
                             "finish_code=0"});
    CTempFolder folder;
    std::wstring actionList = folder.Child(L"actions.xml");
    std::wstring installedList = folder.Child(L"installed.xml");
    ASSERT_TRUE(WriteFileBytes(actionList, kActionList));

    // The first cycles set up what stays for the process: COM, the XML library, the loader's tables.
    for (int i = 0; i < kWarmupCycles; ++i)
        ASSERT_NO_FATAL_FAILURE(Cycle(actionList, installedList));
    ReadProcessResources(); // its own first use sets up what the readings below must not count
    QMProcessResources before = ReadProcessResources();
    ASSERT_TRUE(before.m_bHandlesRead);
    for (int i = 0; i < kCycles; ++i)
        ASSERT_NO_FATAL_FAILURE(Cycle(actionList, installedList)) << "cycle " << i;
    QMProcessResources after = ReadProcessResources();

    EXPECT_EQ(DescribeHandleGrowth(before, after), L"none")
        << before.m_nHandles << " handles before, " << after.m_nHandles << " after";
    EXPECT_EQ(after.m_nFreeTlsSlot, before.m_nFreeTlsSlot) << "a load took a TLS slot and kept it";
    EXPECT_LE(after.m_nHeapBytes, before.m_nHeapBytes + kCacheSettlingBytes + kMaxHeapGrowthPerCycle * kCycles)
        << static_cast<long long>(after.m_nHeapBytes - before.m_nHeapBytes) << " bytes in "
        << static_cast<long long>(after.m_nHeapBlocks - before.m_nHeapBlocks) << " blocks over " << kCycles
        << " cycles";
}
