#pragma once
// The writes of the host's action list around a component update: the rewrite with the
// call's component type before the run, and the saves that must reach the file.

#include "actionlist/QMActionListXML.h"

#include <functional>
#include <string>

// Outcomes of the rewrite before the run.
enum : int
{
    QM_REWRITE_SAVED = 0,       // written with the component type
    QM_REWRITE_KEPT = 1,        // the file exists but is refused (unreadable, or no component with an ID
                                // and an Action): left byte for byte
    QM_REWRITE_NOT_WRITTEN = 2, // loaded, but the file could not be written
    QM_REWRITE_CREATED = 3,     // there was none: an empty list with the component type was written
};

// Loads the list at path (ReadActionListSettled), sets its component type and writes it back. A
// list the call refuses is refused before anything is written; a missing list becomes an empty
// list carrying the component type, as before (and is refused too).
int RewriteActionList(const std::wstring& path, const std::wstring& componentType);

// Writes the model to the file path leads to (links stay links), replacing it in one step: it
// holds the whole old list or the whole new one, whatever happens to the process. Where the
// replace is refused (a holder that shares writing but not deletion, a folder that takes no new
// file) it is written in place behind a redo copy (xml/ReplacingFileSave.h). Another program
// may hold the file without sharing its writing for a moment (a scanner, a backup, the host
// itself), and another process's save of the same list holds its temporary file while it runs,
// so a save refused that way is tried again for up to about two seconds, answering sent
// messages meanwhile; a file that refuses writing for good, a folder that takes no file or a
// full disk is given up at once. True when written; otherwise the file is as it was and a
// "SAVE_FAILED" and a "REASON" record name it and what refused.
bool SaveActionListRetrying(const CQMActionListXML& model, const std::wstring& path);

// Reads the list at path with read (which returns a load result) once no save of it is under
// way: first finishes a write in place that a process ended halfway from its redo copy (a
// "SAVE_FINISHED" record says so), waiting while another process's save holds the copy; then
// reads, and reads again while a save of another process ran meanwhile (the list may have been
// half written), within the same bound and answering sent messages as the save. result is the
// last read's. False, with a "REASON" record and without a read, when the list could not be
// finished from a whole redo copy or another save held its copy past the bound. A redo copy
// that could not be applied is set aside and named in a "REASON" record.
bool ReadActionListSettled(const std::wstring& path, const std::function<int()>& read, int& result);

// The module's own folder for the redo copies of lists whose folder takes no new file ("/" form).
std::wstring GetActionListRedoFolder() noexcept;
