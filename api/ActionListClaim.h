#pragma once
// The action lists that component updates of this process are working on, from their rewrite to
// their last save. The updater reads such a list while it runs: another call on the same list (a
// host's message handler calling in while the module pumps its messages, or another thread)
// must not rewrite it or mark it busy under the running call.

#include <string>

class CQMActionListClaim
{
public:
    // Claims the list at path ("/" or "\", as the call resolved it) unless a running call has.
    explicit CQMActionListClaim(const std::wstring& path);
    ~CQMActionListClaim();
    CQMActionListClaim(const CQMActionListClaim&) = delete;
    CQMActionListClaim& operator=(const CQMActionListClaim&) = delete;

    // False: another running call of this process works on the list.
    bool Claimed() const { return m_bClaimed; }

private:
    std::wstring m_strKey;
    bool m_bClaimed = false;
};
