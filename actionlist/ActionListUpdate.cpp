#include "actionlist/ActionListUpdate.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/QMFileUtil.h"
#include "sys/QMSystemUtil.h"
#include "sys/SystemError.h"
#include "sys/WholeFileWrite.h"

#include <windows.h>
#include <shlwapi.h>

#include <memory>

namespace
{
constexpr int kSaveAttempts = 20;
constexpr DWORD kSaveRetryMs = 100;

} // namespace

int RewriteActionList(const std::wstring& path, const std::wstring& componentType)
{
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
    for (int attempt = 1;; ++attempt)
    {
        DWORD error = model.WriteFile(path.c_str());
        if (error == ERROR_SUCCESS)
            return true;
        // A full disk does not empty itself while we wait; only another holder lets go.
        if (attempt >= kSaveAttempts || IsDiskFullError(error) || !IsWriteRefusalPassing(path))
        {
            WriteServiceLog(kServiceLogSource, L"SAVE_FAILED",
                            JoinLogFields({L"UpdateComponents", path, DescribeSystemError(error)}));
            return false;
        }
        GetSystemUtil()->Sleep(kSaveRetryMs);
    }
}
