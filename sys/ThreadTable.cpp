#include "sys/ThreadTable.h"

void CQMThreadTable::Add(unsigned threadId, CQMKernelHandle thread)
{
    CQMSlimLockGuard guard(m_lock);
    m_threads[threadId] = std::move(thread);
}

CQMKernelHandle CQMThreadTable::Take(unsigned threadId)
{
    CQMSlimLockGuard guard(m_lock);
    auto found = m_threads.find(threadId);
    if (found == m_threads.end())
        return CQMKernelHandle();
    CQMKernelHandle thread = std::move(found->second);
    m_threads.erase(found);
    return thread;
}
