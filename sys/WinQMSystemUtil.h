#pragma once

#include "sys/QMSystemUtil.h"

class CWinQMSystemUtil : public CQMSystemUtil
{
public:
    bool GetOSVersionString(std::wstring& text) override;
    bool GetOSVersion(DWORD& major, DWORD& minor, DWORD& servicePackMajor) override;
    int GetServicePackMajor() override;
    std::wstring GetSystemLocaleID() override;
    bool IsSessionUserAdmin() override;
    bool HasFreeDiskSpace(const ULONGLONG& requiredBytes, const std::wstring& folder) override;
    bool IsAdministratorsMember() override;
    void Sleep(DWORD milliseconds) override;
    unsigned StartThread(unsigned(__stdcall* procedure)(void*), void* argument) override;
    void WaitForThread(unsigned threadId) override;
    BOOL RebootSystem() override;
    std::wstring GetInstVersionForUI(const std::wstring& subKey) override;
    std::wstring GetCurrentUserName() override;
};
