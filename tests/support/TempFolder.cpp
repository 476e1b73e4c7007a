#include "support/TempFolder.h"

#include "support/FileUtilForTest.h"

#include <windows.h>

#include <atomic>


CTempFolder::CTempFolder()
{
    static std::atomic<unsigned> s_counter{0};
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring base(temp);
    for (wchar_t& ch : base)
        if (ch == L'\\')
            ch = L'/';
    while (!base.empty() && base.back() == L'/')
        base.pop_back();
    for (;;)
    {
        m_strPath = base + L"/qmtest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                    std::to_wstring(s_counter++);
        if (::CreateDirectoryW(PlatformPathForTest(m_strPath).c_str(), nullptr))
            break;
    }
}

CTempFolder::~CTempFolder()
{
    RemoveFolderTree(m_strPath);
}

bool RemoveFolderTree(const std::wstring& folder)
{
    // The long-path prefix lets tests clean up trees deeper than the usual limit.
    std::wstring platform = PlatformPathForTest(folder);
    if (platform.size() > 2 && platform[1] == L':')
        platform.insert(0, L"\\\\?\\");
    WIN32_FIND_DATAW data = {};
    HANDLE find = ::FindFirstFileW((platform + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name(data.cFileName);
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = platform + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolderTree(child);
            else
            {
                ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(child.c_str());
            }
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(platform.c_str());
    return ::GetFileAttributesW(platform.c_str()) == INVALID_FILE_ATTRIBUTES;
}
