#include "xml/SAXTreeReader.h"

#include "sys/ComHandle.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "xml/DOMInstance.h"
#include "xml/DOMTreeReader.h"
#include "xml/XMLElement.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace
{
const IID kIidSAXContentHandler = {0x1545CDFA, 0x9E4E, 0x4497, {0xA8, 0xA4, 0x2B, 0xF7, 0xD0, 0x11, 0x2C, 0x44}};
const IID kIidSAXLexicalHandler = {0x7F85D5F5, 0x47A8, 0x4497, {0xBD, 0xA5, 0x84, 0xBA, 0x04, 0x81, 0x9E, 0xA6}};

const wchar_t kLexicalHandlerProperty[] = L"http://xml.org/sax/properties/lexical-handler";
// Nothing from outside the file, whatever reaches the reader.
const wchar_t* const kFeaturesOff[] = {L"http://xml.org/sax/features/external-general-entities",
                                       L"http://xml.org/sax/features/external-parameter-entities"};

// Larger files are left to the DOM rather than held twice in memory.
constexpr LONGLONG kMaxReadBytes = 256 * 1024 * 1024;

struct QMSafeArrayTraits
{
    using pointer = SAFEARRAY*;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer p) noexcept { ::SafeArrayDestroy(p); }
};
using CQMSafeArray = CQMUniqueHandle<QMSafeArrayTraits>;

// A character reference to a carriage return ("&#13;", "&#xD;" and their spellings with leading
// zeros or either case). The reader turns one in a text into a line feed, while the DOM keeps
// it, and the module writes a carriage return in a text that way: such documents go to the DOM.
bool IsCarriageReturnReference(const char* at, const char* end)
{
    if (end - at < 4 || at[1] != '#')
        return false;
    const bool hex = at[2] == 'x';
    unsigned value = 0;
    const char* digit = at + (hex ? 3 : 2);
    for (; digit < end && *digit != ';'; ++digit)
    {
        char c = *digit;
        unsigned d = c >= '0' && c <= '9' ? unsigned(c - '0')
                     : hex && c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
                     : hex && c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                    : 100u;
        if (d >= (hex ? 16u : 10u) || value > 0x10FFFF)
            return false;
        value = value * (hex ? 16 : 10) + d;
    }
    return digit < end && value == '\r';
}

// Only UTF-8 that declares no other encoding, and without document types, CDATA sections or
// processing instructions, goes to the reader: where encodings are guessed or markup beyond
// elements and comments is met, the platform's SAX reader and DOM do not always agree (Wine's
// reader takes UTF-16 without a byte-order mark that its DOM refuses, and passes over processing
// instructions without reporting them). Markup is found by its bytes: in UTF-8 a '<' is
// always itself, and in text and attribute values it is always written as a reference.
bool IsPlainUtf8Document(const char* bytes, size_t size)
{
    static const char* const kDeclarations[] = {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>",
                                                "<?xml version=\"1.0\" encoding=\"utf-8\"?>", "<?xml version=\"1.0\"?>"};
    if (std::memchr(bytes, 0, size) != nullptr)
        return false;
    size_t body = size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    for (const char* declaration : kDeclarations)
    {
        const size_t length = std::strlen(declaration);
        if (size - body >= length && std::memcmp(bytes + body, declaration, length) == 0)
        {
            body += length;
            break;
        }
    }
    for (const char* at = bytes + body; (at = static_cast<const char*>(std::memchr(at, '<', bytes + size - at))) != nullptr; ++at)
    {
        const size_t left = bytes + size - at;
        if (left >= 2 && (at[1] == '?' || (at[1] == '!' && (left < 4 || std::memcmp(at, "<!--", 4) != 0))))
            return false;
    }
    for (const char* at = bytes + body; (at = static_cast<const char*>(std::memchr(at, '&', bytes + size - at))) != nullptr; ++at)
    {
        if (IsCarriageReturnReference(at, bytes + size))
            return false;
    }
    return true;
}

