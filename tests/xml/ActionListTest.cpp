#include "actionlist/QMActionListXML.h"

#include "support/ChildProcess.h"
#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"
#include "support/XMLTreeForTest.h"
#include "xml/ActionListForTest.h"
#include "xml/XMLParser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
class ActionListTest : public ::testing::Test
{
protected:
    std::wstring Write(const std::wstring& xml, const wchar_t* name = L"list.xml")
    {
        std::wstring path = m_folder.Child(name);
        EXPECT_TRUE(WriteFileBytes(path, WideToUtf8(xml)));
        return path;
    }
    int LoadText(CQMActionListXML& model, const std::wstring& xml) { return model.Load(Write(xml)); }
    // The written list without its declaration, line breaks as "\n".
    std::wstring SavedText(const CQMActionListXML& model)
    {
        std::wstring path = m_folder.Child(L"saved.xml");
        EXPECT_EQ(model.Save(path.c_str()), 0);
        return WithoutDeclaration(ReadXMLFileText(path));
    }

    CTempFolder m_folder;
};

const wchar_t kTwoComponents[] = L"<ActionList ParentAppName=\"App\" ComponentType=\"Plugin\">"
                                 L"<Component ID=\"a\" Action=\"Update\" Path=\"p\" Version=\"1\" Result=\"r\"/>"
                                 L"<Component ID=\"b\" Action=\"Add\"/></ActionList>";

TEST_F(ActionListTest, LoadsRootValuesAndComponents)
{
    CQMActionListXML model;
    EXPECT_EQ(LoadText(model, kTwoComponents), QM_ACTIONLIST_LOADED);
    EXPECT_EQ(DescribeModel(model), L"P=App;T=Plugin\n[a][Update][p][1][r]\n[b][Add][][][]");
    EXPECT_EQ(model.GetComponentIDs(), (std::vector<std::wstring>{L"a", L"b"}));
}

struct RefusedList
{
    const char* what;
    const wchar_t* xml; // null: no file at all
    int expected;
};

class ActionListRefusedTest : public ActionListTest, public ::testing::WithParamInterface<RefusedList>
{
};

TEST_P(ActionListRefusedTest, ReportsAndLeavesTheModelAsItWas)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, kTwoComponents), QM_ACTIONLIST_LOADED);
    std::wstring before = DescribeModel(model);
    std::wstring path = GetParam().xml != nullptr ? Write(GetParam().xml, L"refused.xml") : m_folder.Child(L"missing.xml");
    EXPECT_EQ(model.Load(path), GetParam().expected);
    EXPECT_EQ(DescribeModel(model), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ActionListRefusedTest,
    ::testing::Values(
        RefusedList{"missing file", nullptr, QM_ACTIONLIST_UNREADABLE},
        RefusedList{"empty file", L"", QM_ACTIONLIST_UNREADABLE},
        RefusedList{"not well formed", L"<ActionList><Component ID=\"x\" Action=\"y\"></ActionList>",
                    QM_ACTIONLIST_UNREADABLE},
        RefusedList{"root without children", L"<ActionList ParentAppName=\"Other\" ComponentType=\"T\"/>",
                    QM_ACTIONLIST_UNREADABLE},
        RefusedList{"root with whitespace only", L"<ActionList ParentAppName=\"Other\">\r\n     \r\n</ActionList>",
                    QM_ACTIONLIST_UNREADABLE},
        RefusedList{"root name in other letter case",
                    L"<actionlist ParentAppName=\"Other\"><Component ID=\"x\" Action=\"y\"/></actionlist>",
                    QM_ACTIONLIST_WRONG_ROOT},
        RefusedList{"result document", L"<CheckResult LaunchApp=\"Y\" ProcessInfo=\"\" Result=\"0\"/>",
                    QM_ACTIONLIST_WRONG_ROOT},
        RefusedList{"CDATA in a component",
                    L"<ActionList><Component ID=\"x\" Action=\"y\"><![CDATA[z]]></Component></ActionList>",
                    QM_ACTIONLIST_UNREADABLE}),
    [](const ::testing::TestParamInfo<RefusedList>& info) { return ParamName(info.param.what); });

