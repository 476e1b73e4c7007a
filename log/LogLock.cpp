#include "log/LogLock.h"

#include "log/LogFields.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "sys/MessageWait.h"
#include "sys/OnceFlag.h"
#include "sys/PathUtil.h"
#include "sys/SlimLock.h"
#include "sys/SystemError.h"

#include <windows.h>
#include <sddl.h>

namespace
{
constexpr const wchar_t* kLogLockName = L"Tavrin_Inc_ZL_QM_LOG_v1";
// An append takes a fraction of a millisecond, an archive step a few; on a loaded machine a
// holder may wait many times as long for the processor. A holder in whose time the log did not
// move for longer hangs, or is no writer: the mutex is passed by (the file still keeps writers
// apart), and then the file.
constexpr ULONGLONG kHungMs = 80;
// A holder of the file alone: passing it by lets a record go beside a writer, so it is waited
// for longer.
constexpr ULONGLONG kFileHungMs = 250;
// After a wait at the mutex in which nothing moved, a file held by another is given this long
// to move: the writer that took it a moment before appends within it; a holder of both that
// hangs costs a record one wait, not two.
constexpr ULONGLONG kGraceMs = 20;
// While a lock is passed by, it is tried again at most this often: each try costs a request.
constexpr ULONGLONG kTryAgainMs = 10;
// However the log moves, a wait ends after this long (a holder that keeps writing while it
// keeps the lock is one that never lets go).
constexpr ULONGLONG kLongestWaitMs = 1000;
// How often a waiter looks at the log: at the mutex, and at the file held by another.
constexpr DWORD kMutexSliceMs = 10;
constexpr DWORD kFileRetryMs = 1;

// Every process of the session writes the same user's log, also one that runs elevated or under
// another account (its records go to the session user's folder): the mutex must open for all of
// them, whichever was first. Everyone may use it; the low label lets every integrity level in.
constexpr const wchar_t* kSharedObjectSecurity = L"D:(A;;GA;;;WD)S:(ML;;NW;;;LW)";

enum : LONG
{
    kNoticeNameTaken = 1,
    kNoticeMutexStalled = 2,
    kNoticeBesideHolder = 4,
};

// The session's mutex, opened at the first record and closed when the module is unloaded.
struct QMSessionMutex
{
    volatile LONG m_nOpened = 0;
    HANDLE m_hMutex = nullptr;
    DWORD m_nOpenError = ERROR_SUCCESS;
    // Made by this process: no process had it open, so none learnt whether the last holder
    // ended in its turn. The first taker looks at the log's end as the taker after a holder
    // that died does.
    volatile LONG m_nMadeHere = 0;

    ~QMSessionMutex()
    {
        if (m_hMutex != nullptr)
            ::CloseHandle(m_hMutex);
    }
};

// What a waiter sees of the log: the current file's size and time, or that it is gone.
struct QMLogMark
{
    bool m_bExists = false;
    ULONGLONG m_nSize = 0;
    FILETIME m_written = {};

    bool operator!=(const QMLogMark& other) const
    {
        return m_bExists != other.m_bExists || m_nSize != other.m_nSize ||
               ::CompareFileTime(&m_written, &other.m_written) != 0;
    }
};

QMLogMark MarkOf(const std::wstring& platformPath)
{
    QMLogMark mark;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!platformPath.empty() && ::GetFileAttributesExW(platformPath.c_str(), GetFileExInfoStandard, &data))
    {
        mark.m_bExists = true;
        mark.m_nSize = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        mark.m_written = data.ftLastWriteTime;
    }
    return mark;
}

QMSessionMutex g_session;
// The mutex's holder was found hanging: the mutex is only tried until it is had again.
volatile LONG g_nMutexStalled = 0;
volatile DWORD g_nMutexTriedAt = 0;
// A holder of the current file was found keeping it while nothing moved: the file is only
// tried until it is had alone again, and records go beside it meanwhile. Why it was not had.
volatile LONG g_nBesideHolder = 0;
volatile DWORD g_nBesideFile = 0; // which file, by a hash of its path
volatile DWORD g_nFileTriedAt = 0;
volatile DWORD g_nBesideError = ERROR_SUCCESS;
// Notices to write with the next record; a record went beside a holder since one last had the
// file alone.
volatile LONG g_nNoticesPending = 0;
volatile LONG g_nBesideNoticed = 0;
// The threads of this process append beside a holder one at a time.
CQMSlimLock g_gate;

void Notice(LONG notice)
{
    ::InterlockedOr(&g_nNoticesPending, notice);
}

