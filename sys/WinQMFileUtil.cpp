#include "sys/WinQMFileUtil.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <io.h>
#include <sys/stat.h>
#include <time.h>
#include <wchar.h>

#include <vector>

namespace
{
constexpr DWORD kCompareBlockBytes = 4096;
// FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI
constexpr FILEOP_FLAGS kFolderCopyFlags = 0x614;

CQMFileHandle OpenForReading(const std::wstring& path)
{
    return CQMFileHandle(::CreateFileW(ToPlatformPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Fills block as far as the file allows; false on a read error.
bool ReadBlock(HANDLE file, char* block, DWORD& filled)
{
    filled = 0;
    while (filled < kCompareBlockBytes)
    {
        DWORD read = 0;
        if (!::ReadFile(file, block + filled, kCompareBlockBytes - filled, &read, nullptr))
            return false;
        if (read == 0)
            break;
        filled += read;
    }
    return true;
}

bool ExistsAnything(const std::wstring& path)
{
    return ::PathFileExistsW(path.c_str()) != FALSE;
}

// The shell's file operations take lists ended by a second NUL.
std::vector<wchar_t> DoubleTerminated(const std::wstring& text)
{
    std::vector<wchar_t> list(text.begin(), text.end());
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

// Of static storage, not a function static made on first use: the runtime's thread-safe guard
// for that stays behind when the module is unloaded.
CWinQMFileUtil g_fileUtil;
} // namespace

CQMFileUtil* GetFileUtil()
{
    return &g_fileUtil;
}

std::wstring NormalizeCopyPath(const std::wstring& path)
{
    std::wstring text = ToPlatformPath(path);
    bool share = text.compare(0, 2, L"\\\\") == 0;
    std::wstring result;
    for (wchar_t ch : text)
    {
        if (ch == L'\\' && !result.empty() && result.back() == L'\\')
            continue;
        result += ch;
    }
    // Collapsing must not turn \\server\share into a path on the current drive.
    if (share)
        result.insert(0, 1, L'\\');
    return result;
}

int CWinQMFileUtil::CompareFiles(const std::wstring& first, const std::wstring& second)
{
    CQMFileHandle a = OpenForReading(first);
    CQMFileHandle b = OpenForReading(second);
    if (!a || !b)
        return -1;
    std::vector<char> blockA(kCompareBlockBytes);
    std::vector<char> blockB(kCompareBlockBytes);
    for (;;)
    {
        DWORD filledA = 0;
        DWORD filledB = 0;
        if (!ReadBlock(a.Get(), blockA.data(), filledA) || !ReadBlock(b.Get(), blockB.data(), filledB))
            return -1;
        if (filledA != filledB || memcmp(blockA.data(), blockB.data(), filledA) != 0)
            return 0;
        if (filledA == 0)
            return 1;
    }
}

bool CWinQMFileUtil::CreateFolder(const std::wstring& path)
{
    if (::_waccess(path.c_str(), 0) == 0)
        return true;
    return ::CreateDirectoryW(ToPlatformPath(path).c_str(), nullptr) != FALSE;
}

bool CWinQMFileUtil::CopyPath(const std::wstring& source, const std::wstring& destination, bool overwrite)
{
    std::wstring from = NormalizeCopyPath(source);
    std::wstring to = NormalizeCopyPath(destination);

    if (::PathIsDirectoryW(from.c_str()))
    {
        if (!ExistsAnything(to))
            CreateFolderPath(to);
        std::vector<wchar_t> fromList = DoubleTerminated(from + L"\\*");
        std::vector<wchar_t> toList = DoubleTerminated(to + L"\\");
        SHFILEOPSTRUCTW operation = {};
        operation.hwnd = ::GetDesktopWindow();
        operation.wFunc = FO_COPY;
        operation.pFrom = fromList.data();
        operation.pTo = toList.data();
        operation.fFlags = kFolderCopyFlags;
        return ::SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
    }

    if (!ExistsAnything(to))
        CreateFolderPath(GetParentFolder(to));
    return ::CopyFileW(from.c_str(), to.c_str(), overwrite ? FALSE : TRUE) != FALSE;
}

std::wstring CWinQMFileUtil::GetFileSizeText(const std::wstring& path)
{
    CQMFileHandle file = OpenForReading(path);
    if (!file)
        return std::wstring();
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size))
        return L"0";
    return std::to_wstring(static_cast<unsigned long long>(size.QuadPart));
}

void CWinQMFileUtil::GetFileTimeText(const std::wstring& path, std::wstring& text)
{
    text.clear();
    std::wstring platform = ToPlatformPath(path);
    if (!ExistsAnything(platform) || ::PathIsDirectoryW(platform.c_str()))
        return;
    // The runtime's status query: shorter than MAX_PATH, found by a directory search.
    struct _stat64 status = {};
    if (platform.size() >= MAX_PATH || ::_wstat64(platform.c_str(), &status) != 0)
        return;
    struct tm* local = ::_localtime64(&status.st_mtime);
    if (local == nullptr)
        return;
    wchar_t formatted[64] = {};
    if (::wcsftime(formatted, 64, L"%Y-%m-%dT%H:%M:%S", local) == 0)
        return;
    text += formatted;
}
