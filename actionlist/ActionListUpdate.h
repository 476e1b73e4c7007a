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

// Writes the model to path, replacing the file in one step: it holds the whole old list or the
// whole new one, whatever happens to the process. Another program may hold the file for a
// moment (a scanner, a backup, the host itself), so a save refused that way is tried again for
// up to about two seconds; a file that refuses writing for good, or a full disk, is given up at
// once. True when written; otherwise the file is as it was and a "SAVE_FAILED" record names it.
bool SaveActionListRetrying(const CQMActionListXML& model, const std::wstring& path);
