#include "actionlist/ActionListUpdate.h"

#include "actionlist/ActionListCheck.h"

#include "log/LogFolderScope.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/MessageWait.h"
#include "sys/PathUtil.h"
#include "sys/QMFileUtil.h"
#include "sys/SystemError.h"
#include "sys/WholeFileWrite.h"
#include "xml/ReplacingFileSave.h"

#include <windows.h>
#include <shlwapi.h>

#include <memory>
#include <vector>

namespace
{
// The bound of every wait for a list that another holder or another save has: about two seconds.
constexpr int kSaveAttempts = 20;
constexpr DWORD kSaveRetryMs = 100;

// Runs attempt until it is done (true), or until it leaves passing unset (refused for good) or
// the bound is over. Called on the host's thread (from the finish record's handler too): the
// host's other threads may be sending it messages meanwhile.
template <class Attempt>
bool RetryWhilePassing(Attempt&& attempt)
{
    for (int round = 1;; ++round)
    {
        bool passing = false;
        if (attempt(passing))
            return true;
        if (!passing || round >= kSaveAttempts)
            return false;
        SleepHandlingSentMessages(kSaveRetryMs);
    }
}

// Why a save of the list at path failed, naming what refused it; error becomes the one that
// showed the cause.
std::wstring DescribeSaveFailure(const QMFileSave& save, DWORD& error, const std::wstring& path)
{
    if (IsDiskFullError(error))
        return L"the disk of " + save.m_strRefused + L" is full: the action list keeps its old text: " + path;
    if (save.m_bSaveInProgress)
        return L"another save of the action list (another host's, or another call's) held " + save.m_strRefused +
               L" for longer than the module waits: the action list keeps its old text: " + path;
    if (!save.m_bFolderRefused)
    {
        // The save's own error cannot tell: a refused replace is access denied for a read-only
        // file and for a holder alike. What the file shows now can.
        QMListWriteRefusal refusal = CheckListWriteRefusal(save.m_strRefused.empty() ? path : save.m_strRefused);
        if (refusal.m_nSystemError != ERROR_SUCCESS)
            error = refusal.m_nSystemError;
        return (refusal.m_strReason.empty() ? L"the action list cannot be written" : refusal.m_strReason) + L": " +
               path;
    }
    if (!save.m_strOwnFolder.empty() && save.m_strRefused == GetFullPlatformPath(save.m_strOwnFolder))
        return L"the action list's folder takes no new file, and the module's own folder " + save.m_strRefused +
               L" takes no redo copy: " + path;
    return L"the folder " + save.m_strRefused + L" takes no new file: the action list cannot be written: " + path;
}

// A redo copy that could not be applied stays, under another name: the host may need its text.
void ReportKeptCopies(const std::vector<QMRedoFinish>& kept, const std::wstring& path)
{
    for (const QMRedoFinish& copy : kept)
    {
        std::wstring why = copy.m_bKeptDamaged
                               ? std::wstring(L"it is damaged")
                               : L"it was made for " + copy.m_strMadeFor +
                                     L", and the list is neither the text it replaced nor a beginning of its own";
        WriteReasonRecord(kLogNameUpdateComponents, L"a redo copy of the action list cannot be applied (" + why +
                                                        L"): it is kept as " + copy.m_strKeptAs + L": " + path);
    }
}
} // namespace

std::wstring GetActionListRedoFolder() noexcept
{
    try
    {
        // The service log's parent: the user's own, and there whenever the module has written a
        // record. Inside a call, the call's own resolution of it.
        QMLogLocation location;
        if (!GetCallLogLocation(location))
            location.m_strFolder = GetServiceLogFolder();
        return location.m_strFolder.empty() ? std::wstring() : GetParentFolder(location.m_strFolder);
    }
    catch (...)
    {
        // No room for a path: no folder of the module's own for this save.
        return std::wstring();
    }
}

