#include "ui/CancelRequest.h"

#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "protocol/QMProgressData.h"

namespace
{
constexpr const wchar_t* kCancelTag = L"CANCEL";
// A hung or foreign updater window must not hold the host's thread.
constexpr UINT kCancelTimeoutMs = 3000;

std::wstring DescribeEnding(const QMCancelTrack& track)
{
    switch (track.m_nEnding)
    {
    case QM_RUN_FINISHED: return L"finish code " + std::to_wstring(track.m_nFinishCode);
    case QM_RUN_NO_FINISH: return L"no finish record from the updater";
    case QM_RUN_CLOSED_EARLY: return L"closed early by message 2029";
    default: return L"not waited for after the host quit";
    }
}

void WriteAccount(const QMCancelTrack& track)
{
    WriteServiceLog(kServiceLogSource, kCancelTag,
                    JoinLogFields({kLogNameUpdateComponents, DescribeCancelAnswer(track), DescribeEnding(track)}));
}
} // namespace

void NoteProgressRecord(QMCancelTrack& track, const wchar_t* componentId)
{
    ++track.m_nRecords;
    track.m_strLastComponent = componentId;
    if (track.m_bDelivered)
        ++track.m_nRecordsAfterDelivery;
}

void RequestCancel(QMCancelTrack& track, const wchar_t* logName, const wchar_t* how, bool atRecord)
{
    if (track.m_bRequested)
        return;
    track.m_bRequested = true;
    std::wstring when = track.m_nRecords == 0 ? std::wstring(L"before the first record")
                                              : (atRecord ? L"at record " : L"after record ") +
                                                    std::to_wstring(track.m_nRecords);
    WriteServiceLog(kServiceLogSource, kCancelTag, JoinLogFields({logName, how, track.m_strLastComponent, when}));
    // A quit that this thread took after the finish record it had handled first: the updater
    // ended the run before it could have the request.
    if (track.m_nEnding != QM_RUN_OPEN)
    {
        track.m_bAfterTheEnd = true;
        WriteAccount(track);
    }
}

void RelayCancel(QMCancelTrack& track, HWND updaterWindow)
{
    if (!track.m_bRequested || updaterWindow == nullptr)
        return;
    // While this send waits, the thread takes what the updater sends meanwhile: a record or a
    // finish that the updater sent before it took the request is handled inside the send, and is
    // not its answer.
    const bool relaying = track.m_bRelaying;
    track.m_bRelaying = true;
    DWORD_PTR ignored = 0;
    bool taken = ::SendMessageTimeoutW(updaterWindow, WM_QM_CANCEL, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                                       kCancelTimeoutMs, &ignored) != 0;
    if (taken && !track.m_bDelivered)
    {
        // The updater may have taken the request inside its own send of a record; that record
        // can still wait for this thread behind the reply. It was sent before: take it now.
        MSG pending;
        ::PeekMessageW(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        track.m_bDelivered = true;
    }
    if (!taken && !track.m_bDelivered)
        track.m_bRelayFailed = true;
    track.m_bRelaying = relaying;
}

void NoteRunEnding(QMCancelTrack& track, QMRunEnding ending, int finishCode)
{
    if (track.m_nEnding != QM_RUN_OPEN)
        return;
    track.m_nEnding = ending;
    track.m_nFinishCode = finishCode;
    if (track.m_bRequested)
        WriteAccount(track);
}

std::wstring DescribeCancelAnswer(const QMCancelTrack& track)
{
    if (!track.m_bDelivered)
    {
        // Sent and refused is known; ended while the request was on its way (or before it was
        // asked) is known; never sent means the updater gave no window to send it to.
        if (track.m_bRelayFailed)
            return L"the cancel request did not reach the updater: its window did not take it";
        if (!track.m_bRelaying && !track.m_bAfterTheEnd)
            return L"the cancel request could not reach the updater: no record named its window";
        switch (track.m_nEnding)
        {
        case QM_RUN_FINISHED: return L"the updater finished before the cancel request reached it";
        case QM_RUN_CLOSED_EARLY: return L"the update was closed before the cancel request reached the updater";
        default: return L"the run ended before the cancel request reached the updater";
        }
    }
    if (track.m_nRecordsAfterDelivery > 0)
        return L"the updater went on after the cancel request (" + std::to_wstring(track.m_nRecordsAfterDelivery) +
               L" more records)";
    if (track.m_nEnding == QM_RUN_FINISHED)
        return track.m_nFinishCode == 0 ? L"the updater sent no more records after the cancel request but finished "
                                          L"without a failure"
                                        : L"the updater stopped at the cancel request";
    return L"the updater sent no more records after the cancel request";
}