TEST_F(ActionListTest, AbsentRootAttributesKeepTheModelsValues)
{
    CQMActionListXML model;
    model.m_strParentAppName = L"Kept";
    model.m_strComponentType = L"KeptType";
    ASSERT_EQ(LoadText(model, L"<ActionList><Component ID=\"a\" Action=\"b\"/></ActionList>"), QM_ACTIONLIST_LOADED);
    EXPECT_EQ(DescribeModel(model), L"P=Kept;T=KeptType\n[a][b][][][]");

    // Present but empty replaces.
    ASSERT_EQ(LoadText(model, L"<ActionList ParentAppName=\"\" ComponentType=\"\"><C ID=\"a\" Action=\"b\"/></ActionList>"),
              QM_ACTIONLIST_LOADED);
    EXPECT_EQ(DescribeModel(model), L"P=;T=\n[a][b][][][]");
}

TEST_F(ActionListTest, ReadsEveryChildElementAndWritesItBackAsComponent)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, L"<ActionList ParentAppName=\"App\">text<!--note-->"
                              L"<Module ID=\"m\" Action=\"Delete\" Extra=\"dropped\"><Inner ID=\"i\" Action=\"x\"/>"
                              L"inner text</Module><Component Result=\"5\" Version=\"v\" Path=\"p\" Action=\"Add\" ID=\"c\"/>"
                              L"</ActionList>"),
              QM_ACTIONLIST_LOADED);
    EXPECT_EQ(DescribeModel(model), L"P=App;T=\n[m][Delete][][][]\n[c][Add][p][v][5]");
    EXPECT_EQ(SavedText(model), L"<ActionList ParentAppName=\"App\">\n"
                                L"     <Component ID=\"m\" Action=\"Delete\"/>\n"
                                L"     <Component ID=\"c\" Action=\"Add\" Path=\"p\" Version=\"v\" Result=\"5\"/>\n"
                                L"</ActionList>\n");
}

TEST_F(ActionListTest, ComponentsWithoutIDOrActionAreDroppedFromTheFile)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, L"<ActionList ParentAppName=\"App\">"
                              L"<Component ID=\"keep\" Action=\"Update\"/>"
                              L"<Component ID=\"noaction\" Path=\"p\"/>"
                              L"<Component ID=\"emptyaction\" Action=\"\"/>"
                              L"<Component Action=\"Update\"/>"
                              L"<Component ID=\"\" Action=\"Update\"/>"
                              L"<Component id=\"lower\" action=\"Update\"/>"
                              L"</ActionList>"),
              QM_ACTIONLIST_LOADED);
    EXPECT_EQ(model.GetComponentIDs(), std::vector<std::wstring>{L"keep"});
    EXPECT_EQ(SavedText(model), L"<ActionList ParentAppName=\"App\">\n"
                                L"     <Component ID=\"keep\" Action=\"Update\"/>\n"
                                L"</ActionList>\n");
}

TEST_F(ActionListTest, WritesAttributesInTheirFixedOrder)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, L"<ActionList ComponentType=\"Plugin\" ParentAppName=\"App\">"
                              L"<Component Result=\"r\" Version=\"v\" Path=\"p\" Action=\"a\" ID=\"i\"/>"
                              L"<Component Action=\"a2\" ID=\"i2\" Version=\"v2\"/></ActionList>"),
              QM_ACTIONLIST_LOADED);
    EXPECT_EQ(SavedText(model), L"<ActionList ParentAppName=\"App\" ComponentType=\"Plugin\">\n"
                                L"     <Component ID=\"i\" Action=\"a\" Path=\"p\" Version=\"v\" Result=\"r\"/>\n"
                                L"     <Component ID=\"i2\" Action=\"a2\" Version=\"v2\"/>\n"
                                L"</ActionList>\n");
}

TEST_F(ActionListTest, EmptiedComponentTypeIsLeftOutAndEmptyParentAppNameWritten)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, kTwoComponents), QM_ACTIONLIST_LOADED);
    model.m_strComponentType.clear();
    model.m_strParentAppName.clear();
    EXPECT_EQ(SavedText(model), L"<ActionList ParentAppName=\"\">\n"
                                L"     <Component ID=\"a\" Action=\"Update\" Path=\"p\" Version=\"1\" Result=\"r\"/>\n"
                                L"     <Component ID=\"b\" Action=\"Add\"/>\n"
                                L"</ActionList>\n");
}

