#pragma once
// Writing a document's bytes to a file so that the file holds its whole old text or the whole
// new one, whatever moment the process dies or the disk fills.
//
// The file written is the one the path leads to: symbolic links and junctions along the path
// stay as they are, and their target gets the new text. The new text goes into a temporary file
// beside it ("<name>.~qm"), on the disk, takes the file's attributes, creation time and access
// list, and then takes the file's place in one rename: no instant shows a missing, empty or
// partly written file. What the rename cannot keep is another name of the same file (a hard
// link), which goes on showing the old text. A temporary file left by a process that was ended
// halfway is cleared by the next save of the same file; a failed save leaves none.
//
// Where the rename is refused (another program holds the file, sharing reading and writing but
// not its deletion) or the folder takes no new file, the file is written in place instead,
// behind a redo copy (xml/InPlaceSave.h): beside the file, or in a folder of the module's own
// when the file's folder cannot hold it. Only a holder that shares no writing makes the save fail.
//
// Saves of one file by several processes take turns at the temporary name: the one that holds
// it goes first, and the others are refused until it has let go (m_bSaveInProgress).

#include "xml/InPlaceSave.h"

#include <windows.h>

#include <string>
#include <vector>

struct QMFileSave
{
    // In: a folder of the module's own for the redo copy of a file whose folder takes no new
    // file; empty when there is none.
    std::wstring m_strOwnFolder;
    // Out, after a failure: what refused, in platform form (the file, its folder, the own
    // folder, or the temporary file another save holds), and whether it is a folder. Only a
    // folder that refused to create the file counts as one.
    std::wstring m_strRefused;
    bool m_bFolderRefused = false;
    // Out, after a failure: another save of the same file holds its temporary file or redo copy
    // (m_strRefused) right now; the refusal passes when that save ends.
    bool m_bSaveInProgress = false;
    // Out: redo copies met on the way that could not be applied and were set aside.
    std::vector<QMRedoFinish> m_vecKept;
};

// ERROR_SUCCESS, or the platform's error; the file is then as it was. A read-only file or a
// folder gives ERROR_ACCESS_DENIED without being touched. Paths up to the platform's limit
// are saved even where the temporary name passes it.
DWORD SaveBytesReplacing(const std::string& bytes, const std::wstring& path, QMFileSave* save = nullptr);

struct QMInterruptedSave
{
    // The file was written from a redo copy.
    bool m_bFinished = false;
    // Another save holds a copy right now (ERROR_SHARING_VIOLATION): the file may be half
    // written until it lets go, so it is not to be read yet.
    bool m_bInUse = false;
    // The copy in use, or the one the file could not be written from (platform form).
    std::wstring m_strRedoPath;
    // Copies that could not be applied and were set aside.
    std::vector<QMRedoFinish> m_vecKept;
};

// Before the file at path is read: finishes a save in place that a process ended halfway, from
// its redo copy beside the file or in ownFolder (see SaveBytesReplacing). ERROR_SUCCESS also
// when there was nothing to finish; ERROR_SHARING_VIOLATION while another save holds a copy;
// the platform's error when a whole redo copy could not be written to the file.
DWORD FinishInterruptedSave(const std::wstring& path, const std::wstring& ownFolder, QMInterruptedSave& outcome);

// What shows whether a save of the file ran during a read of it: its size and last write time,
// and whether a temporary file or redo copy of it is there.
struct QMSaveStamp
{
    bool m_bCopy = false;
    bool m_bFile = false;
    ULONGLONG m_nSize = 0;
    ULONGLONG m_nWritten = 0;
};
QMSaveStamp TakeSaveStamp(const std::wstring& path, const std::wstring& ownFolder);
// True when no save of the module can have changed the file between the two stamps.
bool IsReadSettled(const QMSaveStamp& before, const QMSaveStamp& after);
