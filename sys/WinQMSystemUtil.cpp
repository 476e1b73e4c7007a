#include "sys/WinQMSystemUtil.h"

#include "sys/SessionUser.h"

#include <windows.h>
#include <lm.h>

#include <memory>

namespace
{
struct NetApiBufferDeleter
{
    void operator()(void* p) const noexcept { ::NetApiBufferFree(p); }
};
} // namespace

CQMSystemUtil* GetSystemUtil()
{
    // Never deleted: the instance lives until the module is unloaded.
    static CQMSystemUtil* s_pInstance = new CWinQMSystemUtil();
    return s_pInstance;
}

bool CWinQMSystemUtil::IsSessionUserAdmin()
{
    std::wstring sessionUser = QuerySessionUserName();
    if (sessionUser.empty())
        return false;

    LPBYTE raw = nullptr;
    NET_API_STATUS status = ::NetUserGetInfo(nullptr, sessionUser.c_str(), 1, &raw);
    std::unique_ptr<void, NetApiBufferDeleter> owner(raw);
    if (status != NERR_Success || raw == nullptr)
        return false;
    // Accounts unknown to the local database (domain accounts) fail above and count as not admin.
    return reinterpret_cast<const USER_INFO_1*>(raw)->usri1_priv == USER_PRIV_ADMIN;
}

std::wstring CWinQMSystemUtil::GetCurrentUserName()
{
    wchar_t name[260] = {};
    DWORD size = 260;
    if (!::GetUserNameW(name, &size))
        return std::wstring();
    return std::wstring(name);
}
