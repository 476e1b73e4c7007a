#pragma once
// What the stand-in updater does in one run, read from the file named by QM_STANDIN_SCENARIO.
//
// One "key=value" per line; "#" starts a comment line. A key may be given for one switch only
// by prefixing it with the switch name without its slash ("update_app.LaunchApp=N"); that
// entry wins over the plain key. Values are taken as written (Windows paths included); only
// GetText reads "\n" as a line feed, "\r" as a carriage return and "\\" as "\".

#include <map>
#include <string>

class CStandInScenario
{
public:
    // An empty scenario when the variable or the file is missing.
    static CStandInScenario Load(const std::wstring& switchName);

    bool Has(const std::string& key) const;
    std::string Get(const std::string& key, const std::string& fallback = std::string()) const;
    // The value with its escapes resolved, for document texts.
    std::string GetText(const std::string& key) const;
    long GetNumber(const std::string& key, long fallback) const;

private:
    std::map<std::string, std::string> m_values;
    std::string m_strSwitch;
};
