#include "log/LogLockFile.h"

#include "log/LogFolderScope.h"
#include "sys/MessageWait.h"
#include "sys/OnceFlag.h"
#include "sys/PathUtil.h"

namespace
{
// The lock covers the first byte. The holder's stamp (process and thread) stands after it,
// outside the lock, where waiters read it: while it changes the lock is passed on, and a
// waiter waits on; one that stays while a wait runs out is a holder that hangs.
constexpr DWORD kStampOffset = 8;
// Between tries while another holds the lock: a turn lasts one append.
constexpr DWORD kRetryMs = 1;
// However often the lock passes on, a wait ends after this long.
constexpr DWORD kLongestWaitMs = 1000;

// The threads of this process take the file's lock through one handle, in turn: a gate of
// their own (a mutex without a name, whose ownership also ends with its thread), then the
// file. Opened when first needed, closed when the module is unloaded.
struct QMProcessSide
{
    volatile LONG m_nMade = 0;
    HANDLE m_hGate = nullptr;
    // Guarded by the gate.
    CQMFileHandle m_file;
    std::wstring m_strFolder;

    ~QMProcessSide()
    {
        m_file.Reset();
        if (m_hGate != nullptr)
            ::CloseHandle(m_hGate);
    }
};

QMProcessSide g_side;

void MakeGate()
{
    g_side.m_hGate = ::CreateMutexW(nullptr, FALSE, nullptr);
}

CQMFileHandle OpenLockFile(const std::wstring& platformPath)
{
    return CQMFileHandle(::CreateFileW(platformPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool TryLock(HANDLE file)
{
    OVERLAPPED at = {};
    return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
}

ULONGLONG ThisThreadStamp()
{
    return (static_cast<ULONGLONG>(::GetCurrentProcessId()) << 32) | ::GetCurrentThreadId();
}

void WriteStamp(HANDLE file, ULONGLONG stamp)
{
    OVERLAPPED at = {};
    at.Offset = kStampOffset;
    DWORD written = 0;
    ::WriteFile(file, &stamp, sizeof(stamp), &written, &at);
}

ULONGLONG ReadStamp(HANDLE file)
{
    OVERLAPPED at = {};
    at.Offset = kStampOffset;
    ULONGLONG stamp = 0;
    DWORD read = 0;
    if (!::ReadFile(file, &stamp, sizeof(stamp), &read, &at) || read != sizeof(stamp))
        return 0;
    return stamp;
}
} // namespace

DWORD CQMLogLockFile::Take(const std::wstring& folder, bool makeFolder, DWORD timeoutMs) noexcept
{
    Release();
    RunOnce(&g_side.m_nMade, MakeGate);
    if (g_side.m_hGate == nullptr)
        return ::GetLastError();
    // A thread of this process before us holds the gate for one append, or for its own wait.
    DWORD gate = ::WaitForSingleObject(g_side.m_hGate, 0);
    if (gate == WAIT_TIMEOUT && timeoutMs != 0)
        gate = WaitHandlingSentMessages(g_side.m_hGate, timeoutMs + kLongestWaitMs);
    if (gate != WAIT_OBJECT_0 && gate != WAIT_ABANDONED)
        return ERROR_TIMEOUT;
    m_bGateHeld = true;

    DWORD error = ERROR_TIMEOUT;
    try
    {
        if (g_side.m_file && g_side.m_strFolder != folder)
            g_side.m_file.Reset();
        std::wstring path = ToPlatformPath(JoinPath(folder, kLogLockFileName));
        const ULONGLONG start = ::GetTickCount64();
        ULONGLONG lastProgress = start;
        ULONGLONG holder = 0;
        for (bool madeFolder = false;;)
        {
            if (!g_side.m_file)
            {
                g_side.m_file = OpenLockFile(path);
                g_side.m_strFolder = folder;
            }
            if (!g_side.m_file && ::GetLastError() == ERROR_PATH_NOT_FOUND)
            {
                if (!makeFolder || madeFolder)
                {
                    error = ERROR_PATH_NOT_FOUND;
                    break;
                }
                madeFolder = true;
                CreateFolderPath(folder);
                continue;
            }
            ULONGLONG now = ::GetTickCount64();
            HANDLE file = g_side.m_file.Get();
            if (!g_side.m_file)
                error = ::GetLastError();
            else if (TryLock(file))
            {
                m_bHeld = true;
                // Cleared by every holder that let go: one that did not ended in its turn.
                m_bPreviousHolderDied = ReadStamp(file) != 0;
                WriteStamp(file, ThisThreadStamp());
                return ERROR_SUCCESS;
            }
            else
            {
                error = ERROR_TIMEOUT;
                ULONGLONG stamp = ReadStamp(file);
                if (stamp != holder)
                {
                    holder = stamp;
                    lastProgress = now;
                }
            }
            if (now - lastProgress >= timeoutMs || now - start >= kLongestWaitMs)
                break;
            SleepHandlingSentMessages(kRetryMs);
        }
    }
    catch (...)
    {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    Release();
    return error;
}

void CQMLogLockFile::Release() noexcept
{
    if (m_bHeld)
    {
        WriteStamp(g_side.m_file.Get(), 0);
        OVERLAPPED at = {};
        ::UnlockFileEx(g_side.m_file.Get(), 0, 1, 0, &at);
        m_bHeld = false;
    }
    if (m_bGateHeld)
    {
        // The handle serves the records of the calls that run; outside them a record is rare.
        if (!IsLogCallRunning())
            g_side.m_file.Reset();
        ::ReleaseMutex(g_side.m_hGate);
        m_bGateHeld = false;
    }
    m_bPreviousHolderDied = false;
}

void CloseLogLockFile() noexcept
{
    RunOnce(&g_side.m_nMade, MakeGate);
    if (g_side.m_hGate == nullptr || ::WaitForSingleObject(g_side.m_hGate, 0) == WAIT_TIMEOUT)
        return;
    g_side.m_file.Reset();
    ::ReleaseMutex(g_side.m_hGate);
}
