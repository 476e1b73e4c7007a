#include "bridge/WorkFolder.h"

#include "bridge/ResultDocument.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "sys/QMFileUtil.h"

#include <windows.h>
#include <shlwapi.h>

#include <set>

namespace
{
constexpr const wchar_t* kWorkSubFolder = L"Tavrin_Inc_ZL/Vestabel";

bool IsForbiddenInFileName(wchar_t ch)
{
    return ch < 0x20 || wcschr(L"\\/:*?\"<>|", ch) != nullptr;
}
// The number of "<prefix><number>.xml", written as the module writes numbers (decimal, no
// leading zero); 0 for any other name.
unsigned long NumberAfter(const std::wstring& name, const std::wstring& prefix)
{
    const size_t suffix = 4; // ".xml"
    if (name.size() <= prefix.size() + suffix ||
        ::CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                               static_cast<int>(prefix.size()), TRUE) != CSTR_EQUAL ||
        ::CompareStringOrdinal(name.c_str() + name.size() - suffix, suffix, L".xml", suffix, TRUE) != CSTR_EQUAL)
        return 0;
    std::wstring digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix);
    if (digits.size() > 9 || digits[0] == L'0' || digits.find_first_not_of(L"0123456789") != std::wstring::npos)
        return 0;
    return std::stoul(digits);
}

// Numbers whose request or result name exists in the folder, as one read of the folder sees them.
std::set<unsigned long> TakenRequestNumbers(const std::wstring& folder, const std::wstring& stem)
{
    std::set<unsigned long> taken;
    WIN32_FIND_DATAW data = {};
    CQMFindHandle find(::FindFirstFileExW(ToPlatformPath(folder + L"/*").c_str(), FindExInfoBasic, &data,
                                          FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find)
        return taken;
    const std::wstring request = stem + L"_";
    const std::wstring result = L"RESULT_" + request;
    do
    {
        for (const std::wstring* prefix : {&request, &result})
        {
            unsigned long number = NumberAfter(data.cFileName, *prefix);
            if (number != 0)
                taken.insert(number);
        }
    } while (::FindNextFileW(find.Get(), &data));
    return taken;
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
    // Every name already in the folder takes its number: the folder is read once rather than
    // probed three times per number, since requests the updater left behind make the numbers
    // grow with every call.
    std::set<unsigned long> taken = TakenRequestNumbers(folder, stem);
    for (unsigned long n = 1;; ++n)
    {
        if (taken.count(n) != 0)
            continue;
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
