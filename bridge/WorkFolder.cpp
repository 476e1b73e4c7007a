#include "bridge/WorkFolder.h"

#include "sys/PathUtil.h"
#include "sys/QMFileUtil.h"

#include <windows.h>
#include <shlwapi.h>

namespace
{
constexpr const wchar_t* kWorkSubFolder = L"Tavrin_Inc_ZL/Vestabel";

bool IsForbiddenInFileName(wchar_t ch)
{
    return ch < 0x20 || wcschr(L"\\/:*?\"<>|", ch) != nullptr;
}
} // namespace

std::wstring GetVestabelWorkFolder()
{
    wchar_t temp[MAX_PATH] = {};
    DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        temp[0] = L'\0';
    std::wstring folder = JoinPath(temp, kWorkSubFolder);
    EnsureFolder(folder.c_str());
    return folder;
}

std::wstring MakeRequestFileStem(const std::wstring& name)
{
    std::wstring stem(name);
    for (wchar_t& ch : stem)
    {
        if (IsForbiddenInFileName(ch))
            ch = L'_';
    }
    return stem;
}

std::wstring ChooseRequestPath(const std::wstring& folder, const std::wstring& stem)
{
    for (unsigned long n = 1;; ++n)
    {
        std::wstring path = folder + L"/" + stem + L"_" + std::to_wstring(n) + L".xml";
        // Anything at the name, file or folder, takes the number.
        if (!::PathFileExistsW(path.c_str()))
            return path;
    }
}
