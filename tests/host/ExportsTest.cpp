#include "host/PellorinModule.h"

#include "support/RegistryForTest.h"
#include "support/ServiceLogReader.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>

namespace
{
class ExportsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        ASSERT_TRUE(m_module.Loaded()) << "Pellorin.dll or one of its exports is missing";
    }
    CVestabelRegistration m_noUpdater;
    CPellorinModule m_module;
};

TEST_F(ExportsTest, OrdinalsNameTheSameFunctions)
{
    const struct
    {
        const char* name;
        WORD ordinal;
    } exports[] = {{"LaunchCheck", 1},
                   {"IsSupportQuelmar", 2},
                   {"UpdateComponents", 3},
                   {"GetInstalledComponentList", 4},
                   {"GetLatestComponentList", 5},
                   {"SupportComponentsManagement", 6}};
    for (const auto& e : exports)
    {
        FARPROC byName = ::GetProcAddress(m_module.Handle(), e.name);
        FARPROC byOrdinal = ::GetProcAddress(m_module.Handle(), MAKEINTRESOURCEA(e.ordinal));
        EXPECT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(byName, byOrdinal) << e.name;
    }
    EXPECT_EQ(::GetProcAddress(m_module.Handle(), MAKEINTRESOURCEA(7)), nullptr);
    // Only plain names: no decorated stdcall names.
    EXPECT_EQ(::GetProcAddress(m_module.Handle(), "LaunchCheck@8"), nullptr);
    EXPECT_EQ(::GetProcAddress(m_module.Handle(), "GetInstalledComponentList@12"), nullptr);
}

TEST_F(ExportsTest, BooleanResultsAreOneByteZeroOrOne)
{
    // Read as a byte-returning function: only the low byte is the result, and it must be 0 or 1.
    using ByteProbe = unsigned char(__cdecl*)();
    auto probe = m_module.Resolve<ByteProbe>("IsSupportQuelmar");
    EXPECT_LE(probe(), 1);

    using ByteLaunchCheck = unsigned char(__stdcall*)(const wchar_t*, int*);
    auto launchCheck = m_module.Resolve<ByteLaunchCheck>("LaunchCheck");
    int state = 0;
    EXPECT_LE(launchCheck(L"App", &state), 1);
}

TEST_F(ExportsTest, NotSupportedResultsWithoutAnUpdater)
{
    int state = 42;
    EXPECT_FALSE(m_module.m_pfnLaunchCheck(L"App", &state));
    EXPECT_EQ(state, 42) << "state must stay as the host set it";
    EXPECT_FALSE(m_module.m_pfnIsSupportQuelmar());
    EXPECT_EQ(m_module.m_pfnUpdateComponents(L"App", L"C:/list.xml", L"plugin", nullptr), QM_UPDATE_NOT_SUPPORTED);
    EXPECT_EQ(m_module.m_pfnGetInstalledComponentList(L"App", L"C:/i.xml", L"plugin"), QM_LIST_NOT_SUPPORTED);
    EXPECT_EQ(m_module.m_pfnGetLatestComponentList(L"C:/l.xml", L"plugin", L"1.0"), QM_LIST_NOT_SUPPORTED);
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
}

TEST_F(ExportsTest, NullArgumentsAreTakenAsEmpty)
{
    EXPECT_FALSE(m_module.m_pfnLaunchCheck(nullptr, nullptr));
    EXPECT_EQ(m_module.m_pfnUpdateComponents(nullptr, nullptr, nullptr, nullptr), QM_UPDATE_NOT_SUPPORTED);
    EXPECT_EQ(m_module.m_pfnGetInstalledComponentList(nullptr, nullptr, nullptr), QM_LIST_NOT_SUPPORTED);
    EXPECT_EQ(m_module.m_pfnGetLatestComponentList(nullptr, nullptr, nullptr), QM_LIST_NOT_SUPPORTED);
    std::vector<std::wstring> records = AllLogRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[0], L"PL,API_CALL,LaunchCheck,");
}

TEST_F(ExportsTest, LongArgumentsArePassedThroughWhole)
{
    std::wstring longName(40000, L'n');
    EXPECT_EQ(m_module.m_pfnGetInstalledComponentList(longName.c_str(), L"C:/i.xml", L"t"), QM_LIST_NOT_SUPPORTED);
    std::vector<std::wstring> records = AllLogRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0], L"PL,API_CALL,GetInstalledComponentList," + longName + L",C:/i.xml,t");
}

TEST_F(ExportsTest, UnloadAndReloadKeepsWorking)
{
    for (int i = 0; i < 3; ++i)
    {
        CPellorinModule again;
        ASSERT_TRUE(again.Loaded());
        EXPECT_EQ(again.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
    }
}
} // namespace
