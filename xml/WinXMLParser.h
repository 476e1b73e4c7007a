#pragma once

#include "sys/ComHandle.h"
#include "xml/XMLParser.h"

class CWinXMLParser : public CXMLParser
{
public:
    // Throws std::bad_alloc when the line-break string cannot be allocated.
    CWinXMLParser();

    CXMLDocument* LoadFile(const wchar_t* path) override;
    CXMLDocument* LoadXML(const wchar_t* text) override;
    bool SaveFile(CXMLNode* document, const wchar_t* path) override;
    void GetXML(CXMLNode* document, std::wstring& out) override;

private:
    // CR LF, the text of every line break that the writer adds.
    CQMBstr m_bstrNewLine;
};
