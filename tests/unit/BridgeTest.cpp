#include "bridge/RequestArguments.h"
#include "bridge/ResultDocument.h"
#include "bridge/VestabelRun.h"
#include "bridge/WorkFolder.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <thread>
#include <vector>

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

std::wstring WriteRequest(const std::wstring& folder, const std::wstring& stem, DWORD* errorOut = nullptr)
{
    DWORD error = ERROR_GEN_FAILURE;
    std::wstring path = WriteRequestFile(folder, stem, "<AppName/>", error);
    EXPECT_EQ(path.empty(), error != ERROR_SUCCESS) << error;
    if (errorOut != nullptr)
        *errorOut = error;
    return path;
}

TEST(RequestPath, WritesTheRequestUnderTheFirstFreeNumber)
{
    CTempFolder temp;
    EXPECT_EQ(WriteRequest(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_1.xml");
    EXPECT_EQ(ReadFileBytes(temp.Child(L"MyApp_1.xml")), "<AppName/>") << "the number is held by the whole request";
    EXPECT_EQ(WriteRequest(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_2.xml");
    // A result left by an aborted call takes its number; so does a folder. Gaps are filled from 1 on.
    ASSERT_TRUE(WriteFileBytes(temp.Child(L"RESULT_MyApp_3.xml"), "<CheckResult Result=\"7\"/>"));
    ASSERT_TRUE(MakeFolder(temp.Child(L"MyApp_4.xml")));
    EXPECT_EQ(WriteRequest(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_5.xml");
    ASSERT_TRUE(DeleteFileForTest(temp.Child(L"MyApp_1.xml")));
    EXPECT_EQ(WriteRequest(temp.Path(), L"MyApp"), temp.Path() + L"/MyApp_1.xml");
    EXPECT_EQ(ReadFileBytes(temp.Child(L"RESULT_MyApp_3.xml")), "<CheckResult Result=\"7\"/>");

    // No folder to write in: nothing, and the platform's reason.
    DWORD error = ERROR_SUCCESS;
    EXPECT_EQ(WriteRequest(temp.Child(L"missing"), L"MyApp", &error), L"");
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    // Names are compared as the file system does, without case; names that are not the
    // module's numbering take no number, and neither does what a writer that was ended
    // halfway left behind, which the next request clears.
    CTempFolder other;
    for (const wchar_t* name : {L"myapp_1.XML", L"result_MYAPP_2.xml", L"MyApp_03.xml", L"MyApp_3.txt",
                                L"MyApp_x3.xml", L"MyAppX_3.xml", L"MyApp_.xml", L"~qmreq_1234_5678.tmp"})
        ASSERT_TRUE(WriteFileBytes(other.Child(name), "x")) << name;
    EXPECT_EQ(WriteRequest(other.Path(), L"MyApp"), other.Path() + L"/MyApp_3.xml");
    EXPECT_FALSE(FileExists(other.Child(L"~qmreq_1234_5678.tmp")));
    EXPECT_EQ(ListFolder(other.Path(), L"~qmreq_*").size(), 0u) << "nothing of this writer's left";
}

TEST(RequestPath, ResultPathMustFitAsWellAsTheRequest)
{
    CTempFolder temp;
    // folder + "/RESULT_" + stem + "_1.xml" is the longer of the two paths.
    size_t longest = kMaxRequestPathChars - temp.Path().size() - 14;
    std::wstring fits = WriteRequest(temp.Path(), std::wstring(longest, L'a'));
    EXPECT_EQ(GetResultDocumentPath(fits).size(), kMaxRequestPathChars);
    // One more: the request alone would fit, its result would not. Nothing is created.
    for (size_t more : {1, 7})
    {
        DWORD error = ERROR_SUCCESS;
        EXPECT_EQ(WriteRequest(temp.Path(), std::wstring(longest + more, L'b'), &error), L"");
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
    }
    EXPECT_EQ(ListFolder(temp.Path(), L"*").size(), 1u);
}

TEST(RequestPath, CallsAtOnceNeverShareANumber)
{
    CTempFolder temp;
    constexpr int kThreads = 4;
    constexpr int kEach = 25;
    std::vector<std::vector<std::wstring>> paths(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                paths[t].push_back(WriteRequest(temp.Path(), L"App"));
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::wstring> distinct;
    for (const auto& list : paths)
        distinct.insert(list.begin(), list.end());
    EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
    EXPECT_EQ(distinct.count(temp.Path() + L"/App_100.xml"), 1u) << "numbers 1 to 100, none skipped";
}

TEST(HostStrings, XMLCarriesOnlyItsOwnCharacters)
{
    const struct
    {
        std::wstring text;
        bool carried;
    } cases[] = {
        {L"", true},
        {L"My App \u00e9\u65e5", true},
        {L"tab\tline\nreturn\r", true},
        {L"pair \xD83D\xDE00", true},
        {L"\uE000\uFFFD", true},
        {std::wstring(L"nul\0in", 6), false},
        {L"\x01", false},
        {L"a\x1F", false},
        {L"\uFFFE", false},
        {L"\uFFFF", false},
        {L"high alone \xD83D", false},
        {L"high then letter \xD83Dx", false},
        {L"low alone \xDE00", false},
        {L"reversed \xDE00\xD83D", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CanCarryInXML(c.text), c.carried) << WideToUtf8(c.text);
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