void OpenSessionMutex()
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr, FALSE};
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(kSharedObjectSecurity, SDDL_REVISION_1, &descriptor,
                                                               nullptr))
        attributes.lpSecurityDescriptor = descriptor;
    HANDLE mutex = ::CreateMutexW(&attributes, FALSE, kLogLockName);
    if (mutex != nullptr && ::GetLastError() != ERROR_ALREADY_EXISTS)
        g_session.m_nMadeHere = 1;
    // Made by a process whose access list asks for less than all rights.
    if (mutex == nullptr && ::GetLastError() == ERROR_ACCESS_DENIED)
        mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kLogLockName);
    if (mutex == nullptr)
    {
        // Another kind of object has the name (ERROR_INVALID_HANDLE), or no access.
        g_session.m_nOpenError = ::GetLastError();
        Notice(kNoticeNameTaken);
    }
    g_session.m_hMutex = mutex;
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
}

std::string NoticeLine(const std::wstring& message)
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    return ToLogLine(BuildLogRecord(now, kServiceLogSource, L"LOG_LOCK", message));
}

DWORD PathKey(const std::wstring& platformPath)
{
    DWORD hash = 2166136261u;
    for (wchar_t ch : platformPath)
        hash = (hash ^ ch) * 16777619u;
    return hash;
}

bool Owned(DWORD wait)
{
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}
} // namespace

CQMLogLock::CQMLogLock(const std::wstring& currentFile) noexcept
{
    RunOnce(&g_session.m_nOpened, OpenSessionMutex);
    HANDLE mutex = g_session.m_hMutex;
    if (mutex == nullptr)
        return;
    if (g_nMutexStalled != 0 && ::GetTickCount() - g_nMutexTriedAt < kTryAgainMs)
        return;
    DWORD wait = ::WaitForSingleObject(mutex, 0);
    if (wait == WAIT_TIMEOUT && g_nMutexStalled != 0)
        g_nMutexTriedAt = ::GetTickCount();
    if (wait == WAIT_TIMEOUT && g_nMutexStalled == 0)
    {
        std::wstring platformPath;
        try
        {
            platformPath = ToPlatformPath(currentFile);
        }
        catch (...)
        {
        }
        // Queued in turn while the log moves; passed by when it stands still.
        const ULONGLONG start = ::GetTickCount64();
        ULONGLONG movedAt = start;
        QMLogMark seen = MarkOf(platformPath);
        for (;;)
        {
            wait = WaitHandlingSentMessages(mutex, kMutexSliceMs);
            if (wait != WAIT_TIMEOUT)
                break;
            ULONGLONG now = ::GetTickCount64();
            QMLogMark mark = MarkOf(platformPath);
            if (mark != seen)
            {
                seen = mark;
                movedAt = now;
            }
            if (now - movedAt >= kHungMs || now - start >= kLongestWaitMs)
            {
                m_bPassedBy = true;
                break;
            }
        }
    }
    if (!Owned(wait))
        return;
    m_bMutexHeld = true;
    m_bPreviousHolderDied =
        wait == WAIT_ABANDONED || (g_session.m_nMadeHere != 0 && ::InterlockedExchange(&g_session.m_nMadeHere, 0));
    if (g_nMutexStalled != 0)
        ::InterlockedExchange(&g_nMutexStalled, 0);
}

CQMLogLock::~CQMLogLock()
{
    if (m_bMutexHeld)
        ::ReleaseMutex(g_session.m_hMutex);
}

void CQMLogLock::PassMutexBy() const
{
    if (m_bPassedBy && ::InterlockedExchange(&g_nMutexStalled, 1) == 0)
        Notice(kNoticeMutexStalled);
}

