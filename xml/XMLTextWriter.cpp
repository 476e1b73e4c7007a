#include "xml/XMLTextWriter.h"

#include "xml/XMLElement.h"

#include <unordered_map>
#include <vector>

namespace
{
constexpr size_t kIndentPerLevel = 5;
const char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

bool IsHighSurrogate(wchar_t ch)
{
    return ch >= 0xD800 && ch <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t ch)
{
    return ch >= 0xDC00 && ch <= 0xDFFF;
}

// XML 1.0 NameStartChar and NameChar, for the code units of the basic plane; a surrogate
// pair (a character from U+10000 on) is allowed in both.
bool IsNameStartUnit(wchar_t ch)
{
    return (ch >= L'a' && ch <= L'z') || (ch >= L'A' && ch <= L'Z') || ch == L'_' || ch == L':' ||
           (ch >= 0xC0 && ch <= 0xD6) || (ch >= 0xD8 && ch <= 0xF6) || (ch >= 0xF8 && ch <= 0x2FF) ||
           (ch >= 0x370 && ch <= 0x37D) || (ch >= 0x37F && ch <= 0x1FFF) || (ch >= 0x200C && ch <= 0x200D) ||
           (ch >= 0x2070 && ch <= 0x218F) || (ch >= 0x2C00 && ch <= 0x2FEF) || (ch >= 0x3001 && ch <= 0xD7FF) ||
           (ch >= 0xF900 && ch <= 0xFDCF) || (ch >= 0xFDF0 && ch <= 0xFFFD);
}

bool IsNameUnit(wchar_t ch)
{
    return IsNameStartUnit(ch) || (ch >= L'0' && ch <= L'9') || ch == L'-' || ch == L'.' || ch == 0xB7 ||
           (ch >= 0x300 && ch <= 0x36F) || (ch >= 0x203F && ch <= 0x2040);
}

// Length of the character at text[i] (1 or 2 code units), 0 when it is a lone surrogate.
size_t CharacterLength(const std::wstring& text, size_t i)
{
    wchar_t ch = text[i];
    if (IsHighSurrogate(ch))
        return i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 0;
    return IsLowSurrogate(ch) ? 0 : 1;
}

bool IsXMLName(const std::wstring& name)
{
    for (size_t i = 0; i < name.size();)
    {
        size_t length = CharacterLength(name, i);
        if (length == 0 || (length == 1 && !(i == 0 ? IsNameStartUnit(name[i]) : IsNameUnit(name[i]))))
            return false;
        i += length;
    }
    return !name.empty();
}

// One code point as UTF-8.
void AppendUtf8(std::string& text, unsigned long codePoint)
{
    if (codePoint < 0x80)
        text += static_cast<char>(codePoint);
    else if (codePoint < 0x800)
    {
        text += static_cast<char>(0xC0 | (codePoint >> 6));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else if (codePoint < 0x10000)
    {
        text += static_cast<char>(0xE0 | (codePoint >> 12));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
    else
    {
        text += static_cast<char>(0xF0 | (codePoint >> 18));
        text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// The code point at text[i], whose length CharacterLength gave.
unsigned long CodePointAt(const std::wstring& text, size_t i, size_t length)
{
    if (length == 1)
        return text[i];
    return 0x10000 + ((static_cast<unsigned long>(text[i]) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
}

} // namespace

// What both writers share: the declaration, names checked and encoded once, escaped values,
// line breaks and indents.
class CXMLTextWriter
{
public:
    CXMLTextWriter(const std::wstring& newLine, std::string& text) : m_text(text)
    {
        for (size_t i = 0; i < newLine.size();)
        {
            size_t length = CharacterLength(newLine, i);
            if (length == 0)
                break;
            AppendUtf8(m_strNewLine, CodePointAt(newLine, i, length));
            i += length;
        }
    }

    bool WriteDocument(const CXMLNode* document)
    {
        const CXMLDocument* tree = dynamic_cast<const CXMLDocument*>(document);
        const CXMLElement* root = tree != nullptr ? dynamic_cast<const CXMLElement*>(tree->m_pRoot) : nullptr;
        if (root == nullptr)
            return false;
        BeginDocument();
        if (!WriteElement(*root, 0))
            return false;
        m_text += m_strNewLine;
        return true;
    }

    void BeginDocument()
    {
        m_text.assign(kDeclaration);
        m_text += m_strNewLine;
    }

    // "<name"; false when it is not an XML name.
    bool OpenStartTag(const std::wstring& name)
    {
        const std::string* encoded = EncodedName(name);
        if (encoded == nullptr)
            return false;
        m_text += '<';
        m_text += *encoded;
        return true;
    }

    // " name="value""; false when the name is not an XML name or the value cannot be carried.
    bool AppendAttribute(const std::wstring& name, const std::wstring& value)
    {
        const std::string* encoded = EncodedName(name);
        if (encoded == nullptr)
            return false;
        m_text += ' ';
        m_text += *encoded;
        m_text += "=\"";
        if (!AppendEscaped(value, true))
            return false;
        m_text += '"';
        return true;
    }

    void Append(const char* text) { m_text += text; }

    // "</name>" of a name that OpenStartTag took.
    void AppendEndTag(const std::wstring& name)
    {
        m_text += "</";
        m_text += *EncodedName(name);
        m_text += '>';
    }

    void AppendLineBreak(size_t level)
    {
        m_text += m_strNewLine;
        m_text.append(level * kIndentPerLevel, ' ');
    }

private:
    bool WriteElement(const CXMLElement& element, size_t depth)
    {
        const std::wstring& name = NodeStringOrEmpty(element.GetNameString());
        if (!OpenStartTag(name) || !WriteAttributes(element.GetAttributes()))
            return false;

        const std::vector<CXMLNode*>& children = element.GetChildren();
        if (children.empty())
        {
            m_text += "/>";
            return true;
        }
        m_text += '>';
        for (const CXMLNode* child : children)
        {
            const CXMLElement* childElement =
                child != nullptr && child->m_nType == XML_NODE_ELEMENT ? dynamic_cast<const CXMLElement*>(child) : nullptr;
            if (childElement != nullptr)
            {
                AppendLineBreak(depth + 1);
                if (!WriteElement(*childElement, depth + 1))
                    return false;
            }
            else if (child != nullptr && child->m_nType == XML_NODE_TEXT)
            {
                if (!AppendEscaped(NodeStringOrEmpty(child->GetValueString()), false))
                    return false;
            }
            else
                return false; // documents and attributes cannot stand among an element's children
        }
        if (children.back()->m_nType == XML_NODE_ELEMENT)
            AppendLineBreak(depth);
        AppendEndTag(name);
        return true;
    }

    // In the order given; a name given again keeps its first place and takes the later value.
    bool WriteAttributes(const std::vector<CXMLNode*>& attributes)
    {
        if (attributes.empty())
            return true;
        std::vector<const CXMLNode*>& written = m_vecAttributes;
        written.clear();
        for (const CXMLNode* attribute : attributes)
        {
            if (attribute == nullptr || attribute->m_nType != XML_NODE_ATTRIBUTE)
                return false;
            const std::wstring& name = NodeStringOrEmpty(attribute->GetNameString());
            if (EncodedName(name) == nullptr)
                return false;
            bool replaced = false;
            for (const CXMLNode*& earlier : written)
            {
                if (NodeStringOrEmpty(earlier->GetNameString()) == name)
                {
                    earlier = attribute;
                    replaced = true;
                    break;
                }
            }
            if (!replaced)
                written.push_back(attribute);
        }
        for (const CXMLNode* attribute : written)
        {
            if (!AppendAttribute(NodeStringOrEmpty(attribute->GetNameString()),
                                 NodeStringOrEmpty(attribute->GetValueString())))
                return false;
        }
        return true;
    }

    // Markup characters as entities; in attribute values also the white space that a parser
    // would otherwise turn into spaces, and in texts the carriage return that it would drop.
    bool AppendEscaped(const std::wstring& value, bool inAttribute)
    {
        for (size_t i = 0; i < value.size();)
        {
            wchar_t ch = value[i];
            if (ch >= 0x20 && ch < 0x80)
            {
                // Most of a list is plain ASCII: one comparison chain for it.
                if (ch == L'&')
                    m_text += "&amp;";
                else if (ch == L'<')
                    m_text += "&lt;";
                else if (ch == L'>')
                    m_text += "&gt;";
                else if (ch == L'"' && inAttribute)
                    m_text += "&quot;";
                else
                    m_text += static_cast<char>(ch);
                ++i;
                continue;
            }
            size_t length = CharacterLength(value, i);
            if (length == 0)
                return false;
            if (ch == L'\r')
                m_text += "&#13;";
            else if (ch == L'\n' && inAttribute)
                m_text += "&#10;";
            else if (ch == L'\t' && inAttribute)
                m_text += "&#9;";
            else if ((ch < 0x20 && ch != L'\t' && ch != L'\n') || ch == 0xFFFE || ch == 0xFFFF)
                return false; // no XML 1.0 document can carry it
            else
                AppendUtf8(m_text, CodePointAt(value, i, length));
            i += length;
        }
        return true;
    }

    // The name in UTF-8, or null when it is not an XML name. Names repeat throughout a
    // document: each is checked and encoded once.
    const std::string* EncodedName(const std::wstring& name)
    {
        auto found = m_mapNames.find(name);
        if (found != m_mapNames.end())
            return &found->second;
        if (!IsXMLName(name))
            return nullptr;
        std::string encoded;
        for (size_t i = 0; i < name.size();)
        {
            size_t length = CharacterLength(name, i);
            AppendUtf8(encoded, CodePointAt(name, i, length));
            i += length;
        }
        return &m_mapNames.emplace(name, std::move(encoded)).first->second;
    }

    std::string m_strNewLine;
    std::string& m_text;
    std::unordered_map<std::wstring, std::string> m_mapNames;
    // The attributes of the element being written; one list for all elements.
    std::vector<const CXMLNode*> m_vecAttributes;
};

bool WriteXMLDocumentText(const CXMLNode* document, const std::wstring& newLine, std::string& text)
{
    return CXMLTextWriter(newLine, text).WriteDocument(document);
}

CXMLFlatDocumentWriter::CXMLFlatDocumentWriter(const std::wstring& newLine, std::string& text)
    : m_pWriter(new CXMLTextWriter(newLine, text))
{
}

CXMLFlatDocumentWriter::~CXMLFlatDocumentWriter() = default;

bool CXMLFlatDocumentWriter::WriteAttributes(const QMXMLAttributeRef* attributes, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (!m_pWriter->AppendAttribute(*attributes[i].m_pstrName, *attributes[i].m_pstrValue))
            return false;
    }
    return true;
}

bool CXMLFlatDocumentWriter::BeginRoot(const std::wstring& name, const QMXMLAttributeRef* attributes, size_t count)
{
    m_strRootName = name;
    m_bHasChildren = false;
    m_pWriter->BeginDocument();
    return m_pWriter->OpenStartTag(name) && WriteAttributes(attributes, count);
}

bool CXMLFlatDocumentWriter::AddChild(const std::wstring& name, const QMXMLAttributeRef* attributes, size_t count)
{
    if (!m_bHasChildren)
        m_pWriter->Append(">");
    m_bHasChildren = true;
    m_pWriter->AppendLineBreak(1);
    if (!m_pWriter->OpenStartTag(name) || !WriteAttributes(attributes, count))
        return false;
    m_pWriter->Append("/>");
    return true;
}

void CXMLFlatDocumentWriter::EndRoot()
{
    if (m_bHasChildren)
    {
        m_pWriter->AppendLineBreak(0);
        m_pWriter->AppendEndTag(m_strRootName);
    }
    else
        m_pWriter->Append("/>");
    m_pWriter->AppendLineBreak(0);
}
