// The module's per-thread and run-once state on platform primitives: the store behind its
// thread-local variables and its run-once flags. (Whether its TLS slots go with the module is
// the unload test's to see.)

#include "sys/EmulatedTls.h"
#include "sys/OnceFlag.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace
{
DWORD WINAPI RunBody(void* argument)
{
    (*static_cast<const std::function<void()>*>(argument))();
    return 0;
}

// Runs body on a thread of its own and waits for its end.
void OnOtherThread(const std::function<void()>& body)
{
    HANDLE thread = ::CreateThread(nullptr, 0, RunBody, const_cast<std::function<void()>*>(&body), 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    ::CloseHandle(thread);
}

class EmulatedTlsTest : public ::testing::Test
{
protected:
    void TearDown() override { ReleaseEmulatedTls(); }
};

TEST_F(EmulatedTlsTest, EachThreadGetsItsOwnCopyOfTheInitialBytes)
{
    static const std::uint32_t kInitial[3] = {7, 8, 9};
    QMEmulatedTlsVariable variable = {sizeof(kInitial), alignof(std::uint32_t), 0, kInitial};

    // The first use makes the slot, the table and the copy; no use touches the caller's last error.
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    auto* mine = static_cast<std::uint32_t*>(EmulatedTlsAddress(&variable));
    DWORD error = ::GetLastError();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(std::memcmp(mine, kInitial, sizeof(kInitial)), 0);
    mine[0] = 70;
    ::SetLastError(ERROR_ACCESS_DENIED);
    void* again = EmulatedTlsAddress(&variable);
    error = ::GetLastError();
    EXPECT_EQ(again, mine) << "the same copy on every use";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));

    void* theirs = nullptr;
    std::uint32_t theirFirst = 0;
    OnOtherThread([&] {
        theirs = EmulatedTlsAddress(&variable);
        theirFirst = static_cast<std::uint32_t*>(theirs)[0];
        ReleaseEmulatedTlsOfThread();
    });
    EXPECT_NE(theirs, mine);
    EXPECT_EQ(theirFirst, 7u) << "a new thread starts from the initial bytes, not from another's copy";
    EXPECT_EQ(mine[0], 70u);
}

TEST_F(EmulatedTlsTest, CopiesWithoutInitialBytesAreZeroAndAligned)
{
    QMEmulatedTlsVariable small = {3, 1, 0, nullptr};
    QMEmulatedTlsVariable wide = {40, 64, 0, nullptr};
    // More variables than the first table of a thread holds, so that it grows under live copies.
    std::vector<QMEmulatedTlsVariable> many(20, QMEmulatedTlsVariable{sizeof(int), alignof(int), 0, nullptr});

    auto* bytes = static_cast<unsigned char*>(EmulatedTlsAddress(&small));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(bytes[0] | bytes[1] | bytes[2], 0);
    bytes[1] = 5;
    void* aligned = EmulatedTlsAddress(&wide);
    ASSERT_NE(aligned, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % 64, 0u);
    EXPECT_EQ(std::memcmp(aligned, std::vector<unsigned char>(40, 0).data(), 40), 0);
    for (QMEmulatedTlsVariable& variable : many)
        *static_cast<int*>(EmulatedTlsAddress(&variable)) = 1;

    EXPECT_EQ(EmulatedTlsAddress(&small), bytes);
    EXPECT_EQ(bytes[1], 5);
    EXPECT_NE(small.m_nIndex, wide.m_nIndex);
}

// After the release at unload the slot is given back; a use after it starts over from the
// initial bytes instead of reading freed memory.
TEST_F(EmulatedTlsTest, ReleaseGivesTheSlotBackAndLaterUsesStartOver)
{
    DWORD freeBefore = ::TlsAlloc();
    ASSERT_NE(freeBefore, TLS_OUT_OF_INDEXES);
    ::TlsFree(freeBefore);

    static const int kInitial = 41;
    QMEmulatedTlsVariable variable = {sizeof(int), alignof(int), 0, &kInitial};
    *static_cast<int*>(EmulatedTlsAddress(&variable)) = 99;
    ReleaseEmulatedTls();

    DWORD freeAfter = ::TlsAlloc();
    EXPECT_EQ(freeAfter, freeBefore) << "the store's slot was not given back";
    ::TlsFree(freeAfter);
    EXPECT_EQ(*static_cast<int*>(EmulatedTlsAddress(&variable)), 41);
}

volatile LONG g_nOnceFlag = 0;
volatile LONG g_nOnceRuns = 0;
volatile LONG g_nOnceFinished = 0;
volatile LONG g_nReturnedEarly = 0;

void SlowOnceProcedure()
{
    ::InterlockedIncrement(&g_nOnceRuns);
    ::Sleep(50); // long enough for the other threads to arrive meanwhile
    ::InterlockedExchange(&g_nOnceFinished, 1);
}

DWORD WINAPI RunSlowOnce(void*)
{
    RunOnce(&g_nOnceFlag, SlowOnceProcedure);
    if (g_nOnceFinished == 0)
        ::InterlockedIncrement(&g_nReturnedEarly);
    return 0;
}

TEST(OnceFlag, RunsOnceAndLetsLateCallersWaitForTheEnd)
{
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i)
    {
        threads.push_back(::CreateThread(nullptr, 0, RunSlowOnce, nullptr, 0, nullptr));
        ASSERT_NE(threads.back(), nullptr);
    }
    ::WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads)
        ::CloseHandle(thread);
    RunOnce(&g_nOnceFlag, SlowOnceProcedure);

    EXPECT_EQ(g_nOnceRuns, 1);
    EXPECT_EQ(g_nReturnedEarly, 0) << "a caller returned before the procedure had ended";
    EXPECT_EQ(g_nOnceFlag, 1) << "the threads library's value for a flag that ran";
}
} // namespace
