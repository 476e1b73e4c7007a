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

#include <windows.h>

#include <string>

struct QMFileSave
{
    // In: a folder of the module's own for the redo copy of a file whose folder takes no new
    // file; empty when there is none.
    std::wstring m_strOwnFolder;
    // Out, after a failure: what refused, in platform form (the file, its folder, or the own
    // folder), and whether it is a folder.
    std::wstring m_strRefused;
    bool m_bFolderRefused = false;
};

// ERROR_SUCCESS, or the platform's error; the file is then as it was. A read-only file or a
// folder gives ERROR_ACCESS_DENIED without being touched. Paths up to the platform's limit
// are saved even where the temporary name passes it.
DWORD SaveBytesReplacing(const std::string& bytes, const std::wstring& path, QMFileSave* save = nullptr);

// Before the file at path is read: finishes a save in place that a process ended halfway, from
// its redo copy beside the file or in ownFolder (see SaveBytesReplacing). finished is set when
// the file was written. ERROR_SUCCESS also when there was nothing to finish; the platform's
// error when a whole redo copy could not be written to the file (redoPath then names it).
DWORD FinishInterruptedSave(const std::wstring& path, const std::wstring& ownFolder, bool& finished,
                            std::wstring& redoPath);
