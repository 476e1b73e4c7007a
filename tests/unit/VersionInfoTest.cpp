#include "sys/VersionInfo.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>

namespace
{
struct NormalizeCase
{
    const wchar_t* raw;
    const wchar_t* expected;
};

class NormalizeVersionStringTest : public ::testing::TestWithParam<NormalizeCase>
{
};

TEST_P(NormalizeVersionStringTest, KeepsDigitsAndSeparatorsOnly)
{
    EXPECT_EQ(NormalizeVersionString(GetParam().raw), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, NormalizeVersionStringTest,
                         ::testing::Values(NormalizeCase{L"1, 1, 0, 13", L"1.1.0.13"},
                                           NormalizeCase{L"2.0.0.5 (build)", L"2.0.0.5"},
                                           NormalizeCase{L", 3", L"3"},
                                           NormalizeCase{L"..1", L".1"},
                                           NormalizeCase{L"1,,2.", L"1..2."},
                                           NormalizeCase{L"v1-2", L"12"},
                                           NormalizeCase{L"build", L""},
                                           NormalizeCase{L"", L""}));

struct ParseCase
{
    const wchar_t* text;
    QMVersion expected;
};

class ParseVersionTest : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(ParseVersionTest, ReadsFourComponents)
{
    QMVersion v = ParseVersion(GetParam().text);
    const QMVersion& e = GetParam().expected;
    EXPECT_EQ(v.m_nMajor, e.m_nMajor);
    EXPECT_EQ(v.m_nMinor, e.m_nMinor);
    EXPECT_EQ(v.m_nBuild, e.m_nBuild);
    EXPECT_EQ(v.m_nRevision, e.m_nRevision);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseVersionTest,
                         ::testing::Values(ParseCase{L"1.1.0.13", {1, 1, 0, 13}},
                                           ParseCase{L"1-2/3:4", {1, 2, 3, 4}},
                                           ParseCase{L"1.x2", {1, 0, 0, 0}},
                                           ParseCase{L"1.2x", {1, 2, 0, 0}},
                                           ParseCase{L"", {0, 0, 0, 0}},
                                           ParseCase{L"..7", {0, 0, 7, 0}},
                                           ParseCase{L"1.2.3.4.5.6", {1, 2, 3, 4}},
                                           ParseCase{L"99999999999.1", {INT_MAX, 1, 0, 0}}));

struct CompareCase
{
    const wchar_t* first;
    const wchar_t* second;
    int expected;
};

class CompareVersionsTest : public ::testing::TestWithParam<CompareCase>
{
};

TEST_P(CompareVersionsTest, ComparesComponentsAsNumbers)
{
    EXPECT_EQ(CompareVersions(GetParam().first, GetParam().second), GetParam().expected);
    EXPECT_EQ(CompareVersions(GetParam().second, GetParam().first), -GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CompareVersionsTest,
                         ::testing::Values(CompareCase{L"1.1.0.13", L"1.1.0", 1},
                                           CompareCase{L"1.1", L"1.1.0.0", 0},
                                           CompareCase{L"1.9", L"1.10", -1},
                                           CompareCase{L"1.10.0", L"1.9.0", 1},
                                           CompareCase{L"1.0.9.99", L"1.1.0", -1},
                                           CompareCase{L"", L"0.0.0.0", 0},
                                           CompareCase{L"", L"0.0.0.1", -1},
                                           CompareCase{L"2", L"1.99.99.99", 1}));

std::wstring FixturePath(const wchar_t* name)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    folder.erase(folder.rfind(L'\\') + 1);
    return folder + name;
}

struct FileVersionCase
{
    const wchar_t* fixture;
    const wchar_t* expected;
};

class GetFileVersionStringTest : public ::testing::TestWithParam<FileVersionCase>
{
};

TEST_P(GetFileVersionStringTest, ReadsTheFirstTranslationThenUsEnglish)
{
    EXPECT_EQ(GetFileVersionString(FixturePath(GetParam().fixture)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, GetFileVersionStringTest,
                         ::testing::Values(FileVersionCase{L"qm_ver_1_1_0_13.exe", L"1.1.0.13"},
                                           FileVersionCase{L"qm_ver_1_1.exe", L"1.1"},
                                           FileVersionCase{L"qm_ver_1_0_9_99.exe", L"1.0.9.99"},
                                           FileVersionCase{L"qm_ver_2_0_0_5_build.exe", L"2.0.0.5"},
                                           FileVersionCase{L"qm_ver_fallback.exe", L"3.2.1.0"},
                                           FileVersionCase{L"qm_ver_other_lang.exe", L""},
                                           FileVersionCase{L"qm_ver_no_translation.exe", L"5.0.0.1"},
                                           FileVersionCase{L"qm_ver_none.exe", L""},
                                           FileVersionCase{L"no_such_file.exe", L""}));

TEST(GetFileVersionString, FolderHasNoVersion)
{
    CTempFolder temp;
    EXPECT_EQ(GetFileVersionString(temp.Path()), L"");
}

TEST(GetModuleFilePath, FindsTheModuleByItsFileName)
{
    wchar_t host[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, host, MAX_PATH);
    // Not loaded: the lookup by name finds nothing and the host's own path comes back.
    ASSERT_EQ(::GetModuleHandleW(L"Pellorin.dll"), nullptr);
    EXPECT_EQ(GetModuleFilePath(), host);

    HMODULE module = ::LoadLibraryW(L"Pellorin.dll");
    ASSERT_NE(module, nullptr);
    std::wstring path = GetModuleFilePath();
    ::FreeLibrary(module);
    ASSERT_GE(path.size(), 13u);
    EXPECT_EQ(path.substr(path.size() - 13), L"\\Pellorin.dll");
    EXPECT_EQ(GetFileVersionString(path), L"1.1.0.13");
}
} // namespace
