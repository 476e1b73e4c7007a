#include "sys/QMFileUtil.h"
#include "sys/WinQMFileUtil.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>

namespace
{
class FileUtilTest : public ::testing::Test
{
protected:
    std::wstring Make(const std::wstring& name, const std::string& bytes)
    {
        std::wstring path = m_folder.Child(name);
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }
    CQMFileUtil* m_pUtil = GetFileUtil();
    CTempFolder m_folder;
};

TEST_F(FileUtilTest, CompareFilesByContent)
{
    std::string big(10000, 'a');
    std::wstring a = Make(L"a", big);
    std::wstring b = Make(L"b", big);
    std::wstring longer = Make(L"c", big + "!");
    std::wstring changed = Make(L"d", big.substr(0, 9999) + "b");
    std::wstring emptyA = Make(L"e1", "");
    std::wstring emptyB = Make(L"e2", "");
    EXPECT_EQ(m_pUtil->CompareFiles(a, b), 1);
    EXPECT_EQ(m_pUtil->CompareFiles(a, longer), 0);
    EXPECT_EQ(m_pUtil->CompareFiles(longer, a), 0);
    EXPECT_EQ(m_pUtil->CompareFiles(a, changed), 0);
    EXPECT_EQ(m_pUtil->CompareFiles(emptyA, emptyB), 1);
    EXPECT_EQ(m_pUtil->CompareFiles(m_folder.Child(L"missing"), a), -1);
    EXPECT_EQ(m_pUtil->CompareFiles(a, m_folder.Child(L"missing")), -1);
}

TEST_F(FileUtilTest, CreateFolderTakesAnythingExistingAsDone)
{
    std::wstring file = Make(L"file", "x");
    EXPECT_TRUE(m_pUtil->CreateFolder(file));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(EnsureFolder(file.c_str()));

    EXPECT_TRUE(m_pUtil->CreateFolder(m_folder.Child(L"new")));
    EXPECT_TRUE(FolderExists(m_folder.Child(L"new")));
    // One level only.
    EXPECT_FALSE(m_pUtil->CreateFolder(m_folder.Child(L"x/y")));
}

TEST_F(FileUtilTest, EnsureFolderCreatesTheChainLevelByLevel)
{
    std::wstring deep = m_folder.Child(L"A/B/C");
    EXPECT_TRUE(EnsureFolder(deep.c_str()));
    EXPECT_TRUE(FolderExists(m_folder.Child(L"A/B")));
    EXPECT_TRUE(FolderExists(deep));
    EXPECT_TRUE(EnsureFolder(deep.c_str()));
}

TEST_F(FileUtilTest, EnsureFolderStopsAtAFileOrNothing)
{
    Make(L"file", "x");
    EXPECT_FALSE(EnsureFolder(m_folder.Child(L"file/sub/deeper").c_str()));
    EXPECT_FALSE(FolderExists(m_folder.Child(L"file/sub")));
    EXPECT_FALSE(EnsureFolder(nullptr));
    EXPECT_FALSE(EnsureFolder(L""));
    EXPECT_FALSE(EnsureFolder(L"single_relative_name"));
    // A drive that does not exist ends the walk instead of recursing for ever.
    EXPECT_FALSE(EnsureFolder(L"Q:/no/such/drive"));
}

TEST_F(FileUtilTest, OnlyAFileHeldElsewhereIsWorthWaitingFor)
{
    std::wstring plain = Make(L"plain.xml", "x");
    std::wstring held = Make(L"held.xml", "x");
    std::wstring readOnly = Make(L"readonly.xml", "x");
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"folder.xml")));
    ASSERT_TRUE(::SetFileAttributesW(PlatformPathForTest(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
    HANDLE holder = ::CreateFileW(PlatformPathForTest(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(IsWriteRefusalPassing(held)) << "another program holds it without write sharing";
    EXPECT_TRUE(IsWriteRefusalPassing(plain)) << "writable again";
    EXPECT_FALSE(IsWriteRefusalPassing(readOnly));
    EXPECT_FALSE(IsWriteRefusalPassing(m_folder.Child(L"folder.xml")));
    EXPECT_FALSE(IsWriteRefusalPassing(m_folder.Child(L"missing.xml")));
    EXPECT_FALSE(IsWriteRefusalPassing(m_folder.Child(L"missing/list.xml")));

    ::CloseHandle(holder);
    ::SetFileAttributesW(PlatformPathForTest(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(NormalizeCopyPath, CollapsesSeparatorRunsButKeepsShares)
{
    EXPECT_EQ(NormalizeCopyPath(L"C://Data//Sub"), L"C:\\Data\\Sub");
    EXPECT_EQ(NormalizeCopyPath(L"C:\\\\\\a/\\b"), L"C:\\a\\b");
    EXPECT_EQ(NormalizeCopyPath(L"\\\\server\\share\\\\x"), L"\\\\server\\share\\x");
    EXPECT_EQ(NormalizeCopyPath(L"//server/share"), L"\\\\server\\share");
}

TEST_F(FileUtilTest, CopyFileRespectsOverwrite)
{
    std::wstring source = Make(L"source.txt", "new");
    std::wstring target = Make(L"target.txt", "old");
    EXPECT_FALSE(m_pUtil->CopyPath(source, target, false));
    EXPECT_EQ(ReadFileBytes(target), "old");
    EXPECT_TRUE(m_pUtil->CopyPath(source, target, true));
    EXPECT_EQ(ReadFileBytes(target), "new");
}

TEST_F(FileUtilTest, CopyFileCreatesTheTargetFolderAndTakesDoubledSeparators)
{
    std::wstring source = Make(L"source.txt", "data");
    std::wstring doubled = m_folder.Path() + L"//made//here//copy.txt";
    EXPECT_TRUE(m_pUtil->CopyPath(source, doubled, false));
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"made/here/copy.txt")), "data");
    EXPECT_FALSE(m_pUtil->CopyPath(m_folder.Child(L"missing.txt"), m_folder.Child(L"x.txt"), true));
}

TEST_F(FileUtilTest, CopyFolderCopiesEveryEntry)
{
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"src")));
    ASSERT_TRUE(MakeFolder(m_folder.Child(L"src/sub")));
    Make(L"src/one.txt", "1");
    Make(L"src/sub/two.txt", "2");
    m_pUtil->CopyPath(m_folder.Child(L"src"), m_folder.Child(L"dst/inner"), false);
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"dst/inner/one.txt")), "1");
    EXPECT_EQ(ReadFileBytes(m_folder.Child(L"dst/inner/sub/two.txt")), "2");
}

