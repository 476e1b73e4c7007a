#pragma once
// The current file's handle, kept open for the records of the exported calls that run. A call
// writes a record per progress message; opening and closing the file for each costs more than
// the append itself. Outside the calls every record opens and closes the file, and once the last
// call has ended nothing stays open, so that the log folder can be removed.
//
// While it is kept the file is open without delete sharing: an archive step of another process
// cannot move the file away under the records that follow (they would stand in an archive made
// before them); that step keeps the current file, and its records go with the next step. This
// process's own archive step lets go of the file first (ReleaseKeptLogFile).

#include "sys/Handle.h"

#include <windows.h>

#include <string>

// One record's use of the kept handle: taken when no other thread of the process appends
// through it at the moment and a call runs.
class CQMKeptLogFile
{
public:
    // platformPath: the current file the record goes to; it outlives this object.
    explicit CQMKeptLogFile(const std::wstring& platformPath) noexcept;
    ~CQMKeptLogFile();
    CQMKeptLogFile(const CQMKeptLogFile&) = delete;
    CQMKeptLogFile& operator=(const CQMKeptLogFile&) = delete;

    // The kept handle of the file, or null when the record must open the file itself.
    HANDLE Handle() const noexcept;
    // A handle the record opened may be kept (opened without delete sharing, see above).
    bool MayKeep() const noexcept { return m_bGuardHeld; }
    // Keeps the handle the record opened for platformPath.
    void Keep(CQMFileHandle file) noexcept;
    // The append failed: the handle is closed, the next record opens the file afresh.
    void Discard() noexcept;

private:
    const std::wstring& m_strPath;
    bool m_bGuardHeld = false;
};

// Closes the kept handle unless a record appends through it at this moment (that record closes
// it when no call runs any more).
void ReleaseKeptLogFile() noexcept;
