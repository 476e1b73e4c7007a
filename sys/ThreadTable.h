#pragma once
// Handles of threads the module started, kept open until someone waits for them.
// The system reuses the identifier of an ended thread once no handle to it is open,
// so a wait by identifier alone could land on an unrelated thread.

#include "sys/Handle.h"
#include "sys/SlimLock.h"

#include <map>

class CQMThreadTable
{
public:
    void Add(unsigned threadId, CQMKernelHandle thread);
    // The handle kept for threadId, or an empty owner when none is kept.
    CQMKernelHandle Take(unsigned threadId);

private:
    CQMSlimLock m_lock;
    std::map<unsigned, CQMKernelHandle> m_threads;
};
