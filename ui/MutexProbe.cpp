#include "ui/MutexProbe.h"

#include "sys/Handle.h"

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
