#include "sys/PathUtil.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <vector>

void ReplaceChar(std::wstring& text, wchar_t from, wchar_t to)
{
    for (wchar_t& ch : text)
    {
        if (ch == from)
            ch = to;
    }
}

std::wstring ToPlatformPath(const std::wstring& path)
{
    std::wstring result(path);
    ReplaceChar(result, L'/', L'\\');
    return result;
}

std::wstring GetParentFolder(const std::wstring& path)
{
    std::wstring buffer = ToPlatformPath(path);
    // PathRemoveFileSpecW only shortens the text in place.
    ::PathRemoveFileSpecW(&buffer[0]);
    buffer.resize(wcslen(buffer.c_str()));
    ReplaceChar(buffer, L'\\', L'/');
    return buffer;
}

namespace
{
bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

// The append rule for results beyond MAX_PATH, where PathAppendW gives up:
// exactly one separator between the parts, nothing else touched.
std::wstring AppendLong(const std::wstring& base, const std::wstring& relative)
{
    std::wstring left(base);
    while (!left.empty() && IsSeparator(left.back()))
        left.pop_back();
    size_t start = 0;
    while (start < relative.size() && IsSeparator(relative[start]))
        ++start;
    if (left.empty())
        return relative.substr(start);
    return left + L'\\' + relative.substr(start);
}
} // namespace

std::wstring JoinPath(const std::wstring& base, const std::wstring& relative)
{
    std::wstring platformBase = ToPlatformPath(base);
    // PathAppendW may use up to MAX_PATH characters of its buffer, whatever the inputs' lengths.
    size_t capacity = base.size() + relative.size() + 2;
    if (capacity < MAX_PATH)
        capacity = MAX_PATH;
    std::vector<wchar_t> buffer(capacity + 1, L'\0');
    platformBase.copy(buffer.data(), platformBase.size());

    std::wstring result;
    if (::PathAppendW(buffer.data(), relative.c_str()))
        result.assign(buffer.data());
    else if (base.size() + relative.size() + 1 >= MAX_PATH)
        result = AppendLong(platformBase, relative);
    else
        result = platformBase;
    ReplaceChar(result, L'\\', L'/');
    return result;
}

int CreateFolderPath(const std::wstring& folder)
{
    std::wstring platformPath = ToPlatformPath(folder);
    // SHCreateDirectoryExW refuses relative paths; resolve them against the current folder.
    if (!platformPath.empty() && ::PathIsRelativeW(platformPath.c_str()))
    {
        std::wstring full = GetFullPlatformPath(platformPath);
        if (!full.empty())
            platformPath = full;
    }
    return ::SHCreateDirectoryExW(nullptr, platformPath.c_str(), nullptr);
}

std::wstring GetFullPlatformPath(const std::wstring& path)
{
    std::wstring platformPath = ToPlatformPath(path);
    if (platformPath.empty())
        return std::wstring();
    DWORD needed = ::GetFullPathNameW(platformPath.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> full(needed + 1, L'\0');
    DWORD written = ::GetFullPathNameW(platformPath.c_str(), needed + 1, full.data(), nullptr);
    if (written == 0 || written > needed)
        return std::wstring();
    return std::wstring(full.data(), written);
}

std::wstring ToLongPathForm(const std::wstring& fullPlatformPath)
{
    if (fullPlatformPath.compare(0, 4, L"\\\\?\\") == 0)
        return fullPlatformPath;
    if (fullPlatformPath.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + fullPlatformPath.substr(2);
    return L"\\\\?\\" + fullPlatformPath;
}

std::wstring ResolveHostPath(const std::wstring& path)
{
    auto isSeparator = [](wchar_t c) { return c == L'/' || c == L'\\'; };
    bool driveAbsolute = path.size() >= 3 && path[1] == L':' && isSeparator(path[2]);
    bool share = path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]);
    if (path.empty() || driveAbsolute || share)
        return path;
    std::wstring full = GetFullPlatformPath(path);
    if (full.empty())
        return path;
    ReplaceChar(full, L'\\', L'/');
    return full;
}
