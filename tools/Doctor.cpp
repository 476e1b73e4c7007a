#include "tools/Doctor.h"

#include "sys/SystemError.h"
#include "tools/ConsoleText.h"

#include "actionlist/ActionListCheck.h"
#include "actionlist/ActionListUpdate.h"
#include "api/Pellorin.h"
#include "api/SupportProbe.h"
#include "bridge/VestabelLocation.h"
#include "bridge/WorkFolder.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "log/UserDataFolder.h"
#include "sys/ComHandle.h"
#include "sys/PathUtil.h"
#include "sys/VersionInfo.h"
#include "tools/DoctorProbes.h"
#include "tools/RegisteredPathFix.h"
#include "ui/MutexProbe.h"
#include "ui/ProgressWindow.h"
#include "protocol/QMProgressData.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{
constexpr size_t kLastRecordCount = 10;
constexpr size_t kVerdictWidth = 9;
constexpr size_t kSubjectWidth = 13;
// Modules of both widths read the updater's registration where its 32-bit installer wrote it.
constexpr const wchar_t* kRegistryView = L"the 32-bit registry view";

void WriteText(const std::wstring& text)
{
    QMPrint(L"%ls", text.c_str());
}

std::wstring Padded(std::wstring text, size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), L' ');
    return text;
}

class CDoctorReport
{
public:
    void Ok(const std::wstring& subject, const std::wstring& finding) { WriteLine(L"ok", subject, finding); }

    void Problem(const std::wstring& subject, const std::wstring& finding, const std::wstring& remedy)
    {
        ++m_nProblems;
        WriteLine(L"problem", subject, finding);
        WriteText(std::wstring(kVerdictWidth + kSubjectWidth, L' ') + L"what to do: " + remedy + L"\r\n");
    }

    int Problems() const { return m_nProblems; }

private:
    static void WriteLine(const wchar_t* verdict, const std::wstring& subject, const std::wstring& finding)
    {
        WriteText(Padded(verdict, kVerdictWidth) + Padded(subject, kSubjectWidth) + finding + L"\r\n");
    }

    int m_nProblems = 0;
};

// The gate of SupportComponentsManagement: the same version text and comparison.
void CheckVersionGate(CDoctorReport& report, const std::wstring& updaterPath)
{
    std::wstring version = GetFileVersionString(updaterPath);
    std::wstring shown = version.empty() ? L"unreadable, taken as 0.0.0.0," : version + L",";
    std::wstring required = kRequiredVestabelVersion;
    if (CompareVersions(version, required) < 0)
        report.Problem(L"version",
                       shown + L" older than " + required + L": SupportComponentsManagement answers " +
                           std::to_wstring(QM_MANAGEMENT_UPDATER_TOO_OLD),
                       L"update the update service to version " + required + L" or later");
    else
        report.Ok(L"version", shown + L" at least " + required + L": SupportComponentsManagement answers " +
                                  std::to_wstring(QM_MANAGEMENT_SUPPORTED));
}

