#pragma once
// The progress protocol between the updater and the module's progress and decision windows,
// spoken by both sides (the stand-in updater includes it too). The record is 552 bytes,
// little-endian, natural alignment, the same for 32-bit and 64-bit processes.

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr const wchar_t* kProgressWindowClass = L"Tavrin.ZL.Quelmar.StartPellorin.1.1.0";
constexpr const wchar_t* kDecisionWindowClass = L"Tavrin.ZL.Quelmar.Pellorin";

// WM_COPYDATA tag of a progress record.
constexpr ULONG_PTR QM_COPYDATA_PROGRESS = 2028;
constexpr UINT WM_QM_DECISION = 2025;
constexpr UINT WM_QM_SAVE_AND_CLOSE = 2029;
constexpr UINT WM_QM_CANCEL = 2030;
constexpr UINT WM_QM_CHECK_DONE = WM_APP + 100;
// lParam of WM_QM_DECISION that confirms the application update.
constexpr LPARAM QM_DECISION_CONFIRM = 4;

enum
{
    QM_PROGRESS_FINISH = 0,
    QM_PROGRESS_DOWNLOAD = 1,
    QM_PROGRESS_EXTRACT = 2,
    QM_PROGRESS_DELETE = 3,
    QM_PROGRESS_UPDATE = 4,
    QM_PROGRESS_ADD = 5
};

constexpr size_t kComponentIdUnits = 256;

struct QMProgressData
{
    std::uint32_t m_hUpdaterWnd;  // the sender's window for WM_QM_CANCEL, as a 32-bit handle value
    std::uint32_t m_nType;
    wchar_t m_szComponentId[kComponentIdUnits];
    std::uint64_t m_nBytesTotal;
    std::uint64_t m_nBytesDone;
    std::uint32_t m_nItemsTotal;
    std::uint32_t m_nItemsDone;
    std::int32_t m_nCode;
    std::uint32_t m_nPadding;
};

static_assert(sizeof(QMProgressData) == 552, "the record is 552 bytes on both sides");
static_assert(offsetof(QMProgressData, m_szComponentId) == 8, "record layout: a 4-byte window field on x64 too");
static_assert(offsetof(QMProgressData, m_nBytesTotal) == 520, "record layout");
static_assert(offsetof(QMProgressData, m_nItemsTotal) == 536, "record layout");
static_assert(offsetof(QMProgressData, m_nCode) == 544, "record layout");

inline HWND UpdaterWindowOf(const QMProgressData& record)
{
    // Window handles are 32-bit values across processes of either bitness; a 64-bit process
    // widens one by sign extension, as Windows documents for handles shared with 32-bit code.
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<std::int32_t>(record.m_hUpdaterWnd)));
}
