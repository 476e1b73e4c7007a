#include "bridge/VestabelLocation.h"

#include "support/FileUtilForTest.h"
#include "support/RegistryForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

namespace
{
class VestabelLocationTest : public ::testing::Test
{
protected:
    CVestabelRegistration m_registration;
    CTempFolder m_folder;
};

TEST_F(VestabelLocationTest, MissingKeyOrValueGivesEmpty)
{
    EXPECT_EQ(GetVestabelExePath(), L"");
    ASSERT_TRUE(m_registration.SetPath(L"C:\\x.exe"));
    ASSERT_TRUE(m_registration.RemoveValue());
    EXPECT_EQ(GetVestabelExePath(), L"");
}

TEST_F(VestabelLocationTest, TerminatingNulIsNotPartOfThePath)
{
    ASSERT_TRUE(m_registration.SetPath(L"C:\\Program Files\\Tavrin\\vestabel.exe"));
    EXPECT_EQ(GetVestabelExePath(), L"C:\\Program Files\\Tavrin\\vestabel.exe");
}

TEST_F(VestabelLocationTest, ValueWithoutNulIsTakenWhole)
{
    // The character after the stored bytes is not a NUL, so exactly 3 characters are stored.
    const wchar_t data[] = L"abcX";
    ASSERT_TRUE(m_registration.SetRaw(data, 3 * sizeof(wchar_t), REG_SZ));
    EXPECT_EQ(GetVestabelExePath(), L"abc");
}

TEST_F(VestabelLocationTest, TextStopsAtTheFirstNul)
{
    const wchar_t data[] = L"C:\\a.exe\0junk";
    ASSERT_TRUE(m_registration.SetRaw(data, sizeof(data), REG_MULTI_SZ));
    EXPECT_EQ(GetVestabelExePath(), L"C:\\a.exe");
}

TEST_F(VestabelLocationTest, EmptyValueGivesEmpty)
{
    ASSERT_TRUE(m_registration.SetRaw(L"", 0, REG_SZ));
    EXPECT_EQ(GetVestabelExePath(), L"");
    ASSERT_TRUE(m_registration.SetRaw(L"", sizeof(wchar_t), REG_SZ));
    EXPECT_EQ(GetVestabelExePath(), L"");
}

TEST_F(VestabelLocationTest, ChangedPathTakesEffectAtTheNextCall)
{
    ASSERT_TRUE(m_registration.SetPath(L"C:\\first.exe"));
    EXPECT_EQ(GetVestabelExePath(), L"C:\\first.exe");
    ASSERT_TRUE(m_registration.SetPath(L"C:\\second.exe"));
    EXPECT_EQ(GetVestabelExePath(), L"C:\\second.exe");
}

TEST_F(VestabelLocationTest, OnlyAnExistingFileIsUsable)
{
    std::wstring file = PlatformPathForTest(m_folder.Child(L"updater.exe"));
    ASSERT_TRUE(WriteFileBytes(file, "MZ"));
    EXPECT_TRUE(VestabelExeUsable(file));
    EXPECT_FALSE(VestabelExeUsable(PlatformPathForTest(m_folder.Path())));
    EXPECT_FALSE(VestabelExeUsable(PlatformPathForTest(m_folder.Child(L"missing.exe"))));
    EXPECT_FALSE(VestabelExeUsable(L""));
}
} // namespace
