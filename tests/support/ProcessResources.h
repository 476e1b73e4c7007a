#pragma once
// What this process holds of the system: open handles (by object type), the commit charge,
// and the lowest free thread-local storage slot. Used to see whether loading and freeing
// the module leaves anything behind.

#include <windows.h>

#include <map>
#include <string>

struct QMProcessResources
{
    // False when the handle table could not be read; the counts are then empty.
    bool m_bHandlesRead = false;
    size_t m_nHandles = 0;
    std::map<std::wstring, size_t> m_mapHandlesByType;
    // Private bytes as the commit charge (PagefileUsage).
    SIZE_T m_nCommitBytes = 0;
    // Blocks and bytes in use in every heap of the process (the C runtime's included): the
    // commit charge moves by pages and heap segments and can hide a small leak for long.
    size_t m_nHeapBlocks = 0;
    SIZE_T m_nHeapBytes = 0;
    // The slot a TlsAlloc would hand out now; TLS_OUT_OF_INDEXES when none is free.
    DWORD m_nFreeTlsSlot = TLS_OUT_OF_INDEXES;
};

QMProcessResources ReadProcessResources();

// Waits until the module of that name has left the process (its last reference freed and its
// workers done); false when it is still loaded after the given time.
bool WaitUntilModuleLeaves(const wchar_t* name, DWORD milliseconds);

// Handles per type that "after" holds more of than "before" ("Event +3, Thread +1").
std::wstring DescribeHandleGrowth(const QMProcessResources& before, const QMProcessResources& after);
