/*
 * qmhost: a console host of Pellorin.dll for host developers and support staff.
 * Loads the module the way a host does, calls its exports and prints their
 * results and the service log records the calls wrote.
 *
 *   qmhost demo                                          the main job against the stand-in updater (beside
 *                                                        qmhost.exe, or in the kit's tools folder): probes, a
 *                                                        launch check, both lists and a component update of a
 *                                                        sample action list; the machine's updater registration
 *                                                        is put back as it was when the demo ends
 *   qmhost register [--force] <updaterPath>              register an updater executable for this machine; what
 *                                                        it replaces is kept (--force: one qmhost did not make)
 *   qmhost register --repair <updaterPath>               store the updater that the registration names in quotes
 *                                                        or with variables as a plain path; the machine's own
 *   qmhost unregister [--force]                          put back what register replaced (--force: remove a
 *                                                        registration qmhost did not make)
 *   qmhost doctor                                        check this machine's update setup, a verdict per check
 *   qmhost doctor --list <actionListPath> [<type>]       would UpdateComponents accept this list, and why not
 *   qmhost log                                           the service log's calls: arguments, result, time, why
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

#include "ConsoleText.h"
#include "Doctor.h"
#include "LogView.h"
#include "Pellorin.h"
#include "UpdaterRegistration.h"

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
            QMPrintUtf8Line("  ", line, length);
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
    QMPrint(L"\nService log records of this run (%ls):\n", folder);
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

static const wchar_t* TypeName(int type)
{
    static const wchar_t* names[] = {L"finish", L"download", L"extract", L"delete", L"update", L"add"};
    return type >= 0 && type <= 5 ? names[type] : L"?";
}

/* Draws a live progress line; called on this thread from inside UpdateComponents. */
static QMBool QM_STDCALL ShowProgress(int type, int percent, const wchar_t* componentId, unsigned itemsDone,
                                     unsigned itemsTotal, unsigned long long bytesDone, unsigned long long bytesTotal)
{
    wchar_t bar[21];
    int filled = percent < 0 ? 0 : (percent > 100 ? 20 : percent / 5);
    int i;
    for (i = 0; i < 20; ++i)
        bar[i] = i < filled ? L'#' : L'.';
    bar[20] = L'\0';
    QMPrint(L"\r  [%ls] %3d%% %-8ls %-12ls", bar, percent, TypeName(type), componentId);
    (void)itemsDone;
    (void)itemsTotal;
    (void)bytesDone;
    (void)bytesTotal;
    Sleep(40);
    return 1;
}

/* The full path of an executable file, or 0 when path names none. */
static int ResolveExecutable(const wchar_t* path, wchar_t* full, DWORD capacity)
{
    DWORD attributes;
    size_t length;
    DWORD written = GetFullPathNameW(path, capacity, full, NULL);
    if (written == 0 || written >= capacity)
        return 0;
    attributes = GetFileAttributesW(full);
    length = wcslen(full);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) && length > 4 &&
           _wcsicmp(full + length - 4, L".exe") == 0;
}

/* Ctrl+C, Ctrl+Break, a closed console: the registration goes back before the process ends. */
static BOOL WINAPI DemoInterrupted(DWORD event)
{
    (void)event;
    EndDemoRegistration();
    return FALSE;
}

/* The stand-in beside this program (a build), or in the kit's tools folder (bin\x86, bin\x64). */
static int FindStandIn(wchar_t* updater, DWORD capacity)
{
    static const wchar_t* const kPlaces[] = {L"VestabelStandIn.exe", L"..\\..\\tools\\VestabelStandIn.exe"};
    wchar_t self[MAX_PATH], candidate[MAX_PATH * 2];
    wchar_t* slash;
    size_t i;
    GetModuleFileNameW(NULL, self, MAX_PATH);
    slash = wcsrchr(self, L'\\');
    if (slash != NULL)
        slash[1] = L'\0';
    for (i = 0; i < sizeof(kPlaces) / sizeof(kPlaces[0]); ++i)
    {
        _snwprintf(candidate, MAX_PATH * 2, L"%ls%ls", self, kPlaces[i]);
        if (ResolveExecutable(candidate, updater, capacity))
            return 1;
    }
    QMPrintError(L"qmhost: no stand-in updater beside qmhost.exe nor in the kit's tools folder (%ls..\\..\\tools)\n",
                 self);
    return 0;
}

static int WriteTextFile(const wchar_t* path, const char* text)
{
    FILE* file = _wfopen(path, L"wb");
    if (file == NULL)
        return 0;
    fputs(text, file);
    fclose(file);
    return 1;
}

