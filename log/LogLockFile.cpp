#include "log/LogLockFile.h"

#include "sys/MessageWait.h"
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
    DWORD error = ERROR_TIMEOUT;
    try
    {
        std::wstring path = ToPlatformPath(JoinPath(folder, kLogLockFileName));
        const ULONGLONG start = ::GetTickCount64();
        ULONGLONG lastProgress = start;
        ULONGLONG holder = 0;
        for (bool madeFolder = false;;)
        {
            if (!m_file)
                m_file = OpenLockFile(path);
            if (!m_file && ::GetLastError() == ERROR_PATH_NOT_FOUND)
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
            if (!m_file)
                error = ::GetLastError();
            else if (TryLock(m_file.Get()))
            {
                m_bHeld = true;
                // Cleared by every holder that let go: one that did not ended in its turn.
                m_bPreviousHolderDied = ReadStamp(m_file.Get()) != 0;
                WriteStamp(m_file.Get(), ThisThreadStamp());
                return ERROR_SUCCESS;
            }
            else
            {
                error = ERROR_TIMEOUT;
                ULONGLONG stamp = ReadStamp(m_file.Get());
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
    m_file.Reset();
    return error;
}

void CQMLogLockFile::Release() noexcept
{
    if (m_bHeld)
    {
        WriteStamp(m_file.Get(), 0);
        OVERLAPPED at = {};
        ::UnlockFileEx(m_file.Get(), 0, 1, 0, &at);
        m_bHeld = false;
    }
    m_bPreviousHolderDied = false;
    m_file.Reset();
}
