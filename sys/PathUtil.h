#pragma once
// Path functions. Paths travel between the module's functions with "/" as the
// only separator (also after the drive letter); "\" appears only at platform calls.

#include <string>

void ReplaceChar(std::wstring& text, wchar_t from, wchar_t to);

// The folder that contains the path, in "/" form.
std::wstring GetParentFolder(const std::wstring& path);

// The relative path appended to the base with exactly one separator, in "/" form.
std::wstring JoinPath(const std::wstring& base, const std::wstring& relative);

// Creates the folder and all missing parents; returns the platform's code
// (ERROR_SUCCESS, or ERROR_ALREADY_EXISTS for an existing folder or file).
int CreateFolderPath(const std::wstring& folder);

// The path with "\" for a platform call.
std::wstring ToPlatformPath(const std::wstring& path);

// The full platform path ("\" form) that path names, resolved against the current folder as
// the platform would resolve it; empty when it cannot be resolved.
std::wstring GetFullPlatformPath(const std::wstring& path);

// A full platform path in the form that passes the path limit ("\\?\C:\..." or
// "\\?\UNC\server\share\..."); a path already in that form comes back as it is.
std::wstring ToLongPathForm(const std::wstring& fullPlatformPath);

// A path the host passed, as the host's own calls would take it: an absolute path as it stands,
// a relative one (also "\\x" and "C:x") resolved against the current folder now ("/" form),
// so that a program started elsewhere finds the same file. Empty stays empty.
std::wstring ResolveHostPath(const std::wstring& path);
