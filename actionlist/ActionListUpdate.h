#pragma once
// The writes of the host's action list around a component update: the rewrite with the
// call's component type before the run, and the saves that must reach the file.

#include "actionlist/QMActionListXML.h"

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

// Loads the list at path, sets its component type and writes it back. A list the call refuses
// is refused before anything is written; a missing list becomes an empty list carrying the
// component type, as before (and is refused too).
int RewriteActionList(const std::wstring& path, const std::wstring& componentType);

// Writes the model to the file path leads to (links stay links), replacing it in one step: it
// holds the whole old list or the whole new one, whatever happens to the process. Where the
// replace is refused (a holder that shares writing but not deletion, a folder that takes no new
// file) it is written in place behind a redo copy (xml/ReplacingFileSave.h). Another program
// may hold the file without sharing its writing for a moment (a scanner, a backup, the host
// itself), so a save refused that way is tried again for up to about two seconds, answering
// sent messages meanwhile; a file that refuses writing for good, a folder that takes no file or
// a full disk is given up at once. True when written; otherwise the file is as it was and a
// "SAVE_FAILED" and a "REASON" record name it and what refused.
bool SaveActionListRetrying(const CQMActionListXML& model, const std::wstring& path);

// Before the list at path is read: finishes a write in place that a process ended halfway from
// its redo copy (a "SAVE_FINISHED" record says so). False, with a "REASON" record, when a whole
// redo copy could not be written to the list.
bool FinishInterruptedListSave(const std::wstring& path);

// The module's own folder for the redo copies of lists whose folder takes no new file ("/" form).
std::wstring GetActionListRedoFolder() noexcept;
