#include "tools/UpdaterRegistration.h"

#include "bridge/VestabelLocation.h"
#include "sys/Handle.h"
#include "sys/ProcessProbe.h"
#include "tools/ConsoleText.h"
#include "tools/RegisteredPathFix.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
// The 32-bit service registers in the 32-bit view; qmhost of either width works there.
constexpr REGSAM kView = KEY_WOW64_32KEY;
constexpr const wchar_t* kJournalKey = L"SOFTWARE\\Tavrin_Inc_ZL\\Pellorin Kit";
constexpr const wchar_t* kDemoEntry = L"Demo";
constexpr const wchar_t* kRegisterEntry = L"Register";
// Lives only while a repair changes the value: a repair is the machine's own from then on.
constexpr const wchar_t* kRepairEntry = L"Repair";
// One name for the whole machine: a demo in another session borrows the same value.
constexpr const wchar_t* kTurnMutexName = L"Global\\Tavrin_Inc_ZL_QMHost_Registration";
// A demo takes a few seconds; a registration hardly any time.
constexpr DWORD kTurnWaitMs = 60000;
constexpr const wchar_t* kStandInFileName = L"VestabelStandIn.exe";
constexpr std::uint32_t kJournalMagic = 0x314A4D51; // "QMJ1"

// A registry value as found: its type and bytes, or absent.
struct QMRegValue
{
    bool m_bPresent = false;
    DWORD m_nType = REG_NONE;
    std::vector<BYTE> m_bytes;

    bool operator==(const QMRegValue& other) const
    {
        return m_bPresent == other.m_bPresent &&
               (!m_bPresent || (m_nType == other.m_nType && m_bytes == other.m_bytes));
    }
    bool operator!=(const QMRegValue& other) const { return !(*this == other); }
};

enum : std::uint32_t
{
    QM_CHANGE_PENDING = 1, // written before the change; left behind only by a process that died
    QM_CHANGE_DONE = 2,    // a registration in place, to be undone by qmhost unregister
};

// What one change replaces and what it writes.
struct QMJournalEntry
{
    std::uint32_t m_nState = QM_CHANGE_PENDING;
    DWORD m_nProcessId = 0;
    QMRegValue m_original;
    QMRegValue m_written;
};

QMRegValue StringValue(const std::wstring& text)
{
    QMRegValue value;
    value.m_bPresent = true;
    value.m_nType = REG_SZ;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    value.m_bytes.assign(bytes, bytes + (text.size() + 1) * sizeof(wchar_t));
    return value;
}

// ERROR_SUCCESS with m_bPresent false when there is no such key or value. Any length is read.
LONG ReadValue(const wchar_t* keyPath, const wchar_t* name, QMRegValue& value)
{
    value = QMRegValue();
    CQMRegKey key;
    LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | kView, key.Put());
    if (rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
        return rc;
    for (;;)
    {
        DWORD size = static_cast<DWORD>(value.m_bytes.size());
        rc = ::RegQueryValueExW(key.Get(), name, nullptr, &value.m_nType, value.m_bytes.empty() ? nullptr : value.m_bytes.data(),
                                &size);
        if (rc == ERROR_FILE_NOT_FOUND)
        {
            value = QMRegValue();
            return ERROR_SUCCESS;
        }
        // The first round asks for the size; a value that grew meanwhile is asked again.
        if (rc == ERROR_MORE_DATA || (rc == ERROR_SUCCESS && value.m_bytes.empty() && size > 0))
        {
            value.m_bytes.resize(size);
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return rc;
        value.m_bytes.resize(size);
        value.m_bPresent = true;
        return ERROR_SUCCESS;
    }
}

// Writes the value, or removes it when it is absent; flushed, so that it outlives a power cut.
LONG WriteValue(const wchar_t* keyPath, const wchar_t* name, const QMRegValue& value)
{
    CQMRegKey key;
    LONG rc = value.m_bPresent ? ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_SET_VALUE | kView,
                                                   nullptr, key.Put(), nullptr)
                               : ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE | kView, key.Put());
    if (!value.m_bPresent && rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
        return rc;
    if (value.m_bPresent)
        rc = ::RegSetValueExW(key.Get(), name, 0, value.m_nType, value.m_bytes.data(),
                              static_cast<DWORD>(value.m_bytes.size()));
    else
    {
        rc = ::RegDeleteValueW(key.Get(), name);
        if (rc == ERROR_FILE_NOT_FOUND)
            rc = ERROR_SUCCESS;
    }
    if (rc == ERROR_SUCCESS)
        ::RegFlushKey(key.Get());
    return rc;
}

