#include "xml/XMLTextWriter.h"

#include "xml/XMLElement.h"

#include <vector>

namespace
{
constexpr size_t kIndentPerLevel = 5;
const wchar_t kDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

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

class CXMLTextWriter
{
public:
    CXMLTextWriter(const std::wstring& newLine, std::wstring& text) : m_strNewLine(newLine), m_text(text) {}

    bool WriteDocument(const CXMLNode* document)
    {
        const CXMLDocument* tree = dynamic_cast<const CXMLDocument*>(document);
        const CXMLElement* root = tree != nullptr ? dynamic_cast<const CXMLElement*>(tree->m_pRoot) : nullptr;
        if (root == nullptr)
            return false;
        m_text.assign(kDeclaration);
        m_text += m_strNewLine;
        if (!WriteElement(*root, 0))
            return false;
        m_text += m_strNewLine;
        return true;
    }

private:
    bool WriteElement(const CXMLElement& element, size_t depth)
    {
        const std::wstring& name = NodeStringOrEmpty(element.GetNameString());
        if (!IsXMLName(name))
            return false;
        m_text += L'<';
        m_text += name;
        if (!WriteAttributes(element.GetAttributes()))
            return false;

        const std::vector<CXMLNode*>& children = element.GetChildren();
        if (children.empty())
        {
            m_text += L"/>";
            return true;
        }
        m_text += L'>';
        for (const CXMLNode* child : children)
        {
            if (const CXMLElement* childElement = dynamic_cast<const CXMLElement*>(child))
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
        m_text += L"</";
        m_text += name;
        m_text += L'>';
        return true;
    }

    // In the order given; a name given again keeps its first place and takes the later value.
    bool WriteAttributes(const std::vector<CXMLNode*>& attributes)
    {
        if (attributes.empty())
            return true;
        std::vector<const CXMLNode*> written;
        written.reserve(attributes.size());
        for (const CXMLNode* attribute : attributes)
        {
            if (attribute == nullptr || attribute->m_nType != XML_NODE_ATTRIBUTE)
                return false;
            const std::wstring& name = NodeStringOrEmpty(attribute->GetNameString());
            if (!IsXMLName(name))
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
            m_text += L' ';
            m_text += NodeStringOrEmpty(attribute->GetNameString());
            m_text += L"=\"";
            if (!AppendEscaped(NodeStringOrEmpty(attribute->GetValueString()), true))
                return false;
            m_text += L'"';
        }
        return true;
    }

    // Markup characters as entities; in attribute values also the white space that a parser
    // would otherwise turn into spaces, and in texts the carriage return that it would drop.
    bool AppendEscaped(const std::wstring& value, bool inAttribute)
    {
        for (size_t i = 0; i < value.size();)
        {
            size_t length = CharacterLength(value, i);
            if (length == 0)
                return false;
            wchar_t ch = value[i];
            if (length == 2)
                m_text.append(value, i, 2);
            else if (ch == L'&')
                m_text += L"&amp;";
            else if (ch == L'<')
                m_text += L"&lt;";
            else if (ch == L'>')
                m_text += L"&gt;";
            else if (ch == L'"' && inAttribute)
                m_text += L"&quot;";
            else if (ch == L'\r')
                m_text += L"&#13;";
            else if (ch == L'\n' && inAttribute)
                m_text += L"&#10;";
            else if (ch == L'\t' && inAttribute)
                m_text += L"&#9;";
            else if ((ch < 0x20 && ch != L'\t' && ch != L'\n') || ch == 0xFFFE || ch == 0xFFFF)
                return false; // no XML 1.0 document can carry it
            else
                m_text += ch;
            i += length;
        }
        return true;
    }

    void AppendLineBreak(size_t level)
    {
        m_text += m_strNewLine;
        m_text.append(level * kIndentPerLevel, L' ');
    }

    const std::wstring& m_strNewLine;
    std::wstring& m_text;
};
} // namespace

bool WriteXMLDocumentText(const CXMLNode* document, const std::wstring& newLine, std::wstring& text)
{
    return CXMLTextWriter(newLine, text).WriteDocument(document);
}
