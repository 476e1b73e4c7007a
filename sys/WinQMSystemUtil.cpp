#include "sys/WinQMSystemUtil.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "sys/RegistryView.h"
#include "sys/SessionUser.h"
#include "sys/ThreadTable.h"

#include <windows.h>
#include <lm.h>
#include <process.h>

#include <memory>
#include <new>
#include <vector>

namespace
{
struct NetApiBufferDeleter
{
    void operator()(void* p) const noexcept { ::NetApiBufferFree(p); }
};

struct HeapBlockDeleter
{
    void operator()(void* p) const noexcept { ::HeapFree(::GetProcessHeap(), 0, p); }
};

constexpr const wchar_t* kInstVersionKeyPrefix = L"SOFTWARE\\Tavrin_Inc_ZL\\";
constexpr const wchar_t* kInstVersionValue = L"InstVersion_forUIW";
constexpr DWORD kInstVersionChars = 1040;
// Room for the Administrators SID (SECURITY_MAX_SID_SIZE).
constexpr SIZE_T kSidBytes = 68;

bool QueryVersion(OSVERSIONINFOEXW& info)
{
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    return ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != FALSE;
}

// Objects of the module's static storage rather than function statics made on first use: those
// take the runtime's thread-safe guard, whose lock stays behind when the module is unloaded,
// and the instances made with new stayed too. These are made as the module loads and go as it
// unloads, handles kept for threads that were never waited for included.
CQMThreadTable g_startedThreads;
CWinQMSystemUtil g_systemUtil;

CQMThreadTable& StartedThreads()
{
    return g_startedThreads;
}
} // namespace

CQMSystemUtil* GetSystemUtil()
{
    return &g_systemUtil;
}

bool CWinQMSystemUtil::GetOSVersionString(std::wstring& text)
{
    OSVERSIONINFOEXW info;
    if (QueryVersion(info))
        text += std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
    return true;
}

bool CWinQMSystemUtil::GetOSVersion(DWORD& major, DWORD& minor, DWORD& servicePackMajor)
{
    OSVERSIONINFOEXW info;
    if (!QueryVersion(info))
        return false;
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    servicePackMajor = info.wServicePackMajor;
    return true;
}

int CWinQMSystemUtil::GetServicePackMajor()
{
    OSVERSIONINFOEXW info;
    return QueryVersion(info) ? info.wServicePackMajor : -1;
}

std::wstring CWinQMSystemUtil::GetSystemLocaleID()
{
    return std::to_wstring(static_cast<unsigned long>(::GetSystemDefaultLCID()));
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

bool CWinQMSystemUtil::HasFreeDiskSpace(const ULONGLONG& requiredBytes, const std::wstring& folder)
{
    ULARGE_INTEGER available = {};
    if (!::GetDiskFreeSpaceExW(ToPlatformPath(folder).c_str(), &available, nullptr, nullptr))
        return false;
    return available.QuadPart > requiredBytes;
}

bool CWinQMSystemUtil::IsAdministratorsMember()
{
    std::unique_ptr<void, HeapBlockDeleter> sid(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, kSidBytes));
    if (!sid)
        return false;
    DWORD size = static_cast<DWORD>(kSidBytes);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid.get(), &size))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, sid.get(), &member))
        member = FALSE;
    return member == TRUE;
}

void CWinQMSystemUtil::Sleep(DWORD milliseconds)
{
    ::Sleep(milliseconds);
}

unsigned CWinQMSystemUtil::StartThread(unsigned(__stdcall* procedure)(void*), void* argument)
{
    unsigned threadId = 0;
    CQMKernelHandle thread(reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, procedure, argument, 0, &threadId)));
    if (!thread)
        return 0;
    try
    {
        StartedThreads().Add(threadId, std::move(thread));
    }
    catch (const std::bad_alloc&)
    {
        // Without a kept handle the wait falls back to the identifier.
    }
    return threadId;
}

void CWinQMSystemUtil::WaitForThread(unsigned threadId)
{
    if (threadId == 0)
        return;
    CQMKernelHandle thread = StartedThreads().Take(threadId);
    if (!thread)
        thread.Reset(::OpenThread(0x1F03FF, FALSE, threadId));
    if (thread)
        ::WaitForSingleObject(thread.Get(), INFINITE);
}

BOOL CWinQMSystemUtil::RebootSystem()
{
    HANDLE rawToken = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &rawToken))
    {
        CQMKernelHandle token(rawToken);
        TOKEN_PRIVILEGES privileges = {};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        ::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
        ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
    return ::ExitWindowsEx(EWX_REBOOT, 0);
}

std::wstring CWinQMSystemUtil::GetInstVersionForUI(const std::wstring& subKey)
{
    CQMRegKey key;
    std::wstring path = std::wstring(kInstVersionKeyPrefix) + subKey;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WRITE | kServiceRegistryView,
                        key.Put()) != ERROR_SUCCESS)
        return std::wstring();

    std::vector<wchar_t> buffer(kInstVersionChars + 1, L'\0'); // one spare unit keeps the text terminated
    DWORD type = 0;
    DWORD bytes = kInstVersionChars * sizeof(wchar_t);
    if (::RegQueryValueExW(key.Get(), kInstVersionValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                           &bytes) != ERROR_SUCCESS)
        return std::wstring();
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::wstring();
    if (bytes % sizeof(wchar_t) != 0)
        return std::wstring();
    size_t chars = bytes / sizeof(wchar_t);
    if (chars != 0 && buffer[chars - 1] != L'\0')
        return std::wstring();
    return std::wstring(buffer.data());
}

std::wstring CWinQMSystemUtil::GetCurrentUserName()
{
    wchar_t name[260] = {};
    DWORD size = 260;
    if (!::GetUserNameW(name, &size))
        return std::wstring();
    return std::wstring(name);
}
