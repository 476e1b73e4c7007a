#include "log/LogRecordWriter.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>

namespace
{
// An archive step holds the current file for a moment and deletes it; writers of
// other processes wait that long rather than lose their record.
constexpr int kOpenAttempts = 20;
constexpr DWORD kOpenRetryMs = 5;

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}
} // namespace

CQMFileHandle OpenLogFileForAppend(const std::wstring& platformPath, DWORD disposition)
{
    for (int attempt = 0;; ++attempt)
    {
        CQMFileHandle file(::CreateFileW(platformPath.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return file;
        if (!IsLogFileBusy(platformPath, ::GetLastError()) || attempt + 1 >= kOpenAttempts)
            return file;
        ::Sleep(kOpenRetryMs);
    }
}

std::mutex& ServiceLogMutex()
{
    static std::mutex s_mutex;
    return s_mutex;
}

std::string ToLogLine(const std::wstring& record)
{
    return ToUtf8(record) + "\r\n";
}

bool AppendLogRecord(const std::wstring& filePath, const std::wstring& line)
{
    std::string bytes = ToLogLine(line);
    std::lock_guard<std::mutex> lock(ServiceLogMutex());
    return AppendLogLinesLocked(filePath, std::move(bytes));
}

bool AppendLogLinesLocked(const std::wstring& filePath, std::string bytes)
{
    CQMFileHandle file = OpenLogFileForAppend(ToPlatformPath(filePath), OPEN_ALWAYS);
    if (!file)
        return false;

    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size))
        return false;
    if (size.QuadPart == 0)
        bytes.insert(0, "\xEF\xBB\xBF");

    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file.
    DWORD written = 0;
    return ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Worth waiting for: a program holds the file without write sharing, or an archive step of
// another process is deleting it: until its handle closes, the name refuses every open with
// access denied while it still looks like a plain file (or cannot even be looked at). A
// folder, a read-only file or a profile that refuses new files stays so: waiting for them
// would only hold the host's thread at every record.
bool IsLogFileBusy(const std::wstring& platformPath, DWORD openError)
{
    if (openError == ERROR_SHARING_VIOLATION)
        return true;
    if (openError != ERROR_ACCESS_DENIED)
        return false;
    DWORD attributes = ::GetFileAttributesW(platformPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError() == ERROR_ACCESS_DENIED;
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}
