#include "xml/XMLNode.h"

#include <memory>

const std::wstring g_strEmptyNodeString;

void CXMLNode::SetName(const wchar_t*) {}
const wchar_t* CXMLNode::GetName() const { return nullptr; }
const std::wstring* CXMLNode::GetNameString() const { return nullptr; }
void CXMLNode::SetValue(const wchar_t*) {}
const wchar_t* CXMLNode::GetValue() const { return nullptr; }
const std::wstring* CXMLNode::GetValueString() const { return nullptr; }
void* CXMLNode::GetReserved() const { return m_pReserved2; }
int CXMLNode::GetChildCount() const { return 0; }
CXMLNode* CXMLNode::GetChild(unsigned int) const { return nullptr; }

void CXMLText::SetValue(const wchar_t* value) { m_pstrValue.Set(value); }
const wchar_t* CXMLText::GetValue() const { return m_pstrValue.Text(); }
const std::wstring* CXMLText::GetValueString() const { return m_pstrValue.Get(); }

void CXMLAttribute::SetName(const wchar_t* name) { m_pstrName.Set(name); }
const wchar_t* CXMLAttribute::GetName() const { return m_pstrName.Text(); }
const std::wstring* CXMLAttribute::GetNameString() const { return m_pstrName.Get(); }
void CXMLAttribute::SetValue(const wchar_t* value) { m_pstrValue.Set(value); }
const wchar_t* CXMLAttribute::GetValue() const { return m_pstrValue.Text(); }
const std::wstring* CXMLAttribute::GetValueString() const { return m_pstrValue.Get(); }

CXMLDocument::~CXMLDocument()
{
    delete m_pRoot;
}

CXMLDocument* NewXMLDocument(CXMLNode* root)
{
    return new CXMLDocument(root);
}

CXMLAttribute* NewXMLAttribute(const wchar_t* name, const wchar_t* value)
{
    std::unique_ptr<CXMLAttribute> attribute(new CXMLAttribute());
    attribute->SetName(name);
    attribute->SetValue(value);
    return attribute.release();
}

CXMLText* NewXMLText(const wchar_t* value)
{
    std::unique_ptr<CXMLText> text(new CXMLText());
    text->SetValue(value);
    return text.release();
}