bool ReadActionListSettled(const std::wstring& path, const std::function<int()>& read, int& result)
{
    const std::wstring own = GetActionListRedoFolder();
    QMInterruptedSave finish;
    DWORD error = ERROR_SUCCESS;
    bool didRead = false;
    RetryWhilePassing([&](bool& passing) {
        // A save cut off in the middle of a write in place leaves the list torn until its redo
        // copy is written; one under way in another process holds the copy until it is done.
        error = FinishInterruptedSave(path, own, finish);
        if (finish.m_bFinished)
            WriteServiceLog(kServiceLogSource, L"SAVE_FINISHED", JoinLogFields({kLogNameUpdateComponents, path}));
        ReportKeptCopies(finish.m_vecKept, path);
        if (error != ERROR_SUCCESS)
        {
            passing = finish.m_bInUse;
            return false;
        }
        QMSaveStamp before = TakeSaveStamp(path, own);
        result = read();
        didRead = true;
        passing = !IsReadSettled(before, TakeSaveStamp(path, own));
        return !passing;
    });
    if (error == ERROR_SUCCESS)
        return didRead;
    if (finish.m_bInUse)
        WriteReasonRecord(kLogNameUpdateComponents,
                          L"another save of the action list (another host's, or another call's) held " +
                              finish.m_strRedoPath + L" for longer than the module waits: the list is not read while "
                                                     L"it may be half written: " + path,
                          error);
    else
        WriteReasonRecord(kLogNameUpdateComponents, L"a save that was cut off cannot be finished from its redo copy " +
                                                        finish.m_strRedoPath + L": " + path,
                          error);
    return false;
}

int RewriteActionList(const std::wstring& path, const std::wstring& componentType)
{
    CQMActionListXML model;
    int loaded = QM_ACTIONLIST_UNREADABLE;
    if (!ReadActionListSettled(path, [&] { return model.Load(path); }, loaded))
        return QM_REWRITE_NOT_WRITTEN;
    bool created = false;
    if (loaded != QM_ACTIONLIST_LOADED)
    {
        // A list the model cannot read (CDATA, an entity, another root, one bad byte) is still
        // the host's: writing the model back would replace it with an empty list.
        if (::PathFileExistsW(path.c_str()))
            return QM_REWRITE_KEPT;
        created = true;
    }
    else if (model.GetComponents().empty())
    {
        // Every element lacks an ID or an Action: the call refuses the list, so it is decided
        // here, before a write that would leave the host nothing of what it wrote.
        return QM_REWRITE_KEPT;
    }
    model.m_strComponentType = componentType;
    if (!SaveActionListRetrying(model, path))
        return QM_REWRITE_NOT_WRITTEN;
    return created ? QM_REWRITE_CREATED : QM_REWRITE_SAVED;
}

bool SaveActionListRetrying(const CQMActionListXML& model, const std::wstring& path)
{
    QMFileSave save;
    save.m_strOwnFolder = GetActionListRedoFolder();
    if (!save.m_strOwnFolder.empty())
        EnsureFolder(save.m_strOwnFolder.c_str());
    DWORD error = ERROR_SUCCESS;
    bool saved = RetryWhilePassing([&](bool& passing) {
        error = model.WriteFile(path.c_str(), &save);
        if (error == ERROR_SUCCESS)
            return true;
        // Another save ends, and another holder lets go; a full disk does not empty itself while
        // we wait, nor does a folder that takes no new file start taking them.
        passing = save.m_bSaveInProgress ||
                  (!IsDiskFullError(error) && !save.m_bFolderRefused && IsWriteRefusalPassing(path));
        return false;
    });
    ReportKeptCopies(save.m_vecKept, path);
    if (saved)
        return true;
    WriteServiceLog(kServiceLogSource, L"SAVE_FAILED",
                    JoinLogFields({L"UpdateComponents", path, DescribeSystemError(error)}));
    std::wstring why = DescribeSaveFailure(save, error, path);
    WriteReasonRecord(kLogNameUpdateComponents, why, error);
    return false;
}
