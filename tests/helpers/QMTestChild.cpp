// The other processes of the tests that need more than one: hosts that die in the middle of a
// call, processes that write the service log at once, a process whose list saves are cut off.
//
//   qm_test_child log <writer> <records> <archive every>   two threads write records (one archives)
//   qm_test_child save <list path> <from> <to> <step>      saves a list of <from> components, then
//                                                          one of <to>, ending at that step of it
//   qm_test_child host <list path> <record> <terminate|exit>  updates the list and ends at that record
//                                                          (0: never); exits with the call's result
//   qm_test_child hold <path> <FILE_SHARE_* bits>          holds the file open for reading and writing
//                                                          until ended; sets QM_TEST_READY once it does
//   qm_test_child lock <squat|hold|suspend|die|every>      a hostile process of the log's lock: takes
//                                                          its name with an event, holds it and never
//                                                          lets go (running or suspended), dies
//                                                          holding it in the middle of an append, or
//                                                          holds it and the current file for good
//   qm_test_child slow <hold ms> <pause ms> <records>      writes records "S.0,<n>", each in a turn that long
//   qm_test_child busy                                     keeps a processor busy until ended
//
// Each starts its work once the event named by QM_TEST_GO is set (when there is one), so that
// several of them start together.

#define QM_IMPORT
#include "api/Pellorin.h"

