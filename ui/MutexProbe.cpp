#include "ui/MutexProbe.h"

#include "protocol/QMProgressData.h"
#include "sys/Handle.h"
#include "sys/ProcessProbe.h"

#include <windows.h>

bool IsAnyMutexPresent(const std::vector<std::wstring>& names)
{
    for (const std::wstring& name : names)
    {
        // The least access that proves the mutex exists. One made by an elevated process
        // refuses more to a standard one, and refusing access still means it is there.
        CQMKernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()));
        if (mutex || ::GetLastError() == ERROR_ACCESS_DENIED)
            return true;
    }
    return false;
}

bool IsInstanceBusy()
{
    return IsAnyMutexPresent({kBusyMutexName});
}

std::wstring NameBusyHolder(HWND skipWindow)
{
    std::vector<QMProcessInfo> owners = FindMessageWindowOwners(kProgressWindowClass, skipWindow);
    if (owners.empty())
        return L"a process that cannot be named";
    const QMProcessInfo& owner = owners.front();
    return (owner.m_strImage.empty() ? std::wstring(L"a process") : FileNameOfPath(owner.m_strImage)) +
           L" (process " + std::to_wstring(owner.m_nId) + L")";
}
