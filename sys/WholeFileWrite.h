#pragma once
// The first half of every save that must never leave a partly written file: the whole text in
// a file of its own, on the disk, before anything takes the place of the old file.

#include "sys/Handle.h"

#include <string>

// Creates the file at platformPath (which must not exist), writes all of bytes into it and,
// when flush is set, flushes it to the disk (a file that takes the place of a host's file must
// be on the disk before its name is). The file is held open without sharing, for the caller to rename or
// replace with; nobody else can open it meanwhile. On failure nothing is left at the path and
// the platform's error comes back (ERROR_FILE_EXISTS: something was there already, untouched).
// The handle may also change the file's attributes and access list. created, when given, tells
// a failure to create the file (false) from one to write it (true).
DWORD WriteNewFile(const std::wstring& platformPath, const std::string& bytes, bool flush, CQMFileHandle& file,
                   bool* created = nullptr);

// Gives the open file the name platformPath in one step, replacing a file there when replace is
// set. ERROR_SUCCESS, or the platform's error (ERROR_ALREADY_EXISTS: something is there).
DWORD RenameOpenFile(HANDLE file, const std::wstring& platformPath, bool replace);

// Gives the open file what it must keep of the file it is about to replace: its attributes,
// creation time and access list. What cannot be copied (no such file, no access to its
// security) is left as it is.
void CopyFileIdentity(const std::wstring& fromPlatformPath, HANDLE toFile);

// Deletes the file that file holds open, through that handle: no other program can take its
// name in between. False when it could not be marked.
bool DeleteOpenFile(CQMFileHandle& file);

// True for the errors of a write that found no room: retrying will not help.
bool IsDiskFullError(DWORD error);

// Tests end a process at each step of a save: before each platform call that changes files,
// and once more after its last one, a save calls SaveStep. The hook is null outside those tests.
using QMSaveStepHook = void (*)();
void SetSaveStepHookForTest(QMSaveStepHook hook);
void SaveStep();
