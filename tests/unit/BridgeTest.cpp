#include "bridge/VestabelRun.h"
#include "bridge/WorkFolder.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace
{
TEST(VestabelParameters, EachArgumentFollowedByASpace)
{
    std::wstring parameters = L"stale";
    ASSERT_TRUE(BuildVestabelParameters({L"C:/none/App_1.xml", L"/update_app"}, parameters));
    EXPECT_EQ(parameters, L"C:/none/App_1.xml /update_app ");
}

TEST(VestabelParameters, ExistingPathWithSpacesIsQuoted)
{
    CTempFolder temp;
    ASSERT_TRUE(MakeFolder(temp.Child(L"Temp dir")));
    std::wstring request = temp.Child(L"Temp dir/App_1.xml");
    ASSERT_TRUE(WriteFileBytes(request, "<AppName/>"));
    std::wstring parameters;
    ASSERT_TRUE(BuildVestabelParameters({request, L"/update_app"}, parameters));
    EXPECT_EQ(parameters, L"\"" + request + L"\" /update_app ");

    // Its document was never written: passed as it is.
    std::wstring missing = temp.Child(L"Temp dir/App_2.xml");
    ASSERT_TRUE(BuildVestabelParameters({missing, L"/update_app"}, parameters));
    EXPECT_EQ(parameters, missing + L" /update_app ");
}

TEST(VestabelParameters, LongExistingPathWithSpacesIsStillQuoted)
{
    CTempFolder temp;
    std::wstring folder = temp.Child(L"long name");
    while (folder.size() < 230)
        folder += L"/sub folder";
    ASSERT_TRUE(CreateFolderPathForTest(folder));
    std::wstring request = folder + L"/" + std::wstring(258 - folder.size() - 1, L'x');
    ASSERT_EQ(request.size(), 258u);
    ASSERT_TRUE(WriteFileBytes(request, "<AppName/>"));
    std::wstring parameters;
    ASSERT_TRUE(BuildVestabelParameters({request, L"/check_app_update_qm"}, parameters));
    EXPECT_EQ(parameters, L"\"" + request + L"\" /check_app_update_qm ");
}

TEST(VestabelParameters, ArgumentBeyondTheBufferIsRefusedWhole)
{
    std::wstring parameters = L"untouched";
    EXPECT_TRUE(BuildVestabelParameters({std::wstring(259, L'a')}, parameters));
    EXPECT_FALSE(BuildVestabelParameters({std::wstring(260, L'a'), L"/update_app"}, parameters));
    EXPECT_EQ(parameters, std::wstring(259, L'a') + L" ");
}

TEST(RequestFileStem, KeepsOrdinaryNamesAndNeutralisesPathCharacters)
{
    EXPECT_EQ(MakeRequestFileStem(L"MyApp"), L"MyApp");
    EXPECT_EQ(MakeRequestFileStem(L"My App 2.0 \u65e5\u672c"), L"My App 2.0 \u65e5\u672c");
    EXPECT_EQ(MakeRequestFileStem(L"..\\..\\evil"), L".._.._evil");
    EXPECT_EQ(MakeRequestFileStem(L"../x/y"), L".._x_y");
    EXPECT_EQ(MakeRequestFileStem(L"C:\\Windows\\x"), L"C__Windows_x");
    EXPECT_EQ(MakeRequestFileStem(L"a*b?c\"d<e>f|g\th"), L"a_b_c_d_e_f_g_h");
    EXPECT_EQ(MakeRequestFileStem(L""), L"");
}

TEST(RequestPath, TakesTheFirstFreeNumber)
{
    CTempFolder temp;
    EXPECT_EQ(ChooseRequestPath(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_1.xml");
    ASSERT_TRUE(WriteFileBytes(temp.Child(L"MyApp_1.xml"), ""));
    ASSERT_TRUE(WriteFileBytes(temp.Child(L"MyApp_2.xml"), ""));
    EXPECT_EQ(ChooseRequestPath(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_3.xml");
    // A folder takes the number as well; gaps are filled from 1 on.
    ASSERT_TRUE(MakeFolder(temp.Child(L"Other_1.xml")));
    EXPECT_EQ(ChooseRequestPath(temp.Path(), L"Other"), temp.Path() + L"/Other_2.xml");
    ASSERT_TRUE(DeleteFileForTest(temp.Child(L"MyApp_1.xml")));
    EXPECT_EQ(ChooseRequestPath(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_1.xml");
}

TEST(WorkFolder, IsUnderTheTemporaryFolderInSlashForm)
{
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring expected(temp);
    for (wchar_t& ch : expected)
        if (ch == L'\\')
            ch = L'/';
    expected += L"Tavrin_Inc_ZL/Vestabel";
    std::wstring folder = GetVestabelWorkFolder();
    EXPECT_EQ(folder, expected);
    EXPECT_EQ(folder.find(L'\\'), std::wstring::npos);
    EXPECT_TRUE(FolderExists(folder));
}

TEST(WorkFolder, FollowsATemporaryFolderWithSpaces)
{
    CTempFolder temp;
    std::wstring spaced = PlatformPathForTest(temp.Child(L"tmp with spaces"));
    wchar_t previous[MAX_PATH * 2] = {};
    DWORD hadTmp = ::GetEnvironmentVariableW(L"TMP", previous, MAX_PATH * 2);
    ASSERT_TRUE(::SetEnvironmentVariableW(L"TMP", spaced.c_str()));
    std::wstring folder = GetVestabelWorkFolder();
    ::SetEnvironmentVariableW(L"TMP", hadTmp ? previous : nullptr);
    EXPECT_EQ(folder, temp.Child(L"tmp with spaces/Tavrin_Inc_ZL/Vestabel"));
    EXPECT_TRUE(FolderExists(folder));
}
} // namespace
