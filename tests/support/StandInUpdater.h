#pragma once
// The stand-in updater registered as the service's updater for one test, with its
// scenario file and a folder where it records every run it makes.

#include "support/RegistryForTest.h"
#include "support/TempFolder.h"

#include <map>
#include <string>
#include <vector>

struct StandInRun
{
    std::wstring m_strCommandLine;
    std::vector<std::wstring> m_vecArguments; // argv[1..]
    std::string m_strRequest;                 // the request document's bytes; empty when none existed
};

class CStandInUpdater
{
public:
    // Registers VestabelStandIn.exe from the test program's folder; scenario lines as "key=value".
    explicit CStandInUpdater(const std::vector<std::string>& scenario = {});
    ~CStandInUpdater();

    void SetScenario(const std::vector<std::string>& scenario);
    std::vector<StandInRun> Runs() const;
    std::wstring ExePath() const;

    // The module's work folder for requests, emptied at construction ("/" form).
    static std::wstring WorkFolder();

    // Another process holds the named mutex for the given time; returns once it does.
    // The process is ended when this object goes.
    bool HoldMutexElsewhere(const std::wstring& name, unsigned milliseconds);
    // Runs of the stand-in and its helpers in any process: ended at once, or waited for.
    static void EndAllRuns();
    static bool WaitUntilNoneRuns(unsigned milliseconds);
    // True once no process has the named mutex open, within the time (0: now).
    static bool WaitUntilMutexGone(const std::wstring& name, unsigned milliseconds);

    // The events of a component-update run ("record 1 cancels 0", "finish 2 cancels 1").
    std::string Events(int run) const;

private:
    std::vector<HANDLE> m_vecHolders;
    CVestabelRegistration m_registration;
    CTempFolder m_folder;
};

// The stand-in's folder copy of an attribute value from a request document ("" when absent).
std::string RequestAttribute(const std::string& request, const std::string& name);
