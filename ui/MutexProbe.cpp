#include "ui/MutexProbe.h"

#include "sys/Handle.h"

#include <windows.h>

bool IsAnyMutexPresent(const std::vector<std::wstring>& names)
{
    for (const std::wstring& name : names)
    {
        CQMKernelHandle mutex(::OpenMutexW(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
        if (mutex)
            return true;
    }
    return false;
}

bool IsInstanceBusy()
{
    return IsAnyMutexPresent({kBusyMutexName});
}