LONG ReadRegistration(QMRegValue& value)
{
    return ReadValue(kVestabelInstallKey, kVestabelPathValue, value);
}

LONG WriteRegistration(const QMRegValue& value)
{
    return WriteValue(kVestabelInstallKey, kVestabelPathValue, value);
}

void Append(std::vector<BYTE>& out, std::uint32_t number)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
    out.insert(out.end(), bytes, bytes + sizeof(number));
}

void Append(std::vector<BYTE>& out, const QMRegValue& value)
{
    Append(out, value.m_bPresent ? 1u : 0u);
    Append(out, value.m_nType);
    Append(out, static_cast<std::uint32_t>(value.m_bytes.size()));
    out.insert(out.end(), value.m_bytes.begin(), value.m_bytes.end());
}

class CJournalReader
{
public:
    explicit CJournalReader(const std::vector<BYTE>& bytes) : m_bytes(bytes) {}

    bool Number(std::uint32_t& number)
    {
        if (m_bytes.size() - m_nAt < sizeof(number))
            return false;
        std::memcpy(&number, m_bytes.data() + m_nAt, sizeof(number));
        m_nAt += sizeof(number);
        return true;
    }

    bool Value(QMRegValue& value)
    {
        std::uint32_t present = 0, type = 0, size = 0;
        if (!Number(present) || !Number(type) || !Number(size) || m_bytes.size() - m_nAt < size)
            return false;
        value.m_bPresent = present != 0;
        value.m_nType = type;
        value.m_bytes.assign(m_bytes.begin() + static_cast<std::ptrdiff_t>(m_nAt),
                             m_bytes.begin() + static_cast<std::ptrdiff_t>(m_nAt + size));
        m_nAt += size;
        return true;
    }

private:
    const std::vector<BYTE>& m_bytes;
    size_t m_nAt = 0;
};

// One binary value per entry: it is written in one step, so an entry is whole or absent.
LONG WriteJournal(const wchar_t* entry, const QMJournalEntry& journal)
{
    QMRegValue value;
    value.m_bPresent = true;
    value.m_nType = REG_BINARY;
    Append(value.m_bytes, kJournalMagic);
    Append(value.m_bytes, journal.m_nState);
    Append(value.m_bytes, journal.m_nProcessId);
    Append(value.m_bytes, journal.m_original);
    Append(value.m_bytes, journal.m_written);
    return WriteValue(kJournalKey, entry, value);
}

bool ReadJournal(const wchar_t* entry, QMJournalEntry& journal)
{
    QMRegValue value;
    if (ReadValue(kJournalKey, entry, value) != ERROR_SUCCESS || !value.m_bPresent || value.m_nType != REG_BINARY)
        return false;
    CJournalReader reader(value.m_bytes);
    std::uint32_t magic = 0, processId = 0;
    if (!reader.Number(magic) || magic != kJournalMagic || !reader.Number(journal.m_nState) ||
        !reader.Number(processId) || !reader.Value(journal.m_original) || !reader.Value(journal.m_written))
        return false;
    journal.m_nProcessId = processId;
    return true;
}

void RemoveJournal(const wchar_t* entry)
{
    WriteValue(kJournalKey, entry, QMRegValue());
}

const wchar_t* TypeName(DWORD type)
{
    switch (type)
    {
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_BINARY: return L"REG_BINARY";
    case REG_DWORD: return L"REG_DWORD";
    default: return L"another type";
    }
}

bool IsText(const QMRegValue& value)
{
    return value.m_bPresent && (value.m_nType == REG_SZ || value.m_nType == REG_EXPAND_SZ);
}

