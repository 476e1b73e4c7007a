#pragma once
// The service log's location, resolved once while exported calls run.
//
// Resolving the folder asks the shell and the session for the user's profile, which costs
// more than appending the record itself; a call writes many records (one per progress
// message), so the first record of a call resolves it and the later records reuse it, on the
// call's thread and on its workers, as long as any call of this process runs. Nothing outlives
// the calls: once the last one has ended, records resolve the folder afresh.

#include <string>

struct QMLogLocation
{
    std::wstring m_strFolder;
    std::wstring m_strCurrentFile;
};

// The folder and current file as they are now, "/" form.
QMLogLocation ResolveLogLocation();

// One per exported call, for the whole call; calls may nest (a host calling in from its
// progress callback) and run on several threads at once.
class CQMLogFolderScope
{
public:
    CQMLogFolderScope() noexcept;
    ~CQMLogFolderScope();
    CQMLogFolderScope(const CQMLogFolderScope&) = delete;
    CQMLogFolderScope& operator=(const CQMLogFolderScope&) = delete;
};

// The location of the calls running now, resolved at its first use; false (and location
// untouched) outside any call. Throws std::bad_alloc.
bool GetCallLogLocation(QMLogLocation& location);

// True while an exported call of this process runs.
bool IsLogCallRunning();
