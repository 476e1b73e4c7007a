#include "log/UserDataFolder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

namespace
{
struct ReplaceCase
{
    const wchar_t* path;
    const wchar_t* processUser;
    const wchar_t* sessionUser;
    const wchar_t* expected;
};

class ReplaceUserInPathTest : public ::testing::TestWithParam<ReplaceCase>
{
};

TEST_P(ReplaceUserInPathTest, ReplacesWholeElementsOnly)
{
    const ReplaceCase& c = GetParam();
    EXPECT_EQ(ReplaceUserInPath(c.path, c.processUser, c.sessionUser), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceUserInPathTest,
    ::testing::Values(
        ReplaceCase{L"C:\\Users\\admin\\AppData\\Roaming", L"admin", L"user1", L"C:\\Users\\user1\\AppData\\Roaming"},
        // A short name must not rewrite the other folders it happens to be part of.
        ReplaceCase{L"C:\\Users\\a\\AppData\\Roaming", L"a", L"bob", L"C:\\Users\\bob\\AppData\\Roaming"},
        ReplaceCase{L"C:\\Users\\Data\\AppData", L"Data", L"x", L"C:\\Users\\x\\AppData"},
        // Element matches are exact and case-sensitive.
        ReplaceCase{L"C:\\Users\\Admin\\AppData", L"admin", L"x", L"C:\\Users\\Admin\\AppData"},
        ReplaceCase{L"C:\\Users\\admin2\\AppData", L"admin", L"x", L"C:\\Users\\admin2\\AppData"},
        ReplaceCase{L"C:/Users/admin/admin", L"admin", L"x", L"C:/Users/x/x"},
        ReplaceCase{L"C:\\Users\\admin\\", L"admin", L"x", L"C:\\Users\\x\\"},
        ReplaceCase{L"C:\\Users\\admin", L"", L"x", L"C:\\Users\\admin"}));

TEST(RedirectToSessionUser, RewritesForAnotherAccountThanTheSessionUser)
{
    EXPECT_EQ(RedirectToSessionUser(L"C:\\Users\\admin\\AppData\\Roaming", false, L"user1", L"admin"),
              L"C:\\Users\\user1\\AppData\\Roaming");
}

TEST(RedirectToSessionUser, KeepsTheFolderWhenNoRewriteApplies)
{
    const wchar_t* path = L"C:\\Users\\admin\\AppData\\Roaming";
    // The session user is an administrator.
    EXPECT_EQ(RedirectToSessionUser(path, true, L"user1", L"admin"), path);
    // Same user, compared without regard to ASCII case.
    EXPECT_EQ(RedirectToSessionUser(path, false, L"ADMIN", L"admin"), path);
    // A name that could not be read.
    EXPECT_EQ(RedirectToSessionUser(path, false, L"", L"admin"), path);
    EXPECT_EQ(RedirectToSessionUser(path, false, L"user1", L""), path);
}

TEST(GetUserDataFolder, GivesTheRoamingFolderInSlashForm)
{
    wchar_t appData[MAX_PATH] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    std::wstring expected(appData);
    for (wchar_t& ch : expected)
        if (ch == L'\\')
            ch = L'/';

    std::wstring folder = L"stale";
    ASSERT_TRUE(GetUserDataFolder(folder));
    // The test runs as the session's own user, so nothing is rewritten.
    EXPECT_EQ(folder, expected);
}
} // namespace
