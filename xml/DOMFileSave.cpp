#include "xml/DOMFileSave.h"

#include "sys/ComHandle.h"
#include "sys/PathUtil.h"
#include "xml/DOMInstance.h"

namespace
{
// Deletes the file at the end of the scope unless it was moved into place.
class CPendingFile
{
public:
    explicit CPendingFile(const wchar_t* path) : m_strPath(path) {}
    ~CPendingFile()
    {
        if (!m_bKept)
            ::DeleteFileW(m_strPath.c_str());
    }
    CPendingFile(const CPendingFile&) = delete;
    CPendingFile& operator=(const CPendingFile&) = delete;

    const std::wstring& Path() const { return m_strPath; }
    void Keep() { m_bKept = true; }

private:
    std::wstring m_strPath;
    bool m_bKept = false;
};
} // namespace

bool SaveDOMDocumentReplacing(IXMLDOMDocument* document, const std::wstring& path)
{
    std::wstring target = ToPlatformPath(path);
    // A read-only target stays as it is, as with a direct write; Wine's rename would replace it.
    DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;

    std::wstring folder = ToPlatformPath(GetParentFolder(path));
    if (folder.empty())
        folder = L".";

    // Creates the new file with a unique name; fails for a missing or unwritable folder.
    wchar_t pendingPath[MAX_PATH] = {};
    if (!::GetTempFileNameW(folder.c_str(), L"qmx", 0, pendingPath))
        return false;
    CPendingFile pending(pendingPath);

    CQMBstr bstrPath = AllocateBstr(pending.Path());
    if (document->save(BorrowedStringVariant(bstrPath.Get())) != S_OK)
        return false;
    if (!::MoveFileExW(pending.Path().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    pending.Keep();
    return true;
}
