#include "log/LogFields.h"

#include <cwchar>

namespace
{
bool NeedsQuoting(const std::wstring& field)
{
    return field.find_first_of(L"\n\r\",") != std::wstring::npos;
}
} // namespace

std::wstring JoinLogFields(const std::vector<std::wstring>& fields)
{
    std::wstring message;
    for (size_t i = 0; i < fields.size(); ++i)
    {
        if (i != 0)
            message += L',';
        const std::wstring& field = fields[i];
        if (!NeedsQuoting(field))
        {
            message += field;
            continue;
        }
        message += L'"';
        for (wchar_t ch : field)
        {
            if (ch == L'"')
                message += L'"';
            message += ch;
        }
        message += L'"';
    }
    return message;
}

std::wstring FormatLogTimestamp(const SYSTEMTIME& time)
{
    wchar_t text[64] = {};
    swprintf(text, 64, L"%04d-%02d-%02d-%02d-%02d-%02d-%03d", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond, time.wMilliseconds);
    return text;
}

std::wstring BuildLogRecord(const SYSTEMTIME& time, const std::wstring& source,
                            const std::wstring& tag, const std::wstring& message)
{
    std::wstring line = FormatLogTimestamp(time);
    line += L',';
    line += source;
    line += L',';
    if (!tag.empty())
    {
        line += tag;
        line += L',';
    }
    line += message;
    return line;
}

std::wstring FormatArchiveStamp(const SYSTEMTIME& time)
{
    wchar_t text[64] = {};
    swprintf(text, 64, L"%04d%02d%02d%02d%02d%02d", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    return text;
}
