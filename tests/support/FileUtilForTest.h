#pragma once
// Plain file helpers for tests; paths in either separator form.

#include <string>
#include <vector>

// The path with "\" separators, for platform calls.
std::wstring PlatformPathForTest(std::wstring path);

// The running test program's path, and its folder with a trailing "\", where the build puts every program.
std::wstring TestProgramPath();
std::wstring BinFolder();

std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);   // a file, not a folder
bool FolderExists(const std::wstring& path);
bool MakeFolder(const std::wstring& path);
// Creates the folder with its missing parents; true when it exists afterwards.
bool CreateFolderPathForTest(const std::wstring& path);
bool DeleteFileForTest(const std::wstring& path);
// Names (not paths) of the entries matching pattern ("*.txt") in folder, sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder, const std::wstring& pattern);

std::wstring Utf8ToWide(const std::string& bytes);
std::string WideToUtf8(const std::wstring& text);
