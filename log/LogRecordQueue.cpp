#include "log/LogRecordQueue.h"

#include "log/LogRecordWriter.h"
#include "log/ServiceLog.h"
#include "sys/ModuleThread.h"
#include "sys/PathUtil.h"

#include <windows.h>

#include <deque>
#include <utility>

namespace
{
// Beyond this many waiting records the caller writes its own (and those before it) directly:
// a writer that cannot keep up slows the producer down rather than letting memory grow.
constexpr size_t kMaxQueuedLines = 4096;
// An idle writer ends after this long, dropping its hold on the module.
constexpr DWORD kWriterIdleMs = 250;
// How long the writer lets records gather before it appends them.
constexpr DWORD kGatherMs = 10;

struct QMQueuedLine
{
    QMLogLocation m_location;
    std::string m_strLine;
};

// Lock and condition of the platform: neither needs construction nor destruction, so they
// serve in any order of static initialisation and after the writer has been stopped.
SRWLOCK g_queueLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_queueChanged = CONDITION_VARIABLE_INIT;
bool g_bWriterRunning = false;
bool g_bWriterIdle = false;
bool g_bWriteRequested = false;

std::deque<QMQueuedLine>& Queue()
{
    static std::deque<QMQueuedLine> s_queue;
    return s_queue;
}

class CQueueLock
{
public:
    CQueueLock() { ::AcquireSRWLockExclusive(&g_queueLock); }
    ~CQueueLock() { ::ReleaseSRWLockExclusive(&g_queueLock); }
    CQueueLock(const CQueueLock&) = delete;
    CQueueLock& operator=(const CQueueLock&) = delete;
};

std::deque<QMQueuedLine> TakeQueued()
{
    std::deque<QMQueuedLine> taken;
    CQueueLock lock;
    taken.swap(Queue());
    return taken;
}

// Consecutive records for the same file go in one append.
void WriteLines(std::deque<QMQueuedLine>& lines)
{
    while (!lines.empty())
    {
        QMQueuedLine first = std::move(lines.front());
        lines.pop_front();
        std::string batch = std::move(first.m_strLine);
        while (!lines.empty() && lines.front().m_location.m_strCurrentFile == first.m_location.m_strCurrentFile)
        {
            batch += lines.front().m_strLine;
            lines.pop_front();
        }
        AppendToServiceLogLocked(first.m_location, std::move(batch));
    }
}

// Waits for records and writes them; ends once nothing came for a while. Records that come
// close together are gathered for a moment and appended together: one open and close for
// several of them, so that the writer takes little from the processes it shares the system
// with, the updater that sends the records among them. The queue is taken under the log's
// own lock, so a direct write of another thread cannot slip in between taking and writing.
unsigned __stdcall WriterThread(void*)
{
    for (;;)
    {
        {
            CQueueLock lock;
            while (Queue().empty())
            {
                g_bWriterIdle = true;
                BOOL woken = ::SleepConditionVariableSRW(&g_queueChanged, &g_queueLock, kWriterIdleMs, 0);
                g_bWriterIdle = false;
                if (!woken && Queue().empty())
                {
                    g_bWriterRunning = false;
                    return 0;
                }
            }
            if (!g_bWriteRequested)
                ::SleepConditionVariableSRW(&g_queueChanged, &g_queueLock, kGatherMs, 0);
            g_bWriteRequested = false;
        }
        std::lock_guard<std::mutex> lock(ServiceLogMutex());
        WriteQueuedServiceLogLinesLocked();
    }
}
} // namespace

void AppendToServiceLogLocked(const QMLogLocation& location, std::string lines)
{
    if (AppendLogLinesLocked(location.m_strCurrentFile, lines))
        return;
    // The folder is created only when the append found it missing: the first record, or one
    // written after the folder was removed, also while a call reuses the folder it resolved.
    DWORD attributes = ::GetFileAttributesW(ToPlatformPath(location.m_strFolder).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    CreateFolderPath(location.m_strFolder);
    AppendLogLinesLocked(location.m_strCurrentFile, std::move(lines));
}

bool QueueServiceLogLine(const QMLogLocation& location, std::string line) noexcept
{
    try
    {
        QMQueuedLine entry{location, std::move(line)};
        CQueueLock lock;
        if (Queue().size() >= kMaxQueuedLines)
            return false;
        if (!g_bWriterRunning)
        {
            // The writer holds the module until it ends, so the host may unload it meanwhile.
            CQMKernelHandle writer = StartModuleThread(WriterThread, nullptr);
            if (!writer)
                return false;
            g_bWriterRunning = true;
        }
        Queue().push_back(std::move(entry));
        // A gathering writer is left to gather: waking it for every record would cost the
        // producer a wake each time and the writer an append each time.
        if (g_bWriterIdle)
            ::WakeConditionVariable(&g_queueChanged);
        return true;
    }
    catch (...)
    {
        return false;
    }
}

void RequestServiceLogWrite() noexcept
{
    CQueueLock lock;
    g_bWriteRequested = true;
    ::WakeConditionVariable(&g_queueChanged);
}

void WriteQueuedServiceLogLinesLocked() noexcept
{
    try
    {
        // One take: what is queued after it was made after the caller's own record, and a
        // producer that keeps queuing cannot hold the caller here.
        std::deque<QMQueuedLine> lines = TakeQueued();
        WriteLines(lines);
    }
    catch (...)
    {
        // Records that cannot be written are lost, as a direct write's would be.
    }
}

size_t CountQueuedServiceLogLines() noexcept
{
    CQueueLock lock;
    return Queue().size();
}
