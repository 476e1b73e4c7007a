#include "log/ServiceLog.h"

#include "log/LogArchive.h"
#include "log/LogFolderScope.h"
#include "log/LogRecordQueue.h"
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

namespace
{
// The record's location: the call's, resolved once for it, or resolved now outside any call.
QMLogLocation LocationForRecord()
{
    const QMLogLocation* location = GetCallLogLocation();
    return location != nullptr ? *location : ResolveLogLocation();
}

std::string MakeLine(const std::wstring& source, const std::wstring& tag, const std::wstring& message)
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    return ToLogLine(BuildLogRecord(now, source, tag, message));
}

void WriteLineNow(const QMLogLocation& location, std::string line)
{
    std::lock_guard<std::mutex> lock(ServiceLogMutex());
    // Records queued before this one go first.
    WriteQueuedServiceLogLinesLocked();
    AppendToServiceLogLocked(location, std::move(line));
}
} // namespace

void WriteServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept
{
    try
    {
        std::string line = MakeLine(source, tag, message);
        WriteLineNow(LocationForRecord(), std::move(line));
    }
    catch (...)
    {
        // A record that cannot be written is lost; it never changes a result.
    }
}

void QueueServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept
{
    try
    {
        std::string line = MakeLine(source, tag, message);
        QMLogLocation location = LocationForRecord();
        if (!QueueServiceLogLine(location, line))
            WriteLineNow(location, std::move(line));
    }
    catch (...)
    {
    }
}

void FlushServiceLog() noexcept
{
    try
    {
        std::lock_guard<std::mutex> lock(ServiceLogMutex());
        WriteQueuedServiceLogLinesLocked();
    }
    catch (...)
    {
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
