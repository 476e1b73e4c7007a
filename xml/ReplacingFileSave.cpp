#include "xml/ReplacingFileSave.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "sys/WholeFileWrite.h"
#include "xml/InPlaceSave.h"

#include <cwchar>
#include <vector>

namespace
{
constexpr const wchar_t* kTemporarySuffix = L".~qm";
constexpr const wchar_t* kLongPrefix = L"\\\\?\\";

// The file that path leads to, through every symbolic link and junction, in platform form; the
// full path itself when there is no such file (yet) or the platform cannot say.
std::wstring ResolveFinalPath(const std::wstring& full)
{
    // No access asked for: a holder that shares nothing does not hide where the file is.
    CQMFileHandle file(::CreateFileW(ToLongPathForm(full).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return full;
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;)
    {
        DWORD length = ::GetFinalPathNameByHandleW(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0)
            return full;
        if (length < buffer.size())
        {
            std::wstring final(buffer.data(), length);
            // "\\?\C:\..." back to "C:\...", "\\?\UNC\server\..." to "\\server\...": the short
            // form where it fits, as the caller gave it.
            if (final.compare(0, 8, L"\\\\?\\UNC\\") == 0)
                return L"\\\\" + final.substr(8);
            if (final.compare(0, 4, kLongPrefix) == 0)
                return final.substr(4);
            return final;
        }
        buffer.resize(length + 1);
    }
}

// The full and final platform path of the file that path names, in the long form when the
// temporary name needs it; empty for a name that is none.
std::wstring SaveTargetOf(const std::wstring& path)
{
    std::wstring full = GetFullPlatformPath(path);
    if (full.empty())
        return full;
    full = ResolveFinalPath(full);
    // The temporary name is the longer one: both take the long form when it needs it.
    const bool longForm = full.size() + wcslen(kTemporarySuffix) >= MAX_PATH;
    return longForm ? ToLongPathForm(full) : full;
}

DWORD WriteTemporary(const std::wstring& target, const std::wstring& temporary, const std::string& bytes,
                     CQMFileHandle& file)
{
    SaveStep();
    DWORD error = WriteNewFile(temporary, bytes, true, file);
    if (error != ERROR_FILE_EXISTS)
        return error;
    // Left by a save that was cut off: a sealed redo copy is finished first (the file may show
    // a beginning of its text), anything else only goes. One that another saver is writing
    // right now is held without sharing and refuses the deletion: that save goes first.
    bool finished = false;
    error = FinishSaveFromRedoCopy(target, temporary, finished);
    if (error != ERROR_SUCCESS)
        return error;
    SaveStep();
    if (!::DeleteFileW(temporary.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return ::GetLastError();
    SaveStep();
    return WriteNewFile(temporary, bytes, true, file);
}

// The rename was refused for the file's sake, not the text's: another program holds it without
// sharing its deletion (Windows says so with a sharing violation, Wine and a file whose access
// list grants writing but not deletion with access denied).
bool IsReplaceRefused(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

std::wstring FolderOf(const std::wstring& platformPath)
{
    size_t slash = platformPath.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : platformPath.substr(0, slash);
}

void SetRefused(QMFileSave* save, const std::wstring& what, bool folder)
{
    if (save == nullptr)
        return;
    save->m_strRefused = what.compare(0, 4, kLongPrefix) == 0 ? what.substr(4) : what;
    save->m_bFolderRefused = folder;
}

// The target's folder takes no new file: the redo copy goes into the module's own folder.
DWORD SaveInPlaceFromOwnFolder(const std::string& bytes, const std::wstring& target, DWORD folderError,
                               QMFileSave* save)
{
    if (save == nullptr || save->m_strOwnFolder.empty())
    {
        SetRefused(save, FolderOf(target), true);
        return folderError;
    }
    std::wstring own = GetFullPlatformPath(save->m_strOwnFolder);
    std::wstring redoPath = ToLongPathForm(RedoCopyPathIn(own, target));
    CQMFileHandle redo;
    DWORD error = WriteTemporary(target, redoPath, bytes, redo);
    if (error != ERROR_SUCCESS)
    {
        SetRefused(save, own, true);
        return error;
    }
    error = SaveBytesInPlace(bytes, target, redo);
    if (error != ERROR_SUCCESS)
        SetRefused(save, target, false);
    return error;
}
} // namespace

DWORD SaveBytesReplacing(const std::string& bytes, const std::wstring& path, QMFileSave* save)
{
    std::wstring target = SaveTargetOf(path);
    if (target.empty())
        return ERROR_INVALID_NAME;
    std::wstring temporary = target + kTemporarySuffix;
    SetRefused(save, target, false);

    // A read-only target stays as it is, also where the platform would let its owner replace it.
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return ERROR_ACCESS_DENIED;

    CQMFileHandle file;
    DWORD error = WriteTemporary(target, temporary, bytes, file);
    if (error != ERROR_SUCCESS)
    {
        // A folder that refuses a new file refuses it for good: the file itself, where there is
        // one, may still be written where it is.
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES)
            return SaveInPlaceFromOwnFolder(bytes, target, error, save);
        SetRefused(save, FolderOf(target), true);
        return error;
    }
    SaveStep();
    if (attributes != INVALID_FILE_ATTRIBUTES)
        CopyFileIdentity(target, file.Get());
    // Renamed while it is still held: nobody can take the temporary file away in between. The
    // rename replaces the target in one step (a replace that first moves the target aside
    // would leave no list at all to a process ended in between).
    SaveStep();
    error = RenameOpenFile(file.Get(), target, true);
    SaveStep();
    if (error == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    if (attributes != INVALID_FILE_ATTRIBUTES && IsReplaceRefused(error))
    {
        // The temporary file, whole and on the disk, is the redo copy of the write in place.
        DWORD inPlace = SaveBytesInPlace(bytes, target, file);
        // A holder that shares no writing refuses the file either way: the rename's refusal is
        // the one to report (and, while the holder may let go, to retry). No room is no room.
        if (inPlace == ERROR_SUCCESS || IsDiskFullError(inPlace))
            return inPlace;
        return error;
    }
    DeleteOpenFile(file);
    return error;
}

DWORD FinishInterruptedSave(const std::wstring& path, const std::wstring& ownFolder, bool& finished,
                            std::wstring& redoPath)
{
    finished = false;
    std::wstring target = SaveTargetOf(path);
    if (target.empty())
        return ERROR_SUCCESS;
    std::vector<std::wstring> copies = {target + kTemporarySuffix};
    std::wstring own = ownFolder.empty() ? std::wstring() : GetFullPlatformPath(ownFolder);
    if (!own.empty())
        copies.push_back(ToLongPathForm(RedoCopyPathIn(own, target)));
    for (const std::wstring& copy : copies)
    {
        bool done = false;
        DWORD error = FinishSaveFromRedoCopy(target, copy, done);
        finished = finished || done;
        if (error != ERROR_SUCCESS)
        {
            redoPath = copy.compare(0, 4, kLongPrefix) == 0 ? copy.substr(4) : copy;
            return error;
        }
    }
    return ERROR_SUCCESS;
}
