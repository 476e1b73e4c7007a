#pragma once
// The service log's location resolved once for the span of one exported call.
//
// Resolving the folder asks the shell and the session for the user's profile, which costs
// more than appending the record itself; a call writes many records (one per progress
// message), so the call's first record resolves it and the later records of that call's own
// thread reuse it. Nothing outlives the call: records written outside any call, and those of
// threads that did not enter the call, resolve the folder afresh.

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
    // Makes this thread's records share one location until the scope ends; a call that
    // writes no record resolves nothing.
    CQMLogFolderScope() noexcept;
    ~CQMLogFolderScope();
    CQMLogFolderScope(const CQMLogFolderScope&) = delete;
    CQMLogFolderScope& operator=(const CQMLogFolderScope&) = delete;

    // Resolved on the first use. Throws std::bad_alloc.
    const QMLogLocation& Location();

private:
    QMLogLocation m_location;
    bool m_bResolved = false;
    // The scope of an outer call on this thread (a host calling in from its progress callback).
    CQMLogFolderScope* m_pOuter;
};

// The location of the call running on this thread, or null outside any call. Throws std::bad_alloc.
const QMLogLocation* GetCallLogLocation();