std::wstring TextOf(const QMRegValue& value)
{
    std::wstring text(reinterpret_cast<const wchar_t*>(value.m_bytes.data()), value.m_bytes.size() / sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

// "C:\Program Files\...\Vestabel.exe (REG_EXPAND_SZ)", "none".
std::wstring Describe(const QMRegValue& value)
{
    if (!value.m_bPresent)
        return L"none";
    if (!IsText(value))
        return L"a value of " + std::to_wstring(value.m_bytes.size()) + L" bytes (" + TypeName(value.m_nType) + L")";
    return TextOf(value) + L" (" + TypeName(value.m_nType) + L")";
}

// A stand-in registered by hand or by an earlier kit: no installation's registration to lose.
bool IsStandIn(const QMRegValue& value)
{
    return IsText(value) && _wcsicmp(FileNameOfPath(TextOf(value)).c_str(), kStandInFileName) == 0;
}

std::wstring DescribeError(LONG rc)
{
    return L"error " + std::to_wstring(rc) + (rc == ERROR_ACCESS_DENIED ? L"; run elevated" : L"");
}

// Puts back what a change replaced, unless the registration has changed since (an installer ran).
void UndoChange(const QMJournalEntry& journal, const wchar_t* entry, const wchar_t* what)
{
    QMRegValue current;
    LONG rc = ReadRegistration(current);
    if (rc != ERROR_SUCCESS)
    {
        QMPrintError(L"qmhost: %ls (process %lu) did not finish, and the updater registration cannot be read (%ls); "
                     L"it stays as it is until a qmhost command can\n",
                     what, journal.m_nProcessId, DescribeError(rc).c_str());
        return;
    }
    if (current == journal.m_written)
    {
        rc = WriteRegistration(journal.m_original);
        if (rc != ERROR_SUCCESS)
        {
            QMPrintError(L"qmhost: %ls (process %lu) did not finish; its updater registration cannot be put back "
                         L"to %ls (%ls)\n",
                         what, journal.m_nProcessId, Describe(journal.m_original).c_str(), DescribeError(rc).c_str());
            return;
        }
        QMPrintError(L"qmhost: %ls (process %lu) did not finish; the updater registration is back to %ls\n", what,
                     journal.m_nProcessId, Describe(journal.m_original).c_str());
    }
    else if (current != journal.m_original)
        QMPrintError(L"qmhost: %ls (process %lu) did not finish; the updater registration has changed since "
                     L"(now %ls) and is left as it is\n",
                     what, journal.m_nProcessId, Describe(current).c_str());
    RemoveJournal(entry);
}

// Held by whichever qmhost changes the registration. The system releases it with a process
// that dies, which then shows as abandoned: the next holder undoes what that process left.
class CRegistrationTurn
{
public:
    // Waits for the turn when wait is set and says so; otherwise only takes a free turn.
    explicit CRegistrationTurn(bool wait)
    {
        m_hMutex.Reset(::CreateMutexW(nullptr, FALSE, kTurnMutexName));
        if (!m_hMutex)
        {
            // Without the turn nothing may change: another qmhost could be halfway through.
            if (wait)
                QMPrintError(L"qmhost: the registration's turn %ls cannot be had (error %lu); nothing is changed\n",
                             kTurnMutexName, ::GetLastError());
            return;
        }
        DWORD state = ::WaitForSingleObject(m_hMutex.Get(), 0);
        if (state == WAIT_TIMEOUT && wait)
        {
            QMJournalEntry demo;
            std::wstring who = ReadJournal(kDemoEntry, demo) ? L"a qmhost demo (process " +
                                                                    std::to_wstring(demo.m_nProcessId) + L")"
                                                              : std::wstring(L"another qmhost");
            QMPrint(L"qmhost: %ls is changing the updater registration; waiting until it has put it back\n",
                    who.c_str());
            state = ::WaitForSingleObject(m_hMutex.Get(), kTurnWaitMs);
            if (state == WAIT_TIMEOUT)
                QMPrintError(L"qmhost: %ls still has the updater registration after %lu s; try again when it "
                             L"has ended\n",
                             who.c_str(), kTurnWaitMs / 1000);
        }
        m_bOwned = state == WAIT_OBJECT_0 || state == WAIT_ABANDONED;
    }
    ~CRegistrationTurn()
    {
        if (m_bOwned)
            ::ReleaseMutex(m_hMutex.Get());
    }
    CRegistrationTurn(const CRegistrationTurn&) = delete;
    CRegistrationTurn& operator=(const CRegistrationTurn&) = delete;

    bool Owned() const { return m_bOwned; }

private:
    CQMKernelHandle m_hMutex;
    bool m_bOwned = false;
};

// With the turn held, every pending entry belongs to a process that has gone.
void RecoverWithTurn()
{
    QMJournalEntry journal;
    if (ReadJournal(kDemoEntry, journal))
        UndoChange(journal, kDemoEntry, L"a qmhost demo");
    if (ReadJournal(kRegisterEntry, journal) && journal.m_nState == QM_CHANGE_PENDING)
        UndoChange(journal, kRegisterEntry, L"a qmhost register or unregister");
    if (ReadJournal(kRepairEntry, journal))
        UndoChange(journal, kRepairEntry, L"a qmhost register --repair");
}

// With the turn held: undoes what a killed qmhost left, and reads the registration as it is now.
// False after saying why not; nothing is changed then.
bool BeginChange(const CRegistrationTurn& turn, QMRegValue& current)
{
    if (!turn.Owned())
        return false;
    RecoverWithTurn();
    LONG rc = ReadRegistration(current);
    if (rc != ERROR_SUCCESS)
        QMPrintError(L"qmhost: the updater registration cannot be read (%ls), so it could not be put back; it is "
                     L"left as it is and nothing runs\n",
                     DescribeError(rc).c_str());
    return rc == ERROR_SUCCESS;
}

// The full path of an executable file, or empty.
std::wstring ResolveExecutable(const wchar_t* path)
{
    wchar_t full[MAX_PATH];
    DWORD written = ::GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (written == 0 || written >= MAX_PATH)
        return std::wstring();
    DWORD attributes = ::GetFileAttributesW(full);
    size_t length = wcslen(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) || length <= 4 ||
        _wcsicmp(full + length - 4, L".exe") != 0)
        return std::wstring();
    return full;
}

// The demo's turn and what it wrote, from its start to its end.
std::unique_ptr<CRegistrationTurn> g_demoTurn;
DWORD g_nDemoThreadId = 0;
QMJournalEntry g_demoJournal;
volatile LONG g_nDemoPending = 0;

int Register(const wchar_t* path, bool force)
{
    std::wstring full = ResolveExecutable(path);
    if (full.empty())
    {
        QMPrintError(L"qmhost: %ls names no executable file\n", path);
        return 1;
    }
    CRegistrationTurn turn(true);
    QMRegValue current;
    if (!BeginChange(turn, current))
        return 1;
    QMJournalEntry previous;
    bool hadEntry = ReadJournal(kRegisterEntry, previous);
    // The kit's own registration is replaced freely; what it replaced is still what goes back.
    bool kitsOwn = hadEntry && current == previous.m_written;
    if (!kitsOwn && current.m_bPresent && !IsStandIn(current) && !force)
    {
        QMPrintError(L"qmhost: the updater registration is %ls, not one that qmhost made; "
                     L"\"qmhost register --force <updaterPath>\" replaces it and keeps it for \"qmhost unregister\"\n",
                     Describe(current).c_str());
        return 1;
    }
    QMJournalEntry journal;
    journal.m_nProcessId = ::GetCurrentProcessId();
    journal.m_original = kitsOwn ? previous.m_original : current;
    journal.m_written = StringValue(full);
    LONG rc = WriteJournal(kRegisterEntry, journal);
    if (rc == ERROR_SUCCESS)
        rc = WriteRegistration(journal.m_written);
    if (rc != ERROR_SUCCESS)
    {
        // Nothing changed: the entry goes back to what it was.
        if (hadEntry)
            WriteJournal(kRegisterEntry, previous);
        else
            RemoveJournal(kRegisterEntry);
        QMPrintError(L"qmhost: cannot register the updater (%ls)\n", DescribeError(rc).c_str());
        return 1;
    }
    journal.m_nState = QM_CHANGE_DONE;
    WriteJournal(kRegisterEntry, journal);
    QMPrint(L"registered updater: %ls\n", full.c_str());
    if (!kitsOwn && current.m_bPresent)
        QMPrint(L"it replaced %ls, which \"qmhost unregister\" puts back\n", Describe(current).c_str());
    return 0;
}

// Stores the file the registration already names in the form the module can use. Not kept
// for unregister: the value is the service's own, repaired, and no kit registration.
int Repair(const wchar_t* path)
{
    std::wstring full = ResolveExecutable(path);
    if (full.empty())
    {
        QMPrintError(L"qmhost: %ls names no executable file\n", path);
        return 1;
    }
    CRegistrationTurn turn(true);
    QMRegValue current;
    if (!BeginChange(turn, current))
        return 1;
    std::wstring meant = IsText(current) ? FindRegisteredPathFix(TextOf(current), current.m_nType).m_strPath
                                         : std::wstring();
    if (meant.empty() || _wcsicmp(ResolveExecutable(meant.c_str()).c_str(), full.c_str()) != 0)
    {
        QMPrintError(L"qmhost: the updater registration is %ls; --repair only stores the file it names without "
                     L"quotes or variables (qmhost doctor says when that is the fix), and \"qmhost register\" "
                     L"registers another updater\n",
                     Describe(current).c_str());
        return 1;
    }
    QMJournalEntry journal;
    journal.m_nProcessId = ::GetCurrentProcessId();
    journal.m_original = current;
    journal.m_written = StringValue(full);
    LONG rc = WriteJournal(kRepairEntry, journal);
    if (rc == ERROR_SUCCESS)
        rc = WriteRegistration(journal.m_written);
    RemoveJournal(kRepairEntry);
    if (rc != ERROR_SUCCESS)
    {
        QMPrintError(L"qmhost: cannot repair the updater registration (%ls)\n", DescribeError(rc).c_str());
        return 1;
    }
    QMPrint(L"repaired: the updater registration is %ls (it was %ls); it stays the machine's own, and "
            L"\"qmhost unregister\" leaves it as it is\n",
            Describe(journal.m_written).c_str(), Describe(current).c_str());
    return 0;
}

int Unregister(bool force)
{
    CRegistrationTurn turn(true);
    QMRegValue current;
    if (!BeginChange(turn, current))
        return 1;
    LONG rc = ERROR_SUCCESS;
    QMJournalEntry journal;
    if (ReadJournal(kRegisterEntry, journal))
    {
        if (current == journal.m_written)
        {
            journal.m_nState = QM_CHANGE_PENDING;
            journal.m_nProcessId = ::GetCurrentProcessId();
            rc = WriteJournal(kRegisterEntry, journal);
            if (rc == ERROR_SUCCESS)
                rc = WriteRegistration(journal.m_original);
            if (rc != ERROR_SUCCESS)
            {
                journal.m_nState = QM_CHANGE_DONE;
                WriteJournal(kRegisterEntry, journal);
                QMPrintError(L"qmhost: cannot put the updater registration back (%ls)\n", DescribeError(rc).c_str());
                return 1;
            }
            RemoveJournal(kRegisterEntry);
            if (journal.m_original.m_bPresent)
                QMPrint(L"unregistered: the updater registration is back to %ls\n",
                        Describe(journal.m_original).c_str());
            else
                QMPrint(L"unregistered: no updater is registered, as before \"qmhost register\"\n");
            return 0;
        }
        // An installer has registered since: what qmhost kept is out of date.
        RemoveJournal(kRegisterEntry);
        QMPrint(L"qmhost: the updater registration has changed since \"qmhost register\" (now %ls)\n",
                Describe(current).c_str());
    }
    if (!current.m_bPresent)
    {
        QMPrint(L"unregistered: no updater was registered, nothing changed\n");
        return 0;
    }
    if (!IsStandIn(current) && !force)
    {
        QMPrintError(L"qmhost: the updater registration %ls was not made by \"qmhost register\" and is left as it "
                     L"is; \"qmhost unregister --force\" removes it\n",
                     Describe(current).c_str());
        return 1;
    }
    rc = WriteRegistration(QMRegValue());
    if (rc != ERROR_SUCCESS)
    {
        QMPrintError(L"qmhost: cannot remove the updater registration (%ls)\n", DescribeError(rc).c_str());
        return 1;
    }
    QMPrint(L"unregistered: removed %ls; no updater is registered now\n", Describe(current).c_str());
    return 0;
}

int BeginDemo(const wchar_t* standInPath)
{
    auto turn = std::make_unique<CRegistrationTurn>(true);
    QMRegValue current;
    if (!BeginChange(*turn, current))
        return 0;
    g_demoJournal.m_nProcessId = ::GetCurrentProcessId();
    g_demoJournal.m_original = current;
    g_demoJournal.m_written = StringValue(standInPath);
    LONG rc = WriteJournal(kDemoEntry, g_demoJournal);
    if (rc == ERROR_SUCCESS)
        rc = WriteRegistration(g_demoJournal.m_written);
    if (rc != ERROR_SUCCESS)
    {
        RemoveJournal(kDemoEntry);
        QMPrintError(L"qmhost: cannot register the stand-in updater (%ls)\n", DescribeError(rc).c_str());
        return 0;
    }
    g_demoTurn = std::move(turn);
    g_nDemoThreadId = ::GetCurrentThreadId();
    g_nDemoPending = 1;
    if (current.m_bPresent)
        QMPrint(L"demo: the updater registration points at the stand-in %ls until the demo ends (it was %ls)\n\n",
                standInPath, Describe(current).c_str());
    else
        QMPrint(L"demo: the stand-in %ls is registered as the updater until the demo ends (none was)\n\n",
                standInPath);
    return 1;
}

void EndDemo()
{
    if (::InterlockedExchange(&g_nDemoPending, 0) == 0)
        return;
    QMRegValue current;
    LONG rc = ReadRegistration(current);
    if (rc == ERROR_SUCCESS && current != g_demoJournal.m_written)
        QMPrint(L"\ndemo: the updater registration changed during the demo (now %ls) and is left as it is\n",
                Describe(current).c_str());
    else if (rc == ERROR_SUCCESS && (rc = WriteRegistration(g_demoJournal.m_original)) == ERROR_SUCCESS)
    {
        if (g_demoJournal.m_original.m_bPresent)
            QMPrint(L"\ndemo: the updater registration is back to %ls\n", Describe(g_demoJournal.m_original).c_str());
        else
            QMPrint(L"\ndemo: the updater registration is removed again (there was none)\n");
    }
    if (rc != ERROR_SUCCESS)
    {
        // The entry stays: the next qmhost command tries again.
        QMPrintError(L"\nqmhost: could not put the updater registration back (%ls)\n", DescribeError(rc).c_str());
        return;
    }
    RemoveJournal(kDemoEntry);
    // A control handler's thread does not own the turn; the system releases it with the process.
    if (::GetCurrentThreadId() == g_nDemoThreadId)
        g_demoTurn.reset();
}
} // namespace

extern "C" void RecoverUnfinishedRegistration(void)
{
    try
    {
        CRegistrationTurn turn(false);
        if (turn.Owned())
            RecoverWithTurn();
    }
    catch (...)
    {
    }
}

extern "C" int RunRegister(const wchar_t* path, int force)
{
    try
    {
        return Register(path, force != 0);
    }
    catch (...)
    {
        QMPrintError(L"qmhost: out of memory\n");
        return 1;
    }
}

extern "C" int RunRepairRegistration(const wchar_t* path)
{
    try
    {
        return Repair(path);
    }
    catch (...)
    {
        QMPrintError(L"qmhost: out of memory\n");
        return 1;
    }
}

extern "C" int RunUnregister(int force)
{
    try
    {
        return Unregister(force != 0);
    }
    catch (...)
    {
        QMPrintError(L"qmhost: out of memory\n");
        return 1;
    }
}

extern "C" int BeginDemoRegistration(const wchar_t* standInPath)
{
    try
    {
        return BeginDemo(standInPath);
    }
    catch (...)
    {
        QMPrintError(L"qmhost: out of memory\n");
        return 0;
    }
}

extern "C" void EndDemoRegistration(void)
{
    try
    {
        EndDemo();
    }
    catch (...)
    {
    }
}
