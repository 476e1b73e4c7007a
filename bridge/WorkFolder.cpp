#include "bridge/WorkFolder.h"

#include "bridge/ResultDocument.h"
#include "sys/Handle.h"
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

std::wstring ReserveRequestPath(const std::wstring& folder, const std::wstring& stem)
{
    for (unsigned long n = 1;; ++n)
    {
        std::wstring path = folder + L"/" + stem + L"_" + std::to_wstring(n) + L".xml";
        std::wstring resultPath = GetResultDocumentPath(path);
        // The result's path is the longer of the two: an updater run whose result could
        // not be read back must not start at all.
        if (resultPath.size() > kMaxRequestPathChars)
            return std::wstring();
        // A result left by an aborted call would be read as this run's.
        if (::PathFileExistsW(resultPath.c_str()))
            continue;
        // CREATE_NEW decides between callers at once: only one of them creates the file.
        CQMFileHandle file(::CreateFileW(ToPlatformPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return path;
        // Anything at the name, file or folder, takes the number. Any other failure (no folder)
        // would come back at every number: the name goes unreserved to a save that fails too.
        if (!::PathFileExistsW(path.c_str()))
            return path;
    }
}
