#include "sys/QMSystemUtil.h"
#include "sys/SessionUser.h"

#include "support/RegistryForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <atomic>
#include <thread>

namespace
{
TEST(SystemUtil, OneInstanceForEveryThread)
{
    CQMSystemUtil* mine = GetSystemUtil();
    CQMSystemUtil* theirs = nullptr;
    std::thread other([&] { theirs = GetSystemUtil(); });
    other.join();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine, theirs);
}

TEST(SystemUtil, SessionUserIsTheProcessUserWhenNotElevated)
{
    // The tests run as the session's own user: both names must be readable and agree.
    std::wstring processUser = GetSystemUtil()->GetCurrentUserName();
    std::wstring sessionUser = QuerySessionUserName();
    EXPECT_FALSE(processUser.empty());
    EXPECT_EQ(sessionUser, processUser);
}

TEST(SystemUtil, OsVersionStringIsAppended)
{
    DWORD major = 0, minor = 0, servicePack = 0;
    ASSERT_TRUE(GetSystemUtil()->GetOSVersion(major, minor, servicePack));
    std::wstring text = L"OS ";
    EXPECT_TRUE(GetSystemUtil()->GetOSVersionString(text));
    EXPECT_EQ(text, L"OS " + std::to_wstring(major) + L"." + std::to_wstring(minor));
    EXPECT_EQ(GetSystemUtil()->GetServicePackMajor(), static_cast<int>(servicePack));
    EXPECT_GE(major, 5u);
}

TEST(SystemUtil, LocaleIdIsPlainDecimal)
{
    std::wstring id = GetSystemUtil()->GetSystemLocaleID();
    ASSERT_FALSE(id.empty());
    EXPECT_NE(id[0], L'0');
    EXPECT_EQ(id.find_first_not_of(L"0123456789"), std::wstring::npos);
    if (::GetSystemDefaultLCID() == 0x0409)
    {
        EXPECT_EQ(id, L"1033");
    }
}

TEST(SystemUtil, ExactlyTheFreeBytesAreNotEnough)
{
    CTempFolder temp;
    CQMSystemUtil* util = GetSystemUtil();
    // Another process may write between the queries: retry until the free space held still.
    for (int attempt = 0; attempt < 20; ++attempt)
    {
        ULARGE_INTEGER before = {}, after = {};
        ASSERT_TRUE(::GetDiskFreeSpaceExW(temp.Path().c_str(), &before, nullptr, nullptr));
        ULONGLONG exact = before.QuadPart;
        ULONGLONG lessByOne = exact - 1;
        bool exactResult = util->HasFreeDiskSpace(exact, temp.Path());
        bool lessResult = util->HasFreeDiskSpace(lessByOne, temp.Path());
        ASSERT_TRUE(::GetDiskFreeSpaceExW(temp.Path().c_str(), &after, nullptr, nullptr));
        if (before.QuadPart != after.QuadPart)
            continue;
        EXPECT_FALSE(exactResult);
        EXPECT_TRUE(lessResult);
        return;
    }
    GTEST_SKIP() << "free space kept changing";
}

TEST(SystemUtil, NoFreeSpaceOnAMissingVolume)
{
    EXPECT_FALSE(GetSystemUtil()->HasFreeDiskSpace(0, L"Q:/no/such/volume"));
}

TEST(SystemUtil, AdministratorsMembershipAgreesWithTheShell)
{
    EXPECT_EQ(GetSystemUtil()->IsAdministratorsMember(), ::IsUserAnAdmin() != FALSE);
}

unsigned __stdcall SlowThread(void* argument)
{
    ::Sleep(300);
    static_cast<std::atomic<bool>*>(argument)->store(true);
    return 7;
}

unsigned __stdcall QuickThread(void* argument)
{
    static_cast<std::atomic<bool>*>(argument)->store(true);
    return 0;
}

TEST(SystemUtil, WaitForThreadReturnsAfterTheThreadEnded)
{
    std::atomic<bool> finished{false};
    unsigned id = GetSystemUtil()->StartThread(SlowThread, &finished);
    ASSERT_NE(id, 0u);
    GetSystemUtil()->WaitForThread(id);
    EXPECT_TRUE(finished);
}

TEST(SystemUtil, WaitForAnAlreadyEndedThreadReturns)
{
    std::atomic<bool> finished{false};
    unsigned id = GetSystemUtil()->StartThread(QuickThread, &finished);
    ASSERT_NE(id, 0u);
    ::Sleep(100);
    ASSERT_TRUE(finished);
    DWORD start = ::GetTickCount();
    GetSystemUtil()->WaitForThread(id);
    EXPECT_LT(::GetTickCount() - start, 2000u);
    // Waiting again, or for no thread at all, returns at once.
    GetSystemUtil()->WaitForThread(id);
    GetSystemUtil()->WaitForThread(0);
}

class InstVersionTest : public ::testing::Test
{
protected:
    void TearDown() override { RemoveInstVersionKey(kSubKey); }
    static constexpr const wchar_t* kSubKey = L"QMTestProduct";
};

TEST_F(InstVersionTest, StringValueIsReturned)
{
    const wchar_t text[] = L"2.5.1";
    ASSERT_TRUE(SetInstVersionValue(kSubKey, text, sizeof(text), REG_SZ));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), L"2.5.1");
}

TEST_F(InstVersionTest, ExpandableValueIsReturnedUnexpanded)
{
    const wchar_t text[] = L"%WINDIR%\\v2";
    ASSERT_TRUE(SetInstVersionValue(kSubKey, text, sizeof(text), REG_EXPAND_SZ));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), L"%WINDIR%\\v2");
}

TEST_F(InstVersionTest, UnacceptableValuesGiveEmpty)
{
    DWORD number = 5;
    ASSERT_TRUE(SetInstVersionValue(kSubKey, &number, sizeof(number), REG_DWORD));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), L"");

    const wchar_t unterminated[] = L"1.2X";
    ASSERT_TRUE(SetInstVersionValue(kSubKey, unterminated, 3 * sizeof(wchar_t), REG_SZ));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), L"");

    const wchar_t odd[] = L"1.2";
    ASSERT_TRUE(SetInstVersionValue(kSubKey, odd, 5, REG_SZ));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), L"");

    std::wstring tooLong(1040, L'9');
    ASSERT_TRUE(SetInstVersionValue(kSubKey, tooLong.c_str(), static_cast<DWORD>((tooLong.size() + 1) * 2), REG_SZ));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), L"");

    std::wstring longest(1039, L'9');
    ASSERT_TRUE(SetInstVersionValue(kSubKey, longest.c_str(), static_cast<DWORD>((longest.size() + 1) * 2), REG_SZ));
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(kSubKey), longest);
}

TEST_F(InstVersionTest, MissingKeyGivesEmpty)
{
    EXPECT_EQ(GetSystemUtil()->GetInstVersionForUI(L"QMNoSuchProduct"), L"");
}
} // namespace
