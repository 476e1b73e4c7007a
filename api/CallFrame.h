#pragma once
// The frame around every exported call: context, entry and exit records, archiving.
// These functions may throw (exhausted memory); the exports catch everything.

#include "api/Pellorin.h"
#include "log/LogFolderScope.h"
#include "log/ServiceLogNames.h"

#include <string>

// A host string copied on entry; null is taken as empty.
std::wstring CopyHostString(const wchar_t* text);

bool FrameLaunchCheck(const wchar_t* appName, int* state);
bool FrameIsSupportQuelmar();
int FrameUpdateComponents(const wchar_t* appName, const wchar_t* actionListPath,
                          const wchar_t* componentType, QMProgressCallback progress);
int FrameGetInstalledComponentList(const wchar_t* appName, const wchar_t* listPath, const wchar_t* componentType);
int FrameGetLatestComponentList(const wchar_t* listPath, const wchar_t* componentType, const wchar_t* version);
int FrameSupportComponentsManagement();

// Runs an export's frame with the log folder resolved once for the call's records; any
// exception becomes the export's not-supported result.
template <class R, class Frame>
R CallGuarded(R notSupported, Frame&& frame) noexcept
{
    try
    {
        CQMLogFolderScope logFolder;
        return frame();
    }
    catch (...)
    {
        return notSupported;
    }
}
