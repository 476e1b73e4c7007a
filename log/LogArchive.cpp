#include "log/LogArchive.h"

#include "log/LogLock.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLogNames.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "sys/WholeFileWrite.h"

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

// Through the archive step's handle, which keeps writers out while it looks.
ECurrentFile InspectCurrentFile(HANDLE file)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size))
        return ECurrentFile::HasRecords;
    const DWORD markSize = sizeof(kByteOrderMark) - 1;
    if (size.QuadPart > markSize)
        return ECurrentFile::HasRecords;
    if (size.QuadPart == 0)
        return ECurrentFile::Empty;
    char head[sizeof(kByteOrderMark)] = {};
    DWORD read = 0;
    if (!::ReadFile(file, head, markSize, &read, nullptr))
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

    // Records of every process go either before this step, into the archive, or after it: the
    // step takes the turn every writer takes (the current file opened for writing, which no
    // writer shares with another) and renames it through that handle. A writer that has it at
    // this moment (one that passed a hung mutex by), or a program that keeps it open sharing no
    // deletion, keeps the current file: its records go with the next step. A program that shares
    // everything does not stand in the way.
    CQMLogLock lock(JoinPath(folder, kServiceLogCurrentFile));
    CQMFileHandle file(::CreateFileW(currentPath.c_str(),
                                     FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    ECurrentFile current = file ? InspectCurrentFile(file.Get())
                           : error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ECurrentFile::Missing
                                                                                             : ECurrentFile::HasRecords;
    // An empty archive would only push a real one out.
    if (current == ECurrentFile::Empty)
        return;
    PruneServiceLogs(folder);
    // One rename: the file's records move to the archive whole, and the next record starts a
    // new current file. A name already taken (a second step in the same second) keeps it too.
    if (file)
        RenameOpenFile(file.Get(), archivePath, false);
}
