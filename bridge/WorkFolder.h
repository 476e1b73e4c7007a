#pragma once
// The folder of request and result documents under the user's temporary folder,
// and the unique names of the request documents in it.

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

// Reserves folder/stem_n.xml for the first n from 1 at which neither the request nor its
// result document exists, by creating the request file empty: a thread or process that
// reserves at the same time gets another number. Empty when the request or its result
// path would be longer than kMaxRequestPathChars. When the file cannot be created for
// another reason (no folder), the first free name is returned unreserved.
std::wstring ReserveRequestPath(const std::wstring& folder, const std::wstring& stem);
