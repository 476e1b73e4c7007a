#include "log/ServiceLog.h"

#include "log/LogArchive.h"
#include "log/LogFolderScope.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "log/UserDataFolder.h"
#include "sys/MessageWait.h"
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
// The calls' location, or resolved now outside any call.
QMLogLocation LocationForRecord()
{
    QMLogLocation location;
    if (!GetCallLogLocation(location))
        location = ResolveLogLocation();
    return location;
}
} // namespace

void WriteServiceLog(const std::wstring& source, const std::wstring& tag, const std::wstring& message) noexcept
{
    // On a slow disk every record costs a slow write, and a call writes several in a row
    // around the saves of its list: the thread answers what other threads and processes sent
    // to its windows before and after each record, never while it holds the log's lock, and the
    // record is in the file before anything after it (a host's callback) runs.
    AnswerSentMessages();
    try
    {
        QMLogLocation location = LocationForRecord();
        AppendLogLines(location.m_strCurrentFile, location.m_strFolder, [&] {
            SYSTEMTIME now = {};
            ::GetLocalTime(&now);
            return ToLogLine(BuildLogRecord(now, source, tag, message));
        });
    }
    catch (...)
    {
        // A record that cannot be written is lost; it never changes a result.
    }
    AnswerSentMessages();
}

void ArchiveServiceLog() noexcept
{
    try
    {
        QMLogLocation location = LocationForRecord();
        SYSTEMTIME now = {};
        ::GetLocalTime(&now);
        ArchiveServiceLogAs(location.m_strFolder, FormatArchiveStamp(now));
    }
    catch (...)
    {
    }
}
