#include "bridge/WorkFolder.h"

#include "bridge/ResultDocument.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "sys/QMFileUtil.h"
#include "sys/WholeFileWrite.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <set>
#include <vector>

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

// Temporary files of request writers: "~qmreq_<process>_<thread>.tmp".
constexpr const wchar_t* kTemporaryPrefix = L"~qmreq_";
constexpr const wchar_t* kTemporarySuffix = L".tmp";

bool IsRequestTemporary(const std::wstring& name)
{
    const size_t prefix = wcslen(kTemporaryPrefix), suffix = wcslen(kTemporarySuffix);
    return name.size() > prefix + suffix && name.compare(0, prefix, kTemporaryPrefix) == 0 &&
           name.compare(name.size() - suffix, suffix, kTemporarySuffix) == 0;
}

// Numbers whose request or result name exists in the folder, as one read of the folder sees
// them, and the temporary files of request writers found there.
std::set<unsigned long> TakenRequestNumbers(const std::wstring& folder, const std::wstring& stem,
                                            std::vector<std::wstring>& temporaries)
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
        if (IsRequestTemporary(data.cFileName))
            temporaries.push_back(data.cFileName);
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

std::wstring WriteRequestFile(const std::wstring& folder, const std::wstring& stem, const std::string& bytes,
                              DWORD& error)
{
    // Every name already in the folder takes its number, a result's too (a result left by an
    // aborted call would be read as this run's): the folder is read once rather than probed per
    // number, since requests the updater left behind make the numbers grow with every call.
    std::vector<std::wstring> temporaries;
    std::set<unsigned long> taken = TakenRequestNumbers(folder, stem, temporaries);
    // Left by writers that were ended halfway. One that is being written now is held without
    // sharing and refuses the deletion.
    for (const std::wstring& name : temporaries)
        ::DeleteFileW(ToPlatformPath(folder + L"/" + name).c_str());

    auto candidate = [&](unsigned long n) { return folder + L"/" + stem + L"_" + std::to_wstring(n) + L".xml"; };
    unsigned long n = 1;
    while (taken.count(n) != 0)
        ++n;
    // The result's path is the longer of the two: an updater run whose result could not be
    // read back must not start at all, and nothing is written for it.
    if (GetResultDocumentPath(candidate(n)).size() > kMaxRequestPathChars)
    {
        error = ERROR_FILENAME_EXCED_RANGE;
        return std::wstring();
    }

    std::wstring temporary = ToPlatformPath(folder + L"/" + kTemporaryPrefix + std::to_wstring(::GetCurrentProcessId()) +
                                            L"_" + std::to_wstring(::GetCurrentThreadId()) + kTemporarySuffix);
    // Not flushed: the updater reads it at once, and a process that ends cannot take it back
    // from the system; a renamed request is whole whatever happens to this process.
    CQMFileHandle file;
    error = WriteNewFile(temporary, bytes, false, file);
    if (error != ERROR_SUCCESS)
        return std::wstring();

    for (;; ++n)
    {
        if (taken.count(n) != 0)
            continue;
        std::wstring path = candidate(n);
        if (GetResultDocumentPath(path).size() > kMaxRequestPathChars)
        {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        // Without replacing: the rename decides between writers at once, and the request is
        // under its name only whole.
        error = RenameOpenFile(file.Get(), ToPlatformPath(path), false);
        if (error == ERROR_SUCCESS)
            return path;
        // Anything at the name, file or folder, takes the number; any other refusal would come
        // back at every number.
        if (!::PathFileExistsW(ToPlatformPath(path).c_str()))
            break;
    }
    DeleteOpenFile(file);
    return std::wstring();
}
