#pragma once
// The roaming application-data folder of the user the log belongs to.

#include <string>

class CQMSystemUtil;

// Replaces every path element equal to processUser (exact, case-sensitive) by sessionUser.
// Parts of longer elements are left alone, so a short user name cannot corrupt other folders.
std::wstring ReplaceUserInPath(const std::wstring& path, const std::wstring& processUser,
                               const std::wstring& sessionUser);

// The folder for a process whose application-data folder is appData: when the process runs
// under another account than the session's standard user, that user's profile is taken.
std::wstring RedirectToSessionUser(const std::wstring& appData, bool sessionUserIsAdmin,
                                   const std::wstring& sessionUser, const std::wstring& processUser);

// True and the folder in "/" form, or false and empty when the platform has no such folder.
bool GetUserDataFolder(std::wstring& path);