// The whole file as a byte array for the reader, and a line feed after it: Wine's reader leaves
// out the last byte of an array, and white space after the root element means nothing to any
// reader. Empty when the file cannot be read; plainUtf8 says whether it is plain UTF-8.
CQMSafeArray ReadFileForSAX(const std::wstring& path, bool& plainUtf8)
{
    plainUtf8 = false;
    // Sharing everything: a save of the file elsewhere replaces it by a rename, which a reader
    // that shares no deletion would hold up.
    CQMFileHandle file(::CreateFileW(ToPlatformPath(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxReadBytes)
        return CQMSafeArray();
    const DWORD fileSize = static_cast<DWORD>(size.QuadPart);
    CQMSafeArray bytes(::SafeArrayCreateVector(VT_UI1, 0, fileSize + 1));
    void* data = nullptr;
    if (!bytes || FAILED(::SafeArrayAccessData(bytes.Get(), &data)))
        return CQMSafeArray();
    DWORD read = 0;
    bool whole = fileSize == 0 || (::ReadFile(file.Get(), data, fileSize, &read, nullptr) && read == fileSize);
    plainUtf8 = whole && IsPlainUtf8Document(static_cast<const char*>(data), fileSize);
    static_cast<char*>(data)[fileSize] = '\n';
    ::SafeArrayUnaccessData(bytes.Get());
    return whole ? std::move(bytes) : CQMSafeArray();
}

// The reader set up to parse a file alone: nothing from outside it.
CQMComPtr<ISAXXMLReader> CreateSelfContainedReader()
{
    CQMComPtr<ISAXXMLReader> reader = CreateSAXReader();
    if (reader)
    {
        for (const wchar_t* feature : kFeaturesOff)
            reader->putFeature(feature, VARIANT_FALSE);
    }
    return reader;
}

HRESULT Parse(ISAXXMLReader* reader, SAFEARRAY* bytes)
{
    VARIANT input;
    ::VariantInit(&input);
    V_VT(&input) = VT_ARRAY | VT_UI1;
    V_ARRAY(&input) = bytes; // borrowed: only read
    return reader->parse(input);
}

bool IsXMLSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

bool HasPrefix(const wchar_t* name, int length)
{
    for (int i = 0; i < length; ++i)
    {
        if (name[i] == L':')
            return true;
    }
    return false;
}

// Builds the tree from the reader's events. It lives on its reader's caller's stack and
// outlives the reader, so its reference count only has to be plausible. Every event that
// the tree cannot take as the DOM would stops the parse; the DOM then reads the file.
class CSAXTreeBuilder : public ISAXContentHandler, public ISAXErrorHandler, public ISAXLexicalHandler
{
public:
    // The finished tree; null unless the whole document was parsed without a refusal.
    CXMLDocument* TakeDocument(bool parsed)
    {
        if (m_bOutOfMemory)
            throw std::bad_alloc();
        if (!parsed || m_bRefused || !m_pRoot || !m_vecOpen.empty())
            return nullptr;
        CXMLDocument* document = NewXMLDocument(m_pRoot.get());
        m_pRoot.release();
        return document;
    }

    // IUnknown: the three interfaces share one object.
    HRESULT WINAPI QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == kIidSAXContentHandler)
            *object = static_cast<ISAXContentHandler*>(this);
        else if (iid == kIidSAXErrorHandler)
            *object = static_cast<ISAXErrorHandler*>(this);
        else if (iid == kIidSAXLexicalHandler)
            *object = static_cast<ISAXLexicalHandler*>(this);
        else
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return ++m_nReferences; }
    ULONG WINAPI Release() override { return --m_nReferences; }

    // ISAXContentHandler
    HRESULT WINAPI putDocumentLocator(ISAXLocator*) override { return S_OK; }
    HRESULT WINAPI startDocument() override { return S_OK; }
    HRESULT WINAPI endDocument() override { return S_OK; }
    HRESULT WINAPI startPrefixMapping(const wchar_t*, int, const wchar_t*, int) override { return Refuse(); }
    HRESULT WINAPI endPrefixMapping(const wchar_t*, int) override { return S_OK; }
    HRESULT WINAPI startElement(const wchar_t*, int, const wchar_t*, int, const wchar_t* name, int nameLength,
                                ISAXAttributes* attributes) override
    {
        return Guarded([&] { return StartElement(name, nameLength, attributes); });
    }
    HRESULT WINAPI endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int) override
    {
        return Guarded([&] {
            if (!FlushText() || m_vecOpen.empty())
                return false;
            m_vecOpen.pop_back();
            return true;
        });
    }
    HRESULT WINAPI characters(const wchar_t* text, int length) override
    {
        return Guarded([&] {
            m_strText.append(text, static_cast<size_t>(length));
            return true;
        });
    }
    HRESULT WINAPI ignorableWhitespace(const wchar_t* text, int length) override { return characters(text, length); }
    HRESULT WINAPI processingInstruction(const wchar_t*, int, const wchar_t*, int) override { return Refuse(); }
    HRESULT WINAPI skippedEntity(const wchar_t*, int) override { return Refuse(); }

    // ISAXErrorHandler
    HRESULT WINAPI error(ISAXLocator*, const wchar_t*, HRESULT) override { return Refuse(); }
    HRESULT WINAPI fatalError(ISAXLocator*, const wchar_t*, HRESULT) override { return Refuse(); }
    HRESULT WINAPI ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

    // ISAXLexicalHandler. A comment ends a text as the DOM's comment node does, and is dropped.
    HRESULT WINAPI startDTD(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int) override { return Refuse(); }
    HRESULT WINAPI endDTD() override { return S_OK; }
    HRESULT WINAPI startEntity(const wchar_t*, int) override { return Refuse(); }
    HRESULT WINAPI endEntity(const wchar_t*, int) override { return S_OK; }
    HRESULT WINAPI startCDATA() override { return Refuse(); }
    HRESULT WINAPI endCDATA() override { return S_OK; }
    HRESULT WINAPI comment(const wchar_t*, int) override
    {
        return Guarded([&] { return FlushText(); });
    }

