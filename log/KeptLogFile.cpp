#include "log/KeptLogFile.h"

#include "log/LogFolderScope.h"

namespace
{
// Guards the handle and its path. It is only tried, never waited for: a record that finds
// another thread appending through it (possible only while the log's lock cannot be had)
// opens the file itself. The handle and the string are freed when the module is unloaded.
SRWLOCK g_guard = SRWLOCK_INIT;
CQMFileHandle g_file;
std::wstring g_strPath;
} // namespace

CQMKeptLogFile::CQMKeptLogFile(const std::wstring& platformPath) noexcept : m_strPath(platformPath)
{
    if (!IsLogCallRunning() || !::TryAcquireSRWLockExclusive(&g_guard))
        return;
    m_bGuardHeld = true;
    if (g_file && g_strPath != platformPath)
        g_file.Reset();
}

CQMKeptLogFile::~CQMKeptLogFile()
{
    if (!m_bGuardHeld)
        return;
    ::ReleaseSRWLockExclusive(&g_guard);
    // The last call may have ended while this record was appended: its end found the guard held.
    if (!IsLogCallRunning())
        ReleaseKeptLogFile();
}

HANDLE CQMKeptLogFile::Handle() const noexcept
{
    return m_bGuardHeld && g_file ? g_file.Get() : nullptr;
}

void CQMKeptLogFile::Keep(CQMFileHandle file) noexcept
{
    if (!m_bGuardHeld)
        return;
    try
    {
        if (g_strPath != m_strPath)
            g_strPath = m_strPath;
    }
    catch (...)
    {
        return;
    }
    g_file = std::move(file);
}

void CQMKeptLogFile::Discard() noexcept
{
    if (m_bGuardHeld)
        g_file.Reset();
}

void ReleaseKeptLogFile() noexcept
{
    if (!::TryAcquireSRWLockExclusive(&g_guard))
        return;
    g_file.Reset();
    ::ReleaseSRWLockExclusive(&g_guard);
}
