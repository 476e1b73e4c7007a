#include "xml/DOMTreeWriter.h"

#include "xml/DOMInstance.h"
#include "xml/NodeString.h"
#include "xml/XMLElement.h"

#include <unordered_map>
#include <vector>

namespace
{
constexpr int kIndentPerLevel = 5;

// The declaration comes from parsed text with a placeholder root that the written root then
// replaces. Wine's DOM cannot put attributes on a processing instruction node, and a document
// whose declaration was made with createProcessingInstruction is never freed after a save
// there; a parsed declaration gives the same bytes on both platforms without either problem.
const wchar_t kDeclarationDocument[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?><placeholder/>";

bool Append(IXMLDOMNode* parent, IXMLDOMNode* child)
{
    CQMComPtr<IXMLDOMNode> appended;
    return child != nullptr && parent->appendChild(child, appended.Put()) == S_OK;
}

// One writer per save. Every node is created by the written document's own instance: one
// COM instantiation per save rather than one per node, and Wine corrupts a document whose
// elements received attributes created by another instance.
class CDOMTreeWriter
{
public:
    explicit CDOMTreeWriter(BSTR newLine) : m_bstrNewLine(newLine) {}

    CQMComPtr<IXMLDOMDocument> Build(const CXMLDocument& document)
    {
        const CXMLElement* root = dynamic_cast<const CXMLElement*>(document.m_pRoot);
        m_pDocument = CreateDOMDocument(kClsidDOMDocument);
        if (!m_pDocument || root == nullptr)
            return CQMComPtr<IXMLDOMDocument>();

        CQMBstr declaration = AllocateBstr(kDeclarationDocument);
        VARIANT_BOOL loaded = VARIANT_FALSE;
        if (m_pDocument->loadXML(declaration.Get(), &loaded) != S_OK || loaded != VARIANT_TRUE)
            return CQMComPtr<IXMLDOMDocument>();

        m_nDepth = 0;
        CQMComPtr<IXMLDOMElement> element = BuildElement(*root);
        if (!element || m_pDocument->putref_documentElement(element.Get()) != S_OK)
            return CQMComPtr<IXMLDOMDocument>();
        return std::move(m_pDocument);
    }

private:
    CQMComPtr<IXMLDOMElement> BuildElement(const CXMLElement& element)
    {
        CQMComPtr<IXMLDOMElement> result;
        const std::wstring* name = element.GetNameString();
        if (m_pDocument->createElement(NameBstr(name), result.Put()) != S_OK || !result)
            return CQMComPtr<IXMLDOMElement>();

        ++m_nDepth;
        bool childrenDone = AppendChildren(result.Get(), element.GetChildren());
        --m_nDepth;
        if (!childrenDone)
            return CQMComPtr<IXMLDOMElement>();

        const std::vector<CXMLNode*>& children = element.GetChildren();
        if (!children.empty() && children.back()->m_nType == XML_NODE_ELEMENT &&
            !AppendLineBreak(result.Get(), m_nDepth))
            return CQMComPtr<IXMLDOMElement>();

        if (!AddAttributes(result.Get(), element.GetAttributes()))
            return CQMComPtr<IXMLDOMElement>();
        return result;
    }

    bool AppendChildren(IXMLDOMElement* parent, const std::vector<CXMLNode*>& children)
    {
        for (const CXMLNode* child : children)
        {
            if (const CXMLElement* element = dynamic_cast<const CXMLElement*>(child))
            {
                if (!AppendLineBreak(parent, m_nDepth))
                    return false;
                CQMComPtr<IXMLDOMElement> converted = BuildElement(*element);
                if (!Append(parent, converted.Get()))
                    return false;
            }
            else if (child->m_nType == XML_NODE_TEXT)
            {
                const std::wstring* value = child->GetValueString();
                CQMBstr text = AllocateBstr(NodeStringOrEmpty(value));
                if (!AppendText(parent, text.Get()))
                    return false;
            }
            else
                return false; // documents and attributes cannot stand among an element's children
        }
        return true;
    }

    bool AddAttributes(IXMLDOMElement* element, const std::vector<CXMLNode*>& attributes)
    {
        for (const CXMLNode* attribute : attributes)
        {
            if (attribute->m_nType != XML_NODE_ATTRIBUTE)
                return false;
            const std::wstring* name = attribute->GetNameString();
            const std::wstring* value = attribute->GetValueString();
            CQMBstr bstrValue = AllocateBstr(NodeStringOrEmpty(value));
            // A name already present is replaced: the last of duplicate attributes wins.
            if (element->setAttribute(NameBstr(name), BorrowedStringVariant(bstrValue.Get())) != S_OK)
                return false;
        }
        return true;
    }

    // A line break, then the indent of the given level (none at the root), as one text:
    // the bytes of two adjacent texts, for half the nodes.
    bool AppendLineBreak(IXMLDOMElement* parent, int level)
    {
        while (static_cast<int>(m_vecLineBreaks.size()) <= level)
        {
            std::wstring text(m_bstrNewLine, ::SysStringLen(m_bstrNewLine));
            text.append(m_vecLineBreaks.size() * kIndentPerLevel, L' ');
            m_vecLineBreaks.push_back(AllocateBstr(text));
        }
        return AppendText(parent, m_vecLineBreaks[level].Get());
    }

    // Element and attribute names repeat throughout a document: each is allocated once.
    BSTR NameBstr(const std::wstring* name)
    {
        const std::wstring& key = NodeStringOrEmpty(name);
        auto found = m_mapNames.find(key);
        if (found == m_mapNames.end())
            found = m_mapNames.emplace(key, AllocateBstr(key)).first;
        return found->second.Get();
    }

    bool AppendText(IXMLDOMElement* parent, BSTR text)
    {
        CQMComPtr<IXMLDOMText> node;
        return m_pDocument->createTextNode(text, node.Put()) == S_OK && Append(parent, node.Get());
    }

    BSTR m_bstrNewLine;
    CQMComPtr<IXMLDOMDocument> m_pDocument;
    std::vector<CQMBstr> m_vecLineBreaks;
    std::unordered_map<std::wstring, CQMBstr> m_mapNames;
    // Depth of the element whose children are being written; per save, so saves on
    // different threads cannot disturb each other's indentation.
    int m_nDepth = 0;
};
} // namespace

CQMComPtr<IXMLDOMDocument> BuildDOMDocument(const CXMLNode* document, BSTR newLine)
{
    const CXMLDocument* tree = dynamic_cast<const CXMLDocument*>(document);
    if (tree == nullptr)
        return CQMComPtr<IXMLDOMDocument>();
    return CDOMTreeWriter(newLine).Build(*tree);
}
