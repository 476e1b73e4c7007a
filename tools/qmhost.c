/*
 * qmhost: a console host of Pellorin.dll for host developers and support staff.
 * Loads the module the way a host does, calls its exports and prints their
 * results and the service log records the calls wrote.
 *
 *   qmhost demo                                          call all six exports with sample arguments
 *   qmhost IsSupportQuelmar
 *   qmhost SupportComponentsManagement
 *   qmhost LaunchCheck <appName> [<initialState>]
 *   qmhost GetInstalledComponentList <appName> <listPath> <componentType>
 *   qmhost GetLatestComponentList <listPath> <componentType> <version>
 *   qmhost UpdateComponents <appName> <actionListPath> <componentType>
 */
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "Pellorin.h"

typedef struct
{
    PFN_LaunchCheck launchCheck;
    PFN_IsSupportQuelmar isSupport;
    PFN_UpdateComponents update;
    PFN_GetInstalledComponentList installed;
    PFN_GetLatestComponentList latest;
    PFN_SupportComponentsManagement management;
} Exports;

static int ResolveExports(HMODULE module, Exports* e)
{
    e->launchCheck = (PFN_LaunchCheck)(void*)GetProcAddress(module, "LaunchCheck");
    e->isSupport = (PFN_IsSupportQuelmar)(void*)GetProcAddress(module, "IsSupportQuelmar");
    e->update = (PFN_UpdateComponents)(void*)GetProcAddress(module, "UpdateComponents");
    e->installed = (PFN_GetInstalledComponentList)(void*)GetProcAddress(module, "GetInstalledComponentList");
    e->latest = (PFN_GetLatestComponentList)(void*)GetProcAddress(module, "GetLatestComponentList");
    e->management = (PFN_SupportComponentsManagement)(void*)GetProcAddress(module, "SupportComponentsManagement");
    return e->launchCheck && e->isSupport && e->update && e->installed && e->latest && e->management;
}

static int GetLogFolder(wchar_t* folder, size_t capacity)
{
    wchar_t appData[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appData)))
        return 0;
    return _snwprintf(folder, capacity, L"%ls\\Tavrin_Inc_ZL\\ServiceLog\\QuelmarService", appData) > 0;
}

/* The record timestamp format: records at or after this text were written by this run. */
static void FormatNow(char* text, size_t capacity)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    _snprintf(text, capacity, "%04d-%02d-%02d-%02d-%02d-%02d-%03d", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond, now.wMilliseconds);
}

static char* ReadWholeFile(const wchar_t* path, DWORD* size)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    char* bytes = NULL;
    *size = 0;
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    *size = GetFileSize(file, NULL);
    if (*size != INVALID_FILE_SIZE)
    {
        bytes = (char*)malloc(*size + 1);
        if (bytes != NULL && !ReadFile(file, bytes, *size, size, NULL))
            *size = 0;
        if (bytes != NULL)
            bytes[*size] = '\0';
    }
    CloseHandle(file);
    return bytes;
}

/* Prints one file's records written at or after since; a line without a timestamp
   continues the record before it (a field with a line feed). */
static void PrintRecordsSince(const wchar_t* path, const char* since)
{
    DWORD size;
    char* bytes = ReadWholeFile(path, &size);
    char* line;
    int printing = 0;
    size_t sinceLength = strlen(since);
    if (bytes == NULL)
        return;
    line = bytes;
    if (size >= 3 && memcmp(line, "\xEF\xBB\xBF", 3) == 0)
        line += 3;
    while (*line != '\0')
    {
        char* end = strstr(line, "\r\n");
        size_t length = end != NULL ? (size_t)(end - line) : strlen(line);
        int stamped = length > sinceLength && line[4] == '-' && line[sinceLength] == ',';
        if (stamped)
            printing = strncmp(line, since, sinceLength) >= 0;
        if (printing)
            printf("  %.*s\n", (int)length, line);
        if (end == NULL)
            break;
        line = end + 2;
    }
    free(bytes);
}

static int CompareNames(const void* a, const void* b)
{
    return wcscmp((const wchar_t*)a, (const wchar_t*)b);
}

/* Archives in stamp order, then the current file ("tmp" sorts after the digits). */
static void PrintLogSince(const char* since)
{
    static wchar_t names[512][MAX_PATH];
    wchar_t folder[MAX_PATH * 2];
    wchar_t pattern[MAX_PATH * 3];
    WIN32_FIND_DATAW data;
    HANDLE find;
    int count = 0, i;
    if (!GetLogFolder(folder, MAX_PATH * 2))
        return;
    printf("\nService log records of this run (%ls):\n", folder);
    _snwprintf(pattern, MAX_PATH * 3, L"%ls\\Tavrin_ACT_SERVICELOG_*.txt", folder);
    find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        wcsncpy(names[count], data.cFileName, MAX_PATH - 1);
        names[count][MAX_PATH - 1] = L'\0';
        ++count;
    } while (count < 512 && FindNextFileW(find, &data));
    FindClose(find);
    qsort(names, (size_t)count, sizeof(names[0]), CompareNames);
    for (i = 0; i < count; ++i)
    {
        wchar_t path[MAX_PATH * 3];
        _snwprintf(path, MAX_PATH * 3, L"%ls\\%ls", folder, names[i]);
        PrintRecordsSince(path, since);
    }
}

