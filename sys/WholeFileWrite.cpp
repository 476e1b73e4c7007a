#include "sys/WholeFileWrite.h"

#include <windows.h>
#include <aclapi.h>

#include <vector>

namespace
{
QMSaveStepHook g_pfnSaveStepHook = nullptr;
}

void SetSaveStepHookForTest(QMSaveStepHook hook)
{
    g_pfnSaveStepHook = hook;
}

void SaveStep()
{
    if (g_pfnSaveStepHook != nullptr)
        g_pfnSaveStepHook();
}

bool DeleteOpenFile(CQMFileHandle& file)
{
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    bool marked = ::SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
    file.Reset();
    return marked;
}

DWORD WriteNewFile(const std::wstring& platformPath, const std::string& bytes, bool flush, CQMFileHandle& file,
                   bool* created)
{
    file.Reset(::CreateFileW(platformPath.c_str(), GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (created != nullptr)
        *created = static_cast<bool>(file);
    if (!file)
        return ::GetLastError();
    // One write of the whole text, so that a failure leaves nothing behind to look at.
    DWORD written = 0;
    SaveStep();
    DWORD error = ERROR_SUCCESS;
    if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        error = ::GetLastError();
    else if (written != bytes.size())
        error = ERROR_DISK_FULL; // a short write without an error: what a full disk gives on some file systems
    SaveStep();
    if (error == ERROR_SUCCESS && flush && !::FlushFileBuffers(file.Get()))
        error = ::GetLastError();
    if (error == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    DeleteOpenFile(file);
    return error;
}

bool IsDiskFullError(DWORD error)
{
    // ERROR_DISK_QUOTA_EXCEEDED: the user's quota on the volume, as final as a full disk.
    constexpr DWORD kDiskQuotaExceeded = 1295;
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == kDiskQuotaExceeded;
}

DWORD RenameOpenFile(HANDLE file, const std::wstring& platformPath, bool replace)
{
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + (platformPath.size() + 1) * sizeof(wchar_t), 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->FileNameLength = static_cast<DWORD>(platformPath.size() * sizeof(wchar_t));
    platformPath.copy(rename->FileName, platformPath.size());
    if (::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())))
        return ERROR_SUCCESS;
    return ::GetLastError();
}

void CopyFileIdentity(const std::wstring& fromPlatformPath, HANDLE toFile)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(fromPlatformPath.c_str(), GetFileExInfoStandard, &data))
        return;
    FILE_BASIC_INFO basic = {};
    basic.CreationTime.LowPart = data.ftCreationTime.dwLowDateTime;
    basic.CreationTime.HighPart = static_cast<LONG>(data.ftCreationTime.dwHighDateTime);
    // Zero times stay as they are; the attributes are the old file's, which is no folder.
    basic.FileAttributes = data.dwFileAttributes & ~FILE_ATTRIBUTE_DIRECTORY;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(toFile, FileBasicInfo, &basic, sizeof(basic));

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(fromPlatformPath.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    // An access list that inherits from the folder inherits again; a protected one stays protected.
    bool inherits = ::GetSecurityDescriptorControl(descriptor, &control, &revision) && !(control & SE_DACL_PROTECTED);
    ::SetSecurityInfo(toFile, SE_FILE_OBJECT,
                      DACL_SECURITY_INFORMATION |
                          (inherits ? UNPROTECTED_DACL_SECURITY_INFORMATION : PROTECTED_DACL_SECURITY_INFORMATION),
                      nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
}
