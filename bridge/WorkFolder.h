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

// folder/stem_n.xml for the first n from 1 at which nothing exists.
std::wstring ChooseRequestPath(const std::wstring& folder, const std::wstring& stem);
