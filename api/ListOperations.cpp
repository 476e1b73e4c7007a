#include "api/Operations.h"

#include "api/CallFrame.h"
#include "api/SupportProbe.h"
#include "bridge/RequestArguments.h"
#include "bridge/RequestDocument.h"
#include "bridge/ResultDocument.h"
#include "bridge/VestabelRun.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/ComHandle.h"
#include "sys/PathUtil.h"

#include <windows.h>
#include <shlwapi.h>

#include <functional>

// The list operations run the updater on the calling thread and hand back the code of
// its result document. The list itself is written by the updater for the host.

namespace
{
// Nothing may be left at the list path, so that a list found there afterwards is this run's.
bool ClearListPath(const std::wstring& listPath, const wchar_t* logName)
{
    std::wstring platform = ToPlatformPath(listPath);
    if (!::PathFileExistsW(platform.c_str()))
        return true;
    if (::PathIsDirectoryW(platform.c_str()))
    {
        WriteReasonRecord(logName, L"the list path is a folder: " + listPath);
        return false;
    }
    if (::DeleteFileW(platform.c_str()))
        return true;
    WriteReasonRecord(logName, L"the old list cannot be deleted: " + listPath, ::GetLastError());
    return false;
}

int RunListOperation(const std::wstring& listPath, const wchar_t* logName, const wchar_t* switchName,
                     const std::function<std::wstring(const std::wstring&)>& writeRequest)
{
    LogModuleVersion();
    if (!IsVestabelRegistered())
        return QM_LIST_NOT_SUPPORTED;
    // The updater runs in a folder of its own: it gets the path the host meant. A path past the
    // limit could not be cleared (the old list would be taken for this run's) nor written by
    // every updater: it is refused like a name that makes the request's path too long.
    std::wstring hostListPath = ResolveHostPath(listPath);
    if (hostListPath.size() >= MAX_PATH)
    {
        LogRequestPathTooLong(logName);
        return QM_LIST_NOT_SUPPORTED;
    }
    if (!ClearListPath(hostListPath, logName))
        return QM_LIST_PATH_UNUSABLE;

    // One apartment for the request's save and the result's load: tearing it down between
    // the two would load the XML library twice per call. Balanced when the call ends.
    CQMComInit com = InitializeComForThread();
    std::wstring requestPath = writeRequest(hostListPath);
    unsigned long exitCode = kUpdaterExitUnknown;
    if (!RunVestabel(logName, {requestPath, switchName}, &exitCode))
        return QM_LIST_NOT_SUPPORTED;

    WriteServiceLog(kServiceLogSource, L"CATCH_XML", logName);
    std::wstring processInfo;
    int code = QM_LIST_NO_RESULT;
    CatchResultDocument(requestPath, processInfo, &code, logName, exitCode);
    return code;
}
} // namespace

int RunGetInstalledComponentList(QMCallContext& /*context*/, const std::wstring& appName,
                                 const std::wstring& listPath, const std::wstring& componentType)
{
    return RunListOperation(listPath, kLogNameGetInstalledComponentList, kSwitchInstalledList,
                            [&](const std::wstring& path) { return CreateInstalledListRequest(appName, path, componentType); });
}

int RunGetLatestComponentList(QMCallContext& /*context*/, const std::wstring& listPath,
                              const std::wstring& componentType, const std::wstring& version)
{
    return RunListOperation(listPath, kLogNameGetLatestComponentList, kSwitchLatestList,
                            [&](const std::wstring& path) { return CreateLatestListRequest(path, componentType, version); });
}
