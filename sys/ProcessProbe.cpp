#include "sys/ProcessProbe.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>
#include <tlhelp32.h>

namespace
{
std::wstring FileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

// The full image path of a process, or empty when it cannot be opened (another user, elevated).
std::wstring ImageOf(DWORD processId)
{
    CQMKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return std::wstring();
    wchar_t image[MAX_PATH * 4] = {};
    DWORD size = ARRAYSIZE(image);
    if (!::QueryFullProcessImageNameW(process.Get(), 0, image, &size))
        return std::wstring();
    return std::wstring(image, size);
}
} // namespace

bool IsImageRunning(const std::wstring& imagePath)
{
    std::wstring wanted = ToPlatformPath(imagePath);
    std::wstring wantedName = FileNameOf(wanted);
    if (wantedName.empty())
        return false;
    // The snapshot reports failure as INVALID_HANDLE_VALUE, like a file.
    CQMFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
    {
        if (!SamePath(FileNameOf(entry.szExeFile), wantedName))
            continue;
        std::wstring image = ImageOf(entry.th32ProcessID);
        if (image.empty() || SamePath(image, wanted))
            return true;
    }
    return false;
}
