#include "xml/XMLElement.h"

#include <memory>

namespace
{
constexpr size_t kInitialListCapacity = 8;

void DeleteList(std::vector<CXMLNode*>* list)
{
    if (list == nullptr)
        return;
    for (CXMLNode* node : *list)
        delete node;
    delete list;
}

void Append(std::vector<CXMLNode*>*& list, CXMLNode* node)
{
    std::unique_ptr<CXMLNode> owner(node);
    if (list == nullptr)
    {
        list = new std::vector<CXMLNode*>();
        // Elements mostly carry a few attributes or children (a component up to five): one
        // allocation for them.
        list->reserve(kInitialListCapacity);
    }
    list->push_back(node);
    owner.release();
}

// Of static storage: a function static would take the runtime's thread-safe guard, which stays
// behind when the module is unloaded.
const std::vector<CXMLNode*> g_vecNoNodes;

const std::vector<CXMLNode*>& ViewOf(const std::vector<CXMLNode*>* list)
{
    return list != nullptr ? *list : g_vecNoNodes;
}
} // namespace

CXMLElement::~CXMLElement()
{
    delete m_pstrReserved;
    DeleteList(m_pChildren);
    DeleteList(m_pAttributes);
}

void CXMLElement::SetName(const wchar_t* name) { m_pstrName.Set(name); }
const wchar_t* CXMLElement::GetName() const { return m_pstrName.Text(); }
const std::wstring* CXMLElement::GetNameString() const { return m_pstrName.Get(); }

void CXMLElement::SetValue(const wchar_t* value)
{
    if (GetChildCount() > 0)
        (*m_pChildren)[0]->SetValue(value);
    else
        AddChild(NewXMLText(value));
}

const wchar_t* CXMLElement::GetValue() const
{
    return GetChildCount() > 0 ? (*m_pChildren)[0]->GetValue() : nullptr;
}

const std::wstring* CXMLElement::GetValueString() const
{
    return GetChildCount() > 0 ? (*m_pChildren)[0]->GetValueString() : nullptr;
}

int CXMLElement::GetChildCount() const
{
    return m_pChildren != nullptr ? static_cast<int>(m_pChildren->size()) : 0;
}

CXMLNode* CXMLElement::GetChild(unsigned int index) const
{
    if (m_pChildren == nullptr || index >= m_pChildren->size())
        return nullptr;
    return (*m_pChildren)[index];
}

const wchar_t* CXMLElement::GetReservedText() const
{
    return m_pstrReserved != nullptr ? m_pstrReserved->c_str() : nullptr;
}

void CXMLElement::AddChild(CXMLNode* child) { Append(m_pChildren, child); }
void CXMLElement::AddAttribute(CXMLNode* attribute) { Append(m_pAttributes, attribute); }

CXMLNode* CXMLElement::FindAttribute(const wchar_t* name) const
{
    if (m_pAttributes == nullptr || name == nullptr)
        return nullptr;
    for (CXMLNode* attribute : *m_pAttributes)
    {
        const std::wstring* attributeName = attribute->GetNameString();
        // Same length and same code units: no case folding, no trimming.
        if (attributeName != nullptr && *attributeName == name)
            return attribute;
    }
    return nullptr;
}

const std::vector<CXMLNode*>& CXMLElement::GetAttributes() const { return ViewOf(m_pAttributes); }
const std::vector<CXMLNode*>& CXMLElement::GetChildren() const { return ViewOf(m_pChildren); }

CXMLElement* NewXMLElement(const wchar_t* name)
{
    std::unique_ptr<CXMLElement> element(new CXMLElement());
    element->SetName(name);
    return element.release();
}
