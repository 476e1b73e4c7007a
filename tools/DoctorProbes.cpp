#include "tools/DoctorProbes.h"

#include "bridge/VestabelLocation.h"
#include "log/LogRecordWriter.h"
#include "sys/Handle.h"
#include "sys/ProcessProbe.h"
#include "sys/Utf8Text.h"
#include "ui/MutexProbe.h"

#include <algorithm>
#include <cstddef>

namespace
{
// The full image path; the snapshot's file name when the process refuses the query.
std::wstring ImageOf(const QMProcessEntry& process)
{
    std::wstring image = GetProcessImage(process.m_nId);
    return image.empty() ? process.m_strExeName : image;
}
} // namespace

DWORD ReadUpdaterRegistrationType()
{
    CQMRegKey key;
    DWORD type = REG_NONE;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVestabelInstallKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.Put()) !=
            ERROR_SUCCESS ||
        ::RegQueryValueExW(key.Get(), kVestabelPathValue, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS)
        return REG_NONE;
    return type;
}

namespace
{
// The system's handle table, as NtQuerySystemInformation gives it (SystemExtendedHandleInformation).
struct QMHandleEntry
{
    void* m_pObject;
    ULONG_PTR m_nProcessId;
    ULONG_PTR m_nHandle;
    ULONG m_nAccess;
    USHORT m_nBackTrace;
    USHORT m_nType;
    ULONG m_nAttributes;
    ULONG m_nReserved;
};
struct QMHandleTable
{
    ULONG_PTR m_nCount;
    ULONG_PTR m_nReserved;
    QMHandleEntry m_entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
using QMQuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

std::vector<BYTE> ReadHandleTable()
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll != nullptr ? reinterpret_cast<QMQuerySystemInformation>(reinterpret_cast<void*>(
                                        ::GetProcAddress(ntdll, "NtQuerySystemInformation")))
                                  : nullptr;
    std::vector<BYTE> table(1 << 20);
    // The table grows while it is read; a few rounds catch up with it.
    for (int round = 0; query != nullptr && round < 8; ++round)
    {
        ULONG needed = 0;
        LONG status = query(kSystemExtendedHandleInformation, table.data(), static_cast<ULONG>(table.size()), &needed);
        if (status >= 0)
            return table;
        if (status != kStatusInfoLengthMismatch)
            break;
        table.resize(std::max<size_t>(table.size() * 2, needed + 65536));
    }
    return std::vector<BYTE>();
}
} // namespace

QMMutexHolders FindMutexHolders(const std::wstring& name)
{
    QMMutexHolders holders;
    CQMKernelHandle own(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
    std::vector<BYTE> bytes = own ? ReadHandleTable() : std::vector<BYTE>();
    if (bytes.size() < sizeof(QMHandleTable))
        return holders;
    const auto* table = reinterpret_cast<const QMHandleTable*>(bytes.data());
    size_t count = std::min<size_t>(table->m_nCount, (bytes.size() - offsetof(QMHandleTable, m_entries)) / sizeof(QMHandleEntry));
    // This process's own handle tells which kernel object the name stands for.
    const ULONG_PTR self = ::GetCurrentProcessId();
    void* object = nullptr;
    for (size_t i = 0; i < count && object == nullptr; ++i)
        if (table->m_entries[i].m_nProcessId == self &&
            table->m_entries[i].m_nHandle == reinterpret_cast<ULONG_PTR>(own.Get()))
            object = table->m_entries[i].m_pObject;
    if (object == nullptr)
        return holders;
    holders.m_bKnown = true;
    for (size_t i = 0; i < count; ++i)
    {
        const QMHandleEntry& entry = table->m_entries[i];
        DWORD id = static_cast<DWORD>(entry.m_nProcessId);
        if (entry.m_pObject != object || entry.m_nProcessId == self ||
            std::any_of(holders.m_vecProcesses.begin(), holders.m_vecProcesses.end(),
                        [id](const QMProcessInfo& known) { return known.m_nId == id; }))
            continue;
        std::wstring image = GetProcessImage(id);
        for (const QMProcessEntry& process : image.empty() ? ListProcesses() : std::vector<QMProcessEntry>())
            if (process.m_nId == id)
                image = process.m_strExeName;
        holders.m_vecProcesses.push_back({id, image});
    }
    return holders;
}

std::string ReadWholeFile(const std::wstring& path)
{
    CQMFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > 64 * 1024 * 1024)
        return std::string();
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() && !::ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        read = 0;
    bytes.resize(read);
    return bytes;
}

namespace
{
std::vector<std::wstring> SplitLines(std::string bytes)
{
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::vector<std::wstring> lines;
    size_t at = 0;
    while (at < bytes.size())
    {
        size_t end = bytes.find('\n', at);
        std::string line = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(FromUtf8(line));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return lines;
}
} // namespace

DWORD ProbeFolderWritable(const std::wstring& folder)
{
    std::wstring probe = folder + L"\\qmhost_doctor_" + std::to_wstring(::GetCurrentProcessId()) + L".probe";
    {
        CQMFileHandle file(
            ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (!file)
            return ::GetLastError();
    }
    // The updater and the module delete documents here, so deleting is part of being writable.
    return ::DeleteFileW(probe.c_str()) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD ProbeFileAppendable(const std::wstring& path)
{
    CQMFileHandle file = OpenLogFileForAppend(path, OPEN_EXISTING);
    return file ? ERROR_SUCCESS : ::GetLastError();
}

DWORD ProbeProgramFile(const std::wstring& path)
{
    DWORD type = 0;
    if (::GetBinaryTypeW(path.c_str(), &type))
        return ERROR_SUCCESS;
    // Windows says so with ERROR_BAD_EXE_FORMAT; Wine fails without setting an error.
    DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS || error == ERROR_BAD_FORMAT ? ERROR_BAD_EXE_FORMAT : error;
}

bool IsMutexHeld(const std::wstring& name)
{
    return IsAnyMutexPresent({name});
}

std::vector<QMProcessInfo> FindProcessesOfImage(const std::wstring& imagePath)
{
    std::vector<QMProcessInfo> found;
    std::wstring fileName = FileNameOfPath(imagePath);
    for (const QMProcessEntry& process : ListProcesses())
    {
        if (_wcsicmp(FileNameOfPath(process.m_strExeName).c_str(), fileName.c_str()) == 0)
            found.push_back({process.m_nId, ImageOf(process)});
    }
    return found;
}

std::vector<std::wstring> ListFiles(const std::wstring& folder, const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data = {};
    CQMFindHandle find(::FindFirstFileW((folder + L"\\" + pattern).c_str(), &data));
    if (!find)
        return names;
    do
    {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (::FindNextFileW(find.Get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::wstring> ReadLastLines(const std::vector<std::wstring>& paths, size_t count)
{
    std::vector<std::wstring> last;
    for (auto path = paths.rbegin(); path != paths.rend() && last.size() < count; ++path)
    {
        std::vector<std::wstring> lines = SplitLines(ReadWholeFile(*path));
        size_t take = std::min(count - last.size(), lines.size());
        last.insert(last.begin(), lines.end() - static_cast<std::ptrdiff_t>(take), lines.end());
    }
    return last;
}
