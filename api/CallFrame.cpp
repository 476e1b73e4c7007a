#include "api/CallFrame.h"

#include "api/Operations.h"
#include "api/QMCallContext.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"

#include <string>
#include <vector>

namespace
{
void WriteEntryRecord(const wchar_t* logName, std::vector<std::wstring> arguments)
{
    arguments.insert(arguments.begin(), logName);
    WriteServiceLog(kServiceLogSource, L"API_CALL", JoinLogFields(arguments));
}

void WriteExitRecord(const wchar_t* logName, const std::wstring& value)
{
    WriteServiceLog(kServiceLogSource, L"API_END", JoinLogFields({logName, value}));
}

// An operation body that fails inside (exhausted memory) ends the call with the
// not-supported result; the frame still writes its exit record and archives.
template <class R, class Body>
R RunBody(R notSupported, Body&& body)
{
    try
    {
        return body();
    }
    catch (...)
    {
        return notSupported;
    }
}
} // namespace

std::wstring CopyHostString(const wchar_t* text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
}

bool FrameLaunchCheck(const wchar_t* appName, int* state)
{
    std::wstring strAppName = CopyHostString(appName);
    QMCallContext context;
    WriteEntryRecord(kLogNameLaunchCheck, {strAppName});

    // A host that passes no state gets the check run against a value of its own.
    int ignoredState = QM_STATE_DO_NOT_START;
    int& hostState = state != nullptr ? *state : ignoredState;
    int newState = hostState;
    bool result = RunBody(false, [&] { return RunLaunchCheck(context, strAppName, newState); });
    if (result)
        hostState = newState;

    WriteExitRecord(kLogNameLaunchCheck, std::to_wstring(hostState));
    if (hostState == QM_STATE_GO_ON)
        ArchiveServiceLog();
    return result;
}

bool FrameIsSupportQuelmar()
{
    QMCallContext context;
    // The probe writes the exit record of a failure itself.
    bool result = RunBody(false, [&] { return RunIsSupportQuelmar(context); });
    if (!result)
        ArchiveServiceLog();
    return result;
}

int FrameUpdateComponents(const wchar_t* appName, const wchar_t* actionListPath,
                          const wchar_t* componentType, QMProgressCallback progress)
{
    std::wstring strAppName = CopyHostString(appName);
    std::wstring strActionListPath = CopyHostString(actionListPath);
    std::wstring strComponentType = CopyHostString(componentType);
    QMCallContext context;
    WriteEntryRecord(kLogNameUpdateComponents, {strAppName, strActionListPath, strComponentType});

    int result = RunBody(static_cast<int>(QM_UPDATE_NOT_SUPPORTED), [&] {
        return RunUpdateComponents(context, strAppName, strActionListPath, strComponentType, progress);
    });

    WriteExitRecord(kLogNameUpdateComponents, std::to_wstring(result));
    if (!context.m_bAbandonedOnQuit)
        WaitForVestabelUI();
    ArchiveServiceLog();
    return result;
}

int FrameGetInstalledComponentList(const wchar_t* appName, const wchar_t* listPath, const wchar_t* componentType)
{
    std::wstring strAppName = CopyHostString(appName);
    std::wstring strListPath = CopyHostString(listPath);
    std::wstring strComponentType = CopyHostString(componentType);
    QMCallContext context;
    WriteEntryRecord(kLogNameGetInstalledComponentList, {strAppName, strListPath, strComponentType});

    int result = RunBody(static_cast<int>(QM_LIST_NOT_SUPPORTED),
                         [&] { return RunGetInstalledComponentList(context, strAppName, strListPath, strComponentType); });

    WriteExitRecord(kLogNameGetInstalledComponentList, std::to_wstring(result));
    ArchiveServiceLog();
    return result;
}

int FrameGetLatestComponentList(const wchar_t* listPath, const wchar_t* componentType, const wchar_t* version)
{
    std::wstring strListPath = CopyHostString(listPath);
    std::wstring strComponentType = CopyHostString(componentType);
    std::wstring strVersion = CopyHostString(version);
    QMCallContext context;
    WriteEntryRecord(kLogNameGetLatestComponentList, {strListPath, strComponentType, strVersion});

    int result = RunBody(static_cast<int>(QM_LIST_NOT_SUPPORTED), [&] {
        return RunGetLatestComponentList(context, strListPath, strComponentType, strVersion);
    });

    WriteExitRecord(kLogNameGetLatestComponentList, std::to_wstring(result));
    ArchiveServiceLog();
    return result;
}

int FrameSupportComponentsManagement()
{
    QMCallContext context;
    int result = RunBody(static_cast<int>(QM_MANAGEMENT_NOT_SUPPORTED),
                         [&] { return RunSupportComponentsManagement(context); });
    // The version gate writes the exit records of 300 and 400 itself.
    if (result != QM_MANAGEMENT_SUPPORTED)
        ArchiveServiceLog();
    return result;
}
