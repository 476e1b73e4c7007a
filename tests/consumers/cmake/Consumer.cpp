// A MinGW host linked through the kit's CMake package: its calls go through the import library.
// It registers the stand-in beside it, checks a probe and a list call against it, then the
// not-supported results once the registration is gone.
#include <windows.h>

#include <cstdio>
#include <string>

#include "Pellorin.h"

namespace
{
int g_failed = 0;

void CheckEqual(int actual, int expected, const char* what)
{
    std::printf("%s  %s: %d", actual == expected ? "ok    " : "FAILED", what, actual);
    if (actual != expected)
    {
        std::printf(", expected %d", expected);
        ++g_failed;
    }
    std::printf("\n");
}

const wchar_t kInstallKey[] = L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install";

bool WriteText(const std::wstring& path, const char* text)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        return false;
    bool ok = std::fputs(text, file) >= 0;
    return std::fclose(file) == 0 && ok;
}
} // namespace

int wmain()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.erase(folder.rfind(L'\\') + 1);

    // The package's imported location put the kit's DLL beside the program.
    wchar_t loaded[MAX_PATH] = {};
    ::GetModuleFileNameW(::GetModuleHandleW(L"Pellorin.dll"), loaded, MAX_PATH);
    CheckEqual(::lstrcmpiW(loaded, (folder + L"Pellorin.dll").c_str()) == 0, 1, "Pellorin.dll beside the program");

    std::wstring scenario = folder + L"scenario.txt";
    CheckEqual(WriteText(scenario, "Result=5\r\n"), 1, "scenario written");
    ::SetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", scenario.c_str());
    std::wstring standIn = folder + L"VestabelStandIn.exe";
    HKEY key = nullptr;
    // Where the 32-bit service registers, whatever this host's bitness.
    LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                                nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS)
    {
        rc = ::RegSetValueExW(key, L"Vestabel exe path", 0, REG_SZ, reinterpret_cast<const BYTE*>(standIn.c_str()),
                              static_cast<DWORD>((standIn.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    }
    CheckEqual(rc, ERROR_SUCCESS, "stand-in registered");

    CheckEqual(SupportComponentsManagement(), QM_MANAGEMENT_SUPPORTED, "SupportComponentsManagement");
    std::wstring list = folder + L"installed.xml";
    CheckEqual(GetInstalledComponentList(L"Consumer", list.c_str(), L"plugin"), 5, "GetInstalledComponentList");
    CheckEqual(::GetFileAttributesW(list.c_str()) != INVALID_FILE_ATTRIBUTES, 1, "installed list written");

    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, KEY_WOW64_32KEY, 0);
    CheckEqual(IsSupportQuelmar(), 0, "IsSupportQuelmar without updater");
    int state = 42;
    CheckEqual(LaunchCheck(L"Consumer", &state), 0, "LaunchCheck without updater");
    CheckEqual(state, 42, "LaunchCheck without updater leaves state");
    return g_failed == 0 ? 0 : 1;
}
