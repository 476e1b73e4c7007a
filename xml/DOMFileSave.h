#pragma once
// Writing a DOM document to a file without ever leaving a partly written target.

#include <windows.h>
#include <msxml2.h>

#include <string>

// The DOM's own save truncates its target before it writes and a replacing rename gives the
// host a new file, so the document is serialised in memory first and then written into the
// target itself, held without sharing: the file keeps its identity (security, attributes,
// hard links) and nobody sees a partly written list. No temporary name, so any path that the
// platform can open is saved. False when serialising or writing fails or the target is
// read-only or a folder; in the first and last cases the target is untouched.
bool SaveDOMDocumentInPlace(IXMLDOMDocument* document, const std::wstring& path);
