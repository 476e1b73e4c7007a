#include "sys/SessionUser.h"

#include <windows.h>
#include <wtsapi32.h>

#include <memory>

namespace
{
struct WtsMemoryDeleter
{
    void operator()(wchar_t* p) const noexcept { ::WTSFreeMemory(p); }
};
} // namespace

std::wstring QuerySessionUserName()
{
    DWORD sessionId = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &sessionId))
        return std::wstring();

    wchar_t* raw = nullptr;
    DWORD bytes = 0;
    if (!::WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSUserName, &raw, &bytes) || raw == nullptr)
        return std::wstring();
    std::unique_ptr<wchar_t, WtsMemoryDeleter> owner(raw);

    // The buffer's byte count bounds the read even if the terminator is missing.
    size_t maxChars = bytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < maxChars && raw[length] != L'\0')
        ++length;
    return std::wstring(raw, length);
}
