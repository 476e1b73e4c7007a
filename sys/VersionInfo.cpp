#include "sys/VersionInfo.h"

#include <windows.h>
#include <shlwapi.h>

#include <climits>
#include <vector>

namespace
{
constexpr const wchar_t* kModuleFileName = L"Pellorin.dll";
constexpr DWORD kEnglishUsWestern = 0x040904E4;

// The string at a version-information key, or false when the key is not there.
bool QueryVersionText(const std::vector<BYTE>& block, const std::wstring& key, std::wstring& text)
{
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(block.data(), key.c_str(), &value, &length) || value == nullptr)
        return false;
    const wchar_t* chars = static_cast<const wchar_t*>(value);
    text.assign(chars, wcsnlen(chars, length));
    return true;
}

bool IsSeparator(wchar_t ch)
{
    return ch == L'.' || ch == L'/' || ch == L':' || ch == L'-';
}

// The number formed by the digits at the start of text; saturates instead of overflowing.
int LeadingNumber(const std::wstring& text)
{
    long long value = 0;
    for (wchar_t ch : text)
    {
        if (ch < L'0' || ch > L'9')
            break;
        value = value * 10 + (ch - L'0');
        if (value > INT_MAX)
            return INT_MAX;
    }
    return static_cast<int>(value);
}

int Compare(int a, int b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}
} // namespace

std::wstring GetModuleFilePath()
{
    // Found by its file name: the module's resources and path belong to "Pellorin.dll".
    HMODULE module = ::GetModuleHandleW(kModuleFileName);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    return path;
}

std::wstring GetFileVersionString(const std::wstring& path)
{
    if (!::PathFileExistsW(path.c_str()) || ::PathIsDirectoryW(path.c_str()))
        return std::wstring();
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return std::wstring();
    std::vector<BYTE> block(size, 0);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return std::wstring();

    struct Translation
    {
        WORD m_nLanguage;
        WORD m_nCodePage;
    };
    void* table = nullptr;
    UINT tableBytes = 0;
    if (!::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &table, &tableBytes))
        return std::wstring();
    // An empty translation table names no table of its own: only the US English one is left.
    const Translation* first =
        table != nullptr && tableBytes >= sizeof(Translation) ? static_cast<const Translation*>(table) : nullptr;

    wchar_t key[64] = {};
    std::wstring raw;
    if (first != nullptr)
        swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", first->m_nLanguage, first->m_nCodePage);
    if (first == nullptr || !QueryVersionText(block, key, raw))
    {
        swprintf(key, 64, L"\\StringFileInfo\\%08x\\FileVersion", static_cast<unsigned>(kEnglishUsWestern));
        if (!QueryVersionText(block, key, raw))
            return std::wstring();
    }
    return NormalizeVersionString(raw);
}

std::wstring NormalizeVersionString(const std::wstring& raw)
{
    std::wstring text;
    for (wchar_t ch : raw)
    {
        if (ch >= L'0' && ch <= L'9')
            text += ch;
        else if (ch == L',' || ch == L'.')
            text += L'.';
    }
    if (!text.empty() && text[0] == L'.')
        text.erase(0, 1);
    return text;
}

QMVersion ParseVersion(const std::wstring& text)
{
    std::wstring components[4] = {L"0", L"0", L"0", L"0"};
    size_t current = 0;
    for (wchar_t ch : text)
    {
        if (IsSeparator(ch))
        {
            // Components after the fourth are not read.
            if (++current >= 4)
                break;
            continue;
        }
        components[current] += ch;
    }
    return QMVersion{LeadingNumber(components[0]), LeadingNumber(components[1]), LeadingNumber(components[2]),
                     LeadingNumber(components[3])};
}

int CompareVersions(const std::wstring& first, const std::wstring& second)
{
    QMVersion a = ParseVersion(first);
    QMVersion b = ParseVersion(second);
    if (int c = Compare(a.m_nMajor, b.m_nMajor))
        return c;
    if (int c = Compare(a.m_nMinor, b.m_nMinor))
        return c;
    if (int c = Compare(a.m_nBuild, b.m_nBuild))
        return c;
    return Compare(a.m_nRevision, b.m_nRevision);
}
