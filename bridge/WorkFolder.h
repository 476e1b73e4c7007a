#pragma once
// The folder of request and result documents under the user's temporary folder,
// and the unique names of the request documents in it.

#include <windows.h>

#include <string>

// "<temp>/Tavrin_Inc_ZL/Vestabel" in "/" form, created when missing.
std::wstring GetVestabelWorkFolder();

// The application name made safe as a file-name stem: characters that a file name cannot
// hold (separators, ':', '*', '?', '"', '<', '>', '|', controls) become '_', so that no
// name can place a document outside the work folder.
std::wstring MakeRequestFileStem(const std::wstring& name);

// The longest request or result path the updater's command line and the platform's file
// calls take without the long-path prefix.
constexpr size_t kMaxRequestPathChars = 259;

// Writes bytes as the request folder/stem_n.xml for the first n from 1 at which neither the
// request nor its result document exists. The document appears under its name whole or not at
// all: it is written under a temporary name of this thread's (not flushed: a process that ends
// still leaves its data to the system), then renamed without replacing, so a thread or process
// that writes at the same time takes another number. A process ended halfway leaves only its
// temporary file, which is never read as a request, takes no number and is cleared by the next
// request written in the folder. Empty, with nothing left behind, when the request or its
// result path would be longer than kMaxRequestPathChars (error ERROR_FILENAME_EXCED_RANGE) or
// the document could not be written (the platform's error: a full disk, no folder).
std::wstring WriteRequestFile(const std::wstring& folder, const std::wstring& stem, const std::string& bytes,
                              DWORD& error);
