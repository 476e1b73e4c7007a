/*
 * A host as the MSVC toolchain builds it: linked against Pellorin.lib, calling the six exports
 * through the header's declarations. It has no C runtime and no Windows headers, so it declares
 * the few system functions it needs. It registers the stand-in updater that lies beside it,
 * gives it a scenario, checks every result against it, and then checks the results of a
 * machine without the service.
 */
#include <stddef.h>

#include "Pellorin.h"

#define WINAPI __stdcall
typedef void* HANDLE;
typedef void* HKEY;

__declspec(dllimport) HANDLE WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int WINAPI WriteFile(HANDLE file, const void* data, unsigned long bytes, unsigned long* written,
                                           void* overlapped);
__declspec(dllimport) HANDLE WINAPI CreateFileW(const wchar_t* path, unsigned long access, unsigned long share,
                                                void* security, unsigned long disposition, unsigned long flags,
                                                HANDLE templateFile);
__declspec(dllimport) int WINAPI CloseHandle(HANDLE handle);
__declspec(dllimport) unsigned long WINAPI GetFileAttributesW(const wchar_t* path);
__declspec(dllimport) unsigned long WINAPI GetModuleFileNameW(void* module, wchar_t* path, unsigned long size);
__declspec(dllimport) int WINAPI SetEnvironmentVariableW(const wchar_t* name, const wchar_t* value);
__declspec(dllimport) void WINAPI ExitProcess(unsigned code);
__declspec(dllimport) long WINAPI RegCreateKeyExW(HKEY key, const wchar_t* subKey, unsigned long reserved,
                                                  wchar_t* keyClass, unsigned long options, unsigned long access,
                                                  void* security, HKEY* result, unsigned long* disposition);
__declspec(dllimport) long WINAPI RegSetValueExW(HKEY key, const wchar_t* name, unsigned long reserved,
                                                 unsigned long type, const unsigned char* data, unsigned long bytes);
__declspec(dllimport) long WINAPI RegDeleteKeyExW(HKEY key, const wchar_t* subKey, unsigned long view,
                                                  unsigned long reserved);
__declspec(dllimport) long WINAPI RegCloseKey(HKEY key);

/* Predefined keys are sign-extended 32-bit values on x64. */
#define HKLM ((HKEY)(ptrdiff_t)(long)0x80000002)
#define KEY_SET_VALUE 0x0002
/* The service is 32-bit: its registration lives in the 32-bit view, whatever the host's bitness. */
#define KEY_WOW64_32KEY 0x0200
#define REG_SZ 1
#define GENERIC_WRITE 0x40000000
#define CREATE_ALWAYS 2
#define INVALID_HANDLE ((HANDLE)(ptrdiff_t)-1)
#define NO_FILE 0xFFFFFFFFu
#define PATH_UNITS 520

static const wchar_t kInstallKey[] = L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install";

static int g_failed;
static int g_progressCalls;
static int g_progressPercent;
static int g_progressIdMatches;

