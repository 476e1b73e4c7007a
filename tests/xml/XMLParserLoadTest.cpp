#include "xml/XMLParser.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"
#include "support/XMLTreeForTest.h"
#include "sys/ComHandle.h"
#include "xml/SAXTreeReader.h"
#include "xml/XMLElement.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <thread>

namespace
{
class XMLParserLoadTest : public ::testing::Test
{
protected:
    std::unique_ptr<CXMLDocument> LoadBytes(const std::string& bytes)
    {
        std::wstring path = m_folder.Child(L"in.xml");
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return LoadFileForTest(path);
    }
    std::wstring Describe(const std::string& bytes) { return DescribeTree(LoadBytes(bytes).get()); }

    CTempFolder m_folder;
};

TEST(XMLParser, OneParserForTheProcess)
{
    CXMLParser* parser = GetXMLParser();
    ASSERT_NE(parser, nullptr);
    EXPECT_EQ(GetXMLParser(), parser);
    CXMLParser* other = nullptr;
    std::thread([&] { other = GetXMLParser(); }).join();
    EXPECT_EQ(other, parser);
}

TEST_F(XMLParserLoadTest, MissingFileOrNoPathYieldsNull)
{
    EXPECT_EQ(LoadFileForTest(m_folder.Child(L"missing.xml")), nullptr);
    EXPECT_EQ(LoadFileForTest(m_folder.Child(L"no folder/missing.xml")), nullptr);
    EXPECT_EQ(GetXMLParser()->LoadFile(nullptr), nullptr);
    EXPECT_EQ(GetXMLParser()->LoadXML(nullptr), nullptr);
}

struct BadInput
{
    const char* what;
    std::string bytes;
};

class XMLParserBadInputTest : public XMLParserLoadTest, public ::testing::WithParamInterface<BadInput>
{
};

TEST_P(XMLParserBadInputTest, YieldsNullAndNoPartialTree)
{
    EXPECT_EQ(LoadBytes(GetParam().bytes), nullptr);
}

std::string BinaryBytes()
{
    std::string bytes;
    unsigned value = 12345;
    for (int i = 0; i < 4096; ++i)
    {
        value = value * 1103515245u + 12345u;
        bytes += static_cast<char>(value >> 16);
    }
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XMLParserBadInputTest,
    ::testing::Values(
        BadInput{"empty", ""}, BadInput{"declaration only", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
        BadInput{"truncated", "<?xml version=\"1.0\"?><ActionList><Component ID=\"a\" Action=\"Upd"},
        BadInput{"unclosed root", "<r><a/>"}, BadInput{"binary", BinaryBytes()},
        BadInput{"text only", "just text"}, BadInput{"two roots", "<a/><b/>"},
        BadInput{"CDATA in the root", "<r><![CDATA[<not>&markup;]]></r>"},
        BadInput{"CDATA deeper down", "<r><a><b>x<![CDATA[y]]></b></a></r>"},
        BadInput{"entity reference", "<!DOCTYPE r [<!ENTITY co \"Company\">]><r><a>&co;</a></r>"},
        BadInput{"processing instruction inside", "<r><?pi data?></r>"},
        BadInput{"duplicate attribute", "<r><a x=\"1\" x=\"2\"/></r>"},
        BadInput{"undefined entity", "<r>&nope;</r>"},
        BadInput{"Latin-1 bytes declared UTF-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r a=\"caf\xE9\"/>"},
        BadInput{"UTF-16 bytes without a byte-order mark declared UTF-8",
                 std::string("<\0r\0/\0>\0", 8)},
        BadInput{"nested deeper than the tree allows", NestedElements(257, "<e>", "e")}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return ParamName(info.param.what); });

// Files are read in one pass of the SAX reader where they hold only what it reads as the DOM
// does; the tree must then be the DOM's. Everything else is left to the DOM.
struct ReadInOnePass
{
    const char* what;
    std::string bytes;
    bool byReader;
};

class XMLParserOnePassTest : public XMLParserLoadTest, public ::testing::WithParamInterface<ReadInOnePass>
{
};

TEST_P(XMLParserOnePassTest, GivesTheDOMTreeOrLeavesTheFileToTheDOM)
{
    std::wstring path = m_folder.Child(L"in.xml");
    ASSERT_TRUE(WriteFileBytes(path, GetParam().bytes));
    CQMComInit com = InitializeComForThread();
    std::unique_ptr<CXMLDocument> read(ReadFileWithSAX(path));
    EXPECT_EQ(read != nullptr, GetParam().byReader);
    if (read)
    {
        std::string body = GetParam().bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? GetParam().bytes.substr(3) : GetParam().bytes;
        std::unique_ptr<CXMLDocument> byDOM(GetXMLParser()->LoadXML(Utf8ToWide(body).c_str()));
        EXPECT_EQ(DescribeTree(read.get()), DescribeTree(byDOM.get()));
        EXPECT_EQ(DescribeTree(read.get()), DescribeTree(LoadFileForTest(path).get()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XMLParserOnePassTest,
    ::testing::Values(
        ReadInOnePass{"action list as written",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"A\">\r\n"
                      "     <Component ID=\"a\" Action=\"Update\" Path=\"C:/x &amp; y\"/>\r\n"
                      "     <Component ID=\"b\" Action=\"Add\"/>\r\n</ActionList>\r\n",
                      true},
        ReadInOnePass{"no declaration", "<r a=\"1\"><b>t</b></r>", true},
        ReadInOnePass{"declaration in lower case", "<?xml version=\"1.0\" encoding=\"utf-8\"?><r><b/></r>", true},
        ReadInOnePass{"declaration without encoding, byte-order mark",
                      "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<r><b/></r>", true},
        ReadInOnePass{"comments inside and around", "<!-- a --><r><!--c--><a/><!--d-->x<!--e-->y<!-- <b/> --></r><!-- z -->",
                      true},
        ReadInOnePass{"references in texts and attributes",
                      "<r a=\"&lt;&amp;&quot;&apos;&gt;&#233;\" b=\"x&#9;y&#10;z&#130;w\" c=\"t\tu\r\nv\"><t>&lt;x&gt;&#32;&#x0E9;\r\nz</t></r>",
                      true},
        // The reader turns a carriage return written as a reference into a line feed.
        ReadInOnePass{"carriage return reference in a text", "<r><t>a&#13;b</t></r>", false},
        ReadInOnePass{"carriage return reference in hexadecimal", "<r a=\"&#x0d;\"><t>a&#xD;b</t></r>", false},
        ReadInOnePass{"text and elements mixed", "<r>a<b>c</b>d<e/>f</r>", true},
        ReadInOnePass{"non-ASCII names and values",
                      "<Gr\xC3\xB6\xC3\x9F"
                      "e n\xC3\xA4me=\"\xE6\x97\xA5\xF0\x9F\x98\x80\">\xC3\xA9t\xC3\xA9</Gr\xC3\xB6\xC3\x9F"
                      "e>",
                      true},
        ReadInOnePass{"nested to the limit", NestedElements(256, "<e>", "e"), true},
        ReadInOnePass{"nested deeper than the limit", NestedElements(257, "<e>", "e"), false},
        ReadInOnePass{"white space at the ends of a text", "<r><c> t </c></r>", false},
        ReadInOnePass{"processing instruction after the root", "<r/><?pi data?>", false},
        ReadInOnePass{"processing instruction inside", "<r><?pi data?></r>", false},
        ReadInOnePass{"CDATA", "<r><![CDATA[x]]></r>", false},
        ReadInOnePass{"document type", "<!DOCTYPE r [<!ENTITY co \"Company\">]><r>&co;</r>", false},
        ReadInOnePass{"namespace declaration", "<r xmlns=\"urn:x\"><a/></r>", false},
        ReadInOnePass{"preserved white space", "<r xml:space=\"preserve\"> <a/> </r>", false},
        ReadInOnePass{"declaration in another form", "<?xml version='1.0' encoding='utf-8'?><r/>", false},
        ReadInOnePass{"UTF-16 with its byte-order mark", std::string("\xFF\xFE<\0r\0/\0>\0", 10), false},
        ReadInOnePass{"UTF-16 without a byte-order mark", std::string("<\0r\0/\0>\0", 8), false},
        ReadInOnePass{"not well-formed", "<r><a></r>", false},
        ReadInOnePass{"empty", "", false}),
    [](const ::testing::TestParamInfo<ReadInOnePass>& info) { return ParamName(info.param.what); });

TEST_F(XMLParserLoadTest, NestingUpToTheLimitLoads)
{
    std::unique_ptr<CXMLDocument> document = LoadBytes(NestedElements(256, "<e>", "e"));
    ASSERT_NE(document, nullptr);
    int depth = 0;
    for (const CXMLNode* node = document->m_pRoot; node != nullptr; node = node->GetChild(0))
        ++depth;
    EXPECT_EQ(depth, 256);
}

TEST_F(XMLParserLoadTest, CommentsAreDropped)
{
    EXPECT_EQ(Describe("<!-- before --><r><!--c--><a/><!--d-->x<!--e-->y</r><!-- after -->"),
              L"D{E:r[]{E:a[]{},T\"x\",T\"y\"}}");
}

TEST_F(XMLParserLoadTest, WhitespaceBetweenElementsDoesNotReachTheTree)
{
    EXPECT_EQ(Describe("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<r>\r\n     <a>\r\n\t<b/>\r\n     </a>\n  <c> t </c>\r\n</r>\r\n"),
              L"D{E:r[]{E:a[]{E:b[]{}},E:c[]{T\" t \"}}}");
}

TEST_F(XMLParserLoadTest, AttributesKeepTheirOrderAndReferencesBecomeText)
{
    EXPECT_EQ(Describe("<r z=\"1\" a=\"&lt;&amp;&quot;&apos;&gt;\" m=\"\"><t>&lt;x&gt; &#233;&#x263A;</t></r>"),
              L"D{E:r[z=\"1\" a=\"<&\"'>\" m=\"\"]{E:t[]{T\"<x> \u00E9\u263A\"}}}");
}

TEST_F(XMLParserLoadTest, ReadsNonAsciiNamesAndValues)
{
    std::string bytes = WideToUtf8(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Gr\u00F6\u00DFe "
                                   L"n\u00E4me=\"\u65E5\u672C\U0001F600\">\u00E9t\u00E9</Gr\u00F6\u00DFe>");
    EXPECT_EQ(Describe(bytes), L"D{E:Gr\u00F6\u00DFe[n\u00E4me=\"\u65E5\u672C\U0001F600\"]{T\"\u00E9t\u00E9\"}}");
    // The same document with a byte-order mark, and in UTF-16 with its byte-order mark.
    EXPECT_EQ(Describe("\xEF\xBB\xBF" + bytes), Describe(bytes));
    std::wstring wide = L"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?><r a=\"\u00E9\"/>";
    EXPECT_EQ(Describe(std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * 2)),
              L"D{E:r[a=\"\u00E9\"]{}}");
}

TEST_F(XMLParserLoadTest, MegabyteAttributeValueArrivesWhole)
{
    std::string value(1 << 20, 'v');
    value[0] = 'a';
    value.back() = 'z';
    std::unique_ptr<CXMLDocument> document = LoadBytes("<r big=\"" + value + "\">" + value + "</r>");
    ASSERT_NE(document, nullptr);
    const CXMLElement* root = dynamic_cast<const CXMLElement*>(document->m_pRoot);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->FindAttribute(L"big"), nullptr);
    EXPECT_EQ(*root->FindAttribute(L"big")->GetValueString(), Utf8ToWide(value));
    EXPECT_EQ(*root->GetValueString(), Utf8ToWide(value));
}

TEST_F(XMLParserLoadTest, BackslashAndSlashPathsLoadTheSameFile)
{
    std::wstring path = m_folder.Child(L"sub folder/list.xml");
    ASSERT_TRUE(CreateFolderPathForTest(m_folder.Child(L"sub folder")));
    ASSERT_TRUE(WriteFileBytes(path, "<r a=\"1\"><b/></r>"));
    std::unique_ptr<CXMLDocument> slashes = LoadFileForTest(path);
    std::unique_ptr<CXMLDocument> backslashes = LoadFileForTest(PlatformPathForTest(path));
    ASSERT_NE(slashes, nullptr);
    EXPECT_EQ(DescribeTree(slashes.get()), L"D{E:r[a=\"1\"]{E:b[]{}}}");
    EXPECT_EQ(DescribeTree(backslashes.get()), DescribeTree(slashes.get()));
}

TEST(XMLParser, LoadXMLReadsTextInMemory)
{
    std::unique_ptr<CXMLDocument> document(GetXMLParser()->LoadXML(L"<r><!--c--><a x=\"1\">t</a></r>"));
    EXPECT_EQ(DescribeTree(document.get()), L"D{E:r[]{E:a[x=\"1\"]{T\"t\"}}}");
    EXPECT_EQ(GetXMLParser()->LoadXML(L"<r><![CDATA[x]]></r>"), nullptr);
    EXPECT_EQ(GetXMLParser()->LoadXML(L"<r>"), nullptr);
}

// CoInitialize reports S_OK only to a thread whose COM is not initialised.
bool ComIsUninitialisedOnThisThread()
{
    HRESULT hr = ::CoInitialize(nullptr);
    if (SUCCEEDED(hr))
        ::CoUninitialize();
    return hr == S_OK;
}

TEST_F(XMLParserLoadTest, EveryOperationBalancesComOnItsThread)
{
    std::wstring path = m_folder.Child(L"balance.xml");
    ASSERT_TRUE(WriteFileBytes(path, "<r><a/></r>"));
    bool balanced = false;
    std::thread([&] {
        std::unique_ptr<CXMLDocument> document(GetXMLParser()->LoadFile(path.c_str()));
        std::unique_ptr<CXMLDocument> failed(GetXMLParser()->LoadFile(L"C:/no such folder/x.xml"));
        std::unique_ptr<CXMLDocument> fromText(GetXMLParser()->LoadXML(L"<r/>"));
        std::wstring xml;
        GetXMLParser()->GetXML(document.get(), xml);
        bool saved = GetXMLParser()->SaveFile(document.get(), m_folder.Child(L"out.xml").c_str());
        balanced = document != nullptr && failed == nullptr && fromText != nullptr && !xml.empty() && saved &&
                   ComIsUninitialisedOnThisThread();
    }).join();
    EXPECT_TRUE(balanced);
}

TEST_F(XMLParserLoadTest, AThreadInTheMultithreadedApartmentKeepsIt)
{
    std::wstring path = m_folder.Child(L"mta.xml");
    ASSERT_TRUE(WriteFileBytes(path, "<r><a/></r>"));
    std::wstring tree;
    HRESULT again = E_FAIL;
    std::thread([&] {
        if (FAILED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
            return;
        std::unique_ptr<CXMLDocument> document(GetXMLParser()->LoadFile(path.c_str()));
        tree = DescribeTree(document.get());
        again = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again))
            ::CoUninitialize();
        ::CoUninitialize();
    }).join();
    EXPECT_EQ(tree, L"D{E:r[]{E:a[]{}}}");
    EXPECT_EQ(again, S_FALSE);
}
} // namespace
