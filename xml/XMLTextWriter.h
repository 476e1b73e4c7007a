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

#include <memory>
#include <string>

// The UTF-8 text of a tree of kind XML_NODE_DOCUMENT; false (text unspecified) when the tree
// cannot be written. newLine is the line-break text. Throws std::bad_alloc.
bool WriteXMLDocumentText(const CXMLNode* document, const std::wstring& newLine, std::string& text);

// An attribute to write: its name and value, both borrowed.
struct QMXMLAttributeRef
{
    const std::wstring* m_pstrName;
    const std::wstring* m_pstrValue;
};

class CXMLTextWriter;

// Writes a document whose root holds only elements without children (the shape of an action
// list) straight from its strings: the text WriteXMLDocumentText gives for the same tree,
// without making the tree, which for thousands of components costs more than the writing.
// BeginRoot, then AddChild for each child, then EndRoot; after a false the text is unspecified.
// Each throws std::bad_alloc.
class CXMLFlatDocumentWriter
{
public:
    CXMLFlatDocumentWriter(const std::wstring& newLine, std::string& text);
    ~CXMLFlatDocumentWriter();
    CXMLFlatDocumentWriter(const CXMLFlatDocumentWriter&) = delete;
    CXMLFlatDocumentWriter& operator=(const CXMLFlatDocumentWriter&) = delete;

    bool BeginRoot(const std::wstring& name, const QMXMLAttributeRef* attributes, size_t count);
    bool AddChild(const std::wstring& name, const QMXMLAttributeRef* attributes, size_t count);
    void EndRoot();

private:
    bool WriteAttributes(const QMXMLAttributeRef* attributes, size_t count);

    std::unique_ptr<CXMLTextWriter> m_pWriter;
    std::wstring m_strRootName;
    bool m_bHasChildren = false;
};
