#include "tools/RegisteredPathFix.h"

#include "bridge/VestabelLocation.h"

#include <vector>

namespace
{
// What the platform would make of the variables in text (the module makes nothing of them).
std::wstring ExpandVariables(const std::wstring& text)
{
    std::vector<wchar_t> expanded(32768);
    DWORD length = ::ExpandEnvironmentStringsW(text.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    return length == 0 || length > expanded.size() ? text : std::wstring(expanded.data());
}
} // namespace

QMRegisteredPathFix FindRegisteredPathFix(const std::wstring& text, DWORD type)
{
    QMRegisteredPathFix fix;
    if (VestabelExeUsable(text))
        return fix;
    std::wstring meant = text;
    if (meant.size() >= 2 && meant.front() == L'"' && meant.back() == L'"')
    {
        meant = meant.substr(1, meant.size() - 2);
        fix.m_bQuoted = true;
    }
    if (type == REG_EXPAND_SZ)
    {
        std::wstring expanded = ExpandVariables(meant);
        fix.m_bExpanded = expanded != meant;
        meant = expanded;
    }
    if (!(fix.m_bQuoted || fix.m_bExpanded) || !VestabelExeUsable(meant))
        return QMRegisteredPathFix();
    fix.m_strPath = meant;
    return fix;
}
