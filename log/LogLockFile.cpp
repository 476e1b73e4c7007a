#include "log/LogLockFile.h"

#include "log/LogFolderScope.h"
#include "sys/PathUtil.h"
#include "sys/SlimLock.h"

namespace
{
// The lock covers the first byte; the counters stand after it, outside the lock, where waiters
// read them.
constexpr DWORD kTurnsOffset = 8;

// The handle that the threads of this process share while calls run, and how many use it now.
struct QMSharedLockFile
{
    CQMSlimLock m_lock;
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    std::wstring m_strFolder;
    long m_nUsers = 0;

    ~QMSharedLockFile()
    {
        if (m_hFile != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_hFile);
    }
};

QMSharedLockFile g_shared;

HANDLE OpenLockFile(const std::wstring& platformPath)
{
    return ::CreateFileW(platformPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

ULONGLONG ThisThreadStamp()
{
    return (static_cast<ULONGLONG>(::GetCurrentProcessId()) << 32) | ::GetCurrentThreadId();
}

bool WriteAt(HANDLE file, DWORD offset, const void* data, DWORD size)
{
    OVERLAPPED at = {};
    at.Offset = offset;
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, &at) && written == size;
}

// Closes the shared handle when nobody uses it and no call will soon again.
void CloseSharedIfUnused(bool evenDuringCalls)
{
    HANDLE closing = INVALID_HANDLE_VALUE;
    {
        CQMSlimLockGuard guard(g_shared.m_lock);
        if (g_shared.m_nUsers != 0 || (!evenDuringCalls && IsLogCallRunning()))
            return;
        closing = g_shared.m_hFile;
        g_shared.m_hFile = INVALID_HANDLE_VALUE;
    }
    if (closing != INVALID_HANDLE_VALUE)
        ::CloseHandle(closing);
}
} // namespace

std::wstring LogLockFilePath(const std::wstring& logFolder)
{
    return JoinPath(GetParentFolder(logFolder), kLogLockFileName);
}

DWORD CQMLogLockFile::Open(const std::wstring& folder, bool makeFolder) noexcept
{
    Close();
    try
    {
        {
            CQMSlimLockGuard guard(g_shared.m_lock);
            if (g_shared.m_hFile != INVALID_HANDLE_VALUE && g_shared.m_strFolder == folder)
            {
                ++g_shared.m_nUsers;
                m_hFile = g_shared.m_hFile;
                m_bShared = true;
                return ERROR_SUCCESS;
            }
        }
        std::wstring path = ToPlatformPath(LogLockFilePath(folder));
        HANDLE file = OpenLockFile(path);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PATH_NOT_FOUND && makeFolder)
        {
            CreateFolderPath(folder);
            file = OpenLockFile(path);
        }
        if (file == INVALID_HANDLE_VALUE)
            return ::GetLastError();
        std::wstring folderCopy(folder);
        HANDLE replaced = INVALID_HANDLE_VALUE;
        {
            CQMSlimLockGuard guard(g_shared.m_lock);
            if (g_shared.m_nUsers == 0)
            {
                // A handle of another folder (the user's profile moved between calls).
                replaced = g_shared.m_hFile;
                g_shared.m_hFile = file;
                g_shared.m_strFolder.swap(folderCopy);
                g_shared.m_nUsers = 1;
                m_bShared = true;
            }
            else if (g_shared.m_hFile != INVALID_HANDLE_VALUE && g_shared.m_strFolder == folder)
            {
                // Another thread opened it meanwhile.
                replaced = file;
                file = g_shared.m_hFile;
                ++g_shared.m_nUsers;
                m_bShared = true;
            }
        }
        if (replaced != INVALID_HANDLE_VALUE)
            ::CloseHandle(replaced);
        m_hFile = file;
        return ERROR_SUCCESS;
    }
    catch (...)
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

bool CQMLogLockFile::TryTake(bool holdsMutex, bool& previousDied) noexcept
{
    previousDied = false;
    if (m_bHeld || !IsOpen())
        return m_bHeld;
    OVERLAPPED at = {};
    if (!::LockFileEx(m_hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
        return false;
    m_bHeld = true;
    QMLogLockTurns turns = ReadTurns();
    // Cleared by every holder that let go: one that did not ended in its turn.
    previousDied = turns.m_nHolder != 0;
    turns.m_nHolder = ThisThreadStamp();
    ++turns.m_nTurns;
    if (holdsMutex)
        ++turns.m_nMutexTurns;
    WriteAt(m_hFile, kTurnsOffset, &turns, sizeof(turns));
    return true;
}

QMLogLockTurns CQMLogLockFile::ReadTurns() const noexcept
{
    QMLogLockTurns turns;
    if (!IsOpen())
        return turns;
    OVERLAPPED at = {};
    at.Offset = kTurnsOffset;
    DWORD read = 0;
    if (!::ReadFile(m_hFile, &turns, sizeof(turns), &read, &at) || read != sizeof(turns))
        return QMLogLockTurns();
    return turns;
}

void CQMLogLockFile::Close() noexcept
{
    if (m_bHeld)
    {
        const ULONGLONG none = 0;
        WriteAt(m_hFile, kTurnsOffset, &none, sizeof(none));
        OVERLAPPED at = {};
        ::UnlockFileEx(m_hFile, 0, 1, 0, &at);
        m_bHeld = false;
    }
    if (m_hFile == INVALID_HANDLE_VALUE)
        return;
    if (!m_bShared)
    {
        ::CloseHandle(m_hFile);
    }
    else
    {
        {
            CQMSlimLockGuard guard(g_shared.m_lock);
            --g_shared.m_nUsers;
        }
        // The handle serves the records of the calls that run; outside them a record is rare.
        CloseSharedIfUnused(false);
    }
    m_hFile = INVALID_HANDLE_VALUE;
    m_bShared = false;
}

void CloseLogLockFile() noexcept
{
    CloseSharedIfUnused(true);
}
