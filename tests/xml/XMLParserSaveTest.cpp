#include "xml/XMLParser.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"
#include "support/XMLTreeForTest.h"
#include "xml/XMLElement.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace
{
const wchar_t kDeclaration[] = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::unique_ptr<CXMLDocument> Document(CXMLElement* root)
{
    return std::unique_ptr<CXMLDocument>(NewXMLDocument(root));
}

CXMLElement* Element(const wchar_t* name, std::initializer_list<CXMLNode*> children = {})
{
    CXMLElement* element = NewXMLElement(name);
    for (CXMLNode* child : children)
        element->AddChild(child);
    return element;
}

CXMLElement* WithAttributes(CXMLElement* element, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> attributes)
{
    for (const auto& attribute : attributes)
        element->AddAttribute(NewXMLAttribute(attribute.first, attribute.second));
    return element;
}

std::wstring GetXML(CXMLNode* document)
{
    std::wstring xml = L"(untouched)";
    GetXMLParser()->GetXML(document, xml);
    return xml;
}

TEST(XMLParserGetXML, RootWithTwoEmptyChildren)
{
    auto document = Document(Element(L"Root", {Element(L"A"), Element(L"B")}));
    EXPECT_EQ(GetXML(document.get()),
              std::wstring(kDeclaration) + L"\r\n<Root>\r\n     <A/>\r\n     <B/>\r\n</Root>\r\n");
}

TEST(XMLParserGetXML, RootWithOneTextChild)
{
    auto document = Document(Element(L"Root", {NewXMLText(L"some text")}));
    EXPECT_EQ(GetXML(document.get()), std::wstring(kDeclaration) + L"\r\n<Root>some text</Root>\r\n");
}

TEST(XMLParserGetXML, IndentsFiveSpacesALevelAndKeepsTextsInline)
{
    auto document = Document(Element(
        L"R", {NewXMLText(L"lead"),
               Element(L"a", {Element(L"b", {Element(L"c")}), NewXMLText(L"tail")}),
               WithAttributes(Element(L"d", {NewXMLText(L"x")}), {{L"k", L"v"}})}));
    EXPECT_EQ(GetXML(document.get()), std::wstring(kDeclaration) +
                                          L"\r\n<R>lead\r\n"
                                          L"     <a>\r\n"
                                          L"          <b>\r\n"
                                          L"               <c/>\r\n"
                                          L"          </b>tail</a>\r\n"
                                          L"     <d k=\"v\">x</d>\r\n"
                                          L"</R>\r\n");
}

TEST(XMLParserGetXML, LastOfDuplicateAttributeNamesWins)
{
    auto document = Document(WithAttributes(Element(L"R"), {{L"a", L"1"}, {L"b", L"x"}, {L"a", L"2"}}));
    std::wstring xml = GetXML(document.get());
    EXPECT_NE(xml.find(L"a=\"2\""), std::wstring::npos) << xml;
    EXPECT_EQ(xml.find(L"a=\"1\""), std::wstring::npos) << xml;
}

// A node of a kind the writer does not know.
class COddNode : public CXMLNode
{
public:
    COddNode() : CXMLNode(4) {}
};

struct Unwritable
{
    const char* what;
    std::function<CXMLNode*()> make;
};

class XMLParserUnwritableTreeTest : public ::testing::TestWithParam<Unwritable>
{
};

TEST_P(XMLParserUnwritableTreeTest, NothingIsWrittenAndOutIsUntouched)
{
    std::unique_ptr<CXMLNode> tree(GetParam().make());
    EXPECT_EQ(GetXML(tree.get()), L"(untouched)");
    CTempFolder folder;
    std::wstring path = folder.Child(L"out.xml");
    ASSERT_TRUE(WriteFileBytes(path, "previous"));
    EXPECT_FALSE(GetXMLParser()->SaveFile(tree.get(), path.c_str()));
    EXPECT_EQ(ReadFileBytes(path), "previous");
    EXPECT_EQ(ListFolder(folder.Path(), L"*"), std::vector<std::wstring>{L"out.xml"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XMLParserUnwritableTreeTest,
    ::testing::Values(
        Unwritable{"no tree", [] { return static_cast<CXMLNode*>(nullptr); }},
        Unwritable{"element instead of a document", [] { return static_cast<CXMLNode*>(Element(L"R")); }},
        Unwritable{"document without a root", [] { return static_cast<CXMLNode*>(NewXMLDocument(nullptr)); }},
        Unwritable{"text as the root", [] { return static_cast<CXMLNode*>(NewXMLDocument(NewXMLText(L"t"))); }},
        Unwritable{"unknown kind among the children",
                   [] { return static_cast<CXMLNode*>(NewXMLDocument(Element(L"R", {Element(L"a"), new COddNode()}))); }},
        Unwritable{"attribute among the children",
                   [] { return static_cast<CXMLNode*>(NewXMLDocument(Element(L"R", {NewXMLAttribute(L"a", L"1")}))); }},
        Unwritable{"document among the children",
                   [] { return static_cast<CXMLNode*>(NewXMLDocument(Element(L"R", {NewXMLDocument(Element(L"S"))}))); }},
        Unwritable{"text with a character XML cannot carry",
                   [] { return static_cast<CXMLNode*>(NewXMLDocument(Element(L"R", {NewXMLText(L"a\x01b")}))); }},
        Unwritable{"attribute value with a lone surrogate",
                   [] { return static_cast<CXMLNode*>(NewXMLDocument(WithAttributes(Element(L"R"), {{L"a", L"x\xDC00"}}))); }},
        Unwritable{"text with U+FFFF",
                   [] { return static_cast<CXMLNode*>(NewXMLDocument(Element(L"R", {NewXMLText(L"\xFFFF")}))); }},
        Unwritable{"text among the attributes",
                   [] {
                       CXMLElement* root = Element(L"R");
                       root->AddAttribute(NewXMLText(L"t"));
                       return static_cast<CXMLNode*>(NewXMLDocument(root));
                   }}),
    [](const ::testing::TestParamInfo<Unwritable>& info) { return ParamName(info.param.what); });

TEST(XMLParserGetXML, NamesThatAreNotXMLNamesAreRefused)
{
    for (const wchar_t* name : {L"a b", L"1a", L"a<b", L"", L"-a", L"a\xD800"})
    {
        auto element = Document(Element(L"R", {Element(name)}));
        auto attribute = Document(WithAttributes(Element(L"R"), {{name, L"v"}}));
        EXPECT_EQ(GetXML(element.get()), L"(untouched)") << name;
        EXPECT_EQ(GetXML(attribute.get()), L"(untouched)") << name;
    }
}

class XMLParserSaveTest : public ::testing::Test
{
protected:
    bool Save(CXMLNode* document, const std::wstring& path) { return GetXMLParser()->SaveFile(document, path.c_str()); }
    std::vector<std::wstring> Entries() const { return ListFolder(m_folder.Path(), L"*"); }

    CTempFolder m_folder;
};

TEST_F(XMLParserSaveTest, WritesWellFormedUtf8ThatLoadsBackToTheSameTree)
{
    auto document = Document(WithAttributes(
        Element(L"Gr\u00F6\u00DFe",
                {WithAttributes(Element(L"Component"), {{L"ID", L"\u65E5\u672C\U0001F600"}, {L"Empty", L""}}),
                 Element(L"t", {NewXMLText(L"<&> \"quoted\" 'single' \u00E9\u263A")}),
                 WithAttributes(Element(L"Component"), {{L"Z", L"last"}, {L"A", L"a < b & c > \"d\" 'e'"}}),
                 // White space that a parser would change unless it is written as references.
                 WithAttributes(Element(L"Spaces", {NewXMLText(L"cr\rlf\ntab\t]]>")}),
                                {{L"v", L"cr\rlf\ncrlf\r\ntab\t  two"}})}),
        {{L"z", L"1"}, {L"a", L"2"}, {L"m", L"3"}}));
    std::wstring path = m_folder.Child(L"tree.xml");
    ASSERT_TRUE(Save(document.get(), path));

    std::string bytes = ReadFileBytes(path);
    EXPECT_TRUE(IsValidUtf8(bytes));
    std::wstring text = ReadXMLFileText(path);
    EXPECT_EQ(text.find(L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), 0u) << text;
    // Non-ASCII text is written as UTF-8, not as character references.
    EXPECT_NE(bytes.find(WideToUtf8(L"\u65E5\u672C\U0001F600")), std::string::npos);

    std::unique_ptr<CXMLDocument> loaded = LoadFileForTest(path);
    EXPECT_EQ(DescribeTree(loaded.get()), DescribeTree(document.get()));
}

TEST_F(XMLParserSaveTest, FileHasTheLayoutOfGetXML)
{
    auto document = Document(Element(L"Root", {Element(L"A", {Element(L"B")}), Element(L"C", {NewXMLText(L"x")})}));
    std::wstring path = m_folder.Child(L"layout.xml");
    ASSERT_TRUE(Save(document.get(), path));
    EXPECT_EQ(ReadFileBytes(path), WideToUtf8(std::wstring(kDeclaration) +
                                              L"\r\n<Root>\r\n     <A>\r\n          <B/>\r\n     </A>\r\n"
                                              L"     <C>x</C>\r\n</Root>\r\n"))
        << "no byte-order mark, CR LF line breaks, as GetXML lays it out";
}

TEST_F(XMLParserSaveTest, ReplacesAnExistingFileAndLeavesNothingElse)
{
    std::wstring path = m_folder.Child(L"list.xml");
    ASSERT_TRUE(WriteFileBytes(path, std::string(100000, 'x')));
    auto document = Document(Element(L"R", {Element(L"a")}));
    ASSERT_TRUE(Save(document.get(), path));
    EXPECT_EQ(DescribeTree(LoadFileForTest(path).get()), L"D{E:R[]{E:a[]{}}}");
    EXPECT_EQ(Entries(), std::vector<std::wstring>{L"list.xml"});
}

TEST_F(XMLParserSaveTest, SlashAndBackslashPathsAndRelativeNames)
{
    auto document = Document(Element(L"R"));
    ASSERT_TRUE(Save(document.get(), m_folder.Child(L"slash.xml")));
    ASSERT_TRUE(Save(document.get(), PlatformPathForTest(m_folder.Child(L"back slash.xml"))));

    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(PlatformPathForTest(m_folder.Path()).c_str()));
    bool relative = Save(document.get(), L"relative.xml");
    ::SetCurrentDirectoryW(previous);
    EXPECT_TRUE(relative);
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"back slash.xml", L"relative.xml", L"slash.xml"}));
}

