#pragma once
// Writing a DOM document to a file without ever leaving a partly written target.

#include <windows.h>
#include <msxml2.h>

#include <string>

// The DOM's own save truncates its target before it writes, so the document is saved to a
// new file in the target's folder, which then replaces the target in one rename. False
// when either step fails; the target is then as it was and the new file is gone.
bool SaveDOMDocumentReplacing(IXMLDOMDocument* document, const std::wstring& path);
