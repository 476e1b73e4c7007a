#include "sys/SystemError.h"

#include <cwctype>
#include <memory>

namespace
{
struct QMLocalFree
{
    void operator()(wchar_t* text) const { ::LocalFree(text); }
};
} // namespace

std::wstring DescribeSystemError(DWORD error)
{
    std::wstring description = L"error " + std::to_wstring(error);
    wchar_t* text = nullptr;
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::unique_ptr<wchar_t, QMLocalFree> owned(text);
    if (length == 0 || text == nullptr)
        return description;
    std::wstring words(text, length);
    // The system's texts end with a line break.
    while (!words.empty() && std::iswspace(words.back()))
        words.pop_back();
    return words.empty() ? description : description + L": " + words;
}