CQMFileHandle OpenLogFileAlone(const std::wstring& platformPath, const std::wstring& folder, const CQMLogLock& lock)
{
    // Reading too: a record that a writer that died cut short is looked for through this handle.
    const DWORD access = FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    const DWORD sharing = FILE_SHARE_READ | FILE_SHARE_DELETE;
    CQMFileHandle file;
    bool madeFolder = false;
    auto open = [&]() -> bool {
        for (;;)
        {
            file.Reset(::CreateFileW(platformPath.c_str(), access, sharing, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file)
            {
                if (g_nBesideHolder != 0)
                    ::InterlockedExchange(&g_nBesideHolder, 0);
                return true;
            }
            // The first record, or one written after the folder was removed.
            if (::GetLastError() != ERROR_PATH_NOT_FOUND || folder.empty() || madeFolder)
                return false;
            madeFolder = true;
            CreateFolderPath(folder);
        }
    };
    // A mutex passed by hangs (its holder is no writer now): it is only tried from now on.
    lock.PassMutexBy();
    const bool beside = g_nBesideHolder != 0 && g_nBesideFile == PathKey(platformPath);
    if (beside && ::GetTickCount() - g_nFileTriedAt < kTryAgainMs)
    {
        ::SetLastError(ERROR_SHARING_VIOLATION);
        return file;
    }
    if (open())
        return file;
    // Another writer has it (or a program keeps it open for writing): its turn is waited for
    // while the log moves. A file being deleted refuses every open for a moment; anything else
    // refuses for good.
    DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION && beside)
        g_nFileTriedAt = ::GetTickCount();
    if (error == ERROR_SHARING_VIOLATION ? beside : !IsLogFileBusy(platformPath, error))
    {
        ::SetLastError(error);
        return file;
    }
    const ULONGLONG start = ::GetTickCount64();
    ULONGLONG movedAt = start;
    ULONGLONG bound = lock.PassedBy() ? kGraceMs : kFileHungMs;
    QMLogMark seen = MarkOf(platformPath);
    for (int busyTries = 0;;)
    {
        SleepHandlingSentMessages(kFileRetryMs);
        if (open())
            return file;
        error = ::GetLastError();
        if (error != ERROR_SHARING_VIOLATION && (!IsLogFileBusy(platformPath, error) || ++busyTries > 20))
            break;
        ULONGLONG now = ::GetTickCount64();
        QMLogMark mark = MarkOf(platformPath);
        if (mark != seen)
        {
            seen = mark;
            movedAt = now;
            bound = kFileHungMs;
        }
        if (now - movedAt >= bound || now - start >= kLongestWaitMs)
            break;
    }
    if (error == ERROR_SHARING_VIOLATION)
    {
        g_nBesideError = error;
        g_nFileTriedAt = ::GetTickCount();
        g_nBesideFile = PathKey(platformPath);
        ::InterlockedExchange(&g_nBesideHolder, 1);
    }
    ::SetLastError(error);
    return file;
}

CQMLogGate::CQMLogGate() noexcept
{
    // Held by a sibling for one append; one that keeps it longer hangs in it.
    const ULONGLONG start = ::GetTickCount64();
    while (!(m_bHeld = g_gate.TryLock()) && ::GetTickCount64() - start < kLongestWaitMs)
        SleepHandlingSentMessages(kFileRetryMs);
}

CQMLogGate::~CQMLogGate()
{
    if (m_bHeld)
        g_gate.Unlock();
}

void NoticeAppendBesideHolder()
{
    if (::InterlockedExchange(&g_nBesideNoticed, 1) == 0)
        Notice(kNoticeBesideHolder);
}

void NoticeAppendAlone()
{
    if (g_nBesideNoticed != 0)
        ::InterlockedExchange(&g_nBesideNoticed, 0);
}

std::string TakeLogLockNotice()
{
    if (g_nNoticesPending == 0)
        return std::string();
    LONG notices = ::InterlockedExchange(&g_nNoticesPending, 0);
    std::string lines;
    if (notices & kNoticeNameTaken)
        lines += NoticeLine(std::wstring(L"the session's log lock ") + kLogLockName + L" cannot be opened (" +
                            DescribeSystemError(g_session.m_nOpenError) +
                            L"): an object of another kind holds its name, or it is closed to this process; "
                            L"records take turns at the current file alone");
    if (notices & kNoticeMutexStalled)
        lines += NoticeLine(L"a holder of the session's log lock kept it longer than " + std::to_wstring(kHungMs) +
                            L" ms while the log did not move: until it lets go, records take turns at the current "
                            L"file alone");
    if (notices & kNoticeBesideHolder)
        lines += NoticeLine(L"the current file cannot be had alone (" + DescribeSystemError(g_nBesideError) +
                            L": a program keeps it open for writing, or a writer hangs in its append): records are "
                            L"appended beside it, one thread of this process at a time and each checked in the file "
                            L"after its write, until it can");
    return lines;
}

void ResetLogLockForTest()
{
    if (g_session.m_hMutex != nullptr)
        ::CloseHandle(g_session.m_hMutex);
    g_session.m_hMutex = nullptr;
    g_session.m_nMadeHere = 0;
    g_nMutexStalled = 0;
    g_nBesideHolder = 0;
    g_nBesideNoticed = 0;
    g_nNoticesPending = 0;
    ::InterlockedExchange(&g_session.m_nOpened, 0);
}