private:
    HRESULT Refuse()
    {
        m_bRefused = true;
        return E_FAIL;
    }

    // No exception may reach the reader: running out of memory stops the parse and is thrown
    // again once the reader has returned.
    template <class Step>
    HRESULT Guarded(Step&& step)
    {
        if (m_bRefused)
            return E_FAIL;
        try
        {
            return step() ? S_OK : Refuse();
        }
        catch (const std::bad_alloc&)
        {
            m_bOutOfMemory = true;
            return Refuse();
        }
    }

    bool StartElement(const wchar_t* name, int nameLength, ISAXAttributes* attributes)
    {
        if (!FlushText() || HasPrefix(name, nameLength) || (m_pRoot && m_vecOpen.empty()) ||
            static_cast<int>(m_vecOpen.size()) >= kMaxTreeDepth || attributes == nullptr)
            return false;
        m_strName.assign(name, static_cast<size_t>(nameLength));
        std::unique_ptr<CXMLElement> element(NewXMLElement(m_strName.c_str()));
        int count = 0;
        if (attributes->getLength(&count) != S_OK)
            return false;
        for (int i = 0; i < count; ++i)
        {
            const wchar_t* attributeName = nullptr;
            const wchar_t* value = nullptr;
            int attributeNameLength = 0, valueLength = 0;
            if (attributes->getQName(i, &attributeName, &attributeNameLength) != S_OK ||
                attributes->getValue(i, &value, &valueLength) != S_OK || attributeName == nullptr ||
                HasPrefix(attributeName, attributeNameLength))
                return false;
            m_strName.assign(attributeName, static_cast<size_t>(attributeNameLength));
            m_strValue.assign(value != nullptr ? value : L"", value != nullptr ? static_cast<size_t>(valueLength) : 0);
            element->AddAttribute(NewXMLAttribute(m_strName.c_str(), m_strValue.c_str()));
        }
        CXMLElement* added = element.get();
        if (m_vecOpen.empty())
            m_pRoot = std::move(element);
        else
            m_vecOpen.back()->AddChild(element.release());
        m_vecOpen.push_back(added);
        return true;
    }

    // Ends the text gathered since the last markup. White space alone is dropped, as the DOM
    // drops it between elements; white space at one end of other text is left to the DOM.
    bool FlushText()
    {
        if (m_strText.empty())
            return true;
        size_t spaces = 0;
        while (spaces < m_strText.size() && IsXMLSpace(m_strText[spaces]))
            ++spaces;
        bool kept = spaces < m_strText.size();
        if (kept && (spaces > 0 || IsXMLSpace(m_strText.back()) || m_vecOpen.empty()))
            return false;
        if (kept)
            m_vecOpen.back()->AddChild(NewXMLText(m_strText.c_str()));
        m_strText.clear();
        return true;
    }

    ULONG m_nReferences = 1;
    std::unique_ptr<CXMLElement> m_pRoot;
    // The elements from the root to the one being read.
    std::vector<CXMLElement*> m_vecOpen;
    std::wstring m_strText;
    std::wstring m_strName;
    std::wstring m_strValue;
    bool m_bRefused = false;
    bool m_bOutOfMemory = false;
};

