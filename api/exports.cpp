// The six exports: thin shells over the call frame. Nothing from C++ crosses
// into the host; any exception ends the call with the not-supported result.

// Exported by name and ordinal through Pellorin.def only, so no decorated names leak.
#define QM_IMPORT
#include "api/Pellorin.h"

#include "api/CallFrame.h"

extern "C" {

QMBool QM_STDCALL LaunchCheck(const wchar_t* appName, int* state)
{
    return CallGuarded(false, [&] { return FrameLaunchCheck(appName, state); });
}

QMBool QM_CDECL IsSupportQuelmar(void)
{
    return CallGuarded(false, [] { return FrameIsSupportQuelmar(); });
}

int QM_STDCALL UpdateComponents(const wchar_t* appName, const wchar_t* actionListPath,
                                const wchar_t* componentType, QMProgressCallback progress)
{
    return CallGuarded(static_cast<int>(QM_UPDATE_NOT_SUPPORTED), [&] {
        return FrameUpdateComponents(appName, actionListPath, componentType, progress);
    });
}

int QM_STDCALL GetInstalledComponentList(const wchar_t* appName, const wchar_t* listPath,
                                         const wchar_t* componentType)
{
    return CallGuarded(static_cast<int>(QM_LIST_NOT_SUPPORTED),
                       [&] { return FrameGetInstalledComponentList(appName, listPath, componentType); });
}

int QM_STDCALL GetLatestComponentList(const wchar_t* listPath, const wchar_t* componentType,
                                      const wchar_t* version)
{
    return CallGuarded(static_cast<int>(QM_LIST_NOT_SUPPORTED),
                       [&] { return FrameGetLatestComponentList(listPath, componentType, version); });
}

int QM_CDECL SupportComponentsManagement(void)
{
    return CallGuarded(static_cast<int>(QM_MANAGEMENT_NOT_SUPPORTED),
                       [] { return FrameSupportComponentsManagement(); });
}

} // extern "C"
