#include "support/SmallVolume.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <windows.h>

#include <vector>

namespace
{
const wchar_t kFillerName[] = L"filler";
}

CSmallVolume::CSmallVolume()
{
    wchar_t root[16] = {};
    if (::GetEnvironmentVariableW(L"QM_SMALL_VOLUME", root, 16) == 0)
        return;
    ULARGE_INTEGER total = {};
    // Only a volume small enough to fill in a moment is taken for one.
    if (!::GetDiskFreeSpaceExW(root, nullptr, &total, nullptr) || total.QuadPart > 64ull << 20)
        return;
    m_strRoot = root;
    for (wchar_t& ch : m_strRoot)
        if (ch == L'\\')
            ch = L'/';
    for (const std::wstring& name : ListFolder(m_strRoot.substr(0, m_strRoot.size() - 1), L"*"))
    {
        std::wstring path = m_strRoot + name;
        if (!RemoveFolderTree(path))
            DeleteFileForTest(path);
    }
}

CSmallVolume::~CSmallVolume()
{
    if (!Available())
        return;
    Release();
}

bool CSmallVolume::Fill(unsigned long long leaveBytes)
{
    HANDLE file = ::CreateFileW(PlatformPathForTest(Child(kFillerName)).c_str(), GENERIC_WRITE, 0, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ::SetFilePointer(file, 0, nullptr, FILE_END);
    // Written, not only extended: a file system may leave the range of an extension unallocated.
    std::vector<char> block(4096, 'f');
    ULARGE_INTEGER free = {};
    while (::GetDiskFreeSpaceExW(m_strRoot.c_str(), &free, nullptr, nullptr) && free.QuadPart > leaveBytes)
    {
        DWORD chunk = static_cast<DWORD>(std::min<unsigned long long>(block.size(), free.QuadPart - leaveBytes));
        DWORD written = 0;
        if (!::WriteFile(file, block.data(), chunk, &written, nullptr) || written == 0)
            break;
    }
    ::CloseHandle(file);
    return ::GetDiskFreeSpaceExW(m_strRoot.c_str(), &free, nullptr, nullptr) && free.QuadPart <= leaveBytes + 4096;
}

void CSmallVolume::Release()
{
    DeleteFileForTest(Child(kFillerName));
}

CTemporaryFolderOverride::CTemporaryFolderOverride(const std::wstring& folder)
{
    std::vector<wchar_t> previous(32768, L'\0');
    m_bHad = ::GetEnvironmentVariableW(L"TMP", previous.data(), static_cast<DWORD>(previous.size())) != 0;
    m_strPrevious = previous.data();
    ::SetEnvironmentVariableW(L"TMP", PlatformPathForTest(folder).c_str());
}

CTemporaryFolderOverride::~CTemporaryFolderOverride()
{
    ::SetEnvironmentVariableW(L"TMP", m_bHad ? m_strPrevious.c_str() : nullptr);
}
