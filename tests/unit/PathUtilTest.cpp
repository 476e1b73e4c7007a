#include "sys/PathUtil.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{
struct JoinCase
{
    const wchar_t* base;
    const wchar_t* relative;
    const wchar_t* expected;
};

class JoinPathTest : public ::testing::TestWithParam<JoinCase>
{
};

TEST_P(JoinPathTest, PutsOneSeparatorBetweenTheParts)
{
    const JoinCase& c = GetParam();
    EXPECT_EQ(JoinPath(c.base, c.relative), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinPathTest,
    ::testing::Values(JoinCase{L"C:/A/B", L"X/y.txt", L"C:/A/B/X/y.txt"},
                      JoinCase{L"C:/A/B/", L"X", L"C:/A/B/X"},
                      JoinCase{L"C:\\A\\B", L"X", L"C:/A/B/X"},
                      JoinCase{L"", L"Tavrin_Inc_ZL/ServiceLog/QuelmarService",
                               L"Tavrin_Inc_ZL/ServiceLog/QuelmarService"},
                      JoinCase{L"", L"a\\b", L"a/b"},
                      JoinCase{L"C:/", L"x.txt", L"C:/x.txt"}));

TEST(JoinPath, JoinsPathsBeyondThePlatformLimit)
{
    std::wstring base = L"C:/" + std::wstring(250, L'a');
    std::wstring joined = JoinPath(base, L"sub/file.txt");
    EXPECT_EQ(joined, base + L"/sub/file.txt");

    std::wstring longBase = L"C:/" + std::wstring(300, L'b') + L"/";
    EXPECT_EQ(JoinPath(longBase, L"x"), L"C:/" + std::wstring(300, L'b') + L"/x");
}

TEST(GetParentFolder, RemovesTheLastElement)
{
    EXPECT_EQ(GetParentFolder(L"C:/A/B/c.txt"), L"C:/A/B");
    EXPECT_EQ(GetParentFolder(L"C:\\A\\B\\c.txt"), L"C:/A/B");
    EXPECT_EQ(GetParentFolder(L"C:/A"), L"C:/");
    EXPECT_EQ(GetParentFolder(L"name.txt"), L"");
}

TEST(ReplaceChar, ReplacesEveryOccurrenceOnly)
{
    std::wstring text = L"a/b//c/";
    ReplaceChar(text, L'/', L'\\');
    EXPECT_EQ(text, L"a\\b\\\\c\\");

    std::wstring untouched = L"no slashes here";
    ReplaceChar(untouched, L'/', L'\\');
    EXPECT_EQ(untouched, L"no slashes here");

    std::wstring empty;
    ReplaceChar(empty, L'x', L'y');
    EXPECT_EQ(empty, L"");
}

TEST(CreateFolderPath, CreatesTheWholeChainInSlashForm)
{
    CTempFolder temp;
    std::wstring deep = temp.Child(L"one/two/three");
    EXPECT_EQ(CreateFolderPath(deep), ERROR_SUCCESS);
    EXPECT_TRUE(FolderExists(deep));
    // An existing folder is reported, not an error for callers.
    EXPECT_EQ(CreateFolderPath(deep), ERROR_ALREADY_EXISTS);
}

TEST(CreateFolderPath, FailsBelowAFile)
{
    CTempFolder temp;
    ASSERT_TRUE(WriteFileBytes(temp.Child(L"file"), "x"));
    EXPECT_NE(CreateFolderPath(temp.Child(L"file/sub")), ERROR_SUCCESS);
    EXPECT_FALSE(FolderExists(temp.Child(L"file/sub")));
}

TEST(CreateFolderPath, ResolvesARelativePathAgainstTheCurrentFolder)
{
    CTempFolder temp;
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(temp.Path().c_str()));
    int rc = CreateFolderPath(L"rel/a/b");
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(rc, ERROR_SUCCESS);
    EXPECT_TRUE(FolderExists(temp.Child(L"rel/a/b")));
}
} // namespace
