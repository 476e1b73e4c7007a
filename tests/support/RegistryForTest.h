#pragma once
// The updater's registration in the test prefix's HKLM. Construction removes any
// registration left behind; destruction removes what the test registered.

#include <windows.h>

#include <string>

class CVestabelRegistration
{
public:
    CVestabelRegistration();
    ~CVestabelRegistration();
    CVestabelRegistration(const CVestabelRegistration&) = delete;
    CVestabelRegistration& operator=(const CVestabelRegistration&) = delete;

    // Stores the path as REG_SZ with its terminating NUL.
    bool SetPath(const std::wstring& path);
    // Stores the path in the 64-bit view, where the 32-bit service never registers.
    bool SetPathIn64BitView(const std::wstring& path);
    // Stores exactly these bytes with this type.
    bool SetRaw(const void* data, DWORD bytes, DWORD type);
    // Removes the value but keeps the key.
    bool RemoveValue();
    static void Remove();
};

// Sets or removes "InstVersion_forUIW" under HKLM\SOFTWARE\Tavrin_Inc_ZL\<subKey>.
bool SetInstVersionValue(const std::wstring& subKey, const void* data, DWORD bytes, DWORD type);
void RemoveInstVersionKey(const std::wstring& subKey);
