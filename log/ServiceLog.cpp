#include "log/ServiceLog.h"

#include "log/LogArchive.h"
#include "log/LogFolderScope.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "log/UserDataFolder.h"
#include "sys/PathUtil.h"

#include <windows.h>

std::wstring GetServiceLogFolder()
{
    std::wstring base;
    GetUserDataFolder(base); // an empty base leaves the folder relative to the current one
    return JoinPath(base, kServiceLogSubFolder);
}

void WriteServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept
{
    try
    {
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        std::wstring line = BuildLogRecord(now, source, tag, message);

        QMLogLocation resolved;
        const QMLogLocation* location = GetCallLogLocation();
        if (location == nullptr)
        {
            resolved = ResolveLogLocation();
            location = &resolved;
        }
        if (AppendLogRecord(location->m_strCurrentFile, line))
            return;
        // The folder is created only when the append found it missing: the first record, or one
        // written after the folder was removed, also while a call reuses the folder it resolved.
        DWORD attributes = ::GetFileAttributesW(ToPlatformPath(location->m_strFolder).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return;
        CreateFolderPath(location->m_strFolder);
        AppendLogRecord(location->m_strCurrentFile, line);
    }
    catch (...)
    {
        // A record that cannot be written is lost; it never changes a result.
    }
}

void ArchiveServiceLog() noexcept
{
    try
    {
        const QMLogLocation* callLocation = GetCallLogLocation();
        std::wstring folder = callLocation != nullptr ? callLocation->m_strFolder : GetServiceLogFolder();
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        ArchiveServiceLogAs(folder, FormatArchiveStamp(now));
    }
    catch (...)
    {
    }
}
