// Mutated action lists and result documents: every one gives a documented status, never a
// crash, never a partly read list, and whatever loads writes back and loads the same again.

#include "actionlist/QMActionListXML.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"
#include "support/XMLTreeForTest.h"
#include "xml/ActionListForTest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
const std::string kActionList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<ActionList ParentAppName=\"HostApp\" ComponentType=\"Plugin\">\r\n"
    "     <Component ID=\"alpha\" Action=\"Update\" Path=\"C:/Program Files/Host/alpha.dll\" Version=\"1.2.3.4\" "
    "Result=\"0\"/>\r\n"
    "     <Component ID=\"beta\" Action=\"Add\"/>\r\n"
    "     <Component ID=\"gamma\" Action=\"Delete\" Version=\"2.0\"/>\r\n"
    "</ActionList>\r\n";

const std::string kResultDocument = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                    "<CheckResult LaunchApp=\"R\" ProcessInfo=\"pid=42 &amp; more\" Result=\"0\">\r\n"
                                    "     <Detail Code=\"7\">text</Detail>\r\n"
                                    "</CheckResult>\r\n";

struct Sample
{
    std::string what;
    std::string bytes;
    bool fromResultDocument;
    bool mustBeUnreadable; // cut before the root element ends
};

class CMutator
{
public:
    explicit CMutator(unsigned seed) : m_nState(seed) {}
    size_t Below(size_t limit)
    {
        m_nState = m_nState * 1664525u + 1013904223u;
        return limit == 0 ? 0 : (m_nState >> 8) % limit;
    }

private:
    unsigned m_nState;
};

void AddMutations(std::vector<Sample>& corpus, const std::string& seed, bool resultDocument, const char* rootEnd)
{
    CMutator random(resultDocument ? 77u : 11u);
    const size_t rootEndAt = seed.find(rootEnd);
    for (int i = 0; i < 40; ++i)
    {
        size_t length = seed.size() * i / 40;
        corpus.push_back({"cut at " + std::to_string(length), seed.substr(0, length), resultDocument, length <= rootEndAt});
    }
    const char replacements[] = {'<', '>', '"', '=', '/', '&', '\0', '\xFF', '\x80', ' ', 'A', '!', '?', '\n', ';'};
    for (int i = 0; i < 150; ++i)
    {
        std::string bytes = seed;
        size_t at = random.Below(bytes.size());
        bytes[at] = replacements[random.Below(sizeof(replacements))];
        corpus.push_back({"byte " + std::to_string(at) + " replaced", bytes, resultDocument, false});
    }
    for (int i = 0; i < 60; ++i)
    {
        std::string bytes = seed;
        size_t at = random.Below(bytes.size());
        bytes.erase(at, 1 + random.Below(8));
        corpus.push_back({"bytes deleted at " + std::to_string(at), bytes, resultDocument, false});
    }
    for (int i = 0; i < 60; ++i)
    {
        std::string bytes = seed;
        size_t from = random.Below(bytes.size());
        std::string piece = bytes.substr(from, 1 + random.Below(40));
        bytes.insert(random.Below(bytes.size()), piece);
        corpus.push_back({"piece of " + std::to_string(from) + " repeated", bytes, resultDocument, false});
    }
}

