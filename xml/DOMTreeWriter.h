#pragma once
// Tree to DOM, with the layout the module writes: an XML declaration for UTF-8, each
// child element on a new line indented by five spaces a level, texts inline.

#include "sys/ComHandle.h"
#include "xml/XMLNode.h"

#include <windows.h>
#include <msxml2.h>

// The DOM document of a tree of kind XML_NODE_DOCUMENT, or empty when the tree holds a
// node that cannot stand where it is or a DOM call fails. newLine is the line-break text.
// Throws std::bad_alloc.
CQMComPtr<IXMLDOMDocument> BuildDOMDocument(const CXMLNode* document, BSTR newLine);
