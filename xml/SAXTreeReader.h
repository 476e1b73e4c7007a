#pragma once
// File to tree in one pass of the platform's SAX reader. Reading a loaded DOM node by node
// costs more than loading it (every node access is a COM call, under Wine an object), so
// documents made only of elements, attributes and plain text are read here; anything the
// DOM could carry over differently is left to the DOM, which also decides every refusal.

#include "xml/XMLNode.h"

#include <string>

// A new tree of the file at path ("/" separators), the same tree that loading it into the
// DOM would give; or null when the DOM must decide: a failure of any kind (missing file, not
// well-formed, nested deeper than the tree allows), an encoding other than UTF-8, a document
// type, CDATA, a processing instruction, a namespace declaration or prefixed name, or text with
// white space at one end (whitespace handling of the DOM decides what remains of it).
// Throws std::bad_alloc.
CXMLDocument* ReadFileWithSAX(const std::wstring& path);

// Where the platform's SAX reader stops reading the file at path as not well-formed (1-based);
// false when it reads the file to its end or cannot read it. The DOM reports no position on
// some platforms (line 0 under Wine), the SAX reader the line it stopped in.
bool FindSAXErrorPosition(const std::wstring& path, long& line, long& column);