#include "actionlist/QMActionListXML.h"
#include "log/LogFields.h"
#include "log/LogRecordWriter.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"
#include "sys/WholeFileWrite.h"
#include "xml/XMLElement.h"

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{
void WaitForGo()
{
    wchar_t name[128] = {};
    if (::GetEnvironmentVariableW(L"QM_TEST_GO", name, 128) == 0)
        return;
    HANDLE go = ::OpenEventW(SYNCHRONIZE, FALSE, name);
    if (go != nullptr)
    {
        ::WaitForSingleObject(go, 30000);
        ::CloseHandle(go);
    }
}

// Records "<writer>.<thread>,<sequence>"; the first thread archives now and then.
int WriteLogRecords(const std::wstring& writer, int records, int archiveEvery)
{
    WaitForGo();
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
    {
        threads.emplace_back([&, t] {
            for (int i = 0; i < records; ++i)
            {
                WriteServiceLog(L"PL", L"CATCH_MSG", writer + L"." + std::to_wstring(t) + L"," + std::to_wstring(i));
                if (t == 0 && archiveEvery > 0 && i % archiveEvery == archiveEvery - 1)
                    ArchiveServiceLog();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    return 0;
}

// Built from a tree of the module's own, not parsed: the saves, not the start, take the time.
CQMActionListXML MakeList(int components)
{
    std::unique_ptr<CXMLElement> root(NewXMLElement(L"ActionList"));
    root->AddAttribute(NewXMLAttribute(L"ParentAppName", L"Killed"));
    for (int i = 0; i < components; ++i)
    {
        CXMLElement* component = NewXMLElement(L"Component");
        std::wstring n = std::to_wstring(i);
        component->AddAttribute(NewXMLAttribute(L"ID", (L"C" + n).c_str()));
        component->AddAttribute(NewXMLAttribute(L"Action", L"update"));
        component->AddAttribute(NewXMLAttribute(L"Path", (L"plugins/c" + n + L".dll").c_str()));
        component->AddAttribute(NewXMLAttribute(L"Version", (L"1.0." + n).c_str()));
        component->AddAttribute(NewXMLAttribute(L"Result", std::to_wstring(i % 17).c_str()));
        root->AddChild(component);
    }
    CQMActionListXML list;
    list.ParseComponents(root.get());
    list.m_strParentAppName = L"Killed";
    return list;
}

int g_nSaveSteps = 0;
int g_nEndAtSaveStep = 0;

void EndAtSaveStep()
{
    // As a user ends a host in the middle of a save: nothing runs after.
    if (++g_nSaveSteps == g_nEndAtSaveStep)
        ::TerminateProcess(::GetCurrentProcess(), 3);
}

// Writes the first list whole, then the second one until the given step of its save; exits
// with 0 when the save had fewer steps.
int SaveAndEnd(const std::wstring& path, int from, int to, int step)
{
    if (MakeList(from).WriteFile(path.c_str()) != ERROR_SUCCESS)
        return 2;
    CQMActionListXML second = MakeList(to);
    g_nEndAtSaveStep = step;
    SetSaveStepHookForTest(EndAtSaveStep);
    return second.WriteFile(path.c_str()) == ERROR_SUCCESS ? 0 : 2;
}

size_t g_nRecords = 0;
size_t g_nDieAt = 0;
bool g_bTerminate = true;

QMBool __stdcall DieAtRecord(int, int, const wchar_t*, unsigned, unsigned, unsigned long long, unsigned long long)
{
    if (++g_nRecords == g_nDieAt)
    {
        // As a user ends a host, or a host crashes in its callback: nothing of the module runs after.
        if (g_bTerminate)
            ::TerminateProcess(::GetCurrentProcess(), 3);
        ::ExitProcess(3);
    }
    return true;
}

int UpdateAndDie(const std::wstring& list, int record, const std::wstring& how)
{
    HMODULE module = ::LoadLibraryW(L"Pellorin.dll");
    auto update = module == nullptr ? nullptr
                                    : reinterpret_cast<PFN_UpdateComponents>(
                                          reinterpret_cast<void*>(::GetProcAddress(module, "UpdateComponents")));
    if (update == nullptr)
        return 2;
    g_nDieAt = static_cast<size_t>(record);
    g_bTerminate = how == L"terminate";
    WaitForGo();
    return update(L"Killed", list.c_str(), L"plugin", DieAtRecord);
}

void SetReady()
{
    wchar_t name[128] = {};
    if (::GetEnvironmentVariableW(L"QM_TEST_READY", name, 128) == 0)
        return;
    HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (ready != nullptr)
    {
        ::SetEvent(ready);
        ::CloseHandle(ready);
    }
}

// A writer on a loaded machine or a slow share, through the module's own writer. Each record is
// stamped as its turn begins: one that another wrote during the turn stands out of time order.
int WriteSlowRecords(DWORD holdMs, DWORD pauseMs, int records)
{
    std::wstring folder = GetServiceLogFolder();
    for (int i = 0; i < records; ++i, ::Sleep(pauseMs), SetReady())
        AppendLogLines(JoinPath(folder, kServiceLogCurrentFile), folder, [&] {
            SYSTEMTIME now = {};
            ::GetLocalTime(&now);
            ::Sleep(holdMs);
            return ToLogLine(BuildLogRecord(now, L"PL", L"CATCH_MSG", L"S.0," + std::to_wstring(i)));
        });
    return 0;
}

// As a scanner, a backup client or an editor holds a file the module saves.
int HoldFile(const std::wstring& path, DWORD sharing)
{
    if (::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr, OPEN_EXISTING, 0, nullptr) ==
        INVALID_HANDLE_VALUE)
        return 2;
    SetReady();
    ::Sleep(INFINITE);
    return 0;
}

// Handles stay open until the test ends the process.
int HoldLogLock(const std::wstring& how)
{
    const wchar_t* name = L"Tavrin_Inc_ZL_QM_LOG_v1";
    if (how == L"squat")
    {
        if (::CreateEventW(nullptr, TRUE, FALSE, name) == nullptr)
            return 2;
    }
    else
    {
        DWORD wait = ::WaitForSingleObject(::CreateMutexW(nullptr, FALSE, name), 10000);
        if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
            return 2;
    }
    if (how == L"every")
    {
        // The current file too, open for writing and its deletion not shared: no archive takes it.
        std::wstring current = JoinPath(GetServiceLogFolder(), kServiceLogCurrentFile);
        CreateFolderPath(GetParentFolder(current));
        HANDLE file = ::CreateFileW(ToPlatformPath(current).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        if (!::WriteFile(file, "\xEF\xBB\xBF", 3, &written, nullptr))
            return 2;
    }
    if (how == L"die")
    {
        // The head of a record, as a writer that dies in its append leaves it.
        std::wstring folder = GetServiceLogFolder();
        CreateFolderPath(folder);
        HANDLE file = ::CreateFileW(ToPlatformPath(JoinPath(folder, kServiceLogCurrentFile)).c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        const char head[] = "\xEF\xBB\xBF" "2026-01-01-00-00-00-000,PL,CATCH_MSG,cut sh";
        DWORD written = 0;
        ::WriteFile(file, head, sizeof(head) - 1, &written, nullptr);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    SetReady();
    if (how == L"suspend")
        ::SuspendThread(::GetCurrentThread());
    ::Sleep(INFINITE);
    return 0;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring role = argc > 1 ? argv[1] : L"";
    if (role == L"log" && argc > 4)
        return WriteLogRecords(argv[2], _wtoi(argv[3]), _wtoi(argv[4]));
    if (role == L"save" && argc > 5)
        return SaveAndEnd(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]));
    if (role == L"lock" && argc > 2)
        return HoldLogLock(argv[2]);
    if (role == L"slow" && argc > 4)
        return WriteSlowRecords(static_cast<DWORD>(_wtoi(argv[2])), static_cast<DWORD>(_wtoi(argv[3])), _wtoi(argv[4]));
    if (role == L"busy")
        for (volatile unsigned spin = 0;; spin = spin + 1)
        {
        }
    if (role == L"host" && argc > 4)
        return UpdateAndDie(argv[2], _wtoi(argv[3]), argv[4]);
    if (role == L"hold" && argc > 3)
        return HoldFile(argv[2], static_cast<DWORD>(_wtoi(argv[3])));
    return 2;
}
