#include "log/LogRecordWriter.h"

#include "sys/Utf8Text.h"

#include "log/LogLock.h"
#include "sys/MessageWait.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>

#include <vector>

namespace
{
// Another program may hold the file for a moment; writers wait that long rather than lose
// their record.
constexpr int kOpenAttempts = 20;
constexpr DWORD kOpenRetryMs = 5;
// How far back a cut record is looked for: records are far shorter.
constexpr DWORD kTailBytes = 64 * 1024;
const char kByteOrderMark[] = "\xEF\xBB\xBF";
// Beside a holder of the file, a record that another writer's bytes went over is written again,
// this often.
constexpr int kBesideAttempts = 3;

bool WriteWhole(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// A record ends with CR LF; a line feed alone may stand inside a record's message.
bool EndsWithWholeLine(HANDLE file, LONGLONG size)
{
    if (size == 0)
        return true;
    if (size < 2)
        return false;
    LARGE_INTEGER at = {};
    at.QuadPart = size - 2;
    char last[2] = {};
    DWORD read = 0;
    return ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ::ReadFile(file, last, 2, &read, nullptr) &&
           read == 2 && last[0] == '\r' && last[1] == '\n';
}

// The lines stand whole in the file's last bytes, at the start of a line.
bool EndHolds(HANDLE file, const std::string& lines)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file, &size))
        return false;
    const LONGLONG reach = static_cast<LONGLONG>(lines.size()) + kTailBytes;
    LARGE_INTEGER start = {};
    start.QuadPart = size.QuadPart > reach ? size.QuadPart - reach : 0;
    std::string tail(static_cast<size_t>(size.QuadPart - start.QuadPart), '\0');
    DWORD read = 0;
    if (tail.empty() || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !::ReadFile(file, &tail[0], static_cast<DWORD>(tail.size()), &read, nullptr))
        return false;
    tail.resize(read);
    for (size_t at = tail.find(lines); at != std::string::npos; at = tail.find(lines, at + 1))
    {
        bool lineStart = at == 0 ? start.QuadPart == 0 : tail[at - 1] == '\n';
        bool afterMark = start.QuadPart == 0 && at == sizeof(kByteOrderMark) - 1 &&
                         tail.compare(0, at, kByteOrderMark) == 0;
        if (lineStart || afterMark)
            return true;
    }
    return false;
}

// Appends beside a holder of the current file that keeps it for good. Each write goes to the
// end of the file in one piece where the file system serialises appends (local NTFS), not
// everywhere (a network share, Wine): the lines are looked for in the file afterwards and
// written once more when another writer's bytes went over them. Nothing is ever cut back here,
// since another writer's record may stand there.
bool AppendBesideHolder(const std::wstring& platformPath, const std::function<std::string()>& makeLines)
{
    CQMLogGate gate;
    if (!gate.Held())
        return false;
    CQMFileHandle file(::CreateFileW(platformPath.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES |
                                                               SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    NoticeAppendBesideHolder();
    std::string lines = TakeLogLockNotice() + makeLines();
    for (int attempt = 0; attempt < kBesideAttempts; ++attempt)
    {
        // Grown by exactly the lines: nobody wrote meanwhile, and they are where they went.
        LARGE_INTEGER before = {};
        LARGE_INTEGER after = {};
        bool sized = ::GetFileSizeEx(file.Get(), &before) != FALSE;
        if (!WriteWhole(file.Get(), lines))
            return false;
        if ((sized && ::GetFileSizeEx(file.Get(), &after) &&
             after.QuadPart == before.QuadPart + static_cast<LONGLONG>(lines.size())) ||
            EndHolds(file.Get(), lines))
            return true;
    }
    return false;
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

bool RollBackToLastWholeLine(const std::wstring& platformPath)
{
    CQMFileHandle file(::CreateFileW(platformPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size))
        return false;
    if (EndsWithWholeLine(file.Get(), size.QuadPart))
        return true;
    // Back from the end, block by block (a record may be longer than one), to the last CR LF;
    // each block overlaps the next by one byte so that a pair across their border is seen.
    std::vector<char> bytes(kTailBytes);
    LARGE_INTEGER end = {};
    for (LONGLONG blockEnd = size.QuadPart; blockEnd >= 2 && end.QuadPart == 0;)
    {
        DWORD length = blockEnd < kTailBytes ? static_cast<DWORD>(blockEnd) : kTailBytes;
        LARGE_INTEGER start = {};
        start.QuadPart = blockEnd - length;
        DWORD read = 0;
        if (!::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN) ||
            !::ReadFile(file.Get(), bytes.data(), length, &read, nullptr) || read != length)
            return false;
        for (DWORD i = length; i >= 2; --i)
        {
            if (bytes[i - 2] == '\r' && bytes[i - 1] == '\n')
            {
                end.QuadPart = start.QuadPart + i;
                break;
            }
        }
        blockEnd = start.QuadPart + 1;
        if (start.QuadPart == 0)
            break;
    }
    // No whole line at all: nothing of the file is a record.
    return ::SetFilePointerEx(file.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.Get());
}

std::string ToLogLine(const std::wstring& record)
{
    return ToUtf8(record) + "\r\n";
}

bool AppendLogRecord(const std::wstring& filePath, const std::wstring& line)
{
    std::string bytes = ToLogLine(line);
    return AppendLogLines(filePath, std::wstring(), [&bytes] { return bytes; });
}

bool AppendLogLines(const std::wstring& filePath, const std::wstring& folder,
                    const std::function<std::string()>& makeLines)
{
    std::wstring platformPath = ToPlatformPath(filePath);
    CQMLogLock lock(filePath);
    CQMFileHandle file = OpenLogFileAlone(platformPath, folder, lock);
    if (!file)
    {
        // Kept by a holder for good: the record goes beside it. Refused otherwise (a folder at
        // the name, a profile that takes no file): dropped.
        DWORD error = ::GetLastError();
        return error == ERROR_SHARING_VIOLATION && AppendBesideHolder(platformPath, makeLines);
    }
    NoticeAppendAlone();

    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size))
        return false;
    // The holder before us ended in the middle of its append: the mutex says so; without it,
    // only the file's end can.
    if ((lock.PreviousHolderDied() || !lock.MutexHeld()) && !EndsWithWholeLine(file.Get(), size.QuadPart))
    {
        file.Reset();
        RollBackToLastWholeLine(platformPath);
        file = OpenLogFileAlone(platformPath, folder, lock);
        if (!file || !::GetFileSizeEx(file.Get(), &size))
            return false;
    }
    // What the lock could not do goes first: a reader then knows why records that follow may
    // stand out of turn.
    std::string lines = TakeLogLockNotice() + makeLines();
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file.
    bool written = size.QuadPart == 0 ? WriteWhole(file.Get(), kByteOrderMark + lines) : WriteWhole(file.Get(), lines);
    if (!written)
    {
        // A full disk takes part of a record: the next one must not be glued to its head.
        file.Reset();
        RollBackToLastWholeLine(platformPath);
        return false;
    }
    return true;
}

// Worth waiting for: a program holds the file without write sharing, or another program is
// deleting it: until its handle closes, the name refuses every open with access denied while
// it still looks like a plain file (or cannot even be looked at). A folder, a read-only file or
// a profile that refuses new files stays so: waiting for them would only hold the host's
// thread at every record.
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
