#include "xml/InPlaceSave.h"

#include "sys/WholeFileWrite.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace
{
// Behind the text and the target's path: what tells a sealed copy from one cut off halfway.
struct QMRedoTrailer
{
    char m_szMagic[8];
    std::uint64_t m_nTextLength;
    std::uint64_t m_nTextHash;
    std::uint64_t m_nOldLength;
    std::uint64_t m_nOldHash;
    std::uint32_t m_nTargetBytes;
    std::uint32_t m_nReserved;
    // Over the path and every field above: a trailer torn or made of text reads as none.
    std::uint64_t m_nTrailerHash;
};
constexpr char kRedoMagic[8] = {'Q', 'M', 'R', 'E', 'D', 'O', '1', '\n'};
constexpr const wchar_t* kRedoNamePrefix = L"ActionListRedo_";
constexpr const wchar_t* kRedoNameSuffix = L".~qm";

std::uint64_t HashBytes(const void* data, size_t size, std::uint64_t hash = 14695981039346656037ull)
{
    // FNV-1a: the copy guards against a cut-off write, not against an adversary.
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

std::uint64_t HashTrailer(const QMRedoTrailer& trailer, const std::wstring& target)
{
    std::uint64_t hash = HashBytes(target.data(), target.size() * sizeof(wchar_t));
    return HashBytes(&trailer, offsetof(QMRedoTrailer, m_nTrailerHash), hash);
}

DWORD WriteAll(HANDLE file, const void* data, size_t size)
{
    DWORD written = 0;
    if (!::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr))
        return ::GetLastError();
    // A short write without an error: what a full disk gives on some file systems.
    return written == size ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

DWORD ReadAll(HANDLE file, std::string& bytes)
{
    LARGE_INTEGER size = {};
    LARGE_INTEGER start = {};
    if (!::GetFileSizeEx(file, &size) || !::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return ::GetLastError();
    // An action list is text of a few megabytes at most; anything near 4 GB is not one.
    if (size.QuadPart > 0x7FFFFFFF)
        return ERROR_FILE_TOO_LARGE;
    bytes.assign(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size())
    {
        DWORD read = 0;
        if (!::ReadFile(file, &bytes[done], static_cast<DWORD>(bytes.size() - done), &read, nullptr))
            return ::GetLastError();
        if (read == 0)
            break;
        done += read;
    }
    bytes.resize(done);
    return ERROR_SUCCESS;
}

// Cuts the file to the first byte of bytes, then writes the rest and flushes: whatever moment
// the process ends, the file holds a beginning of bytes, and never an empty one (an empty file is
// what a host that emptied its list leaves, which no copy may overwrite).
DWORD OverwriteInPlace(HANDLE file, const std::string& bytes)
{
    LARGE_INTEGER start = {};
    const size_t first = bytes.empty() ? 0 : 1;
    SaveStep();
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
        return ::GetLastError();
    DWORD error = WriteAll(file, bytes.data(), first);
    if (error != ERROR_SUCCESS)
        return error;
    if (!::SetEndOfFile(file))
        return ::GetLastError();
    SaveStep();
    error = WriteAll(file, bytes.data() + first, bytes.size() - first);
    if (error != ERROR_SUCCESS)
        return error;
    SaveStep();
    return ::FlushFileBuffers(file) ? ERROR_SUCCESS : ::GetLastError();
}

DWORD SealRedoCopy(HANDLE redo, const std::string& bytes, const std::wstring& target, const std::string& old)
{
    QMRedoTrailer trailer = {};
    std::memcpy(trailer.m_szMagic, kRedoMagic, sizeof(kRedoMagic));
    trailer.m_nTextLength = bytes.size();
    trailer.m_nTextHash = HashBytes(bytes.data(), bytes.size());
    trailer.m_nOldLength = old.size();
    trailer.m_nOldHash = HashBytes(old.data(), old.size());
    trailer.m_nTargetBytes = static_cast<std::uint32_t>(target.size() * sizeof(wchar_t));
    trailer.m_nTrailerHash = HashTrailer(trailer, target);
    DWORD error = WriteAll(redo, target.data(), trailer.m_nTargetBytes);
    if (error == ERROR_SUCCESS)
        error = WriteAll(redo, &trailer, sizeof(trailer));
    if (error == ERROR_SUCCESS && !::FlushFileBuffers(redo))
        error = ::GetLastError();
    return error;
}

struct QMRedoCopy
{
    std::string m_text;
    std::wstring m_strTarget;
    QMRedoTrailer m_trailer;
};

enum class ERedoCopy
{
    kUnsealed,    // no seal anywhere: cut off before it was sealed, so the target was never touched
    kDamaged,     // sealed once, but the trailer no longer reads: nothing in it can be trusted
    kTextDamaged, // the trailer reads, the text does not match its hash
    kWhole,       // trailer, sizes and both hashes agree
};

// Reads bytes as a redo copy; copy holds what could be trusted of it.
ERedoCopy ParseRedoCopy(std::string& bytes, QMRedoCopy& copy)
{
    const std::string magic(kRedoMagic, sizeof(kRedoMagic));
    const ERedoCopy broken = bytes.rfind(magic) == std::string::npos ? ERedoCopy::kUnsealed : ERedoCopy::kDamaged;
    if (bytes.size() < sizeof(QMRedoTrailer))
        return broken;
    std::memcpy(&copy.m_trailer, bytes.data() + bytes.size() - sizeof(QMRedoTrailer), sizeof(QMRedoTrailer));
    const QMRedoTrailer& trailer = copy.m_trailer;
    if (std::memcmp(trailer.m_szMagic, kRedoMagic, sizeof(kRedoMagic)) != 0 || trailer.m_nTargetBytes % 2 != 0 ||
        trailer.m_nTextLength + trailer.m_nTargetBytes + sizeof(QMRedoTrailer) != bytes.size())
        return broken;
    const size_t textLength = static_cast<size_t>(trailer.m_nTextLength);
    copy.m_strTarget.assign(reinterpret_cast<const wchar_t*>(bytes.data() + textLength), trailer.m_nTargetBytes / 2);
    if (HashTrailer(trailer, copy.m_strTarget) != trailer.m_nTrailerHash)
        return broken;
    if (HashBytes(bytes.data(), textLength) != trailer.m_nTextHash)
        return ERedoCopy::kTextDamaged;
    bytes.resize(textLength);
    copy.m_text.swap(bytes);
    return ERedoCopy::kWhole;
}

bool IsOldText(const std::string& now, const QMRedoTrailer& trailer)
{
    return now.size() == trailer.m_nOldLength && HashBytes(now.data(), now.size()) == trailer.m_nOldHash;
}

// A copy that may hold the only whole text of the target goes out of the way under a name of
// its own beside it, renamed through the handle that read it.
DWORD SetRedoCopyAside(CQMFileHandle& redo, const std::wstring& redoPath, QMRedoFinish& outcome)
{
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int n = 1; n < 100 && error == ERROR_ALREADY_EXISTS; ++n)
    {
        std::wstring kept = redoPath + L".kept" + (n == 1 ? std::wstring() : std::to_wstring(n));
        SaveStep();
        error = RenameOpenFile(redo.Get(), kept, false);
        if (error == ERROR_SUCCESS)
            outcome.m_strKeptAs = kept;
    }
    redo.Reset();
    return error;
}

bool SamePath(const std::wstring& first, const std::wstring& second)
{
    return ::CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                  static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

CQMFileHandle OpenForWritingInPlace(const std::wstring& target)
{
    // Every sharing: a holder that lets others read and write is no obstacle to this handle.
    return CQMFileHandle(::CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
}
} // namespace

DWORD SaveBytesInPlace(const std::string& bytes, const std::wstring& target, CQMFileHandle& redo)
{
    CQMFileHandle file = OpenForWritingInPlace(target);
    std::string old;
    DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
    if (error == ERROR_SUCCESS)
        error = ReadAll(file.Get(), old);
    SaveStep();
    if (error == ERROR_SUCCESS)
        error = SealRedoCopy(redo.Get(), bytes, target, old);
    if (error != ERROR_SUCCESS)
    {
        DeleteOpenFile(redo);
        return error;
    }
    error = OverwriteInPlace(file.Get(), bytes);
    // The new text found no room (or the write failed otherwise): the old one, whose room the
    // cut has just freed, goes back. Only when even that fails does the copy stay, for the next
    // user of the file to finish from.
    if (error != ERROR_SUCCESS && OverwriteInPlace(file.Get(), old) != ERROR_SUCCESS)
    {
        redo.Reset();
        return error;
    }
    SaveStep();
    DeleteOpenFile(redo);
    SaveStep();
    return error;
}

std::wstring RedoCopyPathIn(const std::wstring& platformFolder, const std::wstring& target)
{
    // Folded to upper case first: the same file under two spellings is one list.
    std::wstring folded(target);
    ::CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    wchar_t hex[17] = {};
    std::uint64_t hash = HashBytes(folded.data(), folded.size() * sizeof(wchar_t));
    for (int i = 15; i >= 0; --i, hash >>= 4)
        hex[i] = L"0123456789abcdef"[hash & 0xF];
    std::wstring folder(platformFolder);
    if (!folder.empty() && folder.back() != L'\\')
        folder += L'\\';
    return folder + kRedoNamePrefix + hex + kRedoNameSuffix;
}

DWORD FinishSaveFromRedoCopy(const std::wstring& target, const std::wstring& redoPath, bool besideTarget,
                             QMRedoFinish& outcome)
{
    outcome = QMRedoFinish();
    // Without sharing: a save that writes this copy (or the target from it) holds it right now.
    CQMFileHandle redo(::CreateFileW(redoPath.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!redo)
    {
        // That save goes first: until it lets go the target may be half written.
        DWORD error = ::GetLastError();
        outcome.m_bInUse = error == ERROR_SHARING_VIOLATION;
        return outcome.m_bInUse ? error : ERROR_SUCCESS;
    }
    std::string bytes;
    DWORD error = ReadAll(redo.Get(), bytes);
    if (error != ERROR_SUCCESS)
        return error;
    QMRedoCopy copy = {};
    const ERedoCopy state = ParseRedoCopy(bytes, copy);
    if (state == ERedoCopy::kUnsealed)
    {
        DeleteOpenFile(redo);
        return ERROR_SUCCESS;
    }
    const bool pathRead = state == ERedoCopy::kWhole || state == ERedoCopy::kTextDamaged;
    const bool samePath = pathRead && SamePath(copy.m_strTarget, target);
    if (pathRead && !samePath && !besideTarget)
        return ERROR_SUCCESS;

    CQMFileHandle file = OpenForWritingInPlace(target);
    std::string now;
    if (!file)
    {
        error = ::GetLastError();
        // The file is gone since (its owner deleted it): there is nothing left to finish.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return error;
    }
    else if ((error = ReadAll(file.Get(), now)) != ERROR_SUCCESS)
    {
        return error;
    }
    if (state != ERedoCopy::kWhole)
    {
        // Only a target that is exactly the text the copy replaced was certainly never touched;
        // anything else may need what the copy still holds.
        if (file && state == ERedoCopy::kTextDamaged && IsOldText(now, copy.m_trailer))
        {
            DeleteOpenFile(redo);
            return ERROR_SUCCESS;
        }
        outcome.m_bKeptDamaged = true;
        return SetRedoCopyAside(redo, redoPath, outcome);
    }
    if (!file)
    {
        DeleteOpenFile(redo);
        return ERROR_SUCCESS;
    }
    bool old = IsOldText(now, copy.m_trailer);
    bool begun = !now.empty() && now.size() < copy.m_text.size() && copy.m_text.compare(0, now.size(), now) == 0;
    if (old || begun)
    {
        error = OverwriteInPlace(file.Get(), copy.m_text);
        if (error != ERROR_SUCCESS)
            return error;
        outcome.m_bFinished = true;
    }
    else if (!samePath && now != copy.m_text)
    {
        // Made for the path the list had before its folder moved, and matching neither text:
        // whether the host wrote the list anew cannot be told.
        outcome.m_strMadeFor = copy.m_strTarget;
        return SetRedoCopyAside(redo, redoPath, outcome);
    }
    DeleteOpenFile(redo);
    return ERROR_SUCCESS;
}