TEST_F(XMLParserSaveTest, MissingFolderGivesFalseAndCreatesNothing)
{
    auto document = Document(Element(L"R"));
    EXPECT_FALSE(Save(document.get(), m_folder.Child(L"missing/list.xml")));
    EXPECT_FALSE(GetXMLParser()->SaveFile(document.get(), nullptr));
    EXPECT_TRUE(Entries().empty());
}

struct LockedTarget
{
    const char* what;
    // Makes path unwritable; returns what undoes it.
    std::function<std::function<void()>(const std::wstring& path)> lock;
};

class XMLParserLockedTargetTest : public XMLParserSaveTest, public ::testing::WithParamInterface<LockedTarget>
{
};

TEST_P(XMLParserLockedTargetTest, GivesFalseAndKeepsTheTarget)
{
    std::wstring path = m_folder.Child(L"list.xml");
    ASSERT_TRUE(WriteFileBytes(path, "previous"));
    std::function<void()> unlock = GetParam().lock(path);
    auto document = Document(Element(L"R", {Element(L"a")}));
    EXPECT_FALSE(Save(document.get(), path));
    unlock();
    EXPECT_EQ(ReadFileBytes(path), "previous");
    EXPECT_EQ(Entries(), std::vector<std::wstring>{L"list.xml"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XMLParserLockedTargetTest,
    ::testing::Values(
        LockedTarget{"read-only file",
                     [](const std::wstring& path) {
                         std::wstring platform = PlatformPathForTest(path);
                         ::SetFileAttributesW(platform.c_str(), FILE_ATTRIBUTE_READONLY);
                         return std::function<void()>(
                             [platform] { ::SetFileAttributesW(platform.c_str(), FILE_ATTRIBUTE_NORMAL); });
                     }},
        LockedTarget{"file held open without sharing",
                     [](const std::wstring& path) {
                         HANDLE file = ::CreateFileW(PlatformPathForTest(path).c_str(), GENERIC_READ, 0, nullptr,
                                                     OPEN_EXISTING, 0, nullptr);
                         return std::function<void()>([file] { ::CloseHandle(file); });
                     }}),
    [](const ::testing::TestParamInfo<LockedTarget>& info) { return ParamName(info.param.what); });

TEST_F(XMLParserSaveTest, FolderInPlaceOfTheFileGivesFalse)
{
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"list.xml")));
    auto document = Document(Element(L"R"));
    EXPECT_FALSE(Save(document.get(), m_folder.Child(L"list.xml")));
    EXPECT_TRUE(FolderExists(m_folder.Child(L"list.xml")));
    EXPECT_EQ(Entries(), std::vector<std::wstring>{L"list.xml"});
}

