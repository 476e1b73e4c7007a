#include "log/ServiceLog.h"

#include "log/LogArchive.h"
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

        std::wstring folder = GetServiceLogFolder();
        // Creating is the rare case; an attribute query is far cheaper than the shell's folder creation.
        DWORD attributes = ::GetFileAttributesW(ToPlatformPath(folder).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            CreateFolderPath(folder);
        AppendLogRecord(JoinPath(folder, kServiceLogCurrentFile), line);
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
        std::wstring folder = GetServiceLogFolder();
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        ArchiveServiceLogAs(folder, FormatArchiveStamp(now));
    }
    catch (...)
    {
    }
}
