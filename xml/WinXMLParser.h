#pragma once

#include "sys/ComHandle.h"
#include "xml/XMLParser.h"

#include <string>

class CWinXMLParser : public CXMLParser
{
public:
    CWinXMLParser() = default;

    CXMLDocument* LoadFile(const wchar_t* path) override;
    CXMLDocument* LoadXML(const wchar_t* text) override;
    bool SaveFile(CXMLNode* document, const wchar_t* path) override;
    void GetXML(CXMLNode* document, std::wstring& out) override;

private:
    // The text of every line break that the writer adds.
    const std::wstring m_strNewLine = L"\r\n";
};