// Whoever looks at the file while it is saved finds the old file or the new one, never a part.
TEST_F(XMLParserSaveTest, TargetIsNeverSeenPartlyWritten)
{
    std::wstring path = m_folder.Child(L"list.xml");
    const std::string old(1 << 20, 'x');
    ASSERT_TRUE(WriteFileBytes(path, old));
    CXMLElement* root = Element(L"R");
    for (int i = 0; i < 20; ++i)
        root->AddChild(Element(L"c", {NewXMLText(std::wstring(100000, L'n').c_str())}));
    auto document = Document(root);

    std::atomic<bool> done{false};
    std::mutex sizesLock;
    std::set<unsigned long long> sizes;
    std::thread watcher([&] {
        std::wstring platform = PlatformPathForTest(path);
        while (!done)
        {
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            unsigned long long size = ~0ull; // not found
            if (::GetFileAttributesExW(platform.c_str(), GetFileExInfoStandard, &data))
                size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
            std::lock_guard<std::mutex> guard(sizesLock);
            sizes.insert(size);
        }
    });
    bool saved = Save(document.get(), path);
    done = true;
    watcher.join();
    ASSERT_TRUE(saved);
    const unsigned long long written = ReadFileBytes(path).size();
    ASSERT_GT(written, old.size());
    for (unsigned long long size : sizes)
        EXPECT_TRUE(size == old.size() || size == written) << size << " of " << written;
    EXPECT_EQ(DescribeTree(LoadFileForTest(path).get()), DescribeTree(document.get()));
}