void CheckUpdater(CDoctorReport& report)
{
    std::wstring path = GetVestabelExePath();
    const std::wstring registered = L"registered in " + std::wstring(kRegistryView);
    if (path.empty())
    {
        report.Problem(L"updater",
                       L"not " + registered + L" (HKLM\\" + kVestabelInstallKey + L", value \"" +
                           kVestabelPathValue + L"\"): every operation answers not supported",
                       L"install the update service, or register its updater: qmhost register <updaterPath>");
        return;
    }
    if (VestabelExeUsable(path))
    {
        // A file that is there but no program: every start fails, and no version can be judged.
        if (ProbeProgramFile(path) == ERROR_BAD_EXE_FORMAT)
        {
            report.Problem(L"updater",
                           registered + L": " + path + L", but that file is not a program: every call fails to start "
                                                        L"it (" + DescribeSystemError(ERROR_BAD_EXE_FORMAT) + L")",
                           L"repair or reinstall the update service, whose registration names a file that is not "
                           L"its updater");
            return;
        }
        report.Ok(L"updater", registered + L": " + path);
        CheckVersionGate(report, path);
        return;
    }
    // Without the file there is no version to judge: the one thing to do is the file's.
    QMRegisteredPathFix fix = FindRegisteredPathFix(path, ReadUpdaterRegistrationType());
    if (fix.m_strPath.empty())
    {
        report.Problem(L"updater", registered + L", but no file at " + path,
                       L"repair or reinstall the update service, whose registration names a file that is gone");
        return;
    }
    std::wstring as = fix.m_bExpanded ? L" as REG_EXPAND_SZ " : L" as ";
    report.Problem(L"updater",
                   registered + as + path + (fix.m_bQuoted ? L" in quotes" : L"") +
                       L"; the module takes the text as it stands" + (fix.m_bQuoted ? L", quotes and all" : L"") +
                       (fix.m_bExpanded ? (fix.m_bQuoted ? L", and expands no variables" : L" and expands no variables")
                                        : L"") +
                       L", so it finds no file there, although " + fix.m_strPath + L" exists",
                   std::wstring(L"store ") + (fix.m_bExpanded ? L"the expanded path as a string value" : L"the path") +
                       (fix.m_bQuoted ? L" without quotes" : L"") + L": qmhost register --repair \"" +
                       fix.m_strPath + L"\" (it stays the machine's own registration, which qmhost unregister "
                                       L"leaves as it is)");
}

void CheckWorkFolder(CDoctorReport& report)
{
    // The module's own lookup, which creates the folder as every request does.
    std::wstring folder = ToPlatformPath(GetVestabelWorkFolder());
    DWORD error = ProbeFolderWritable(folder);
    if (error != ERROR_SUCCESS)
    {
        report.Problem(L"work folder", folder + L" is not writable (" + DescribeSystemError(error) + L")",
                       L"give this user full control of the folder, or remove the file that is in its way; "
                       L"no request reaches the updater until then");
        return;
    }
    std::vector<std::wstring> documents = ListFiles(folder, L"*.xml");
    auto results = std::count_if(documents.begin(), documents.end(),
                                 [](const std::wstring& name) { return name.compare(0, 7, L"RESULT_") == 0; });
    report.Ok(L"work folder", folder + L" writable; " + std::to_wstring(documents.size() - results) + L" request and " +
                                  std::to_wstring(results) + L" result documents left");
}

// The log folder as the module's next record finds it: created when missing, the current
// file opened for appending without a record being written.
void CheckLogFolder(CDoctorReport& report)
{
    std::wstring base;
    if (!GetUserDataFolder(base))
    {
        report.Problem(L"log folder",
                       L"the user's application-data folder is unknown, so records go below the host's "
                       L"current folder",
                       L"repair the user's profile (its AppData shell folder)");
        return;
    }
    const std::wstring lost = L"; every record is lost until then";
    std::wstring folder = ToPlatformPath(GetServiceLogFolder());
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        CreateFolderPath(folder);
        attributes = ::GetFileAttributesW(folder.c_str());
    }
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        report.Problem(L"log folder",
                       folder + L" cannot be created (a file is in its way or the parent is not writable)",
                       L"remove what is in its way" + lost);
        return;
    }

    std::wstring current = folder + L"\\" + kServiceLogCurrentFile;
    attributes = ::GetFileAttributesW(current.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        report.Problem(L"log folder", current + L" is a folder, not the current log file",
                       L"remove that folder" + lost);
        return;
    }
    bool hasCurrent = attributes != INVALID_FILE_ATTRIBUTES;
    DWORD error = hasCurrent ? ProbeFileAppendable(current) : ProbeFolderWritable(folder);
    if (error != ERROR_SUCCESS)
    {
        report.Problem(L"log folder", (hasCurrent ? current : folder) + L" is not writable (" + DescribeSystemError(error) + L")",
                       L"close the program that locks it, or give this user write access" + lost);
        return;
    }
    size_t files = ListFiles(folder, std::wstring(kServiceLogPrefix) + L"*.txt").size();
    report.Ok(L"log folder", folder +
                                 (hasCurrent ? L"; current file writable; " : L"; no current file, folder writable; ") +
                                 std::to_wstring(files) + L" log files");
}

