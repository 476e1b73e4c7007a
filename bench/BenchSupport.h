#pragma once
// Helpers shared by the benchmark programs: clocks and medians, files, and the updater
// registration that the module looks for.

#include "sys/Utf8Text.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

double NowSeconds();
double Median(std::vector<double> times);
// The median duration of measured over runs calls, in seconds.
double MedianOf(int runs, const std::function<void()>& measured);
// The folder of this program, "\\" form with a trailing separator.
std::wstring ExeFolder();
// The path with "\\" separators.
std::wstring Backslashed(std::wstring path);
// "C0001", "C0002", ...: the ID of the component at index.
std::string BenchComponentId(int index);
// An action list of that many components with those IDs.
std::string BenchActionListText(int components);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
// Deletes the files matching pattern in folder (both "\\" form); returns how many went.
int DeleteMatching(const std::wstring& folder, const std::wstring& pattern);

// The variable through which the stand-in updater finds its scenario file.
constexpr const wchar_t kStandInScenarioVariable[] = L"QM_STANDIN_SCENARIO";
// A new folder "<temp>\\<stem>_<process id>", "\\" form; the caller removes it.
std::wstring CreateBenchFolder(const std::wstring& stem);
// The stand-in updater beside this program, "\\" form.
std::wstring StandInPath();
// The work folder in which the module leaves its request documents, "\\" form.
std::wstring StandInWorkFolder();
// Pellorin.dll beside this program, loaded as a host loads it; null when it cannot be.
HMODULE LoadPellorin();
// An export of the module as the host's function type; null when missing.
template <class PFN>
PFN ModuleExport(HMODULE module, const char* name)
{
    return module != nullptr ? reinterpret_cast<PFN>(reinterpret_cast<void*>(::GetProcAddress(module, name)))
                             : nullptr;
}

// The updater registration the module looks for, put back as it was at the end.
class CRegistration
{
public:
    explicit CRegistration(const std::wstring& exePath);
    ~CRegistration();
    CRegistration(const CRegistration&) = delete;
    CRegistration& operator=(const CRegistration&) = delete;
    bool IsSet() const { return m_bSet; }

private:
    static bool Set(const std::wstring& path);

    bool m_bKeyExisted = false;
    bool m_bValueExisted = false;
    bool m_bSet = false;
    std::wstring m_strPrevious;
};

// The module loaded as a host loads it, with the stand-in registered as the updater and
// reading its scenario from scenarioPath; all of it undone at the end.
class CStandInHost
{
public:
    explicit CStandInHost(const std::wstring& scenarioPath);
    ~CStandInHost();
    CStandInHost(const CStandInHost&) = delete;
    CStandInHost& operator=(const CStandInHost&) = delete;
    bool IsRegistered() const { return m_registration.IsSet(); }
    HMODULE Module() const { return m_hModule; }

private:
    CRegistration m_registration;
    HMODULE m_hModule = nullptr;
};
