#include "log/LogLock.h"

#include "log/LogFields.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "sys/MessageWait.h"
#include "sys/OnceFlag.h"
#include "sys/SystemError.h"

#include <windows.h>
#include <sddl.h>

namespace
{
constexpr const wchar_t* kLogLockName = L"Tavrin_Inc_ZL_QM_LOG_v1";
// An append takes a fraction of a millisecond, an archive step a few, a write to a slow network
// share a hundred or so: a holder that keeps the lock longer hangs.
constexpr DWORD kMutexWaitMs = 50;
constexpr DWORD kFileWaitMs = 100;

// Every process of the session writes the same user's log, also one that runs elevated or under
// another account (its records go to the session user's folder): the mutex must open for all of
// them, whichever was first. Everyone may use it; the low label lets every integrity level in.
constexpr const wchar_t* kSharedObjectSecurity = L"D:(A;;GA;;;WD)S:(ML;;NW;;;LW)";

enum : LONG
{
    kNoticeNameTaken = 1,
    kNoticeMutexStalled = 2,
    kNoticeFileStalled = 4,
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

QMSessionMutex g_session;
// Set while a holder hangs: the lock is only tried until it is had again.
volatile LONG g_nMutexStalled = 0;
volatile LONG g_nFileStalled = 0;
DWORD g_nFileError = ERROR_SUCCESS;
// Notices to write, and notices written: each once per process.
volatile LONG g_nNoticesPending = 0;
volatile LONG g_nNoticesGiven = 0;

void Notice(LONG notice)
{
    if ((::InterlockedOr(&g_nNoticesGiven, notice) & notice) == 0)
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
} // namespace

CQMLogLock::CQMLogLock(const std::wstring& folder, bool makeFolder) noexcept
{
    RunOnce(&g_session.m_nOpened, OpenSessionMutex);
    if (g_session.m_hMutex != nullptr)
    {
        const bool stalled = g_nMutexStalled != 0;
        DWORD wait = ::WaitForSingleObject(g_session.m_hMutex, 0);
        if (wait == WAIT_TIMEOUT && !stalled)
            wait = WaitHandlingSentMessages(g_session.m_hMutex, kMutexWaitMs);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
        {
            m_bMutexHeld = true;
            m_bPreviousHolderDied =
                wait == WAIT_ABANDONED || (g_session.m_nMadeHere != 0 && ::InterlockedExchange(&g_session.m_nMadeHere, 0));
            if (stalled && ::InterlockedExchange(&g_nMutexStalled, 0) != 0)
                CloseLogLockFile();
            return;
        }
        ::InterlockedExchange(&g_nMutexStalled, 1);
        Notice(kNoticeMutexStalled);
    }

    const bool stalled = g_nFileStalled != 0;
    DWORD error = m_file.Take(folder, makeFolder, stalled ? 0 : kFileWaitMs);
    // No folder, no file to append to either: nothing to say.
    if (error == ERROR_PATH_NOT_FOUND)
        return;
    if (error == ERROR_SUCCESS)
    {
        m_bPreviousHolderDied = m_file.PreviousHolderDied();
        if (stalled)
            ::InterlockedExchange(&g_nFileStalled, 0);
        return;
    }
    g_nFileError = error;
    ::InterlockedExchange(&g_nFileStalled, 1);
    Notice(kNoticeFileStalled);
}

CQMLogLock::~CQMLogLock()
{
    if (m_bMutexHeld)
        ::ReleaseMutex(g_session.m_hMutex);
    m_file.Release();
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
                            L"records take turns through " + kLogLockFileName + L" in the log folder");
    if (notices & kNoticeMutexStalled)
        lines += NoticeLine(L"a holder of the session's log lock kept it longer than " + std::to_wstring(kMutexWaitMs) +
                            L" ms: until it lets go, records take turns through " + kLogLockFileName +
                            L" in the log folder");
    if (notices & kNoticeFileStalled)
        lines += NoticeLine(std::wstring(L"the log's lock file ") + kLogLockFileName + L" cannot be had (" +
                            DescribeSystemError(g_nFileError) + L"): records are appended without a lock until it can");
    return lines;
}

void ResetLogLockForTest()
{
    if (g_session.m_hMutex != nullptr)
        ::CloseHandle(g_session.m_hMutex);
    g_session.m_hMutex = nullptr;
    g_session.m_nMadeHere = 0;
    g_nMutexStalled = 0;
    g_nFileStalled = 0;
    CloseLogLockFile();
    ::InterlockedExchange(&g_session.m_nOpened, 0);
}
