#pragma once
// Reads XML files into the module's tree and writes trees as UTF-8 XML files.

#include "xml/XMLNode.h"

#include <string>

class CXMLParser
{
public:
    virtual ~CXMLParser() = default;

    // A new document owned by the caller, or null when the file is missing, unreadable or
    // not well-formed, or holds what the tree cannot carry (CDATA, entity references and
    // processing instructions inside the root element). Comments are dropped. Either "/" or "\".
    virtual CXMLDocument* LoadFile(const wchar_t* path) = 0;
    // The same for XML text in memory.
    virtual CXMLDocument* LoadXML(const wchar_t* text) = 0;
    // Writes the document (kind XML_NODE_DOCUMENT) with an XML declaration for UTF-8, child
    // elements on their own lines indented by five spaces a level, texts inline. The target
    // is replaced only by a complete file: on false it is as it was. The tree stays the caller's.
    virtual bool SaveFile(CXMLNode* document, const wchar_t* path) = 0;
    // The document as the writer would lay it out; out is untouched when it cannot be converted.
    virtual void GetXML(CXMLNode* document, std::wstring& out) = 0;
};

// The module's one parser, never null; it lives as long as the module. The parser takes no
// lock, but its operations keep no state between calls: each runs on its caller's thread and
// initialises COM there (single-threaded apartment unless the thread already has another).
CXMLParser* GetXMLParser();
