#include "BenchSupport.h"

#include <algorithm>
#include <cstdio>

namespace
{
const wchar_t kInstallKey[] = L"SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service Shared\\Install";
const wchar_t kPathValue[] = L"Vestabel exe path";
// The 32-bit service registers in the 32-bit view, and the module of either architecture reads it.
constexpr REGSAM kServiceView = KEY_WOW64_32KEY;
} // namespace

std::wstring Backslashed(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

double NowSeconds()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> times)
{
    if (times.empty())
        return 0;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double MedianOf(int runs, const std::function<void()>& measured)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        double start = NowSeconds();
        measured();
        times.push_back(NowSeconds() - start);
    }
    return Median(times);
}

std::wstring ExeFolder()
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.erase(path.rfind(L'\\') + 1);
}

std::wstring CreateBenchFolder(const std::wstring& stem)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + stem + L"_" + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring StandInPath()
{
    return ExeFolder() + L"VestabelStandIn.exe";
}

std::wstring StandInWorkFolder()
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"Tavrin_Inc_ZL\\Vestabel";
}

HMODULE LoadPellorin()
{
    return ::LoadLibraryW((ExeFolder() + L"Pellorin.dll").c_str());
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = ::CreateFileW(Backslashed(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
              written == bytes.size();
    ::CloseHandle(file);
    return ok;
}

std::string ReadBytes(const std::wstring& path)
{
    HANDLE file = ::CreateFileW(Backslashed(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    ::CloseHandle(file);
    return bytes;
}

int DeleteMatching(const std::wstring& folder, const std::wstring& pattern)
{
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    int deleted = 0;
    do
    {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            ::DeleteFileW((folder + L"\\" + found.cFileName).c_str()))
            ++deleted;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return deleted;
}

CRegistration::CRegistration(const std::wstring& exePath)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ | kServiceView, &key) == ERROR_SUCCESS)
    {
        m_bKeyExisted = true;
        wchar_t previous[MAX_PATH * 2] = {};
        DWORD bytes = sizeof(previous) - sizeof(wchar_t);
        DWORD type = 0;
        if (::RegQueryValueExW(key, kPathValue, nullptr, &type, reinterpret_cast<BYTE*>(previous), &bytes) ==
                ERROR_SUCCESS &&
            type == REG_SZ)
        {
            m_bValueExisted = true;
            m_strPrevious = previous;
        }
        ::RegCloseKey(key);
    }
    m_bSet = Set(exePath);
}


CRegistration::~CRegistration()
{
    if (m_bValueExisted)
    {
        Set(m_strPrevious);
        return;
    }
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_SET_VALUE | kServiceView, &key) == ERROR_SUCCESS)
    {
        ::RegDeleteValueW(key, kPathValue);
        ::RegCloseKey(key);
    }
    if (!m_bKeyExisted)
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, kServiceView, 0);
}


bool CRegistration::Set(const std::wstring& path)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, 0, KEY_SET_VALUE | kServiceView, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return false;
    LONG rc = ::RegSetValueExW(key, kPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                               static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}


CStandInHost::CStandInHost(const std::wstring& scenarioPath) : m_registration(StandInPath())
{
    ::SetEnvironmentVariableW(kStandInScenarioVariable, scenarioPath.c_str());
    m_hModule = LoadPellorin();
}

CStandInHost::~CStandInHost()
{
    if (m_hModule != nullptr)
        ::FreeLibrary(m_hModule);
    ::SetEnvironmentVariableW(kStandInScenarioVariable, nullptr);
}

std::string BenchComponentId(int index)
{
    char id[16];
    snprintf(id, sizeof(id), "C%04d", index + 1);
    return id;
}

std::string BenchActionListText(int components)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                       "<ActionList ParentAppName=\"Bench\" ComponentType=\"plugin\">\r\n";
    for (int i = 0; i < components; ++i)
        text += "     <Component ID=\"" + BenchComponentId(i) +
                "\" Action=\"update\" Path=\"p\" Version=\"1\" Result=\"\"/>\r\n";
    return text + "</ActionList>\r\n";
}
