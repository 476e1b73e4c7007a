#pragma once
// A tree as XML text that the platform's parser turns into the elements, attributes and texts
// the writer would otherwise create one by one: the same declaration, names and values.
// Parsing one text costs a fraction of creating thousands of nodes and attributes through COM,
// and the DOM still serialises the result, so the bytes on disk stay the platform's. The text
// has no line breaks or indents of its own: the writer adds those as it always does.

#include "xml/XMLNode.h"

#include <string>

// The written declaration, for UTF-8.
extern const wchar_t kDocumentDeclaration[];

// Composes the text of document into text; false when the tree holds something whose parsed
// form could differ from the node built for it (names beyond plain ASCII, characters XML cannot
// carry, empty texts or texts with a CR, repeated attribute names, nodes of kinds an element
// cannot hold). The caller then builds node by node.
bool ComposeDocumentText(const CXMLDocument& document, std::wstring& text);
