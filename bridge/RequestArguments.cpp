#include "bridge/RequestArguments.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"

namespace
{
constexpr const wchar_t* kRefuseTag = L"REFUSE_ARG";

bool IsHighSurrogate(wchar_t ch)
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t ch)
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}
} // namespace

bool CanCarryInXML(const std::wstring& text)
{
    for (size_t i = 0; i < text.size(); ++i)
    {
        wchar_t ch = text[i];
        if (ch < 0x20 && ch != L'\t' && ch != L'\n' && ch != L'\r')
            return false;
        if (ch == 0xFFFE || ch == 0xFFFF || IsLowSurrogate(ch))
            return false;
        if (IsHighSurrogate(ch))
        {
            if (i + 1 >= text.size() || !IsLowSurrogate(text[i + 1]))
                return false;
            ++i;
        }
    }
    return true;
}

bool AcceptHostStrings(const wchar_t* logName, const std::vector<std::wstring>& strings)
{
    for (const std::wstring& text : strings)
    {
        if (!CanCarryInXML(text))
        {
            WriteServiceLog(kServiceLogSource, kRefuseTag, JoinLogFields({logName, L"not XML text"}));
            return false;
        }
    }
    return true;
}

void LogRequestPathTooLong(const wchar_t* logName)
{
    WriteServiceLog(kServiceLogSource, kRefuseTag, JoinLogFields({logName, L"path too long"}));
}
