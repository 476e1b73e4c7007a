#pragma once
// DOM to tree: carries elements, attributes and texts over, drops comments inside
// elements, and refuses everything else inside the document element.

#include "xml/XMLNode.h"

#include <windows.h>
#include <msxml2.h>

// Elements nested deeper than this fail the conversion: the tree is converted, written
// and deleted recursively, and must stay far inside a host thread's stack.
constexpr int kMaxTreeDepth = 256;

// A new tree of the loaded DOM document, or null when it has no document element or any
// part of it cannot be converted (never a partial tree). Throws std::bad_alloc.
CXMLDocument* ConvertDOMDocument(IXMLDOMDocument* document);
