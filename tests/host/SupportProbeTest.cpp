#include "host/PellorinModule.h"

#include "support/FileUtilForTest.h"
#include "support/ServiceLogReader.h"
#include "support/RegistryForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace
{
const wchar_t kModuleVersionRecord[] = L"PL,CHECK_VERSION,-,1.1.0.13";
const wchar_t kNotRegisteredRecord[] = L"PL,REASON,IsSupportQuelmar,the updater is not registered (no value Vestabel "
                                       L"exe path under HKLM\\SOFTWARE\\Tavrin_Inc_ZL\\Quelmar Service "
                                       L"Shared\\Install in the 32-bit view)";
const wchar_t kProbeFailedRecord[] = L"PL,API_END,IsSupportQuelmar,false";

class SupportProbeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ClearServiceLog();
        ASSERT_TRUE(m_module.Loaded());
    }
    void TearDown() override { ClearServiceLog(); }

    // Records of the archive the call made, or of the current file when it made none.
    void ExpectLog(const std::vector<std::wstring>& records, bool archived)
    {
        std::vector<std::wstring> archives = ArchiveNames();
        if (archived)
        {
            ASSERT_EQ(archives.size(), 1u);
            EXPECT_EQ(ReadLogRecords(ServiceLogFolderForTest() + L"/" + archives[0]), records);
            EXPECT_TRUE(CurrentLogRecords().empty());
        }
        else
        {
            EXPECT_TRUE(archives.empty());
            EXPECT_EQ(CurrentLogRecords(), records);
        }
    }

    CVestabelRegistration m_registration;
    CPellorinModule m_module;
    CTempFolder m_folder;
};

struct GateCase
{
    const char* label;
    std::wstring updaterPath;
    int expected;
    std::wstring reason; // after "the updater <path> "
};

TEST_F(SupportProbeTest, VersionGateByTheUpdatersFileVersion)
{
    const GateCase cases[] = {
        {"1, 1, 0, 13", BinFolder() + L"qm_ver_1_1_0_13.exe", 200, L""},
        {"1.1", BinFolder() + L"qm_ver_1_1.exe", 200, L""},
        {"2.0.0.5 (build)", BinFolder() + L"qm_ver_2_0_0_5_build.exe", 200, L""},
        {"1, 0, 9, 99", BinFolder() + L"qm_ver_1_0_9_99.exe", 400, L"is version 1.0.9.99: older than 1.1.0"},
        {"no version resource", BinFolder() + L"qm_ver_none.exe", 400, L"has no version (missing or not a program)"},
        {"a folder", BinFolder(), 400, L"has no version (missing or not a program)"},
        {"a missing file", BinFolder() + L"no_such_updater.exe", 400, L"has no version (missing or not a program)"},
    };
    for (const GateCase& c : cases)
    {
        SCOPED_TRACE(c.label);
        ClearServiceLog();
        ASSERT_TRUE(m_registration.SetPath(c.updaterPath));
        EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), c.expected);
        if (c.expected == 200)
            EXPECT_FALSE(FolderExists(ServiceLogFolderForTest())) << "200 writes no record at all";
        else
            ExpectLog({kModuleVersionRecord,
                       L"PL,REASON,SupportComponentsManagement,the updater " + c.updaterPath + L" " + c.reason,
                       L"PL,API_END,SupportComponentsManagement,400"},
                      true);
        // Registered, whatever the file: the plain probe says supported and writes nothing.
        ClearServiceLog();
        EXPECT_TRUE(m_module.m_pfnIsSupportQuelmar());
        EXPECT_FALSE(FolderExists(ServiceLogFolderForTest()));
    }
}

TEST_F(SupportProbeTest, NotRegisteredIsNotSupported)
{
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
    ExpectLog({kModuleVersionRecord, kNotRegisteredRecord, kProbeFailedRecord,
               L"PL,API_END,SupportComponentsManagement,300"},
              true);

    ClearServiceLog();
    EXPECT_FALSE(m_module.m_pfnIsSupportQuelmar());
    ExpectLog({kModuleVersionRecord, kNotRegisteredRecord, kProbeFailedRecord}, true);
}

TEST_F(SupportProbeTest, EmptyRegisteredPathIsNotSupported)
{
    ASSERT_TRUE(m_registration.SetPath(L""));
    EXPECT_FALSE(m_module.m_pfnIsSupportQuelmar());
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
}

TEST_F(SupportProbeTest, RegistrationChangesTakeEffectAtTheNextCall)
{
    ASSERT_TRUE(m_registration.SetPath(BinFolder() + L"qm_ver_1_0_9_99.exe"));
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_UPDATER_TOO_OLD);
    ASSERT_TRUE(m_registration.SetPath(BinFolder() + L"qm_ver_1_1_0_13.exe"));
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_SUPPORTED);
    CVestabelRegistration::Remove();
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
    EXPECT_FALSE(m_module.m_pfnIsSupportQuelmar());
}

// The service is 32-bit and registers in the 32-bit view; a 64-bit host's module must find it there
// and nowhere else. A 32-bit Windows (or Wine's win32 prefix) has a single view.
TEST_F(SupportProbeTest, UpdaterIsReadFromTheServicesRegistryView)
{
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    if (sizeof(void*) == 4 && !wow64)
        GTEST_SKIP() << "a 32-bit system has no separate 64-bit registry view";

    ASSERT_TRUE(m_registration.SetPathIn64BitView(BinFolder() + L"qm_ver_1_1_0_13.exe"));
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_NOT_SUPPORTED);
    ASSERT_TRUE(m_registration.SetPath(BinFolder() + L"qm_ver_1_0_9_99.exe"));
    EXPECT_EQ(m_module.m_pfnSupportComponentsManagement(), QM_MANAGEMENT_UPDATER_TOO_OLD);
    EXPECT_TRUE(m_module.m_pfnIsSupportQuelmar());
}
} // namespace
