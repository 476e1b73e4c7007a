#include "xml/DocumentText.h"

#include "xml/NodeString.h"
#include "xml/XMLElement.h"

#include <algorithm>
#include <vector>

const wchar_t kDocumentDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

namespace
{
// Plain ASCII names only: they mean the same to every parser, with no namespace prefix and none
// of the names reserved for XML itself ("xmlns" would change how the element is read).
bool IsAsciiLetter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsPlainName(const std::wstring& name)
{
    if (name.empty() || !(IsAsciiLetter(name[0]) || name[0] == L'_'))
        return false;
    for (wchar_t c : name)
    {
        if (!IsAsciiLetter(c) && !(c >= L'0' && c <= L'9') && c != L'_' && c != L'-' && c != L'.')
            return false;
    }
    return !(name.size() >= 3 && (name[0] | 0x20) == L'x' && (name[1] | 0x20) == L'm' && (name[2] | 0x20) == L'l');
}

// Whether XML can carry the character at text[i] (a surrogate only as half of a pair); next is
// set past it.
bool IsXMLCharacterAt(const std::wstring& text, size_t i, size_t& next)
{
    const wchar_t c = text[i];
    next = i + 1;
    if (c < 0x20)
        return c == L'\t' || c == L'\n' || c == L'\r';
    if (c >= 0xD800 && c <= 0xDBFF)
    {
        if (next >= text.size() || text[next] < 0xDC00 || text[next] > 0xDFFF)
            return false;
        ++next;
        return true;
    }
    return !(c >= 0xDC00 && c <= 0xDFFF) && c != 0xFFFE && c != 0xFFFF;
}

// Appends value with references for what the parser would otherwise read differently: markup
// characters, and in attribute values the quote and the white space that line-end handling
// and attribute normalisation would change.
bool AppendEscaped(std::wstring& text, const std::wstring& value, bool attribute)
{
    size_t next = 0;
    for (size_t i = 0; i < value.size(); i = next)
    {
        if (!IsXMLCharacterAt(value, i, next))
            return false;
        switch (value[i])
        {
        case L'&': text += L"&amp;"; break;
        case L'<': text += L"&lt;"; break;
        case L'>': text += L"&gt;"; break;
        case L'\r': text += attribute ? L"&#13;" : L"\r"; break;
        case L'"': text += attribute ? L"&quot;" : L"\""; break;
        case L'\t': text += attribute ? L"&#9;" : L"\t"; break;
        case L'\n': text += attribute ? L"&#10;" : L"\n"; break;
        default: text.append(value, i, next - i); break;
        }
    }
    return true;
}

class CDocumentTextComposer
{
public:
    explicit CDocumentTextComposer(std::wstring& text) : m_text(text) {}

    bool Compose(const CXMLDocument& document)
    {
        const CXMLElement* root = dynamic_cast<const CXMLElement*>(document.m_pRoot);
        if (root == nullptr)
            return false;
        m_text = kDocumentDeclaration;
        return AppendElement(*root);
    }

private:
    bool AppendElement(const CXMLElement& element)
    {
        const std::wstring& name = NodeStringOrEmpty(element.GetNameString());
        if (!IsPlainName(name))
            return false;
        m_text += L'<';
        m_text += name;
        if (!AppendAttributes(element.GetAttributes()))
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
            if (child->m_nType == XML_NODE_ELEMENT)
            {
                const CXMLElement* childElement = dynamic_cast<const CXMLElement*>(child);
                if (childElement == nullptr)
                    return false;
                if (!AppendElement(*childElement))
                    return false;
            }
            else if (child->m_nType == XML_NODE_TEXT)
            {
                // An empty text node is written as an element's content (no empty-element tag),
                // but parses as nothing. A CR parses only from a reference, and a text node read
                // from one is written as that reference, not as the CR of a created one.
                const std::wstring& value = NodeStringOrEmpty(child->GetValueString());
                if (value.empty() || value.find(L'\r') != std::wstring::npos || !AppendEscaped(m_text, value, false))
                    return false;
            }
            else
                return false;
        }
        m_text += L"</";
        m_text += name;
        m_text += L'>';
        return true;
    }

    bool AppendAttributes(const std::vector<CXMLNode*>& attributes)
    {
        m_vecNames.clear();
        for (const CXMLNode* attribute : attributes)
        {
            const std::wstring& name = NodeStringOrEmpty(attribute->GetNameString());
            if (attribute->m_nType != XML_NODE_ATTRIBUTE || !IsPlainName(name))
                return false;
            m_vecNames.push_back(&name);
            m_text += L' ';
            m_text += name;
            m_text += L"=\"";
            if (!AppendEscaped(m_text, NodeStringOrEmpty(attribute->GetValueString()), true))
                return false;
            m_text += L'"';
        }
        // A repeated name is replaced in place by the writer; a parser refuses it.
        auto less = [](const std::wstring* a, const std::wstring* b) { return *a < *b; };
        auto equal = [](const std::wstring* a, const std::wstring* b) { return *a == *b; };
        std::sort(m_vecNames.begin(), m_vecNames.end(), less);
        return std::adjacent_find(m_vecNames.begin(), m_vecNames.end(), equal) == m_vecNames.end();
    }

    std::wstring& m_text;
    std::vector<const std::wstring*> m_vecNames;
};
} // namespace

bool ComposeDocumentText(const CXMLDocument& document, std::wstring& text)
{
    return CDocumentTextComposer(text).Compose(document);
}
