#pragma once
// Helpers shared by the benchmark programs: clocks and medians, files, and the updater
// registration that the module looks for.

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
bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
std::wstring FromUtf8(const std::string& text);
// Deletes the files matching pattern in folder (both "\\" form); returns how many went.
int DeleteMatching(const std::wstring& folder, const std::wstring& pattern);

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
