#include "log/LogArchive.h"

#include "log/LogRecordQueue.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace
{
// Large blocks: the current file is held (and its writers wait) while it is copied.
constexpr DWORD kCopyBlockBytes = 64 * 1024;
constexpr int kOpenAttempts = 20;
constexpr DWORD kOpenRetryMs = 5;

// Held without write sharing while it is copied, so that no other process appends
// to it between the copy and its deletion; writers retry until it is gone.
CQMFileHandle OpenCurrentForArchive(const std::wstring& platformPath)
{
    for (int attempt = 0;; ++attempt)
    {
        CQMFileHandle file(::CreateFileW(platformPath.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || ::GetLastError() != ERROR_SHARING_VIOLATION || attempt + 1 >= kOpenAttempts)
            return file;
        ::Sleep(kOpenRetryMs);
    }
}

bool CopyInBlocks(HANDLE source, HANDLE target)
{
    std::vector<char> block(kCopyBlockBytes);
    for (;;)
    {
        DWORD read = 0;
        if (!::ReadFile(source, block.data(), kCopyBlockBytes, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        DWORD written = 0;
        if (!::WriteFile(target, block.data(), read, &written, nullptr) || written != read)
            return false;
    }
}

bool MarkForDeletion(HANDLE file)
{
    FILE_DISPOSITION_INFO info = {};
    info.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof(info)) != FALSE;
}
} // namespace

void PruneServiceLogs(const std::wstring& folder)
{
    std::wstring pattern = JoinPath(folder, std::wstring(kServiceLogPrefix) + L"*.txt");
    WIN32_FIND_DATAW data = {};
    CQMFindHandle find(::FindFirstFileW(ToPlatformPath(pattern).c_str(), &data));
    if (!find)
        return;

    // Stamps are fixed-width digits, so the smallest name is the oldest archive; names
    // after the prefix that begin with a letter (the current file) sort after the sentinel.
    const std::wstring sentinel = std::wstring(kServiceLogPrefix) + L"99999999999999.txt";
    std::vector<std::wstring> archives;
    size_t count = 0;
    do
    {
        std::wstring name(data.cFileName);
        if (sentinel.compare(name) > 0 && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            archives.push_back(name);
        ++count;
    } while (::FindNextFileW(find.Get(), &data));
    if (count <= kServiceLogEntryLimit)
        return;

    // An archive that cannot be deleted (in use, no access) would otherwise be chosen at every
    // step while the folder grows: the next oldest goes in its place.
    std::sort(archives.begin(), archives.end());
    for (const std::wstring& name : archives)
    {
        if (::DeleteFileW(ToPlatformPath(JoinPath(folder, name)).c_str()))
            return;
    }
}

void ArchiveServiceLogAs(const std::wstring& folder, const std::wstring& stamp)
{
    PruneServiceLogs(folder);

    std::wstring currentPath = ToPlatformPath(JoinPath(folder, kServiceLogCurrentFile));
    std::wstring archivePath = ToPlatformPath(JoinPath(folder, std::wstring(kServiceLogPrefix) + stamp + L".txt"));

    std::lock_guard<std::mutex> lock(ServiceLogMutex());
    // The archive takes the records queued so far with it.
    WriteQueuedServiceLogLinesLocked();
    CQMFileHandle current = OpenCurrentForArchive(currentPath);
    if (!current)
        return;

    // CREATE_NEW: an archive of the same second is never overwritten.
    CQMFileHandle archive(::CreateFileW(archivePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive)
        return;

    bool copied = CopyInBlocks(current.Get(), archive.Get());
    archive.Reset();
    if (!copied)
    {
        ::DeleteFileW(archivePath.c_str());
        return;
    }

    if (MarkForDeletion(current.Get()))
        return; // deleted as the handle closes
    current.Reset();
    ::DeleteFileW(currentPath.c_str());
}