BY_HANDLE_FILE_INFORMATION FileIdentity(const std::wstring& path)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    HANDLE file = ::CreateFileW(PlatformPathForTest(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE)
    {
        ::GetFileInformationByHandle(file, &info);
        ::CloseHandle(file);
    }
    return info;
}

// The host's file is replaced in one step by a file that took its attributes and creation
// time. Another name of the old file (a hard link) is what a replace cannot keep: it goes on
// showing the old text, whole.
TEST_F(XMLParserSaveTest, ReplacedFileKeepsAttributesAndCreationTime)
{
    std::wstring path = m_folder.Child(L"list.xml");
    std::wstring link = m_folder.Child(L"other name.xml");
    const std::string old(5000, 'x');
    ASSERT_TRUE(WriteFileBytes(path, old));
    ASSERT_TRUE(::CreateHardLinkW(PlatformPathForTest(link).c_str(), PlatformPathForTest(path).c_str(), nullptr));
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(::SetFileAttributesW(PlatformPathForTest(path).c_str(), kept));
    BY_HANDLE_FILE_INFORMATION before = FileIdentity(path);
    ::Sleep(20); // a new file would get a later creation time

    auto document = Document(Element(L"R", {Element(L"a")}));
    ASSERT_TRUE(Save(document.get(), path));
    EXPECT_EQ(DescribeTree(LoadFileForTest(path).get()), DescribeTree(document.get()));
    BY_HANDLE_FILE_INFORMATION after = FileIdentity(path);
    EXPECT_EQ(::GetFileAttributesW(PlatformPathForTest(path).c_str()) & kept, kept);
    EXPECT_EQ(ReadFileBytes(link), old);
    EXPECT_EQ(Entries(), (std::vector<std::wstring>{L"list.xml", L"other name.xml"}));

    // Can this file system keep a creation time apart from the last change at all?
    std::wstring probe = PlatformPathForTest(m_folder.Child(L"probe"));
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::SetFileTime(file, &before.ftCreationTime, nullptr, nullptr);
    ::CloseHandle(file);
    BY_HANDLE_FILE_INFORMATION probed = FileIdentity(m_folder.Child(L"probe"));
    ::DeleteFileW(probe.c_str());
    if (CompareFileTime(&probed.ftCreationTime, &before.ftCreationTime) != 0)
        GTEST_SKIP() << "Wine keeps no creation time of a file's own, so whether it is kept cannot be seen here";
    EXPECT_EQ(CompareFileTime(&after.ftCreationTime, &before.ftCreationTime), 0);
}

