#pragma once
// Pruning and archiving of the service log folder.

#include <string>

// Deletes the oldest archive when more than the entry limit of log files match; at most one per call.
void PruneServiceLogs(const std::wstring& folder);

// Prunes, then turns the current file into the archive "Tavrin_ACT_SERVICELOG_<stamp>.txt".
// The current file is kept when the archive name is already taken or the file cannot be
// renamed, so its records go with the next archive step. A current file without records
// makes no archive and prunes nothing.
void ArchiveServiceLogAs(const std::wstring& folder, const std::wstring& stamp);