static size_t TextLength(const char* text)
{
    size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

static size_t WideLength(const wchar_t* text)
{
    size_t n = 0;
    while (text[n] != L'\0')
        ++n;
    return n;
}

static void Print(const char* text)
{
    unsigned long written = 0;
    WriteFile(GetStdHandle((unsigned long)-11), text, (unsigned long)TextLength(text), &written, NULL);
}

static void PrintNumber(int value)
{
    char digits[16];
    int at = 15;
    unsigned magnitude = value < 0 ? 0u - (unsigned)value : (unsigned)value;
    digits[at] = '\0';
    do
    {
        digits[--at] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[--at] = '-';
    Print(digits + at);
}

static void CheckEqual(int actual, int expected, const char* what)
{
    Print(actual == expected ? "ok      " : "FAILED  ");
    Print(what);
    Print(": ");
    PrintNumber(actual);
    if (actual != expected)
    {
        Print(", expected ");
        PrintNumber(expected);
        ++g_failed;
    }
    Print("\r\n");
}

/* folder + name into out (PATH_UNITS units). */
static void JoinName(wchar_t* out, const wchar_t* folder, const wchar_t* name)
{
    size_t at = 0;
    size_t i;
    for (i = 0; folder[i] != L'\0' && at < PATH_UNITS - 1; ++i)
        out[at++] = folder[i];
    for (i = 0; name[i] != L'\0' && at < PATH_UNITS - 1; ++i)
        out[at++] = name[i];
    out[at] = L'\0';
}

static int WriteText(const wchar_t* path, const char* text)
{
    unsigned long written = 0;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    int ok;
    if (file == INVALID_HANDLE)
        return 0;
    ok = WriteFile(file, text, (unsigned long)TextLength(text), &written, NULL);
    CloseHandle(file);
    return ok && written == TextLength(text);
}

static int RegisterUpdater(const wchar_t* path)
{
    HKEY key;
    long rc = RegCreateKeyExW(HKLM, kInstallKey, 0, NULL, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, NULL, &key, NULL);
    if (rc != 0)
        return 0;
    rc = RegSetValueExW(key, L"Vestabel exe path", 0, REG_SZ, (const unsigned char*)path,
                        (unsigned long)((WideLength(path) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return rc == 0;
}

static QMBool QM_STDCALL OnProgress(int type, int percent, const wchar_t* componentId, unsigned itemsDone,
                                    unsigned itemsTotal, unsigned long long bytesDone,
                                    unsigned long long bytesTotal)
{
    (void)type;
    (void)itemsDone;
    (void)itemsTotal;
    (void)bytesDone;
    (void)bytesTotal;
    ++g_progressCalls;
    g_progressPercent = percent;
    g_progressIdMatches = componentId[0] == L'C' && componentId[1] == L'o' && componentId[2] == L'm' &&
                          componentId[3] == L'p' && componentId[4] == L'A' && componentId[5] == L'\0';
    return 1;
}

void __cdecl HostMain(void)
{
    /* Static: a frame above one page would need the runtime's stack probe. */
    static wchar_t folder[PATH_UNITS];
    static wchar_t standIn[PATH_UNITS];
    static wchar_t scenario[PATH_UNITS];
    static wchar_t actionList[PATH_UNITS];
    static wchar_t installedList[PATH_UNITS];
    static wchar_t latestList[PATH_UNITS];
    unsigned long length = GetModuleFileNameW(NULL, folder, PATH_UNITS);
    int state;

    while (length > 0 && folder[length - 1] != L'\\')
        --length;
    folder[length] = L'\0';
    JoinName(standIn, folder, L"VestabelStandIn.exe");
    JoinName(scenario, folder, L"scenario.txt");
    JoinName(actionList, folder, L"actions.xml");
    JoinName(installedList, folder, L"installed.xml");
    JoinName(latestList, folder, L"latest.xml");

    /* The check asks for a restart, the update run then says not to launch: two runs, state 0. */
    CheckEqual(WriteText(scenario, "LaunchApp=R\r\nupdate_app.LaunchApp=N\r\nResult=7\r\n"
                                   "progress=4,CompA,0,0,3,4,0\r\n"),
               1, "scenario written");
    CheckEqual(WriteText(actionList, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                     "<ActionList ParentAppName=\"MsvcHost\" ComponentType=\"plugin\">\r\n"
                                     "  <Component ID=\"CompA\" Action=\"update\" Path=\"a\" Version=\"2\" "
                                     "Result=\"\"/>\r\n"
                                     "</ActionList>\r\n"),
               1, "action list written");
    CheckEqual(SetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", scenario) != 0, 1, "scenario named");
    CheckEqual(RegisterUpdater(standIn), 1, "stand-in registered");

    CheckEqual(IsSupportQuelmar(), 1, "IsSupportQuelmar");
    CheckEqual(SupportComponentsManagement(), QM_MANAGEMENT_SUPPORTED, "SupportComponentsManagement");
    state = 42;
    CheckEqual(LaunchCheck(L"MsvcHost", &state), 1, "LaunchCheck");
    CheckEqual(state, QM_STATE_DO_NOT_START, "LaunchCheck state");
    CheckEqual(GetInstalledComponentList(L"MsvcHost", installedList, L"plugin"), 7, "GetInstalledComponentList");
    CheckEqual(GetFileAttributesW(installedList) != NO_FILE, 1, "installed list written");
    CheckEqual(GetLatestComponentList(latestList, L"plugin", L"2.0"), 7, "GetLatestComponentList");
    CheckEqual(GetFileAttributesW(latestList) != NO_FILE, 1, "latest list written");
    CheckEqual(UpdateComponents(L"MsvcHost", actionList, L"plugin", OnProgress), QM_UPDATE_DONE, "UpdateComponents");
    CheckEqual(g_progressCalls, 1, "progress calls");
    CheckEqual(g_progressPercent, 75, "progress percent");
    CheckEqual(g_progressIdMatches, 1, "progress component");

    /* A machine without the service. */
    RegDeleteKeyExW(HKLM, kInstallKey, KEY_WOW64_32KEY, 0);
    state = 42;
    CheckEqual(LaunchCheck(L"MsvcHost", &state), 0, "LaunchCheck without updater");
    CheckEqual(state, 42, "LaunchCheck without updater leaves state");
    CheckEqual(IsSupportQuelmar(), 0, "IsSupportQuelmar without updater");
    CheckEqual(SupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED, "SupportComponentsManagement without updater");
    CheckEqual(UpdateComponents(L"MsvcHost", actionList, L"plugin", NULL), QM_UPDATE_NOT_SUPPORTED,
               "UpdateComponents without updater");
    CheckEqual(GetInstalledComponentList(L"MsvcHost", installedList, L"plugin"), QM_LIST_NOT_SUPPORTED,
               "GetInstalledComponentList without updater");
    CheckEqual(GetLatestComponentList(latestList, L"plugin", L"2.0"), QM_LIST_NOT_SUPPORTED,
               "GetLatestComponentList without updater");

    ExitProcess(g_failed == 0 ? 0 : 1);
}