// A list whose path is as long as the platform allows, in the deepest folder it creates, is
// saved, although its temporary name passes the limit; nothing is left beside it.
TEST_F(XMLParserSaveTest, ListsInFoldersUpToThePathLimitAreSaved)
{
    const size_t kDeepestFolder = MAX_PATH - 13; // CreateDirectoryW leaves room for an 8.3 name
    std::wstring folder = m_folder.Path();
    ASSERT_LT(folder.size() + 2, kDeepestFolder);
    while (folder.size() < kDeepestFolder)
    {
        folder += L"/" + std::wstring(std::min<size_t>(50, kDeepestFolder - folder.size() - 1), L'd');
        ASSERT_TRUE(MakeFolder(folder)) << folder.size();
    }
    std::wstring path = folder + L"/" + std::wstring(MAX_PATH - 1 - folder.size() - 1 - 5, L'n') + L".list";
    ASSERT_EQ(path.size(), size_t(MAX_PATH - 1));
    auto document = Document(Element(L"R", {Element(L"a")}));
    ASSERT_TRUE(Save(document.get(), path));
    EXPECT_EQ(DescribeTree(LoadFileForTest(path).get()), L"D{E:R[]{E:a[]{}}}");
    EXPECT_EQ(ListFolder(folder, L"*"), std::vector<std::wstring>{path.substr(folder.size() + 1)});
}

TEST_F(XMLParserSaveTest, MegabyteAttributeValueRoundTrips)
{
    std::wstring value(1 << 20, L'v');
    value[12345] = L'\u00E9';
    auto document = Document(WithAttributes(Element(L"R"), {{L"big", value.c_str()}}));
    std::wstring path = m_folder.Child(L"big.xml");
    ASSERT_TRUE(Save(document.get(), path));
    std::unique_ptr<CXMLDocument> loaded = LoadFileForTest(path);
    ASSERT_NE(loaded, nullptr);
    const CXMLElement* root = dynamic_cast<const CXMLElement*>(loaded->m_pRoot);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(root->FindAttribute(L"big"), nullptr);
    EXPECT_TRUE(*root->FindAttribute(L"big")->GetValueString() == value);
}

// Saves on several threads at once each keep their own indentation.
TEST_F(XMLParserSaveTest, SavesOnSeveralThreadsDoNotDisturbEachOther)
{
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back([&, t] {
            auto document = Document(Element(L"R", {Element(L"a", {Element(L"b", {Element(L"c")})})}));
            for (int i = 0; i < 20; ++i)
            {
                std::wstring path = m_folder.Child(L"t" + std::to_wstring(t) + L".xml");
                if (!Save(document.get(), path) ||
                    WithoutDeclaration(ReadXMLFileText(path)) !=
                        L"<R>\n     <a>\n          <b>\n               <c/>\n          </b>\n     </a>\n</R>\n")
                    ++wrong;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}
} // namespace
