#include "sys/ProcessProbe.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <tlhelp32.h>

namespace
{
bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}
} // namespace

std::vector<QMProcessEntry> ListProcesses()
{
    std::vector<QMProcessEntry> processes;
    // The snapshot reports failure as INVALID_HANDLE_VALUE, like a file.
    CQMFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more; more = ::Process32NextW(snapshot.Get(), &entry))
        processes.push_back({entry.th32ProcessID, entry.szExeFile});
    return processes;
}

std::wstring GetProcessImage(DWORD processId)
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

std::wstring FileNameOfPath(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool IsImageRunning(const std::wstring& imagePath)
{
    std::wstring wanted = ToPlatformPath(imagePath);
    std::wstring wantedName = FileNameOfPath(wanted);
    if (wantedName.empty())
        return false;
    for (const QMProcessEntry& process : ListProcesses())
    {
        if (!SamePath(FileNameOfPath(process.m_strExeName), wantedName))
            continue;
        std::wstring image = GetProcessImage(process.m_nId);
        if (image.empty() || SamePath(image, wanted))
            return true;
    }
    return false;
}
