#include "api/ActionListClaim.h"

#include "sys/PathUtil.h"
#include "sys/SlimLock.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace
{
CQMSlimLock g_claimsLock;
std::vector<std::wstring> g_claims;

// One spelling per file: full, "\" separators, the file system's case-insensitive comparison.
std::wstring ClaimKey(const std::wstring& path)
{
    std::wstring key = GetFullPlatformPath(path);
    if (key.empty())
        key = path;
    ::CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
    return key;
}
} // namespace

CQMActionListClaim::CQMActionListClaim(const std::wstring& path) : m_strKey(ClaimKey(path))
{
    CQMSlimLockGuard lock(g_claimsLock);
    if (std::find(g_claims.begin(), g_claims.end(), m_strKey) == g_claims.end())
    {
        g_claims.push_back(m_strKey);
        m_bClaimed = true;
    }
}

CQMActionListClaim::~CQMActionListClaim()
{
    if (!m_bClaimed)
        return;
    CQMSlimLockGuard lock(g_claimsLock);
    g_claims.erase(std::find(g_claims.begin(), g_claims.end(), m_strKey));
}
