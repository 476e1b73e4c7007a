/*
 * qmhost: a sample host of Pellorin.dll. Loads the module the way a host does,
 * calls its exports and prints their results and the service log records the
 * calls wrote.
 *
 *   qmhost demo     call all six exports with sample arguments
 */
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "Pellorin.h"

#define QM_MAX_LOG_FILES 256

typedef struct
{
    wchar_t name[MAX_PATH];
    LARGE_INTEGER size;
} LogFileState;

typedef struct
{
    LogFileState files[QM_MAX_LOG_FILES];
    int count;
} LogSnapshot;

static int GetLogFolder(wchar_t* folder, size_t capacity)
{
    wchar_t appData[MAX_PATH];
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appData)))
        return 0;
    return _snwprintf(folder, capacity, L"%ls\\Tavrin_Inc_ZL\\ServiceLog\\QuelmarService", appData) > 0;
}

static void TakeSnapshot(const wchar_t* folder, LogSnapshot* snapshot)
{
    wchar_t pattern[MAX_PATH * 2];
    WIN32_FIND_DATAW data;
    HANDLE find;
    snapshot->count = 0;
    _snwprintf(pattern, MAX_PATH * 2, L"%ls\\Tavrin_ACT_SERVICELOG_*.txt", folder);
    find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do
    {
        LogFileState* state;
        if (snapshot->count >= QM_MAX_LOG_FILES)
            break;
        state = &snapshot->files[snapshot->count++];
        wcsncpy(state->name, data.cFileName, MAX_PATH - 1);
        state->name[MAX_PATH - 1] = L'\0';
        state->size.LowPart = data.nFileSizeLow;
        state->size.HighPart = (LONG)data.nFileSizeHigh;
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

static LONGLONG PreviousSize(const LogSnapshot* before, const wchar_t* name)
{
    int i;
    for (i = 0; i < before->count; ++i)
    {
        if (wcscmp(before->files[i].name, name) == 0)
            return before->files[i].size.QuadPart;
    }
    return -1;
}

/* Prints what the calls added: new files whole, grown files from their old end. */
static void PrintNewRecords(const wchar_t* folder, const LogSnapshot* before)
{
    LogSnapshot after;
    int i;
    TakeSnapshot(folder, &after);
    for (i = 0; i < after.count; ++i)
    {
        const LogFileState* file = &after.files[i];
        LONGLONG from = PreviousSize(before, file->name);
        wchar_t path[MAX_PATH * 2];
        HANDLE handle;
        char block[4096];
        DWORD read;
        LARGE_INTEGER offset;
        if (from == file->size.QuadPart)
            continue;
        if (from < 0)
            from = 0;
        _snwprintf(path, MAX_PATH * 2, L"%ls\\%ls", folder, file->name);
        handle = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, 0, NULL);
        if (handle == INVALID_HANDLE_VALUE)
            continue;
        printf("--- %ls\n", file->name);
        offset.QuadPart = from;
        SetFilePointerEx(handle, offset, NULL, FILE_BEGIN);
        while (ReadFile(handle, block, sizeof(block), &read, NULL) && read > 0)
        {
            const char* bytes = block;
            /* The byte-order mark is for editors, not for the terminal. */
            if (from == 0 && read >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0)
            {
                bytes += 3;
                read -= 3;
            }
            from = 1;
            fwrite(bytes, 1, read, stdout);
        }
        CloseHandle(handle);
    }
    fflush(stdout);
}

static int RunDemo(HMODULE module)
{
    PFN_LaunchCheck pLaunchCheck = (PFN_LaunchCheck)(void*)GetProcAddress(module, "LaunchCheck");
    PFN_IsSupportQuelmar pIsSupport = (PFN_IsSupportQuelmar)(void*)GetProcAddress(module, "IsSupportQuelmar");
    PFN_UpdateComponents pUpdate = (PFN_UpdateComponents)(void*)GetProcAddress(module, "UpdateComponents");
    PFN_GetInstalledComponentList pInstalled =
        (PFN_GetInstalledComponentList)(void*)GetProcAddress(module, "GetInstalledComponentList");
    PFN_GetLatestComponentList pLatest =
        (PFN_GetLatestComponentList)(void*)GetProcAddress(module, "GetLatestComponentList");
    PFN_SupportComponentsManagement pManagement =
        (PFN_SupportComponentsManagement)(void*)GetProcAddress(module, "SupportComponentsManagement");
    wchar_t folder[MAX_PATH * 2];
    wchar_t tempFolder[MAX_PATH];
    wchar_t actionList[MAX_PATH * 2];
    wchar_t installedList[MAX_PATH * 2];
    wchar_t latestList[MAX_PATH * 2];
    LogSnapshot before;
    int state = QM_STATE_GO_ON;
    int launched;

    if (!pLaunchCheck || !pIsSupport || !pUpdate || !pInstalled || !pLatest || !pManagement)
    {
        fprintf(stderr, "qmhost: Pellorin.dll lacks an export\n");
        return 1;
    }
    if (!GetLogFolder(folder, MAX_PATH * 2))
    {
        fprintf(stderr, "qmhost: no application-data folder\n");
        return 1;
    }
    GetTempPathW(MAX_PATH, tempFolder);
    _snwprintf(actionList, MAX_PATH * 2, L"%lsqmhost_actionlist.xml", tempFolder);
    _snwprintf(installedList, MAX_PATH * 2, L"%lsqmhost_installed.xml", tempFolder);
    _snwprintf(latestList, MAX_PATH * 2, L"%lsqmhost_latest.xml", tempFolder);
    TakeSnapshot(folder, &before);

    printf("IsSupportQuelmar()            = %d\n", (int)(pIsSupport() ? 1 : 0));
    printf("SupportComponentsManagement() = %d\n", pManagement());
    launched = pLaunchCheck(L"SampleApp", &state) ? 1 : 0;
    printf("LaunchCheck(SampleApp)        = %d, state %d\n", launched, state);
    printf("GetInstalledComponentList()   = %d\n", pInstalled(L"SampleApp", installedList, L"plugin"));
    printf("GetLatestComponentList()      = %d\n", pLatest(latestList, L"plugin", L"1.0.0"));
    printf("UpdateComponents()            = %d\n", pUpdate(L"SampleApp", actionList, L"plugin", NULL));
    printf("\nService log records written (%ls):\n", folder);
    fflush(stdout);
    PrintNewRecords(folder, &before);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    HMODULE module;
    int rc;
    if (argc < 2 || wcscmp(argv[1], L"demo") != 0)
    {
        fprintf(stderr, "usage: qmhost demo\n");
        return 2;
    }
    module = LoadLibraryW(L"Pellorin.dll");
    if (module == NULL)
    {
        fprintf(stderr, "qmhost: cannot load Pellorin.dll (error %lu)\n", GetLastError());
        return 1;
    }
    rc = RunDemo(module);
    FreeLibrary(module);
    return rc;
}
