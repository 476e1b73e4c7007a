#include "sys/QMFileUtil.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>
#include <shlwapi.h>

bool EnsureFolder(const wchar_t* path)
{
    if (path == nullptr || *path == L'\0')
        return false;
    std::wstring folder(path);
    if (::PathFileExistsW(folder.c_str()))
        return ::PathIsDirectoryW(folder.c_str()) != FALSE;

    std::wstring parent = GetParentFolder(folder);
    // A root that does not exist (a missing drive) is its own parent: stop there.
    if (parent.empty() || parent == folder || parent.size() >= folder.size())
        return false;
    if (!EnsureFolder(parent.c_str()))
        return false;
    return GetFileUtil()->CreateFolder(folder);
}

bool IsWriteRefusalPassing(const std::wstring& path)
{
    std::wstring platform = ToPlatformPath(path);
    DWORD attributes = ::GetFileAttributesW(platform.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;
    // Sharing everything, the probe conflicts only with a holder that shares no writing or no
    // deletion (the file is replaced, not written in place).
    CQMFileHandle probe(::CreateFileW(platform.c_str(), GENERIC_WRITE | DELETE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe)
        return true;
    DWORD error = ::GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

unsigned long ProbeFileWriting(const std::wstring& path)
{
    CQMFileHandle probe(::CreateFileW(ToPlatformPath(path).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe ? ERROR_SUCCESS : ::GetLastError();
}
