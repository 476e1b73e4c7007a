#pragma once
// The service log's location resolved once for the span of one exported call.
//
// Resolving the folder asks the shell and the session for the user's profile, which costs
// more than appending the record itself; a call writes many records (one per progress
// message), so the call's entry resolves it and the records of that call's own thread reuse
// it. Nothing outlives the call: records written outside any call, and those of threads that
// did not enter the call, resolve the folder afresh.

#include <string>

struct QMLogLocation
{
    std::wstring m_strFolder;
    std::wstring m_strCurrentFile;
};

// The folder and current file as they are now, "/" form.
QMLogLocation ResolveLogLocation();

class CQMLogFolderScope
{
public:
    // Resolves the location and makes it this thread's until the scope ends.
    CQMLogFolderScope();
    ~CQMLogFolderScope();
    CQMLogFolderScope(const CQMLogFolderScope&) = delete;
    CQMLogFolderScope& operator=(const CQMLogFolderScope&) = delete;

private:
    QMLogLocation m_location;
    // The scope of an outer call on this thread (a host calling in from its progress callback).
    const QMLogLocation* m_pOuter;
};

// The location of the call running on this thread, or null outside any call.
const QMLogLocation* GetCallLogLocation();
