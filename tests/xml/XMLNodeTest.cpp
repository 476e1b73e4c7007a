#include "xml/XMLElement.h"

#include "support/XMLTreeForTest.h"

#include <gtest/gtest.h>

#include <memory>

namespace
{
TEST(XMLNode, CreatedNodesCarryTheirKindNameAndValue)
{
    std::unique_ptr<CXMLNode> document(NewXMLDocument(nullptr));
    std::unique_ptr<CXMLNode> element(NewXMLElement(L"E"));
    std::unique_ptr<CXMLNode> attribute(NewXMLAttribute(L"a", L"v"));
    std::unique_ptr<CXMLNode> text(NewXMLText(L"t"));

    EXPECT_EQ(document->m_nType, 1);
    EXPECT_EQ(element->m_nType, 2);
    EXPECT_EQ(attribute->m_nType, 3);
    EXPECT_EQ(text->m_nType, 7);

    EXPECT_EQ(DescribeTree(element.get()), L"E:E[]{}");
    EXPECT_EQ(DescribeTree(attribute.get()), L"A:a=\"v\"");
    EXPECT_STREQ(text->GetValue(), L"t");
}

TEST(XMLNode, NullTextsAreStoredAsEmptyStrings)
{
    std::unique_ptr<CXMLNode> element(NewXMLElement(nullptr));
    std::unique_ptr<CXMLNode> attribute(NewXMLAttribute(nullptr, nullptr));
    std::unique_ptr<CXMLNode> text(NewXMLText(nullptr));
    ASSERT_NE(element->GetNameString(), nullptr);
    EXPECT_EQ(*element->GetNameString(), L"");
    EXPECT_STREQ(attribute->GetName(), L"");
    EXPECT_STREQ(attribute->GetValue(), L"");
    EXPECT_STREQ(text->GetValue(), L"");
}

TEST(XMLNode, UnsetOrMeaninglessNamesAndValuesAreNull)
{
    CXMLElement element;
    CXMLAttribute attribute;
    EXPECT_EQ(element.GetNameString(), nullptr);
    EXPECT_EQ(attribute.GetName(), nullptr);
    EXPECT_EQ(attribute.GetValueString(), nullptr);
    EXPECT_EQ(element.GetReservedText(), nullptr);
    EXPECT_EQ(element.GetReserved(), nullptr);

    std::unique_ptr<CXMLNode> text(NewXMLText(L"t"));
    text->SetName(L"name");
    EXPECT_EQ(text->GetName(), nullptr);
    std::unique_ptr<CXMLNode> document(NewXMLDocument(NewXMLElement(L"R")));
    document->SetName(L"name");
    document->SetValue(L"value");
    EXPECT_EQ(document->GetName(), nullptr);
    EXPECT_EQ(document->GetValue(), nullptr);
    EXPECT_EQ(DescribeTree(document.get()), L"D{E:R[]{}}");
}

TEST(XMLNode, StoredStringsStayTheSameObjectWhenSetAgain)
{
    std::unique_ptr<CXMLElement> element(NewXMLElement(L"first"));
    const std::wstring* name = element->GetNameString();
    element->SetName(L"a much longer second name that needs more room");
    EXPECT_EQ(element->GetNameString(), name);
    EXPECT_EQ(*name, L"a much longer second name that needs more room");

    std::unique_ptr<CXMLNode> attribute(NewXMLAttribute(L"n", L"v"));
    const std::wstring* value = attribute->GetValueString();
    attribute->SetValue(L"w");
    EXPECT_EQ(attribute->GetValueString(), value);
    EXPECT_EQ(*value, L"w");

    element->SetValue(L"text");
    const std::wstring* elementValue = element->GetValueString();
    element->SetValue(L"other text");
    EXPECT_EQ(element->GetValueString(), elementValue);
    EXPECT_EQ(*elementValue, L"other text");
}

TEST(XMLElement, GetChildOutsideTheListYieldsNull)
{
    std::unique_ptr<CXMLElement> element(NewXMLElement(L"R"));
    EXPECT_EQ(element->GetChild(0), nullptr);
    EXPECT_EQ(element->GetChildCount(), 0);

    CXMLNode* first = NewXMLElement(L"a");
    CXMLNode* second = NewXMLText(L"b");
    element->AddChild(first);
    element->AddChild(second);
    EXPECT_EQ(element->GetChildCount(), 2);
    EXPECT_EQ(element->GetChild(0), first);
    EXPECT_EQ(element->GetChild(1), second);
    EXPECT_EQ(element->GetChild(2), nullptr);
    int negative = -1;
    EXPECT_EQ(element->GetChild(static_cast<unsigned int>(negative)), nullptr);
}

TEST(XMLElement, ValueIsNullWithoutChildrenAndEmptyOnceSetEmpty)
{
    std::unique_ptr<CXMLElement> element(NewXMLElement(L"R"));
    EXPECT_EQ(element->GetValue(), nullptr);
    EXPECT_EQ(element->GetValueString(), nullptr);
    element->SetValue(L"");
    ASSERT_NE(element->GetValue(), nullptr);
    EXPECT_STREQ(element->GetValue(), L"");
}

TEST(XMLElement, SettingTheValueTwiceKeepsOneTextChild)
{
    std::unique_ptr<CXMLElement> element(NewXMLElement(L"R"));
    element->SetValue(L"first");
    element->SetValue(L"second");
    EXPECT_EQ(DescribeTree(element.get()), L"E:R[]{T\"second\"}");
}

TEST(XMLElement, ValueFollowsTheChainOfFirstChildren)
{
    std::unique_ptr<CXMLElement> outer(NewXMLElement(L"outer"));
    CXMLElement* inner = NewXMLElement(L"inner");
    outer->AddChild(inner);
    outer->AddChild(NewXMLText(L"later"));
    // The chain ends at an element without children: no value, not the later text.
    EXPECT_EQ(outer->GetValue(), nullptr);

    outer->SetValue(L"x");
    EXPECT_EQ(DescribeTree(outer.get()), L"E:outer[]{E:inner[]{T\"x\"},T\"later\"}");
    EXPECT_STREQ(outer->GetValue(), L"x");
    EXPECT_EQ(outer->GetValueString(), inner->GetValueString());
}

TEST(XMLElement, FindAttributeTakesTheFirstExactMatch)
{
    std::unique_ptr<CXMLElement> element(NewXMLElement(L"R"));
    EXPECT_EQ(element->FindAttribute(L"id"), nullptr);

    element->AddAttribute(new CXMLAttribute()); // a name never set is passed over
    CXMLNode* first = NewXMLAttribute(L"id", L"1");
    element->AddAttribute(first);
    element->AddAttribute(NewXMLAttribute(L"id", L"2"));
    element->AddAttribute(NewXMLAttribute(L"", L"empty name"));

    EXPECT_EQ(element->FindAttribute(L"id"), first);
    EXPECT_EQ(element->GetAttributes().size(), 4u);
    for (const wchar_t* other : {L"ID", L"Id", L"i", L"idx", L" id", L"id "})
        EXPECT_EQ(element->FindAttribute(other), nullptr) << other;
    ASSERT_NE(element->FindAttribute(L""), nullptr);
    EXPECT_STREQ(element->FindAttribute(L"")->GetValue(), L"empty name");
    EXPECT_EQ(element->FindAttribute(nullptr), nullptr);
}

TEST(XMLDocument, ReportsNoChildrenThoughItHasARoot)
{
    CXMLElement* root = NewXMLElement(L"R");
    std::unique_ptr<CXMLDocument> document(NewXMLDocument(root));
    EXPECT_EQ(document->m_pRoot, root);
    EXPECT_EQ(document->GetChildCount(), 0);
    EXPECT_EQ(document->GetChild(0), nullptr);
}

// Nodes that count their destruction.
int g_nDestroyed = 0;

template <class Base>
class CCounted : public Base
{
public:
    using Base::Base;
    ~CCounted() override { ++g_nDestroyed; }
};

TEST(XMLDocument, DeletingItDeletesEveryNodeOnce)
{
    g_nDestroyed = 0;
    auto* root = new CCounted<CXMLElement>();
    root->SetName(L"root");
    for (int i = 0; i < 2; ++i)
    {
        auto* attribute = new CCounted<CXMLAttribute>();
        attribute->SetName(L"a");
        root->AddAttribute(attribute);
    }
    auto* child = new CCounted<CXMLElement>();
    auto* grandchild = new CCounted<CXMLText>();
    child->AddChild(grandchild);
    child->AddAttribute(new CCounted<CXMLAttribute>());
    root->AddChild(child);
    root->AddChild(new CCounted<CXMLText>());
    auto* document = new CCounted<CXMLDocument>(root);
    const int nodes = 8;

    delete static_cast<CXMLNode*>(document);
    EXPECT_EQ(g_nDestroyed, nodes);
}
} // namespace
