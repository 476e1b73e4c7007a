#pragma once
// The module's own XML tree: documents, elements, attributes and texts, independent of
// any XML library. Nodes are owned through raw pointers: a document owns its root, an
// element its attribute and child nodes; deleting a node deletes everything below it.

#include "xml/NodeString.h"

#include <string>

// Node kinds. Text is 7: the writer dispatches on these values.
enum : int
{
    XML_NODE_DOCUMENT = 1,
    XML_NODE_ELEMENT = 2,
    XML_NODE_ATTRIBUTE = 3,
    XML_NODE_TEXT = 7,
};

class CXMLNode
{
public:
    explicit CXMLNode(int nType) noexcept : m_nType(nType) {}
    CXMLNode(const CXMLNode&) = delete;
    CXMLNode& operator=(const CXMLNode&) = delete;

    // The virtual operations keep this order; the defaults report "nothing".
    virtual ~CXMLNode() = default;
    virtual void SetName(const wchar_t* name);
    virtual const wchar_t* GetName() const;
    // The stored string stays the same object until the node is destroyed.
    virtual const std::wstring* GetNameString() const;
    virtual void SetValue(const wchar_t* value);
    virtual const wchar_t* GetValue() const;
    virtual const std::wstring* GetValueString() const;
    virtual void* GetReserved() const;
    virtual int GetChildCount() const;
    virtual CXMLNode* GetChild(unsigned int index) const;

    const int m_nType;

private:
    // Carry nothing; kept so that the members stay as other builds of the tree lay them out.
    [[maybe_unused]] void* m_pReserved1 = nullptr;
    void* m_pReserved2 = nullptr;
};

class CXMLText : public CXMLNode
{
public:
    CXMLText() noexcept : CXMLNode(XML_NODE_TEXT) {}
    void SetValue(const wchar_t* value) override;
    const wchar_t* GetValue() const override;
    const std::wstring* GetValueString() const override;

private:
    CXMLStringSlot m_pstrValue;
};

class CXMLAttribute : public CXMLNode
{
public:
    CXMLAttribute() noexcept : CXMLNode(XML_NODE_ATTRIBUTE) {}
    void SetName(const wchar_t* name) override;
    const wchar_t* GetName() const override;
    const std::wstring* GetNameString() const override;
    void SetValue(const wchar_t* value) override;
    const wchar_t* GetValue() const override;
    const std::wstring* GetValueString() const override;

private:
    CXMLStringSlot m_pstrName;
    CXMLStringSlot m_pstrValue;
};

// Has neither name nor value and reports no children: the root is reached through m_pRoot.
class CXMLDocument : public CXMLNode
{
public:
    explicit CXMLDocument(CXMLNode* root) noexcept : CXMLNode(XML_NODE_DOCUMENT), m_pRoot(root) {}
    ~CXMLDocument() override;

    CXMLNode* const m_pRoot;
};

// Each returns a new node that the caller owns until it is handed to an element or a document.
// A null text stores the empty string.
CXMLDocument* NewXMLDocument(CXMLNode* root);
CXMLAttribute* NewXMLAttribute(const wchar_t* name, const wchar_t* value);
CXMLText* NewXMLText(const wchar_t* value);