/* Prints ID and Result of every component of an action list. */
static void PrintComponentResults(const wchar_t* path)
{
    DWORD size;
    char* xml = ReadWholeFile(path, &size);
    const char* at;
    if (xml == NULL)
        return;
    QMPrint(L"\nComponent results in %ls:\n", path);
    for (at = strstr(xml, "<Component "); at != NULL; at = strstr(at + 1, "<Component "))
    {
        char line[512];
        int length;
        const char* id = strstr(at, " ID=\"");
        const char* result = strstr(at, " Result=\"");
        const char* end = strchr(at, '>');
        if (id == NULL || end == NULL || id > end)
            continue;
        id += 5;
        /* The document's UTF-8, as it stands. */
        length = _snprintf(line, sizeof(line), "%-10.*s", (int)(strchr(id, '"') - id), id);
        if (length > 0 && result != NULL && result < end)
        {
            result += 9;
            length += _snprintf(line + length, sizeof(line) - (size_t)length, " Result=%.*s",
                                (int)(strchr(result, '"') - result), result);
        }
        if (length > 0 && (size_t)length < sizeof(line))
            QMPrintUtf8Line("  ", line, (size_t)length);
    }
    free(xml);
}

static const char kDemoScenario[] =
    "# Written by qmhost demo for the stand-in updater.\r\n"
    "LaunchApp=Y\r\n"
    "Result=0\r\n"
    "progress=1,Editor,0,4096,0,0,0;1,Editor,1024,4096,0,0,0;1,Editor,2048,4096,0,0,0;1,Editor,4096,4096,0,0,0;"
    "2,Editor,0,0,1,2,0;2,Editor,0,0,2,2,0;4,Editor,0,0,1,1,0;"
    "1,Spelling,0,2048,0,0,0;1,Spelling,2048,2048,0,0,0;5,Spelling,0,0,1,1,0;"
    "3,OldPlugin,0,0,1,1,0\r\n"
    "record_delay_ms=150\r\n"
    "finish_code=14\r\n";

static const char kDemoActionList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ActionList ParentAppName=\"SampleApp\" ComponentType=\"plugin\">\r\n"
    "     <Component ID=\"Editor\" Action=\"update\" Path=\"plugins/editor\" Version=\"2.1\" Result=\"\"/>\r\n"
    "     <Component ID=\"Spelling\" Action=\"add\" Path=\"plugins/spelling\" Version=\"1.0\" Result=\"\"/>\r\n"
    "     <Component ID=\"OldPlugin\" Action=\"delete\" Path=\"plugins/old\" Version=\"0.9\" Result=\"\"/>\r\n"
    "</ActionList>\r\n";

static int RunDemoCalls(const Exports* e, const wchar_t* temp)
{
    wchar_t actionList[MAX_PATH * 2], installedList[MAX_PATH * 2], latestList[MAX_PATH * 2], scenario[MAX_PATH * 2];
    int state = QM_STATE_DO_NOT_START;
    int launched, result;
    _snwprintf(scenario, MAX_PATH * 2, L"%lsqmhost_scenario.txt", temp);
    _snwprintf(actionList, MAX_PATH * 2, L"%lsqmhost_actionlist.xml", temp);
    _snwprintf(installedList, MAX_PATH * 2, L"%lsqmhost_installed.xml", temp);
    _snwprintf(latestList, MAX_PATH * 2, L"%lsqmhost_latest.xml", temp);
    if (!WriteTextFile(scenario, kDemoScenario) || !WriteTextFile(actionList, kDemoActionList))
    {
        QMPrintError(L"qmhost: cannot write the demo files in %ls\n", temp);
        return 1;
    }
    /* The module starts the updater from this process: it inherits the scenario. */
    SetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", scenario);

    QMPrint(L"IsSupportQuelmar()            = %d\n", e->isSupport() ? 1 : 0);
    QMPrint(L"SupportComponentsManagement() = %d\n", e->management());
    launched = e->launchCheck(L"SampleApp", &state) ? 1 : 0;
    QMPrint(L"LaunchCheck(SampleApp)        = %d, state %d\n", launched, state);
    result = e->installed(L"SampleApp", installedList, L"plugin");
    QMPrint(L"GetInstalledComponentList()   = %d  (list: %ls)\n", result, installedList);
    result = e->latest(latestList, L"plugin", L"2.0");
    QMPrint(L"GetLatestComponentList()      = %d  (list: %ls)\n", result, latestList);
    QMPrint(L"UpdateComponents():\n");
    result = e->update(L"SampleApp", actionList, L"plugin", ShowProgress);
    QMPrint(L"\nUpdateComponents()            = %d\n", result);
    PrintComponentResults(actionList);
    return 0;
}

