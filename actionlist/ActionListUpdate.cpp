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

namespace
{
constexpr int kSaveAttempts = 20;
constexpr DWORD kSaveRetryMs = 100;

// Why a save of the list at path failed, naming what refused it; error becomes the one that
// showed the cause.
std::wstring DescribeSaveFailure(const QMFileSave& save, DWORD& error, const std::wstring& path)
{
    if (IsDiskFullError(error))
        return L"the disk of " + save.m_strRefused + L" is full: the action list keeps its old text: " + path;
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

bool FinishInterruptedListSave(const std::wstring& path)
{
    bool finished = false;
    std::wstring redo;
    DWORD error = FinishInterruptedSave(path, GetActionListRedoFolder(), finished, redo);
    if (finished)
        WriteServiceLog(kServiceLogSource, L"SAVE_FINISHED", JoinLogFields({kLogNameUpdateComponents, path}));
    if (error == ERROR_SUCCESS)
        return true;
    WriteReasonRecord(kLogNameUpdateComponents,
                      L"a save that was cut off cannot be finished from its redo copy " + redo + L": " + path, error);
    return false;
}

int RewriteActionList(const std::wstring& path, const std::wstring& componentType)
{
    // A save cut off in the middle of a write in place leaves the list torn until its redo
    // copy is written: before the list is read at all.
    if (!FinishInterruptedListSave(path))
        return QM_REWRITE_NOT_WRITTEN;
    CQMActionListXML model;
    bool created = false;
    if (model.Load(path) != QM_ACTIONLIST_LOADED)
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
    for (int attempt = 1;; ++attempt)
    {
        DWORD error = model.WriteFile(path.c_str(), &save);
        if (error == ERROR_SUCCESS)
            return true;
        // A full disk does not empty itself while we wait, nor does a folder that takes no new
        // file start taking them; only another holder lets go.
        if (attempt >= kSaveAttempts || IsDiskFullError(error) || save.m_bFolderRefused || !IsWriteRefusalPassing(path))
        {
            WriteServiceLog(kServiceLogSource, L"SAVE_FAILED",
                            JoinLogFields({L"UpdateComponents", path, DescribeSystemError(error)}));
            std::wstring why = DescribeSaveFailure(save, error, path);
            WriteReasonRecord(kLogNameUpdateComponents, why, error);
            return false;
        }
        // Called from the finish record's handler on the host's thread: the host's other
        // threads may be sending it messages meanwhile.
        SleepHandlingSentMessages(kSaveRetryMs);
    }
}
