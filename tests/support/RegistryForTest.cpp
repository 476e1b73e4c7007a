#include "support/RegistryForTest.h"

namespace
{
const wchar_t kInstallKey[] = L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install";
const wchar_t kPathValue[] = L"Vestabel exe path";
// Written where the service's 32-bit installer writes: the 32-bit view, from test programs of either bitness.
const REGSAM kInstallerView = KEY_WOW64_32KEY;

bool SetValue(const std::wstring& keyPath, const wchar_t* name, const void* data, DWORD bytes, DWORD type,
              REGSAM view = kInstallerView)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}
} // namespace

CVestabelRegistration::CVestabelRegistration()
{
    Remove();
}

CVestabelRegistration::~CVestabelRegistration()
{
    Remove();
}

bool CVestabelRegistration::SetPath(const std::wstring& path)
{
    return SetRaw(path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)), REG_SZ);
}

bool CVestabelRegistration::SetPathIn64BitView(const std::wstring& path)
{
    return SetValue(kInstallKey, kPathValue, path.c_str(), static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)),
                    REG_SZ, KEY_WOW64_64KEY);
}

bool CVestabelRegistration::SetRaw(const void* data, DWORD bytes, DWORD type)
{
    return SetValue(kInstallKey, kPathValue, data, bytes, type);
}

bool CVestabelRegistration::RemoveValue()
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_SET_VALUE | kInstallerView, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = ::RegDeleteValueW(key, kPathValue);
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void CVestabelRegistration::Remove()
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, kInstallerView, 0);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, KEY_WOW64_64KEY, 0);
}

bool SetInstVersionValue(const std::wstring& subKey, const void* data, DWORD bytes, DWORD type)
{
    return SetValue(L"SOFTWARE\\Tavrin_Inc_ZL\\" + subKey, L"InstVersion_forUIW", data, bytes, type);
}

void RemoveInstVersionKey(const std::wstring& subKey)
{
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Tavrin_Inc_ZL\\" + subKey).c_str(), kInstallerView, 0);
}