TEST_F(FileUtilTest, FileSizeText)
{
    EXPECT_EQ(m_pUtil->GetFileSizeText(Make(L"empty", "")), L"0");
    EXPECT_EQ(m_pUtil->GetFileSizeText(Make(L"k", std::string(1536, 'k'))), L"1536");
    EXPECT_EQ(m_pUtil->GetFileSizeText(m_folder.Child(L"missing")), L"");
    EXPECT_EQ(m_pUtil->GetFileSizeText(m_folder.Path()), L"");
}

TEST_F(FileUtilTest, FileTimeTextIsLocalTimeToTheSecond)
{
    std::wstring file = Make(L"dated.txt", "x");
    // 2009-06-15 09:30:05 UTC
    SYSTEMTIME utc = {2009, 6, 1, 15, 9, 30, 5, 0};
    FILETIME stamp = {};
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &stamp));
    HANDLE handle = ::CreateFileW(PlatformPathForTest(file).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::SetFileTime(handle, nullptr, nullptr, &stamp));
    ::CloseHandle(handle);

    __time64_t seconds = 1245058205; // the same instant
    struct tm* local = _localtime64(&seconds);
    ASSERT_NE(local, nullptr);
    wchar_t expected[64];
    wcsftime(expected, 64, L"%Y-%m-%dT%H:%M:%S", local);

    std::wstring text = L"stale";
    m_pUtil->GetFileTimeText(file, text);
    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.size(), 19u);
}

TEST_F(FileUtilTest, FileTimeTextStaysEmptyForFoldersMissingAndLongPaths)
{
    std::wstring text = L"stale";
    m_pUtil->GetFileTimeText(m_folder.Path(), text);
    EXPECT_EQ(text, L"");
    text = L"stale";
    m_pUtil->GetFileTimeText(m_folder.Child(L"missing"), text);
    EXPECT_EQ(text, L"");

    // A file beyond the platform path limit, made through the long-path prefix.
    std::wstring longPath = m_folder.Path();
    while (longPath.size() < 260)
    {
        longPath += L"/d123456789";
        ASSERT_TRUE(::CreateDirectoryW((L"\\\\?\\" + PlatformPathForTest(longPath)).c_str(), nullptr));
    }
    ASSERT_TRUE(WriteFileBytes(L"\\\\?\\" + PlatformPathForTest(longPath) + L"\\f.txt", "x"));
    text = L"stale";
    m_pUtil->GetFileTimeText(longPath + L"/f.txt", text);
    EXPECT_EQ(text, L"");
}
} // namespace
