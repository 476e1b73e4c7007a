#include "tools/DoctorProbes.h"

#include "log/LogRecordWriter.h"
#include "sys/Handle.h"
#include "sys/ProcessProbe.h"
#include "sys/Utf8Text.h"
#include "ui/MutexProbe.h"

#include <algorithm>

namespace
{
// The full image path; the snapshot's file name when the process refuses the query.
std::wstring ImageOf(const QMProcessEntry& process)
{
    std::wstring image = GetProcessImage(process.m_nId);
    return image.empty() ? process.m_strExeName : image;
}
} // namespace

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
