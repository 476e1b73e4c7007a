#include "xml/DOMTreeReader.h"

#include "sys/ComHandle.h"
#include "xml/XMLElement.h"

#include <memory>

namespace
{
using NodeOwner = std::unique_ptr<CXMLNode>;

const wchar_t* TextOrEmpty(BSTR text)
{
    return text != nullptr ? text : L"";
}

// The node's value as text; false for a failing call or a value that is not a string.
bool ReadValue(IXMLDOMNode* node, CQMVariant& value)
{
    return node->get_nodeValue(value.Put()) == S_OK && V_VT(&value.Get()) == VT_BSTR;
}

NodeOwner BuildTreeNode(IXMLDOMNode* node, DOMNodeType type, int depth);

NodeOwner BuildAttribute(IXMLDOMNode* node)
{
    CQMBstr name;
    CQMVariant value;
    if (node->get_nodeName(name.Put()) != S_OK || !ReadValue(node, value))
        return nullptr;
    return NodeOwner(NewXMLAttribute(TextOrEmpty(name.Get()), TextOrEmpty(V_BSTR(&value.Get()))));
}

NodeOwner BuildText(IXMLDOMNode* node)
{
    CQMVariant value;
    if (!ReadValue(node, value))
        return nullptr;
    return NodeOwner(NewXMLText(TextOrEmpty(V_BSTR(&value.Get()))));
}

bool AddChildren(CXMLElement& element, IXMLDOMNode* node, int depth)
{
    // Sibling links, not the child list's items: Wine's node list walks from the first
    // child on every item, which makes a list of thousands of components quadratic.
    CQMComPtr<IXMLDOMNode> child;
    if (FAILED(node->get_firstChild(child.Put())))
        return false;
    while (child)
    {
        DOMNodeType type = NODE_INVALID;
        if (child->get_nodeType(&type) != S_OK)
            return false;
        if (type != NODE_COMMENT)
        {
            NodeOwner converted = BuildTreeNode(child.Get(), type, depth + 1);
            if (!converted)
                return false;
            element.AddChild(converted.release());
        }
        CQMComPtr<IXMLDOMNode> next;
        if (FAILED(child->get_nextSibling(next.Put())))
            return false;
        child = std::move(next);
    }
    return true;
}

bool AddAttributes(CXMLElement& element, IXMLDOMNode* node)
{
    CQMComPtr<IXMLDOMNamedNodeMap> attributes;
    long count = 0;
    if (node->get_attributes(attributes.Put()) != S_OK || !attributes || attributes->get_length(&count) != S_OK)
        return false;
    for (long i = 0; i < count; ++i)
    {
        CQMComPtr<IXMLDOMNode> item;
        if (attributes->get_item(i, item.Put()) != S_OK || !item)
            return false;
        NodeOwner attribute = BuildAttribute(item.Get());
        if (!attribute)
            return false;
        element.AddAttribute(attribute.release());
    }
    return true;
}

NodeOwner BuildElement(IXMLDOMNode* node, int depth)
{
    if (depth > kMaxTreeDepth)
        return nullptr;
    CQMBstr name;
    if (node->get_nodeName(name.Put()) != S_OK)
        return nullptr;
    std::unique_ptr<CXMLElement> element(NewXMLElement(TextOrEmpty(name.Get())));
    if (!AddChildren(*element, node, depth) || !AddAttributes(*element, node))
        return nullptr;
    return element;
}

// CDATA sections, entity references and processing instructions have no place in the tree:
// they fail the conversion rather than lose text.
NodeOwner BuildTreeNode(IXMLDOMNode* node, DOMNodeType type, int depth)
{
    switch (type)
    {
    case NODE_ELEMENT:
        return BuildElement(node, depth);
    case NODE_ATTRIBUTE:
        return BuildAttribute(node);
    case NODE_TEXT:
        return BuildText(node);
    default:
        return nullptr;
    }
}
} // namespace

CXMLDocument* ConvertDOMDocument(IXMLDOMDocument* document)
{
    CQMComPtr<IXMLDOMElement> root;
    if (document->get_documentElement(root.Put()) != S_OK || !root)
        return nullptr;
    NodeOwner tree = BuildElement(root.Get(), 1);
    if (!tree)
        return nullptr;
    CXMLDocument* result = NewXMLDocument(tree.get());
    tree.release();
    return result;
}