TEST_F(ActionListTest, SetResultChangesOnlyTheFirstComponentOfAnID)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, L"<ActionList><Component ID=\"a\" Action=\"1\"/><Component ID=\"b\" Action=\"2\"/>"
                              L"<Component ID=\"a\" Action=\"3\" Result=\"old\"/></ActionList>"),
              QM_ACTIONLIST_LOADED);
    EXPECT_EQ(model.GetComponentIDs(), (std::vector<std::wstring>{L"a", L"b", L"a"}));

    model.SetResult(L"a", L"7");
    EXPECT_EQ(DescribeModel(model), L"P=;T=\n[a][1][][][7]\n[b][2][][][]\n[a][3][][][old]");

    // Setting every result through the IDs sets the first "a" twice and never the second.
    std::vector<std::wstring> ids = model.GetComponentIDs();
    for (size_t i = 0; i < ids.size(); ++i)
        model.SetResult(ids[i], L"r" + std::to_wstring(i));
    EXPECT_EQ(DescribeModel(model), L"P=;T=\n[a][1][][][r2]\n[b][2][][][r1]\n[a][3][][][old]");
    // Setting every result at once reaches the same components.
    model.SetEveryResult(L"14");
    EXPECT_EQ(DescribeModel(model), L"P=;T=\n[a][1][][][14]\n[b][2][][][14]\n[a][3][][][old]");

    // IDs out of order, each repeated after the others: still the first of each in list order.
    ASSERT_EQ(LoadText(model, L"<ActionList><Component ID=\"c\" Action=\"1\"/><Component ID=\"b\" Action=\"2\"/>"
                              L"<Component ID=\"a\" Action=\"3\"/><Component ID=\"c\" Action=\"4\"/>"
                              L"<Component ID=\"b\" Action=\"5\"/></ActionList>"),
              QM_ACTIONLIST_LOADED);
    model.SetEveryResult(L"0");
    model.SetResult(L"b", L"9");
    model.SetResult(L"bb", L"x");
    EXPECT_EQ(DescribeModel(model), L"P=;T=\n[c][1][][][0]\n[b][2][][][9]\n[a][3][][][0]\n[c][4][][][]\n[b][5][][][]");
}

TEST_F(ActionListTest, SetResultComparesIDsExactly)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, L"<ActionList><Component ID=\"Comp\" Action=\"x\"/>"
                              L"<Component ID=\" Comp \" Action=\"y\"/></ActionList>"),
              QM_ACTIONLIST_LOADED);
    std::wstring before = DescribeModel(model);
    for (const wchar_t* other : {L"comp", L"COMP", L"Com", L"Comp2", L"Comp ", L""})
        model.SetResult(other, L"1");
    EXPECT_EQ(DescribeModel(model), before);
    model.SetResult(L" Comp ", L"0");
    EXPECT_EQ(DescribeModel(model), L"P=;T=\n[Comp][x][][][]\n[ Comp ][y][][][0]");

    CQMActionListXML empty;
    empty.SetResult(L"Comp", L"1");
    EXPECT_TRUE(empty.GetComponentIDs().empty());
}

TEST_F(ActionListTest, ValuesRoundTripExactly)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, L"<ActionList ParentAppName=\" App &amp; Co \" ComponentType=\"\u00E9\u65E5\">"
                              L"<Component ID=\"&lt;id&gt; \" Action=\"Up&quot;date\" Path=\"C:/Program Files/x'y.dll\" "
                              L"Version=\"1.0 beta\"/></ActionList>"),
              QM_ACTIONLIST_LOADED);
    std::wstring before = DescribeModel(model);
    EXPECT_EQ(before, L"P= App & Co ;T=\u00E9\u65E5\n[<id> ][Up\"date][C:/Program Files/x'y.dll][1.0 beta][]");
    std::wstring path = m_folder.Child(L"again.xml");
    model.Save(path.c_str());
    CQMActionListXML reloaded;
    ASSERT_EQ(reloaded.Load(path), QM_ACTIONLIST_LOADED);
    EXPECT_EQ(DescribeModel(reloaded), before);
}

TEST_F(ActionListTest, LoadingAgainReplacesTheComponents)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, kTwoComponents), QM_ACTIONLIST_LOADED);
    ASSERT_EQ(LoadText(model, L"<ActionList><Component ID=\"z\" Action=\"q\"/></ActionList>"), QM_ACTIONLIST_LOADED);
    EXPECT_EQ(DescribeModel(model), L"P=App;T=Plugin\n[z][q][][][]");
    model.SetResult(L"a", L"1"); // an ID of the earlier list is gone
    model.SetResult(L"z", L"2");
    EXPECT_EQ(DescribeModel(model), L"P=App;T=Plugin\n[z][q][][][2]");
    // A root without any element children still replaces the list.
    ASSERT_EQ(LoadText(model, L"<ActionList>only text</ActionList>"), QM_ACTIONLIST_LOADED);
    EXPECT_TRUE(model.GetComponentIDs().empty());
}

