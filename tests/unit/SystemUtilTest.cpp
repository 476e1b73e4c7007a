#include "sys/QMSystemUtil.h"
#include "sys/SessionUser.h"

#include <gtest/gtest.h>

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
} // namespace
