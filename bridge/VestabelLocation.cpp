#include "bridge/VestabelLocation.h"

#include "sys/Handle.h"
#include "sys/RegistryView.h"

#include <windows.h>
#include <shlwapi.h>

#include <vector>

std::wstring GetVestabelExePath()
{
    CQMRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVestabelInstallKey, 0, KEY_READ | kServiceRegistryView, key.Put()) !=
        ERROR_SUCCESS)
        return std::wstring();

    DWORD bytes = 0;
    if (::RegQueryValueExW(key.Get(), kVestabelPathValue, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
        return std::wstring();

    // Zero-filled with one spare unit, so data stored without its NUL still ends in one.
    size_t units = bytes / sizeof(wchar_t) + 2;
    std::vector<wchar_t> buffer(units, L'\0');
    DWORD queried = bytes;
    if (::RegQueryValueExW(key.Get(), kVestabelPathValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                           &queried) != ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(buffer.data());
}

bool VestabelExeUsable(const std::wstring& path)
{
    if (path.empty() || !::PathFileExistsW(path.c_str()))
        return false;
    return !::PathIsDirectoryW(path.c_str());
}
