/*
 * A plain C host: loads Pellorin.dll with LoadLibraryW, resolves every export by
 * name and by ordinal, calls each through its exported signature and checks the
 * calling convention, the one-byte booleans and the results.
 */
#include <windows.h>
#include <shlobj.h>

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "Pellorin.h"

static int g_passed;
static int g_failed;

static void Check(int ok, const char* what)
{
    if (ok)
        ++g_passed;
    else
    {
        ++g_failed;
        printf("FAILED: %s\n", what);
    }
}

#if defined(__i386__)
/* The stack pointer is read around each call: a callee that pops the wrong
   number of argument bytes leaves it changed. */
#define READ_ESP(var) __asm__ volatile("movl %%esp, %0" : "=r"(var))
#define CHECK_STACK(before, after, what) Check((before) == (after), what)
#else
/* x64 has a single calling convention in which the caller owns the stack. */
#define READ_ESP(var) ((var) = 0)
#define CHECK_STACK(before, after, what) ((void)(before), (void)(after))
#endif

static int LogFolderContains(const char* needle)
{
    wchar_t appData[MAX_PATH];
    wchar_t pattern[MAX_PATH * 2];
    WIN32_FIND_DATAW data;
    HANDLE find;
    int found = 0;
    if (FAILED(SHGetFolderPathW(NULL, CSIDL_APPDATA, NULL, SHGFP_TYPE_CURRENT, appData)))
        return 0;
    _snwprintf(pattern, MAX_PATH * 2, L"%ls\\Tavrin_Inc_ZL\\ServiceLog\\QuelmarService\\Tavrin_ACT_SERVICELOG_*.txt", appData);
    find = FindFirstFileW(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do
    {
        wchar_t path[MAX_PATH * 2];
        HANDLE file;
        static char bytes[65536];
        DWORD read = 0;
        _snwprintf(path, MAX_PATH * 2, L"%ls\\Tavrin_Inc_ZL\\ServiceLog\\QuelmarService\\%ls", appData, data.cFileName);
        file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        if (ReadFile(file, bytes, sizeof(bytes) - 1, &read, NULL))
        {
            bytes[read] = '\0';
            if (strstr(bytes, needle) != NULL)
                found = 1;
        }
        CloseHandle(file);
    } while (!found && FindNextFileW(find, &data));
    FindClose(find);
    return found;
}

typedef unsigned char (__stdcall *PFN_LaunchCheckByte)(const wchar_t*, int*);
typedef unsigned char (__cdecl *PFN_IsSupportQuelmarByte)(void);

int wmain(void)
{
    static const char* names[] = {"LaunchCheck", "IsSupportQuelmar", "UpdateComponents",
                                  "GetInstalledComponentList", "GetLatestComponentList",
                                  "SupportComponentsManagement"};
    HMODULE module = LoadLibraryW(L"Pellorin.dll");
    PFN_LaunchCheckByte launchCheck;
    PFN_IsSupportQuelmarByte isSupport;
    PFN_UpdateComponents update;
    PFN_GetInstalledComponentList installed;
    PFN_GetLatestComponentList latest;
    PFN_SupportComponentsManagement management;
    unsigned espBefore, espAfter;
    unsigned char flag;
    int state, result, i;

    /* The results below are those of a machine without the service. */
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install", KEY_WOW64_32KEY, 0);
    if (module == NULL)
    {
        printf("FAILED: cannot load Pellorin.dll (%lu)\n0 passed, 1 failed\n", GetLastError());
        return 1;
    }
    for (i = 0; i < 6; ++i)
    {
        FARPROC byName = GetProcAddress(module, names[i]);
        FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(i + 1));
        Check(byName != NULL && byName == byOrdinal, names[i]);
    }

    launchCheck = (PFN_LaunchCheckByte)(void*)GetProcAddress(module, MAKEINTRESOURCEA(1));
    isSupport = (PFN_IsSupportQuelmarByte)(void*)GetProcAddress(module, MAKEINTRESOURCEA(2));
    update = (PFN_UpdateComponents)(void*)GetProcAddress(module, MAKEINTRESOURCEA(3));
    installed = (PFN_GetInstalledComponentList)(void*)GetProcAddress(module, MAKEINTRESOURCEA(4));
    latest = (PFN_GetLatestComponentList)(void*)GetProcAddress(module, MAKEINTRESOURCEA(5));
    management = (PFN_SupportComponentsManagement)(void*)GetProcAddress(module, MAKEINTRESOURCEA(6));
    if (!launchCheck || !isSupport || !update || !installed || !latest || !management)
    {
        printf("%d passed, %d failed\n", g_passed, g_failed + 1);
        return 1;
    }

    state = 1;
    READ_ESP(espBefore);
    flag = launchCheck(L"CApp", &state);
    READ_ESP(espAfter);
    CHECK_STACK(espBefore, espAfter, "LaunchCheck removes its 8 argument bytes");
    Check(flag == 0, "LaunchCheck returns byte 0 without an updater");
    Check(state == 1, "LaunchCheck leaves state as set");

    READ_ESP(espBefore);
    flag = isSupport();
    READ_ESP(espAfter);
    CHECK_STACK(espBefore, espAfter, "IsSupportQuelmar leaves the stack to the caller");
    Check(flag == 0, "IsSupportQuelmar returns byte 0 without an updater");

    READ_ESP(espBefore);
    result = update(L"CApp", L"C:/cal.xml", L"plugin", NULL);
    READ_ESP(espAfter);
    CHECK_STACK(espBefore, espAfter, "UpdateComponents removes its 16 argument bytes");
    Check(result == QM_UPDATE_NOT_SUPPORTED, "UpdateComponents returns 100");

    READ_ESP(espBefore);
    result = installed(L"CApp", L"C:/cin.xml", L"plugin");
    READ_ESP(espAfter);
    CHECK_STACK(espBefore, espAfter, "GetInstalledComponentList removes its 12 argument bytes");
    Check(result == QM_LIST_NOT_SUPPORTED, "GetInstalledComponentList returns 16");

    READ_ESP(espBefore);
    result = latest(L"C:/cla.xml", L"plugin", L"3.0");
    READ_ESP(espAfter);
    CHECK_STACK(espBefore, espAfter, "GetLatestComponentList removes its 12 argument bytes");
    Check(result == QM_LIST_NOT_SUPPORTED, "GetLatestComponentList returns 16");

    READ_ESP(espBefore);
    result = management();
    READ_ESP(espAfter);
    CHECK_STACK(espBefore, espAfter, "SupportComponentsManagement leaves the stack to the caller");
    Check(result == QM_MANAGEMENT_NOT_SUPPORTED, "SupportComponentsManagement returns 300");

    Check(LogFolderContains("PL,API_CALL,GetLastComponentList,C:/cla.xml,plugin,3.0\r\n"),
          "the C host's calls are in the service log");

    FreeLibrary(module);
    printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
