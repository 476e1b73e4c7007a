/*
 * Pellorin.dll: in-process client of the Quelmar update service.
 *
 * Link by name or ordinal (LaunchCheck @1 ... SupportComponentsManagement @6), or through
 * the import libraries of the kit (Pellorin.lib for MSVC, libPellorin.dll.a for MinGW).
 * Every function blocks the thread that calls it until its work is done; any thread
 * of the host may call (a worker thread keeps a window responsive). Strings are
 * NUL-terminated UTF-16 and are copied on entry; nothing of the host's memory is
 * kept after return.
 * Usable from C (C99 or later) and C++.
 */
#ifndef PELLORIN_H
#define PELLORIN_H

/* The module's version; its version resource carries the same numbers. */
#define PELLORIN_VERSION_MAJOR 1
#define PELLORIN_VERSION_MINOR 1
#define PELLORIN_VERSION_PATCH 0
#define PELLORIN_VERSION_BUILD 13
#define PELLORIN_VERSION_STRING "1.1.0.13"

#ifndef __cplusplus
#include <stddef.h> /* wchar_t */
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The two boolean results are one byte wide (0 or 1), not the 32-bit BOOL. */
#if defined(__cplusplus)
typedef bool QMBool;
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L
typedef _Bool QMBool;
#else
typedef unsigned char QMBool;
#endif

/* 32-bit: the calling conventions differ per function. x64 has only one. */
#if defined(_WIN32) && !defined(_WIN64)
#define QM_STDCALL __stdcall
#define QM_CDECL __cdecl
#else
#define QM_STDCALL
#define QM_CDECL
#endif

#ifndef QM_IMPORT
#define QM_IMPORT __declspec(dllimport)
#endif

/* Result codes. */
enum
{
    /* LaunchCheck: the value stored through state. */
    QM_STATE_DO_NOT_START = 0, /* the host must not go on starting */
    QM_STATE_GO_ON = 1,        /* the host may go on starting */

    /* UpdateComponents */
    QM_UPDATE_NOT_SUPPORTED = 100, /* not supported, arguments refused, action list unusable or not
                                      written (then left as it was, or without this run's results),
                                      or no progress window */
    QM_UPDATE_DONE = 200,          /* ran (or all components busy); results are in the action list */

    /* GetInstalledComponentList, GetLatestComponentList; any other value is the updater's own result */
    QM_LIST_PATH_UNUSABLE = 15, /* the list path names a folder, or an old file there cannot be deleted */
    QM_LIST_NOT_SUPPORTED = 16, /* not supported, arguments refused (too long, or characters XML cannot
                                   carry), or the updater could not be run */
    QM_LIST_NO_RESULT = 20,     /* the updater ran but left no readable result */

    /* SupportComponentsManagement */
    QM_MANAGEMENT_SUPPORTED = 200,
    QM_MANAGEMENT_NOT_SUPPORTED = 300,
    QM_MANAGEMENT_UPDATER_TOO_OLD = 400
};

/*
 * Progress callback of UpdateComponents. Called on the thread that called UpdateComponents, from
 * inside UpdateComponents. componentId is valid only during the call. Return
 * non-zero to go on, zero to ask the updater to cancel; only the low 8 bits count.
 */
typedef QMBool (QM_STDCALL *QMProgressCallback)(int type, int percent, const wchar_t* componentId,
                                                unsigned itemsDone, unsigned itemsTotal,
                                                unsigned long long bytesDone,
                                                unsigned long long bytesTotal);

/*
 * Checks for a newer version of the application while it starts. Returns 1 with
 * *state set (QM_STATE_GO_ON or QM_STATE_DO_NOT_START), or 0 when updating is not
 * supported here, leaving *state as the host set it. state must point to an int.
 */
QM_IMPORT QMBool QM_STDCALL LaunchCheck(const wchar_t* appName, int* state);

/* 1 when the update service is installed. No user interface, no updater run. */
QM_IMPORT QMBool QM_CDECL IsSupportQuelmar(void);

/*
 * Updates, adds or deletes components as the action list at actionListPath says;
 * results are written into that document. progress may be NULL.
 */
QM_IMPORT int QM_STDCALL UpdateComponents(const wchar_t* appName, const wchar_t* actionListPath,
                                          const wchar_t* componentType, QMProgressCallback progress);

/* Has the updater write the installed components of appName to listPath. */
QM_IMPORT int QM_STDCALL GetInstalledComponentList(const wchar_t* appName, const wchar_t* listPath,
                                                   const wchar_t* componentType);

/* Has the updater write the latest components to listPath. Note the argument order. */
QM_IMPORT int QM_STDCALL GetLatestComponentList(const wchar_t* listPath, const wchar_t* componentType,
                                                const wchar_t* version);

/* QM_MANAGEMENT_SUPPORTED, _NOT_SUPPORTED or _UPDATER_TOO_OLD. */
QM_IMPORT int QM_CDECL SupportComponentsManagement(void);

/* Function pointer types for hosts that load the module with LoadLibraryW/GetProcAddress. */
typedef QMBool (QM_STDCALL *PFN_LaunchCheck)(const wchar_t*, int*);
typedef QMBool (QM_CDECL *PFN_IsSupportQuelmar)(void);
typedef int (QM_STDCALL *PFN_UpdateComponents)(const wchar_t*, const wchar_t*, const wchar_t*, QMProgressCallback);
typedef int (QM_STDCALL *PFN_GetInstalledComponentList)(const wchar_t*, const wchar_t*, const wchar_t*);
typedef int (QM_STDCALL *PFN_GetLatestComponentList)(const wchar_t*, const wchar_t*, const wchar_t*);
typedef int (QM_CDECL *PFN_SupportComponentsManagement)(void);

#ifdef __cplusplus
}
#endif

#endif /* PELLORIN_H */