/* The demo borrows the machine's updater registration for the stand-in and puts it back. */
static int RunDemo(const Exports* e)
{
    wchar_t temp[MAX_PATH], updater[MAX_PATH];
    int result;
    if (!FindStandIn(updater, MAX_PATH))
        return 1;
    if (!BeginDemoRegistration(updater))
        return 1;
    SetConsoleCtrlHandler(DemoInterrupted, TRUE);
    GetTempPathW(MAX_PATH, temp);
    result = RunDemoCalls(e, temp);
    EndDemoRegistration();
    SetConsoleCtrlHandler(DemoInterrupted, FALSE);
    return result;
}

static int Usage(void)
{
    QMPrintError(L"usage: qmhost demo\n"
                 L"       qmhost register [--force | --repair] <updaterPath> | unregister [--force]\n"
                 L"       qmhost doctor [--list <actionList.xml> [<componentType>]]\n"
                 L"       qmhost log\n"
                 L"       qmhost IsSupportQuelmar | SupportComponentsManagement\n"
                 L"       qmhost LaunchCheck <appName> [<initialState>]\n"
                 L"       qmhost GetInstalledComponentList <appName> <listPath> <componentType>\n"
                 L"       qmhost GetLatestComponentList <listPath> <componentType> <version>\n"
                 L"       qmhost UpdateComponents <appName> <actionListPath> <componentType>\n");
    return 2;
}

static int RunCommand(const Exports* e, int argc, wchar_t** argv)
{
    const wchar_t* verb = argv[1];
    if (wcscmp(verb, L"demo") == 0 && argc == 2)
        return RunDemo(e);
    if (wcscmp(verb, L"IsSupportQuelmar") == 0 && argc == 2)
        QMPrint(L"IsSupportQuelmar = %d\n", e->isSupport() ? 1 : 0);
    else if (wcscmp(verb, L"SupportComponentsManagement") == 0 && argc == 2)
        QMPrint(L"SupportComponentsManagement = %d\n", e->management());
    else if (wcscmp(verb, L"LaunchCheck") == 0 && (argc == 3 || argc == 4))
    {
        int state = argc == 4 ? _wtoi(argv[3]) : QM_STATE_GO_ON;
        int result = e->launchCheck(argv[2], &state) ? 1 : 0;
        QMPrint(L"LaunchCheck = %d, state %d\n", result, state);
    }
    else if (wcscmp(verb, L"GetInstalledComponentList") == 0 && argc == 5)
        QMPrint(L"GetInstalledComponentList = %d\n", e->installed(argv[2], argv[3], argv[4]));
    else if (wcscmp(verb, L"GetLatestComponentList") == 0 && argc == 5)
        QMPrint(L"GetLatestComponentList = %d\n", e->latest(argv[2], argv[3], argv[4]));
    else if (wcscmp(verb, L"UpdateComponents") == 0 && argc == 5)
    {
        int result = e->update(argv[2], argv[3], argv[4], ShowProgress);
        QMPrint(L"\nUpdateComponents = %d\n", result);
    }
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
    /* A demo or registration that a killed qmhost left half done is undone before anything else. */
    RecoverUnfinishedRegistration();
    /* Need no module: they must also work on a machine where the module cannot load. */
    if (wcscmp(argv[1], L"doctor") == 0 && argc == 2)
        return RunDoctor();
    if (wcscmp(argv[1], L"doctor") == 0 && (argc == 4 || argc == 5) && wcscmp(argv[2], L"--list") == 0)
        return RunListCheck(argv[3], argc == 5 ? argv[4] : L"");
    if (wcscmp(argv[1], L"log") == 0 && argc == 2)
        return RunLogView();
    if (wcscmp(argv[1], L"register") == 0 && argc == 3)
        return RunRegister(argv[2], 0);
    if (wcscmp(argv[1], L"register") == 0 && argc == 4 && wcscmp(argv[2], L"--force") == 0)
        return RunRegister(argv[3], 1);
    if (wcscmp(argv[1], L"register") == 0 && argc == 4 && wcscmp(argv[2], L"--repair") == 0)
        return RunRepairRegistration(argv[3]);
    if (wcscmp(argv[1], L"unregister") == 0 && (argc == 2 || (argc == 3 && wcscmp(argv[2], L"--force") == 0)))
        return RunUnregister(argc == 3);
    module = LoadLibraryW(L"Pellorin.dll");
    if (module == NULL)
    {
        QMPrintError(L"qmhost: cannot load Pellorin.dll (error %lu)\n", GetLastError());
        return 1;
    }
    if (!ResolveExports(module, &exports))
    {
        QMPrintError(L"qmhost: Pellorin.dll lacks an export\n");
        FreeLibrary(module);
        return 1;
    }
    FormatNow(since, sizeof(since));
    rc = RunCommand(&exports, argc, argv);
    if (rc != 2)
        PrintLogSince(since);
    FreeLibrary(module);
    return rc;
}
