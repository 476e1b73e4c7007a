#pragma once
// The host's cancel during a component update: the request, its way to the updater, and the
// service log's account of it. The updater can answer only a request it has received, and a
// record it sent before then says nothing of its answer: only what arrives after the request
// reached the updater's window is taken as the answer.
//
//   CANCEL,<function>,<how it was asked>,<component of the latest record>,<when>
//   CANCEL,UpdateComponents,<what the updater did with it>,<how the run ended>

#include <windows.h>

#include <string>

// How a component update's run ended, for the account of a cancel asked during it.
enum QMRunEnding
{
    QM_RUN_OPEN,
    QM_RUN_FINISHED,       // the updater's finish record, with its code
    QM_RUN_NO_FINISH,      // the module ended it: the updater ended, or never started, without a finish record
    QM_RUN_CLOSED_EARLY,   // message 2029 from outside closed it
    QM_RUN_NOT_WAITED_FOR  // the host quit, and the updater had not ended the run in time
};

struct QMCancelTrack
{
    bool m_bRequested = false;
    // The updater's window has taken the request (its window procedure returned).
    bool m_bDelivered = false;
    // A request was sent and the updater's window did not take it (gone, hung, timed out).
    bool m_bRelayFailed = false;
    // The request came when the run had already ended.
    bool m_bAfterTheEnd = false;
    // A request is on its way: before the delivery, what arrives meanwhile was sent before the
    // updater had it.
    bool m_bRelaying = false;
    unsigned m_nRecords = 0;
    std::wstring m_strLastComponent;
    unsigned m_nRecordsAfterDelivery = 0;
    QMRunEnding m_nEnding = QM_RUN_OPEN;
    int m_nFinishCode = 0;
};

// Counts a progress record of the run; one that comes after the delivery is the updater going on.
void NoteProgressRecord(QMCancelTrack& track, const wchar_t* componentId);

// Takes the host's request once and writes its record. atRecord: the callback answered the
// latest record; otherwise the request came after it (the host quit). A request that comes after
// the run has ended gets its account at once. Only the first request counts.
void RequestCancel(QMCancelTrack& track, const wchar_t* logName, const wchar_t* how, bool atRecord);

// Sends the request to the updater's window, once more with every call while one is asked (also
// after the finish record); a window that does not answer within a few seconds is given up for
// this time.
void RelayCancel(QMCancelTrack& track, HWND updaterWindow);

// The run has ended: after a request, the account of what the updater did with it.
void NoteRunEnding(QMCancelTrack& track, QMRunEnding ending, int finishCode = 0);

// The account's first field for the track as it stands: what the updater did with the request.
std::wstring DescribeCancelAnswer(const QMCancelTrack& track);
