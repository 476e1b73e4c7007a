#include "log/LogArchive.h"

#include "log/LogLock.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{
const char kByteOrderMark[] = "\xEF\xBB\xBF";

enum class ECurrentFile
{
    Missing,
    Empty, // nothing, or only the byte-order mark: no record to archive
    HasRecords,
};

ECurrentFile InspectCurrentFile(const std::wstring& platformPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(platformPath.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return ECurrentFile::Missing;
    const DWORD markSize = sizeof(kByteOrderMark) - 1;
    if (data.nFileSizeHigh != 0 || data.nFileSizeLow > markSize)
        return ECurrentFile::HasRecords;
    if (data.nFileSizeLow == 0)
        return ECurrentFile::Empty;
    CQMFileHandle file(::CreateFileW(platformPath.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    char head[sizeof(kByteOrderMark)] = {};
    DWORD read = 0;
    if (!file || !::ReadFile(file.Get(), head, markSize, &read, nullptr))
        return ECurrentFile::HasRecords;
    return read == markSize && memcmp(head, kByteOrderMark, markSize) == 0 ? ECurrentFile::Empty
                                                                           : ECurrentFile::HasRecords;
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
    std::wstring currentPath = ToPlatformPath(JoinPath(folder, kServiceLogCurrentFile));
    std::wstring archivePath = ToPlatformPath(JoinPath(folder, std::wstring(kServiceLogPrefix) + stamp + L".txt"));

    // Records of every process go either before this step, into the archive, or after it.
    CQMLogLock lock(JoinPath(folder, kServiceLogCurrentFile));
    ECurrentFile current = InspectCurrentFile(currentPath);
    // An empty archive would only push a real one out.
    if (current == ECurrentFile::Empty)
        return;
    PruneServiceLogs(folder);
    if (current == ECurrentFile::Missing)
        return;

    // One rename: the file's records move to the archive whole, and the next record starts a
    // new current file. A name already taken (a second step in the same second) or a file held
    // by a program that shares no deletion keeps the current file: its records go with the
    // next step.
    ::MoveFileExW(currentPath.c_str(), archivePath.c_str(), 0);
}
