#include "api/QMCallContext.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>

namespace
{
std::wstring UniqueMutexName()
{
    return L"QMTestBusy_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(::GetTickCount());
}

DWORD WaitFromAnotherThread(HANDLE mutex)
{
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        result = ::WaitForSingleObject(mutex, 2000);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
            ::ReleaseMutex(mutex);
    });
    other.join();
    return result;
}

TEST(QMCallContext, StartsEmpty)
{
    QMCallContext context;
    EXPECT_TRUE(context.m_strAppName.empty());
    EXPECT_TRUE(context.m_strActionListPath.empty());
    EXPECT_EQ(context.m_pfnProgress, nullptr);
    EXPECT_EQ(context.m_hOwnerWnd, nullptr);
    EXPECT_EQ(context.m_hProgressWnd, nullptr);
    EXPECT_EQ(context.m_hBusyMutex, nullptr);
    EXPECT_TRUE(context.m_busyMessage.m_strText.empty());
    EXPECT_TRUE(context.m_busyMessage.m_strCaption.empty());
    EXPECT_EQ(context.m_busyMessage.m_nButtons, 4);
    EXPECT_EQ(context.m_busyMessage.m_nIcon, 3);
}

TEST(QMCallContext, ReleasesAndClosesTheBusyMutex)
{
    std::wstring name = UniqueMutexName();
    HANDLE observer = nullptr;
    {
        QMCallContext context;
        context.m_hBusyMutex = ::CreateMutexW(nullptr, TRUE, name.c_str());
        ASSERT_NE(context.m_hBusyMutex, nullptr);
        observer = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
        ASSERT_NE(observer, nullptr);
        EXPECT_EQ(WaitFromAnotherThread(observer), static_cast<DWORD>(WAIT_TIMEOUT)) << "owned while the call runs";
    }
    // Released, not abandoned: another thread gets it at once.
    EXPECT_EQ(WaitFromAnotherThread(observer), static_cast<DWORD>(WAIT_OBJECT_0));
    ::CloseHandle(observer);
    // No handle of the context is left: the name is gone.
    EXPECT_EQ(::OpenMutexW(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
}
} // namespace