std::wstring DescribeHolders(const std::vector<QMProcessInfo>& processes)
{
    std::wstring text;
    for (const QMProcessInfo& process : processes)
    {
        if (!text.empty())
            text += L", ";
        text += L"process " + std::to_wstring(process.m_nId) + L" (" +
                (process.m_strImage.empty() ? L"image unknown" : process.m_strImage) + L")";
    }
    return text;
}

// Where the system cannot say who has a mutex open, a handle viewer run elevated can.
std::wstring HowToFindHolder(const wchar_t* name)
{
    return std::wstring(L"; to find the holder, search the open handles for ") + name +
           L" with a handle viewer run elevated (Process Explorer's Find Handle, or handle.exe -a " + name + L")";
}

void CheckMutexes(CDoctorReport& report)
{
    if (!IsMutexHeld(kBusyMutexName))
        report.Ok(L"busy mutex", std::wstring(kBusyMutexName) + L" free");
    else
    {
        // The processes that have it open, where the system tells; else the owner of a progress
        // window, which a launch check or component update makes.
        QMMutexHolders holders = FindMutexHolders(kBusyMutexName);
        std::vector<QMProcessInfo> owners = FindMessageWindowOwners(kProgressWindowClass);
        std::wstring finding = std::wstring(kBusyMutexName) + L" held";
        if (holders.m_bKnown && !holders.m_vecProcesses.empty())
            finding += L" by " + DescribeHolders(holders.m_vecProcesses);
        else if (!owners.empty())
            finding += L" by " + DescribeHolders(owners);
        else
            finding += L" by a process without a progress window, which the system does not name here" +
                       HowToFindHolder(kBusyMutexName);
        report.Problem(L"busy mutex", finding,
                       L"a launch check or component update is running: let it finish; if it hangs, end that "
                       L"process (every launch check shows the busy message until then)");
    }

    if (!IsMutexHeld(kVestabelUIMutexName))
    {
        report.Ok(L"UI mutex", std::wstring(kVestabelUIMutexName) + L" free");
        return;
    }
    // The updater's side holds it, and nothing names the holder: the running processes of the
    // registered updater's image are the likely ones.
    QMMutexHolders holders = FindMutexHolders(kVestabelUIMutexName);
    std::wstring updater = GetVestabelExePath();
    std::vector<QMProcessInfo> candidates;
    if (!updater.empty())
        candidates = FindProcessesOfImage(updater);
    std::wstring finding = std::wstring(kVestabelUIMutexName);
    if (holders.m_bKnown && !holders.m_vecProcesses.empty())
        finding += L" held by " + DescribeHolders(holders.m_vecProcesses);
    else if (!candidates.empty())
        finding += L" held, likely by " + DescribeHolders(candidates);
    else
        finding += L" held by a process the system does not name here" + HowToFindHolder(kVestabelUIMutexName);
    report.Problem(L"UI mutex", finding,
                   L"the updater is still busy: let it finish; if it hangs, end the updater's process");
}

void PrintLastRecords()
{
    std::wstring folder = ToPlatformPath(GetServiceLogFolder());
    std::vector<std::wstring> paths;
    // Stamped archives sort before the current file ("t" after the digits): oldest first.
    for (const std::wstring& name : ListFiles(folder, std::wstring(kServiceLogPrefix) + L"*.txt"))
        paths.push_back(folder + L"\\" + name);
    std::vector<std::wstring> lines = ReadLastLines(paths, kLastRecordCount);
    if (lines.empty())
    {
        WriteText(L"\r\nThe service log holds no records.\r\n");
        return;
    }
    WriteText(L"\r\nLast records of the service log:\r\n");
    for (const std::wstring& line : lines)
        WriteText(L"  " + line + L"\r\n");
}
} // namespace

