#include "sys/ThreadTable.h"

void CQMThreadTable::Add(unsigned threadId, CQMKernelHandle thread)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_threads[threadId] = std::move(thread);
}

CQMKernelHandle CQMThreadTable::Take(unsigned threadId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_threads.find(threadId);
    if (found == m_threads.end())
        return CQMKernelHandle();
    CQMKernelHandle thread = std::move(found->second);
    m_threads.erase(found);
    return thread;
}
