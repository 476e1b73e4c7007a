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
    HWND window = nullptr;
    // Message-only windows are found only below HWND_MESSAGE on Windows.
    for (int i = 0; i < 16; ++i)
    {
        window = ::FindWindowExW(HWND_MESSAGE, window, kProgressWindowClass, nullptr);
        if (window == nullptr)
            break;
        DWORD processId = 0;
        if (window == skipWindow || ::GetWindowThreadProcessId(window, &processId) == 0)
            continue;
        std::wstring image = GetProcessImage(processId);
        if (image.empty())
        {
            for (const QMProcessEntry& process : ListProcesses())
                if (process.m_nId == processId)
                    image = process.m_strExeName;
        }
        return (image.empty() ? std::wstring(L"a process") : FileNameOfPath(image)) + L" (process " +
               std::to_wstring(processId) + L")";
    }
    return L"a process that cannot be named";
}
