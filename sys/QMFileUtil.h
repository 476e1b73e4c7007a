#pragma once
// Operations on files and folders. Paths may use "/" or "\".
// Failures come back as false, -1 or empty text; nothing throws.

#include <string>

class CQMFileUtil
{
public:
    virtual ~CQMFileUtil() = default;

    // 1 equal, 0 different, -1 when either file cannot be read.
    virtual int CompareFiles(const std::wstring& first, const std::wstring& second) = 0;
    // Creates this one folder; true also when anything already exists at path.
    virtual bool CreateFolder(const std::wstring& path) = 0;
    // Copies a file, or every entry of a folder into the destination folder.
    virtual bool CopyPath(const std::wstring& source, const std::wstring& destination, bool overwrite) = 0;
    // The file's size in bytes as decimal text; empty when it cannot be opened.
    virtual std::wstring GetFileSizeText(const std::wstring& path) = 0;
    // The local time of the file's last change as 2009-06-15T09:30:05, or empty.
    virtual void GetFileTimeText(const std::wstring& path, std::wstring& text) = 0;
};

// The process-wide instance; it lives as long as the module.
CQMFileUtil* GetFileUtil();

// Makes sure path is a folder, creating missing levels one at a time from the first existing one.
bool EnsureFolder(const wchar_t* path);

// After a write to the file at path failed: true when waiting may help, because another
// handle holds the file without write sharing or a lock on it (or it has just become
// writable); false when nothing is there, it is a folder or read-only, or access is refused.
bool IsWriteRefusalPassing(const std::wstring& path);

// What opening the existing file at path for writing, sharing everything, meets now:
// ERROR_SUCCESS, ERROR_SHARING_VIOLATION while another handle holds it without write sharing
// (a holder that shares writing but not deletion has it written in place, so it does not count),
// ERROR_ACCESS_DENIED where this user may not write it, or another error of the platform's.
unsigned long ProbeFileWriting(const std::wstring& path);
