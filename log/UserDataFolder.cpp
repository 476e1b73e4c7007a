#include "log/UserDataFolder.h"

#include "sys/PathUtil.h"
#include "sys/QMSystemUtil.h"
#include "sys/SessionUser.h"

#include <windows.h>
#include <shlobj.h>

namespace
{
bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

wchar_t FoldAsciiCase(wchar_t ch)
{
    return (ch >= L'A' && ch <= L'Z') ? static_cast<wchar_t>(ch - L'A' + L'a') : ch;
}

bool EqualIgnoringAsciiCase(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i]))
            return false;
    }
    return true;
}
} // namespace

std::wstring ReplaceUserInPath(const std::wstring& path, const std::wstring& processUser,
                               const std::wstring& sessionUser)
{
    if (processUser.empty())
        return path;
    std::wstring result;
    size_t start = 0;
    while (start <= path.size())
    {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        std::wstring element = path.substr(start, end - start);
        result += (element == processUser) ? sessionUser : element;
        if (end < path.size())
            result += path[end];
        start = end + 1;
    }
    return result;
}

std::wstring RedirectToSessionUser(const std::wstring& appData, bool sessionUserIsAdmin,
                                   const std::wstring& sessionUser, const std::wstring& processUser)
{
    if (sessionUserIsAdmin || sessionUser.empty() || processUser.empty())
        return appData;
    if (EqualIgnoringAsciiCase(processUser, sessionUser))
        return appData;
    return ReplaceUserInPath(appData, processUser, sessionUser);
}

bool GetUserDataFolder(std::wstring& path)
{
    path.clear();
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        return false;

    // Every record resolves the folder, so the account database, the costly query, is asked
    // only when the two names differ: equal names need no rewrite whatever the rights.
    CQMSystemUtil* util = GetSystemUtil();
    std::wstring sessionUser = QuerySessionUserName();
    std::wstring processUser = sessionUser.empty() ? std::wstring() : util->GetCurrentUserName();
    bool namesDiffer = !sessionUser.empty() && !processUser.empty() && !EqualIgnoringAsciiCase(processUser, sessionUser);
    bool isAdmin = namesDiffer && util->IsSessionUserAdmin();
    path = RedirectToSessionUser(buffer, isAdmin, sessionUser, processUser);
    ReplaceChar(path, L'\\', L'/');
    return true;
}