// The list is written straight from its records; the file must hold exactly what the parser
// writes for the model's tree.
TEST_F(ActionListTest, SavedBytesAreThoseOfTheModelsTree)
{
    const wchar_t* const lists[] = {
        kTwoComponents,
        L"<ActionList ParentAppName=\"\">no components</ActionList>",
        L"<ActionList ComponentType=\"T\"><Component ID=\"a\" Action=\"b\" Result=\"&#9;x&#10;y&#13;\"/></ActionList>",
        L"<ActionList ParentAppName=\" A &amp; &lt;B&gt; &quot;C&quot; 'D' \u00E9\U0001F600\">"
        L"<Component ID=\"\u65E5\" Action=\"Up&quot;date\" Path=\"C:/x y/&amp;.dll\" Version=\"1\"/>"
        L"<Component ID=\"\u65E5\" Action=\"again\"/></ActionList>",
    };
    for (const wchar_t* list : lists)
    {
        CQMActionListXML model;
        ASSERT_EQ(LoadText(model, list), QM_ACTIONLIST_LOADED) << list;
        model.SetResult(L"a", L"<&>");
        std::unique_ptr<CXMLDocument> tree(model.CreateDocument());
        std::wstring expected;
        GetXMLParser()->GetXML(tree.get(), expected);
        std::wstring path = m_folder.Child(L"saved.xml");
        ASSERT_EQ(model.WriteFile(path.c_str()), static_cast<DWORD>(ERROR_SUCCESS)) << list;
        EXPECT_EQ(ReadFileBytes(path), WideToUtf8(expected)) << list;
    }
    // A value that XML cannot carry is not written; the file stays as it was.
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, kTwoComponents), QM_ACTIONLIST_LOADED);
    model.SetResult(L"a", L"\x01");
    std::wstring path = m_folder.Child(L"kept.xml");
    ASSERT_TRUE(WriteFileBytes(path, "kept"));
    EXPECT_EQ(model.WriteFile(path.c_str()), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(ReadFileBytes(path), "kept");
}

TEST_F(ActionListTest, SaveReportsZeroAndLeavesNothingWhenItCannotWrite)
{
    CQMActionListXML model;
    ASSERT_EQ(LoadText(model, kTwoComponents), QM_ACTIONLIST_LOADED);
    EXPECT_EQ(model.Save(m_folder.Child(L"missing/list.xml").c_str()), 0);
    EXPECT_EQ(model.Save(nullptr), 0);
    EXPECT_EQ(ListFolder(m_folder.Path(), L"*"), std::vector<std::wstring>{L"list.xml"});
}
} // namespace

namespace
{
// A process ends at each step of a save in turn, of a list that grows, one that shrinks, and one
// whose last save was cut off: the list is always the old one or the new one, whole, and what
// the cut-off saves left is cleared by the next one.
TEST_F(ActionListTest, SaveEndedAtAnyStepLeavesTheOldOrTheNewListWhole)
{
    const struct
    {
        const char* label;
        int from, to;
        bool leftover;
    } cases[] = {{"growing", 500, 5000, false}, {"shrinking", 5000, 500, false}, {"after a cut-off save", 500, 50, true}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.label);
        std::wstring path = m_folder.Child(L"ended.xml");
        int steps = 0;
        for (int step = 1; step < 20; ++step)
        {
            if (c.leftover)
            {
                ASSERT_TRUE(WriteFileBytes(path + L".~qm", "<ActionList"));
            }
            CChildProcess saver(L"save \"" + path + L"\" " + std::to_wstring(c.from) + L" " + std::to_wstring(c.to) +
                                L" " + std::to_wstring(step));
            DWORD code = 1;
            ASSERT_TRUE(saver.Wait(60000, &code));
            CQMActionListXML list;
            ASSERT_EQ(list.Load(path), QM_ACTIONLIST_LOADED) << "ended at step " << step;
            size_t components = list.GetComponents().size();
            EXPECT_TRUE(components == size_t(c.from) || components == size_t(c.to)) << components << " at step " << step;
            if (code == 0)
            {
                // The save ran to its end before this step.
                EXPECT_EQ(components, size_t(c.to));
                steps = step - 1;
                break;
            }
            EXPECT_EQ(code, 3u) << "ended by the test's hook";
        }
        EXPECT_GE(steps, 4) << "the save has steps to end at";
        CQMActionListXML list;
        ASSERT_EQ(list.Load(path), QM_ACTIONLIST_LOADED);
        ASSERT_EQ(list.WriteFile(path.c_str()), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ListFolder(m_folder.Path(), L"*"), std::vector<std::wstring>{L"ended.xml"});
    }
}
} // namespace