static int RunDemo(const Exports* e)
{
    wchar_t temp[MAX_PATH];
    wchar_t actionList[MAX_PATH * 2], installedList[MAX_PATH * 2], latestList[MAX_PATH * 2];
    int state = QM_STATE_GO_ON;
    int launched;
    GetTempPathW(MAX_PATH, temp);
    _snwprintf(actionList, MAX_PATH * 2, L"%lsqmhost_actionlist.xml", temp);
    _snwprintf(installedList, MAX_PATH * 2, L"%lsqmhost_installed.xml", temp);
    _snwprintf(latestList, MAX_PATH * 2, L"%lsqmhost_latest.xml", temp);

    printf("IsSupportQuelmar()            = %d\n", e->isSupport() ? 1 : 0);
    printf("SupportComponentsManagement() = %d\n", e->management());
    launched = e->launchCheck(L"SampleApp", &state) ? 1 : 0;
    printf("LaunchCheck(SampleApp)        = %d, state %d\n", launched, state);
    printf("GetInstalledComponentList()   = %d\n", e->installed(L"SampleApp", installedList, L"plugin"));
    printf("GetLatestComponentList()      = %d\n", e->latest(latestList, L"plugin", L"1.0.0"));
    printf("UpdateComponents()            = %d\n", e->update(L"SampleApp", actionList, L"plugin", NULL));
    return 0;
}

static int Usage(void)
{
    fprintf(stderr,
            "usage: qmhost demo\n"
            "       qmhost IsSupportQuelmar | SupportComponentsManagement\n"
            "       qmhost LaunchCheck <appName> [<initialState>]\n"
            "       qmhost GetInstalledComponentList <appName> <listPath> <componentType>\n"
            "       qmhost GetLatestComponentList <listPath> <componentType> <version>\n"
            "       qmhost UpdateComponents <appName> <actionListPath> <componentType>\n");
    return 2;
}

static int RunCommand(const Exports* e, int argc, wchar_t** argv)
{
    const wchar_t* verb = argv[1];
    if (wcscmp(verb, L"demo") == 0 && argc == 2)
        return RunDemo(e);
    if (wcscmp(verb, L"IsSupportQuelmar") == 0 && argc == 2)
        printf("IsSupportQuelmar = %d\n", e->isSupport() ? 1 : 0);
    else if (wcscmp(verb, L"SupportComponentsManagement") == 0 && argc == 2)
        printf("SupportComponentsManagement = %d\n", e->management());
    else if (wcscmp(verb, L"LaunchCheck") == 0 && (argc == 3 || argc == 4))
    {
        int state = argc == 4 ? _wtoi(argv[3]) : QM_STATE_GO_ON;
        int result = e->launchCheck(argv[2], &state) ? 1 : 0;
        printf("LaunchCheck = %d, state %d\n", result, state);
    }
    else if (wcscmp(verb, L"GetInstalledComponentList") == 0 && argc == 5)
        printf("GetInstalledComponentList = %d\n", e->installed(argv[2], argv[3], argv[4]));
    else if (wcscmp(verb, L"GetLatestComponentList") == 0 && argc == 5)
        printf("GetLatestComponentList = %d\n", e->latest(argv[2], argv[3], argv[4]));
    else if (wcscmp(verb, L"UpdateComponents") == 0 && argc == 5)
        printf("UpdateComponents = %d\n", e->update(argv[2], argv[3], argv[4], NULL));
    else
        return Usage();
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    HMODULE module;
    Exports exports;
    char since[32];
    int rc;
    if (argc < 2)
        return Usage();
    module = LoadLibraryW(L"Pellorin.dll");
    if (module == NULL)
    {
        fprintf(stderr, "qmhost: cannot load Pellorin.dll (error %lu)\n", GetLastError());
        return 1;
    }
    if (!ResolveExports(module, &exports))
    {
        fprintf(stderr, "qmhost: Pellorin.dll lacks an export\n");
        FreeLibrary(module);
        return 1;
    }
    FormatNow(since, sizeof(since));
    rc = RunCommand(&exports, argc, argv);
    if (rc != 2)
    {
        fflush(stdout);
        PrintLogSince(since);
    }
    FreeLibrary(module);
    return rc;
}
