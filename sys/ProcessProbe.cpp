#include "sys/ProcessProbe.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <tlhelp32.h>

#include <algorithm>

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

std::vector<QMProcessInfo> FindMessageWindowOwners(const std::wstring& windowClass, HWND skipWindow)
{
    // More windows of one class than this means the list changed under the walk.
    constexpr int kMaxWindowsOfClass = 64;
    std::vector<QMProcessInfo> owners;
    std::vector<QMProcessEntry> processes; // a snapshot, taken once an image cannot be read
    HWND window = nullptr;
    for (int i = 0; i < kMaxWindowsOfClass; ++i)
    {
        // Message-only windows are found only below HWND_MESSAGE on Windows.
        window = ::FindWindowExW(HWND_MESSAGE, window, windowClass.c_str(), nullptr);
        if (window == nullptr)
            break;
        DWORD processId = 0;
        if (window == skipWindow || ::GetWindowThreadProcessId(window, &processId) == 0)
            continue;
        if (std::any_of(owners.begin(), owners.end(),
                        [processId](const QMProcessInfo& owner) { return owner.m_nId == processId; }))
            continue;
        std::wstring image = GetProcessImage(processId);
        if (image.empty())
        {
            if (processes.empty())
                processes = ListProcesses();
            for (const QMProcessEntry& process : processes)
                if (process.m_nId == processId)
                    image = process.m_strExeName;
        }
        owners.push_back({processId, image});
    }
    return owners;
}