std::vector<Sample> BuildCorpus()
{
    std::vector<Sample> corpus;
    AddMutations(corpus, kActionList, false, "</ActionList>");
    AddMutations(corpus, kResultDocument, true, "</CheckResult>");
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<ActionList ParentAppName=\"P\">";
    const std::string tail = "</ActionList>";
    const std::vector<std::pair<const char*, std::string>> shaped = {
        {"duplicate ID attribute", head + "<Component ID=\"a\" ID=\"b\" Action=\"x\"/>" + tail},
        {"CDATA", head + "<Component ID=\"a\" Action=\"x\"><![CDATA[y]]></Component>" + tail},
        {"processing instruction", head + "<?pi x?><Component ID=\"a\" Action=\"x\"/>" + tail},
        {"entity", "<!DOCTYPE ActionList [<!ENTITY e \"v\">]><ActionList><Component ID=\"&e;\" Action=\"x\"/>"
                   "<Component ID=\"b\" Action=\"y\">&e;</Component>" + tail},
        {"UTF-16 declared, UTF-8 bytes", "<?xml version=\"1.0\" encoding=\"UTF-16\"?><ActionList><C ID=\"a\" Action=\"b\"/>" + tail},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"X-NONE\"?><ActionList><C ID=\"a\" Action=\"b\"/>" + tail},
        {"invalid UTF-8", head + "<Component ID=\"\xC3\x28\" Action=\"x\"/>" + tail},
        {"overlong UTF-8", head + "<Component ID=\"\xC0\xBC\" Action=\"x\"/>" + tail},
        {"control character", head + "<Component ID=\"a\x01\" Action=\"x\"/>" + tail},
        {"deep nesting", head + NestedElements(2000, "<C ID=\"a\" Action=\"b\">", "C") + tail},
        {"megabyte value", head + "<Component ID=\"" + std::string(1 << 20, 'i') + "\" Action=\"x\"/>" + tail},
        {"namespaced root", "<x:ActionList xmlns:x=\"urn:x\"><Component ID=\"a\" Action=\"b\"/></x:ActionList>"},
        {"second root", head + "<Component ID=\"a\" Action=\"x\"/>" + tail + "<ActionList/>"},
        {"NUL inside", head + std::string("<Component ID=\"a\0\" Action=\"x\"/>", 33) + tail},
        {"only a byte-order mark", "\xEF\xBB\xBF"},
        {"UTF-16 byte-order mark before UTF-8 text", "\xFF\xFE" + head + "<C ID=\"a\" Action=\"b\"/>" + tail},
    };
    for (const auto& sample : shaped)
        corpus.push_back({sample.first, sample.second, false, false});
    return corpus;
}

TEST(ActionListCorpus, EveryMutationGivesADocumentedStatus)
{
    CTempFolder folder;
    const std::wstring path = folder.Child(L"mutated.xml");
    const std::wstring earlierPath = folder.Child(L"earlier.xml");
    const std::wstring written = folder.Child(L"written.xml");
    ASSERT_TRUE(WriteFileBytes(earlierPath, "<ActionList ParentAppName=\"Sentinel\" ComponentType=\"Kept\">"
                                            "<Component ID=\"s\" Action=\"t\" Result=\"9\"/></ActionList>"));
    const std::vector<Sample> corpus = BuildCorpus();
    ASSERT_GE(corpus.size(), 600u);
    int loadedCount = 0;
    for (const Sample& sample : corpus)
    {
        SCOPED_TRACE(sample.what);
        ASSERT_TRUE(WriteFileBytes(path, sample.bytes));
        CQMActionListXML model;
        ASSERT_EQ(model.Load(earlierPath), QM_ACTIONLIST_LOADED);
        const std::wstring earlier = DescribeModel(model);

        int status = model.Load(path);
        ASSERT_TRUE(status == QM_ACTIONLIST_LOADED || status == QM_ACTIONLIST_UNREADABLE ||
                    status == QM_ACTIONLIST_WRONG_ROOT)
            << status;
        if (sample.fromResultDocument)
        {
            EXPECT_NE(status, QM_ACTIONLIST_LOADED);
        }
        if (sample.mustBeUnreadable)
        {
            EXPECT_EQ(status, QM_ACTIONLIST_UNREADABLE);
        }
        if (status != QM_ACTIONLIST_LOADED)
        {
            // A refused file leaves the earlier list as it was.
            EXPECT_EQ(DescribeModel(model), earlier);
            continue;
        }

        ++loadedCount;
        for (const QMComponentRecord& record : model.GetComponents())
            EXPECT_FALSE(record[QM_COMPONENT_ID].empty() || record[QM_COMPONENT_ACTION].empty());
        // What loads writes back and loads the same; a list without components has no children to read.
        EXPECT_EQ(model.Save(written.c_str()), 0);
        CQMActionListXML reloaded;
        int again = reloaded.Load(written);
        if (model.GetComponents().empty())
        {
            EXPECT_EQ(again, QM_ACTIONLIST_UNREADABLE);
        }
        else
        {
            EXPECT_EQ(again, QM_ACTIONLIST_LOADED);
            EXPECT_EQ(DescribeModel(reloaded), DescribeModel(model));
        }
    }
    // Not all refusals: mutations of values and whitespace still load.
    EXPECT_GT(loadedCount, 50);
}
} // namespace
