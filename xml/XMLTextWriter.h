#pragma once
// Tree to XML text, with the layout the module writes: an XML declaration for UTF-8, each
// child element on a new line indented by five spaces a level, an element whose last child
// is an element with its end tag on a line of its own, texts inline, a line break at the end.
//
// The text is made here rather than by the platform's DOM: a DOM built node by node costs
// several times what the whole save may cost for a list of thousands of components. What the
// DOM would refuse is refused here too: names that are not XML names, characters XML cannot
// carry, and nodes that cannot stand where they are. Values are escaped so that any XML
// parser reads back exactly the tree's strings.

#include "xml/XMLNode.h"

#include <string>

// The UTF-8 text of a tree of kind XML_NODE_DOCUMENT; false (text unspecified) when the tree
// cannot be written. newLine is the line-break text. Throws std::bad_alloc.
bool WriteXMLDocumentText(const CXMLNode* document, const std::wstring& newLine, std::string& text);
