#include "support/FileUtilForTest.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>

std::wstring PlatformPathForTest(std::wstring path)
{
    for (wchar_t& ch : path)
        if (ch == L'/')
            ch = L'\\';
    return path;
}

std::wstring TestProgramPath()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

std::wstring BinFolder()
{
    std::wstring folder = TestProgramPath();
    return folder.erase(folder.rfind(L'\\') + 1);
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(PlatformPathForTest(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char block[4096];
    DWORD read = 0;
    while (::ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0)
        bytes.append(block, read);
    ::CloseHandle(file);
    return bytes;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    // Sharing reading and writing: a file another process holds that way is written through.
    HANDLE file = ::CreateFileW(PlatformPathForTest(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}

bool FileExists(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(PlatformPathForTest(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(PlatformPathForTest(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeFolder(const std::wstring& path)
{
    return ::CreateDirectoryW(PlatformPathForTest(path).c_str(), nullptr) != FALSE;
}

bool CreateFolderPathForTest(const std::wstring& path)
{
    ::SHCreateDirectoryExW(nullptr, PlatformPathForTest(path).c_str(), nullptr);
    return FolderExists(path);
}

bool DeleteFileForTest(const std::wstring& path)
{
    return ::DeleteFileW(PlatformPathForTest(path).c_str()) != FALSE;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    HANDLE find = ::FindFirstFileW(PlatformPathForTest(folder + L"/" + pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        std::wstring name(data.cFileName);
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::wstring Utf8ToWide(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

std::string WideToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}
