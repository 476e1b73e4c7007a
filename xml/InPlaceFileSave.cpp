#include "xml/InPlaceFileSave.h"

#include "sys/Handle.h"
#include "sys/PathUtil.h"

#include <windows.h>

namespace
{
bool WriteAt(HANDLE file, LONGLONG offset, const char* data, DWORD size)
{
    LARGE_INTEGER position = {};
    position.QuadPart = offset;
    DWORD written = 0;
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           (size == 0 || (::WriteFile(file, data, size, &written, nullptr) && written == size));
}

// Replaces the contents of the open file by bytes. The size changes from the old to the new
// in one step, so that whoever looks at it from outside never sees a size between the two.
bool ReplaceContents(HANDLE file, const std::string& bytes)
{
    LARGE_INTEGER oldSize = {};
    if (!::GetFileSizeEx(file, &oldSize))
        return false;
    const LONGLONG newSize = static_cast<LONGLONG>(bytes.size());
    // A growing file gets its last byte first: one write takes it to its new size and claims
    // the space before anything of the old text is overwritten. (Extending with SetEndOfFile
    // would pass through one byte more under Wine.)
    if (newSize > oldSize.QuadPart && !WriteAt(file, newSize - 1, &bytes[bytes.size() - 1], 1))
        return false;
    if (!WriteAt(file, 0, bytes.data(), static_cast<DWORD>(bytes.size())))
        return false;
    return newSize >= oldSize.QuadPart || ::SetEndOfFile(file);
}
} // namespace

bool SaveBytesInPlace(const std::string& bytes, const std::wstring& path)
{
    std::wstring target = ToPlatformPath(path);
    // A read-only target stays as it is, also where the platform would let its owner write it.
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;

    // The file itself is written, so that it keeps its security, attributes and hard links.
    // No sharing while it is written: nobody opens it to find half of the new list.
    CQMFileHandle file(::CreateFileW(target.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ReplaceContents(file.Get(), bytes);
}
