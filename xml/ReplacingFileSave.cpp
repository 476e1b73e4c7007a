#include "xml/ReplacingFileSave.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "sys/WholeFileWrite.h"

#include <cwchar>

namespace
{
constexpr const wchar_t* kTemporarySuffix = L".~qm";

DWORD WriteTemporary(const std::wstring& temporary, const std::string& bytes, CQMFileHandle& file)
{
    SaveStep();
    DWORD error = WriteNewFile(temporary, bytes, true, file);
    if (error != ERROR_FILE_EXISTS)
        return error;
    // Left by a save that was cut off. One that another saver is writing right now is held
    // without sharing and refuses the deletion: that save goes first.
    SaveStep();
    if (!::DeleteFileW(temporary.c_str()))
        return ::GetLastError();
    SaveStep();
    return WriteNewFile(temporary, bytes, true, file);
}
} // namespace

DWORD SaveBytesReplacing(const std::string& bytes, const std::wstring& path)
{
    std::wstring full = GetFullPlatformPath(path);
    if (full.empty())
        return ERROR_INVALID_NAME;
    // The temporary name is the longer one: both take the long form when it needs it.
    const bool longForm = full.size() + wcslen(kTemporarySuffix) >= MAX_PATH;
    std::wstring target = longForm ? ToLongPathForm(full) : full;
    std::wstring temporary = target + kTemporarySuffix;

    // A read-only target stays as it is, also where the platform would let its owner replace it.
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return ERROR_ACCESS_DENIED;

    CQMFileHandle file;
    DWORD error = WriteTemporary(temporary, bytes, file);
    if (error != ERROR_SUCCESS)
        return error;
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
    DeleteOpenFile(file);
    return error;
}
