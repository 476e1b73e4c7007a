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

// Which step of writing the temporary file (or redo copy) failed.
enum class ETemporaryFailure
{
    kNotCreated,    // its folder refused to create it
    kInProgress,    // another save holds it (or has just taken it): that save goes first
    kTargetRefused, // a copy left by a cut-off save could not be written to the target
    kNotWritten,    // created, but its text could not be written (no room, a failing disk)
};

// "\\?\C:\..." as "C:\...": paths in records and reasons are in the form the host knows.
std::wstring ShortForm(const std::wstring& path)
{
    return path.compare(0, 4, kLongPrefix) == 0 ? path.substr(4) : path;
}

void KeepSetAside(QMFileSave* save, QMRedoFinish outcome)
{
    if (save == nullptr || outcome.m_strKeptAs.empty())
        return;
    outcome.m_strKeptAs = ShortForm(outcome.m_strKeptAs);
    save->m_vecKept.push_back(outcome);
}

// Something is at path: on Windows a file that another save is deleting this moment refuses a
// new one at its name with access denied, as a folder that takes no file does.
bool IsNameTaken(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD WriteTemporary(const std::wstring& target, const std::wstring& temporary, bool besideTarget,
                     const std::string& bytes, CQMFileHandle& file, ETemporaryFailure& failure, QMFileSave* save)
{
    SaveStep();
    bool created = false;
    DWORD error = WriteNewFile(temporary, bytes, true, file, &created);
    if (error != ERROR_FILE_EXISTS)
    {
        failure = created ? ETemporaryFailure::kNotWritten
                          : IsNameTaken(temporary) ? ETemporaryFailure::kInProgress : ETemporaryFailure::kNotCreated;
        return error;
    }
    // Left by a save that was cut off: a sealed redo copy is finished first (the file may show
    // a beginning of its text), anything else only goes. One that another saver holds right
    // now is that save's: it goes first, and this one is tried again once it has let go.
    QMRedoFinish outcome;
    error = FinishSaveFromRedoCopy(target, temporary, besideTarget, outcome);
    KeepSetAside(save, outcome);
    if (error != ERROR_SUCCESS)
    {
        failure = outcome.m_bInUse ? ETemporaryFailure::kInProgress : ETemporaryFailure::kTargetRefused;
        return error;
    }
    SaveStep();
    if (!::DeleteFileW(temporary.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND)
    {
        error = ::GetLastError();
        failure = error == ERROR_SHARING_VIOLATION ? ETemporaryFailure::kInProgress : ETemporaryFailure::kNotCreated;
        return error;
    }
    SaveStep();
    error = WriteNewFile(temporary, bytes, true, file, &created);
    if (error == ERROR_SUCCESS)
        return error;
    // Taken by another save in between.
    if (error == ERROR_FILE_EXISTS || (!created && IsNameTaken(temporary)))
    {
        failure = ETemporaryFailure::kInProgress;
        return ERROR_SHARING_VIOLATION;
    }
    failure = created ? ETemporaryFailure::kNotWritten : ETemporaryFailure::kNotCreated;
    return error;
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
    save->m_strRefused = ShortForm(what);
    save->m_bFolderRefused = folder;
    save->m_bSaveInProgress = false;
}

// What a failure to write the temporary file (or redo copy) at temporary in folder refuses.
DWORD RefuseTemporary(QMFileSave* save, DWORD error, ETemporaryFailure failure, const std::wstring& target,
                      const std::wstring& temporary, const std::wstring& folder)
{
    switch (failure)
    {
    case ETemporaryFailure::kInProgress:
        SetRefused(save, temporary, false);
        if (save != nullptr)
            save->m_bSaveInProgress = true;
        break;
    case ETemporaryFailure::kTargetRefused: SetRefused(save, target, false); break;
    case ETemporaryFailure::kNotCreated: SetRefused(save, folder, true); break;
    case ETemporaryFailure::kNotWritten: SetRefused(save, folder, false); break;
    }
    return error;
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
    ETemporaryFailure failure = ETemporaryFailure::kNotCreated;
    DWORD error = WriteTemporary(target, redoPath, false, bytes, redo, failure, save);
    if (error != ERROR_SUCCESS)
        return RefuseTemporary(save, error, failure, target, redoPath, own);
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
    ETemporaryFailure failure = ETemporaryFailure::kNotCreated;
    DWORD error = WriteTemporary(target, temporary, true, bytes, file, failure, save);
    if (error != ERROR_SUCCESS)
    {
        // A folder that refuses a new file refuses it for good: the file itself, where there is
        // one, may still be written where it is.
        if (failure == ETemporaryFailure::kNotCreated && error == ERROR_ACCESS_DENIED &&
            attributes != INVALID_FILE_ATTRIBUTES)
            return SaveInPlaceFromOwnFolder(bytes, target, error, save);
        return RefuseTemporary(save, error, failure, target, temporary, FolderOf(target));
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

namespace
{
// Beside the target first: the copies of a save that could not create its temporary file there
// are in the own folder.
std::vector<std::wstring> RedoCopiesOf(const std::wstring& target, const std::wstring& ownFolder)
{
    std::vector<std::wstring> copies = {target + kTemporarySuffix};
    std::wstring own = ownFolder.empty() ? std::wstring() : GetFullPlatformPath(ownFolder);
    if (!own.empty())
        copies.push_back(ToLongPathForm(RedoCopyPathIn(own, target)));
    return copies;
}
} // namespace

DWORD FinishInterruptedSave(const std::wstring& path, const std::wstring& ownFolder, QMInterruptedSave& outcome)
{
    outcome = QMInterruptedSave();
    std::wstring target = SaveTargetOf(path);
    if (target.empty())
        return ERROR_SUCCESS;
    std::vector<std::wstring> copies = RedoCopiesOf(target, ownFolder);
    for (size_t i = 0; i < copies.size(); ++i)
    {
        QMRedoFinish done;
        DWORD error = FinishSaveFromRedoCopy(target, copies[i], i == 0, done);
        outcome.m_bFinished = outcome.m_bFinished || done.m_bFinished;
        if (!done.m_strKeptAs.empty())
        {
            done.m_strKeptAs = ShortForm(done.m_strKeptAs);
            outcome.m_vecKept.push_back(done);
        }
        if (error != ERROR_SUCCESS)
        {
            outcome.m_bInUse = done.m_bInUse;
            outcome.m_strRedoPath = ShortForm(copies[i]);
            return error;
        }
    }
    return ERROR_SUCCESS;
}

QMSaveStamp TakeSaveStamp(const std::wstring& path, const std::wstring& ownFolder)
{
    QMSaveStamp stamp;
    std::wstring target = SaveTargetOf(path);
    if (target.empty())
        return stamp;
    for (const std::wstring& copy : RedoCopiesOf(target, ownFolder))
        stamp.m_bCopy = stamp.m_bCopy || ::GetFileAttributesW(copy.c_str()) != INVALID_FILE_ATTRIBUTES;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    stamp.m_bFile = ::GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data) != FALSE;
    if (stamp.m_bFile)
    {
        stamp.m_nSize = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        stamp.m_nWritten =
            (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    }
    return stamp;
}

bool IsReadSettled(const QMSaveStamp& before, const QMSaveStamp& after)
{
    // A copy beside the file means a save is under way (or was cut off, which the next finish
    // settles); a file that changed was written while it was read.
    return !before.m_bCopy && !after.m_bCopy && before.m_bFile == after.m_bFile && before.m_nSize == after.m_nSize &&
           before.m_nWritten == after.m_nWritten;
}
