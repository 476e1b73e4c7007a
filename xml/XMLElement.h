#pragma once
// An element: a name, an ordered attribute list and an ordered child list (elements and
// texts). The lists exist only once something was added; an element's value is the text
// at the end of its chain of first children.

#include "xml/XMLNode.h"

#include <vector>

class CXMLElement : public CXMLNode
{
public:
    CXMLElement() noexcept : CXMLNode(XML_NODE_ELEMENT) {}
    ~CXMLElement() override;

    void SetName(const wchar_t* name) override;
    const wchar_t* GetName() const override;
    const std::wstring* GetNameString() const override;
    // Sets the first child's value, or adds a text child when there is none.
    void SetValue(const wchar_t* value) override;
    const wchar_t* GetValue() const override;
    const std::wstring* GetValueString() const override;
    int GetChildCount() const override;
    CXMLNode* GetChild(unsigned int index) const override;
    virtual const wchar_t* GetReservedText() const;

    // Both take ownership of the node, also when they throw (the node is then deleted).
    void AddChild(CXMLNode* child);
    void AddAttribute(CXMLNode* attribute);
    // The first attribute whose name equals name exactly (case-sensitive), or null.
    CXMLNode* FindAttribute(const wchar_t* name) const;

    // Read-only views in document order; empty while the list does not exist.
    const std::vector<CXMLNode*>& GetAttributes() const;
    const std::vector<CXMLNode*>& GetChildren() const;

private:
    CXMLStringSlot m_pstrName;
    std::vector<CXMLNode*>* m_pAttributes = nullptr;
    std::vector<CXMLNode*>* m_pChildren = nullptr;
    // Never set by any operation.
    std::wstring* m_pstrReserved = nullptr;
};

CXMLElement* NewXMLElement(const wchar_t* name);
