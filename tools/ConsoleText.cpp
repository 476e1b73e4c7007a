#include "ConsoleText.h"

#include "sys/Utf8Text.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace
{
void Write(DWORD stream, const std::wstring& text)
{
    HANDLE out = ::GetStdHandle(stream);
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode))
    {
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text);
    ::WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring Format(const wchar_t* format, va_list arguments)
{
    std::vector<wchar_t> buffer(512);
    for (;;)
    {
        va_list copy;
        va_copy(copy, arguments);
        int length = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (length >= 0 && static_cast<size_t>(length) < buffer.size())
            return std::wstring(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 4);
        if (buffer.size() > (1u << 22))
            return std::wstring();
    }
}
} // namespace

extern "C" void QMPrint(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Write(STD_OUTPUT_HANDLE, Format(format, arguments));
    va_end(arguments);
}

extern "C" void QMPrintError(const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    Write(STD_ERROR_HANDLE, Format(format, arguments));
    va_end(arguments);
}

extern "C" void QMPrintUtf8Line(const char* indent, const char* text, size_t length)
{
    Write(STD_OUTPUT_HANDLE, FromUtf8(std::string(indent) + std::string(text, length)) + L"\n");
}