// Where the reader gave up on the document. Lives on its caller's stack and outlives the
// reader, so its reference count only has to be plausible.
class CSAXErrorPosition : public ISAXErrorHandler
{
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != kIidSAXErrorHandler)
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<ISAXErrorHandler*>(this);
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return ++m_nReferences; }
    ULONG WINAPI Release() override { return --m_nReferences; }

    HRESULT WINAPI error(ISAXLocator* locator, const wchar_t*, HRESULT) override { return Take(locator); }
    HRESULT WINAPI fatalError(ISAXLocator* locator, const wchar_t*, HRESULT) override { return Take(locator); }
    HRESULT WINAPI ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

    bool m_bFound = false;
    long m_nLine = 0;
    long m_nColumn = 0;

private:
    HRESULT Take(ISAXLocator* locator)
    {
        int line = 0, column = 0;
        if (!m_bFound && locator != nullptr && locator->getLineNumber(&line) == S_OK &&
            locator->getColumnNumber(&column) == S_OK)
        {
            m_nLine = line;
            m_nColumn = column;
            m_bFound = true;
        }
        return E_FAIL;
    }

    ULONG m_nReferences = 1;
};
} // namespace

CXMLDocument* ReadFileWithSAX(const std::wstring& path)
{
    bool plainUtf8 = false;
    CQMSafeArray bytes = ReadFileForSAX(path, plainUtf8);
    if (!bytes || !plainUtf8)
        return nullptr;
    CSAXTreeBuilder builder;
    bool parsed = false;
    {
        CQMComPtr<ISAXXMLReader> reader = CreateSelfContainedReader();
        if (!reader || reader->putContentHandler(&builder) != S_OK || reader->putErrorHandler(&builder) != S_OK)
            return nullptr;
        VARIANT lexical;
        ::VariantInit(&lexical);
        V_VT(&lexical) = VT_UNKNOWN;
        V_UNKNOWN(&lexical) = static_cast<ISAXLexicalHandler*>(&builder); // borrowed: the reader adds its own reference
        if (reader->putProperty(kLexicalHandlerProperty, lexical) != S_OK)
            return nullptr;
        parsed = Parse(reader.Get(), bytes.Get()) == S_OK;
    }
    return builder.TakeDocument(parsed);
}

bool FindSAXErrorPosition(const std::wstring& path, long& line, long& column)
{
    bool plainUtf8 = false;
    CQMSafeArray bytes = ReadFileForSAX(path, plainUtf8);
    CSAXErrorPosition position;
    {
        CQMComPtr<ISAXXMLReader> reader = CreateSelfContainedReader();
        if (bytes && reader && reader->putErrorHandler(&position) == S_OK)
            Parse(reader.Get(), bytes.Get());
    }
    line = position.m_nLine;
    column = position.m_nColumn;
    return position.m_bFound;
}
