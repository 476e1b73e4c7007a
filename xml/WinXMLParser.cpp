#include "xml/WinXMLParser.h"

#include "sys/NoThrow.h"
#include "sys/PathUtil.h"
#include "sys/Utf8Text.h"
#include "xml/DOMInstance.h"
#include "xml/DOMTreeReader.h"
#include "xml/ReplacingFileSave.h"
#include "xml/SAXTreeReader.h"
#include "xml/XMLTextWriter.h"

#include <new>

namespace
{
// Of static storage: made as the module loads, gone as it unloads. One made on first use and
// never deleted stayed behind in the host at every unload.
CWinXMLParser g_parser;
} // namespace

CXMLParser* GetXMLParser()
{
    return &g_parser;
}

namespace
{
std::wstring SlashedPath(const wchar_t* path)
{
    std::wstring slashed(path);
    ReplaceChar(slashed, L'\\', L'/');
    return slashed;
}

template <class Load>
CXMLDocument* LoadWith(Load&& load)
{
    return ValueOrFailure<CXMLDocument*>(nullptr, [&]() -> CXMLDocument* {
        CQMComInit com = InitializeComForThread();
        CQMComPtr<IXMLDOMDocument> dom = CreateDOMDocument(kClsidDOMDocument30);
        // The defaults differ between platforms (validation is on by default on Windows).
        if (!dom || dom->put_async(VARIANT_FALSE) != S_OK || dom->put_preserveWhiteSpace(VARIANT_FALSE) != S_OK ||
            dom->put_resolveExternals(VARIANT_FALSE) != S_OK || dom->put_validateOnParse(VARIANT_FALSE) != S_OK)
            return nullptr;
        VARIANT_BOOL loaded = VARIANT_FALSE;
        if (load(dom.Get(), loaded) != S_OK || loaded != VARIANT_TRUE)
            return nullptr;
        return ConvertDOMDocument(dom.Get());
    });
}
} // namespace

CXMLDocument* CWinXMLParser::LoadFile(const wchar_t* path)
{
    if (path == nullptr)
        return nullptr;
    // One pass of the SAX reader where the document allows it; the DOM for everything else.
    CXMLDocument* read = ValueOrFailure<CXMLDocument*>(nullptr, [path] {
        CQMComInit com = InitializeComForThread();
        return ReadFileWithSAX(SlashedPath(path));
    });
    if (read != nullptr)
        return read;
    return LoadWith([path](IXMLDOMDocument* dom, VARIANT_BOOL& loaded) {
        CQMBstr bstrPath = AllocateBstr(SlashedPath(path));
        return dom->load(BorrowedStringVariant(bstrPath.Get()), &loaded);
    });
}

CXMLDocument* CWinXMLParser::LoadXML(const wchar_t* text)
{
    if (text == nullptr)
        return nullptr;
    return LoadWith([text](IXMLDOMDocument* dom, VARIANT_BOOL& loaded) {
        CQMBstr bstrText = AllocateBstr(text);
        return dom->loadXML(bstrText.Get(), &loaded);
    });
}

bool CWinXMLParser::SaveFile(CXMLNode* document, const wchar_t* path)
{
    if (path == nullptr)
        return false;
    return ValueOrFailure(false, [&] {
        // Everything that can fail before the file is touched comes first: the whole text.
        std::string bytes;
        return WriteXMLDocumentText(document, m_strNewLine, bytes) && SaveBytesReplacing(bytes, path) == ERROR_SUCCESS;
    });
}

void CWinXMLParser::GetXML(CXMLNode* document, std::wstring& out)
{
    ValueOrFailure(false, [&] {
        std::string bytes;
        if (!WriteXMLDocumentText(document, m_strNewLine, bytes))
            return false;
        // The writer made valid UTF-8 of valid UTF-16, so the conversion cannot fail.
        out = FromUtf8(bytes);
        return true;
    });
}
