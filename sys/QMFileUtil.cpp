#include "sys/QMFileUtil.h"

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