namespace
{
// The doctor's verdict on a list: the call's own steps, on a copy.
struct QMListTrial
{
    bool m_bAccepted = false;
    std::wstring m_strWhy;
    DWORD m_nSystemError = ERROR_SUCCESS;
    // What to do about m_strWhy, where the steps found the cause.
    std::wstring m_strRemedy;
    bool m_bFolder = false; // the path names a folder
    // The list's folder takes no file: whatever the list holds, that is the reason.
    bool m_bFolderRefuses = false;
    // The list's folder takes no file, but the list is there and written in place: the folder.
    std::wstring m_strInPlaceFolder;
    DWORD m_nFolderError = ERROR_SUCCESS;
};

// A copy of the host's list beside it, gone with this object; the host's file is only read.
class CListCopy
{
public:
    explicit CListCopy(const std::wstring& list) : m_strPath(list + L".~qmdoctor") { Remove(); }
    ~CListCopy() { Remove(); }
    CListCopy(const CListCopy&) = delete;
    CListCopy& operator=(const CListCopy&) = delete;

    const std::wstring& Path() const { return m_strPath; }

private:
    void Remove()
    {
        std::wstring platform = ToPlatformPath(m_strPath);
        // A copy keeps the list's read-only attribute.
        ::SetFileAttributesW(platform.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(platform.c_str());
    }

    std::wstring m_strPath;
};

// Runs what UpdateComponents does with the list before it starts the updater (its rewrite with
// the component type, then the load into the progress window's model) on a copy in the list's
// folder, so that the folder, the file's attributes and the module's own code all take part.
QMListTrial TryTheCallsSteps(const std::wstring& list, const std::wstring& componentType)
{
    QMListTrial trial;
    std::wstring platform = ToPlatformPath(list);
    DWORD attributes = ::GetFileAttributesW(platform.c_str());
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    bool file = exists && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    trial.m_bFolder = exists && !file;
    // In the words of the call's reason record after its save is refused.
    QMListWriteRefusal refusal = CheckListWriteRefusal(list);
    if (refusal.m_eKind != QMListWriteRefusal::QM_WRITABLE)
    {
        trial.m_strWhy = refusal.m_strReason;
        trial.m_nSystemError = refusal.m_nSystemError;
        if (refusal.m_eKind == QMListWriteRefusal::QM_READ_ONLY)
            trial.m_strRemedy =
                L"clear the list's read-only attribute: the call writes the component type and every result into it";
        else if (refusal.m_eKind == QMListWriteRefusal::QM_HELD)
            trial.m_strRemedy = L"close the program that holds the list, or have it share writing";
        else
            trial.m_strRemedy = L"give this user write access to the list";
        return trial;
    }
    // Every save of the list writes a temporary file beside it and renames it into place; where
    // the folder takes none, a list that is there is written in place, behind a redo copy in the
    // module's own folder, and the copy of this trial goes there too.
    std::wstring copyFolder = GetParentFolder(list);
    DWORD error = ProbeFolderWritable(ToPlatformPath(copyFolder));
    if (error != ERROR_SUCCESS && !file)
    {
        trial.m_strWhy = L"the action list's folder takes no new file, so the list cannot be written";
        trial.m_nSystemError = error;
        trial.m_bFolderRefuses = true;
        trial.m_strRemedy = L"write the list before the call, or give this user the right to create files in " +
                            ToPlatformPath(GetParentFolder(list));
        return trial;
    }
    if (error != ERROR_SUCCESS)
    {
        trial.m_strInPlaceFolder = ToPlatformPath(copyFolder);
        trial.m_nFolderError = error;
        copyFolder = GetActionListRedoFolder();
    }
    CListCopy copy(JoinPath(copyFolder, list.substr(list.find_last_of(L"/\\") + 1)));
    if (exists && !::CopyFileW(platform.c_str(), ToPlatformPath(copy.Path()).c_str(), FALSE))
    {
        trial.m_strWhy = L"the action list cannot be copied beside itself";
        trial.m_nSystemError = ::GetLastError();
        return trial;
    }
    int rewrite = RewriteActionList(copy.Path(), componentType);
    if (rewrite == QM_REWRITE_NOT_WRITTEN)
        trial.m_strWhy = L"the action list cannot be written with the component type";
    else if (rewrite != QM_REWRITE_SAVED)
        trial.m_strWhy = L"the action list cannot be used";
    else
    {
        QMProgressContext progress;
        trial.m_bAccepted = PrepareProgressContext(copy.Path(), progress, nullptr);
        if (!trial.m_bAccepted)
            trial.m_strWhy = L"the action list cannot be read back after its rewrite";
    }
    return trial;
}
} // namespace

int RunListCheck(const wchar_t* path, const wchar_t* componentType)
{
    try
    {
        // The module's own reading of the list, on a thread with COM as the call has it.
        CQMComInit com = InitializeComForThread();
        std::wstring list = ResolveHostPath(path != nullptr ? path : L"");
        // The words come from the reading the call's reason record uses; the verdict from the steps.
        QMActionListCheck check = CheckActionList(list);
        QMListTrial trial = TryTheCallsSteps(list, componentType != nullptr ? componentType : L"");
        CDoctorReport report;
        if (!trial.m_bAccepted)
        {
            bool trialSays = check.m_bAccepted || trial.m_bFolderRefuses;
            std::wstring finding = trialSays ? trial.m_strWhy : check.m_strReason;
            DWORD error = trialSays ? trial.m_nSystemError : check.m_nSystemError;
            if (error != ERROR_SUCCESS)
                finding += L" (" + DescribeSystemError(error) + L")";
            bool created = check.m_bMissing && !trial.m_bFolderRefuses;
            std::wstring remedy = created ? L"write the action list before the call"
                                  : trialSays && !trial.m_strRemedy.empty() ? trial.m_strRemedy
                                  : trialSays ? L"let the call write the list and its folder: close the program that "
                                                L"holds it, or give this user write access"
                                  : trial.m_bFolder ? L"pass the path of the action list's file, not of a folder"
                                                    : L"write the list as the kit's README describes it: root "
                                                      L"ActionList, a Component element with ID and Action for each "
                                                      L"component";
            report.Problem(L"action list", finding + L": UpdateComponents answers " + std::to_wstring(QM_UPDATE_NOT_SUPPORTED) +
                                               (created ? L" and writes an empty list with its component type"
                                                        : L" and leaves the file as it is"),
                           remedy);
            return 1;
        }
        report.Ok(L"action list", std::to_wstring(check.m_nComponents) +
                                      L" component(s): UpdateComponents rewrites the list with its component type, "
                                      L"sets every Result to 0 and writes each component's result");
        if (!trial.m_strInPlaceFolder.empty())
            WriteText(std::wstring(kVerdictWidth + kSubjectWidth, L' ') + L"the folder " + trial.m_strInPlaceFolder +
                      L" takes no new file from this user (" + DescribeSystemError(trial.m_nFolderError) +
                      L"): the list is written in place, behind a redo copy in " +
                      ToPlatformPath(GetActionListRedoFolder()) + L"\r\n");
        if (check.m_nDropped > 0)
            WriteText(std::wstring(kVerdictWidth + kSubjectWidth, L' ') + std::to_wstring(check.m_nDropped) +
                      L" element(s) without ID or Action are dropped by the rewrite\r\n");
        return 0;
    }
    catch (...)
    {
        WriteText(L"qmhost doctor: out of memory\r\n");
        return 1;
    }
}

int RunDoctor(void)
{
    try
    {
        CDoctorReport report;
        CheckUpdater(report);
        CheckWorkFolder(report);
        CheckLogFolder(report);
        CheckMutexes(report);
        PrintLastRecords();
        if (report.Problems() == 0)
        {
            WriteText(L"\r\nAll checks ok.\r\n");
            return 0;
        }
        WriteText(L"\r\n" + std::to_wstring(report.Problems()) + L" problem(s) found.\r\n");
        return 1;
    }
    catch (...)
    {
        WriteText(L"qmhost doctor: out of memory\r\n");
        return 1;
    }
}
