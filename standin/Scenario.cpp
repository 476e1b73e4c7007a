#include "Scenario.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace
{
std::string Unescape(const std::string& value)
{
    std::string text;
    for (size_t i = 0; i < value.size(); ++i)
    {
        if (value[i] == '\\' && i + 1 < value.size())
        {
            char next = value[++i];
            text += next == 'n' ? '\n' : (next == 'r' ? '\r' : next);
            continue;
        }
        text += value[i];
    }
    return text;
}

std::string Narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t ch : text)
        result += static_cast<char>(ch < 0x80 ? ch : '?');
    return result;
}
} // namespace

CStandInScenario CStandInScenario::Load(const std::wstring& switchName)
{
    CStandInScenario scenario;
    std::wstring name = switchName;
    if (!name.empty() && name[0] == L'/')
        name.erase(0, 1);
    scenario.m_strSwitch = Narrow(name);

    wchar_t path[MAX_PATH * 2] = {};
    if (::GetEnvironmentVariableW(L"QM_STANDIN_SCENARIO", path, MAX_PATH * 2) == 0)
        return scenario;
    HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return scenario;
    std::string bytes;
    char block[4096];
    DWORD read = 0;
    while (::ReadFile(file, block, sizeof(block), &read, nullptr) && read > 0)
        bytes.append(block, read);
    ::CloseHandle(file);

    std::istringstream lines(bytes);
    std::string line;
    while (std::getline(lines, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        scenario.m_values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return scenario;
}

bool CStandInScenario::Has(const std::string& key) const
{
    return m_values.count(m_strSwitch + "." + key) != 0 || m_values.count(key) != 0;
}

std::string CStandInScenario::Get(const std::string& key, const std::string& fallback) const
{
    auto specific = m_values.find(m_strSwitch + "." + key);
    if (specific != m_values.end())
        return specific->second;
    auto plain = m_values.find(key);
    return plain != m_values.end() ? plain->second : fallback;
}

std::string CStandInScenario::GetText(const std::string& key) const
{
    return Unescape(Get(key));
}

long CStandInScenario::GetNumber(const std::string& key, long fallback) const
{
    std::string text = Get(key);
    return text.empty() ? fallback : std::strtol(text.c_str(), nullptr, 10);
}
