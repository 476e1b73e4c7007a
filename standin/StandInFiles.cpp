#include "StandInFiles.h"

#include <windows.h>

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
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

namespace
{
bool CreateWithBytes(const std::wstring& path, const std::string& bytes, DWORD disposition)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok && written == bytes.size();
}
} // namespace

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    return CreateWithBytes(path, bytes, CREATE_ALWAYS);
}

bool WriteNewBytes(const std::wstring& path, const std::string& bytes)
{
    return CreateWithBytes(path, bytes, CREATE_NEW);
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty())
        return std::wstring();
    int size = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

std::string FindAttribute(const std::string& xml, const std::string& name)
{
    std::string needle = " " + name + "=\"";
    size_t start = xml.find(needle);
    if (start == std::string::npos)
        return std::string();
    start += needle.size();
    size_t end = xml.find('"', start);
    if (end == std::string::npos)
        return std::string();
    std::string raw = xml.substr(start, end - start);
    static const struct
    {
        const char* entity;
        char ch;
    } kEntities[] = {{"&quot;", '"'}, {"&apos;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
    std::string value;
    for (size_t i = 0; i < raw.size();)
    {
        bool replaced = false;
        for (const auto& e : kEntities)
        {
            size_t length = strlen(e.entity);
            if (raw.compare(i, length, e.entity) == 0)
            {
                value += e.ch;
                i += length;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            value += raw[i++];
    }
    return value;
}

std::string EscapeAttribute(const std::string& text)
{
    std::string escaped;
    for (char ch : text)
    {
        switch (ch)
        {
        case '&': escaped += "&amp;"; break;
        case '<': escaped += "&lt;"; break;
        case '>': escaped += "&gt;"; break;
        case '"': escaped += "&quot;"; break;
        default: escaped += ch; break;
        }
    }
    return escaped;
}
