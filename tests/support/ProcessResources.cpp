#include "support/ProcessResources.h"

#include <psapi.h>

#include <algorithm>
#include <vector>

// Handles are counted from the system's handle table (NtQuerySystemInformation with
// SystemExtendedHandleInformation), filtered by this process's id. GetProcessHandleCount
// would be the plain call, but Wine answers it with 0; the table works on both, and its
// entries carry the object type, so a leak can be named ("Event", "Semaphore") as well as
// counted. The extended class is used because the older SystemHandleInformation truncates
// process ids to 16 bits, which on Windows can match another process.

namespace
{
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kObjectTypeInformation = 2;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct QMHandleEntry
{
    PVOID m_pObject;
    ULONG_PTR m_nProcessId;
    ULONG_PTR m_nHandleValue;
    ULONG m_nGrantedAccess;
    USHORT m_nCreatorBackTraceIndex;
    USHORT m_nObjectTypeIndex;
    ULONG m_nHandleAttributes;
    ULONG m_nReserved;
};

struct QMHandleTable
{
    ULONG_PTR m_nHandles;
    ULONG_PTR m_nReserved;
    QMHandleEntry m_entries[1];
};

struct QMCountedString
{
    USHORT m_nLength;
    USHORT m_nMaximumLength;
    PWSTR m_pBuffer;
};

using PFN_NtQuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
using PFN_NtQueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

template <class PFN>
PFN NtdllExport(const char* name)
{
    return reinterpret_cast<PFN>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

std::wstring TypeNameOf(HANDLE handle)
{
    static const auto queryObject = NtdllExport<PFN_NtQueryObject>("NtQueryObject");
    if (queryObject == nullptr)
        return L"?";
    alignas(8) unsigned char buffer[1024] = {};
    if (queryObject(handle, kObjectTypeInformation, buffer, sizeof(buffer), nullptr) < 0)
        return L"?";
    const auto* name = reinterpret_cast<const QMCountedString*>(buffer);
    return std::wstring(name->m_pBuffer, name->m_nLength / sizeof(wchar_t));
}

void ReadHandles(QMProcessResources& resources)
{
    static const auto querySystem = NtdllExport<PFN_NtQuerySystemInformation>("NtQuerySystemInformation");
    if (querySystem == nullptr)
        return;
    std::vector<unsigned char> buffer(1 << 20);
    LONG status = kStatusInfoLengthMismatch;
    for (int attempt = 0; attempt < 8 && status == kStatusInfoLengthMismatch; ++attempt)
    {
        ULONG needed = 0;
        status = querySystem(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                             &needed);
        if (status == kStatusInfoLengthMismatch)
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 65536));
    }
    if (status < 0)
        return;
    const auto* table = reinterpret_cast<const QMHandleTable*>(buffer.data());
    const ULONG_PTR self = ::GetCurrentProcessId();
    std::map<USHORT, std::wstring> typeNames;
    for (ULONG_PTR i = 0; i < table->m_nHandles; ++i)
    {
        const QMHandleEntry& entry = table->m_entries[i];
        if (entry.m_nProcessId != self)
            continue;
        ++resources.m_nHandles;
        auto known = typeNames.find(entry.m_nObjectTypeIndex);
        if (known == typeNames.end())
            known = typeNames
                        .emplace(entry.m_nObjectTypeIndex,
                                 TypeNameOf(reinterpret_cast<HANDLE>(entry.m_nHandleValue)))
                        .first;
        ++resources.m_mapHandlesByType[known->second];
    }
    resources.m_bHandlesRead = true;
}

void ReadHeaps(QMProcessResources& resources)
{
    std::vector<HANDLE> heaps(64);
    DWORD count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size())
    {
        heaps.resize(count + 16);
        count = ::GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    }
    heaps.resize(std::min<size_t>(count, heaps.size()));
    for (HANDLE heap : heaps)
    {
        if (!::HeapLock(heap))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heap, &entry))
        {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0)
            {
                ++resources.m_nHeapBlocks;
                resources.m_nHeapBytes += entry.cbData;
            }
        }
        ::HeapUnlock(heap);
    }
}
} // namespace

QMProcessResources ReadProcessResources()
{
    QMProcessResources resources;
    // The heaps first: the handle table's buffer and type names are not the caller's to count.
    ReadHeaps(resources);
    ReadHandles(resources);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    // Wine reports PrivateUsage as 0; PagefileUsage is the commit charge on both.
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters)))
        resources.m_nCommitBytes = counters.PagefileUsage;
    // Slots are handed out lowest first: a slot a load took and never gave back moves this up.
    resources.m_nFreeTlsSlot = ::TlsAlloc();
    if (resources.m_nFreeTlsSlot != TLS_OUT_OF_INDEXES)
        ::TlsFree(resources.m_nFreeTlsSlot);
    return resources;
}

bool WaitUntilModuleLeaves(const wchar_t* name, DWORD milliseconds)
{
    DWORD start = ::GetTickCount();
    while (::GetModuleHandleW(name) != nullptr)
    {
        if (::GetTickCount() - start > milliseconds)
            return false;
        ::Sleep(5);
    }
    return true;
}

std::wstring DescribeHandleGrowth(const QMProcessResources& before, const QMProcessResources& after)
{
    std::wstring text;
    for (const auto& [type, count] : after.m_mapHandlesByType)
    {
        auto earlier = before.m_mapHandlesByType.find(type);
        size_t was = earlier != before.m_mapHandlesByType.end() ? earlier->second : 0;
        if (count <= was)
            continue;
        if (!text.empty())
            text += L", ";
        text += type + L" +" + std::to_wstring(count - was);
    }
    return text.empty() ? L"none" : text;
}
