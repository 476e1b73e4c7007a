#include "support/ServiceLogReader.h"

#include "support/FileUtilForTest.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

std::wstring ServiceLogFolderForTest()
{
    wchar_t appData[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData);
    std::wstring folder = std::wstring(appData) + L"/Tavrin_Inc_ZL/ServiceLog/QuelmarService";
    for (wchar_t& ch : folder)
        if (ch == L'\\')
            ch = L'/';
    return folder;
}

void ClearServiceLog()
{
    EXPECT_TRUE(RemoveFolderTree(ServiceLogFolderForTest()));
}

bool IsLogTimestamp(const std::wstring& text)
{
    static const wchar_t kShape[] = L"dddd-dd-dd-dd-dd-dd-ddd";
    if (text.size() != wcslen(kShape))
        return false;
    for (size_t i = 0; i < text.size(); ++i)
    {
        bool digit = text[i] >= L'0' && text[i] <= L'9';
        if (kShape[i] == L'd' ? !digit : text[i] != L'-')
            return false;
    }
    return true;
}

std::vector<std::wstring> ReadLogRecords(const std::wstring& filePath, std::vector<std::wstring>* timestamps)
{
    std::vector<std::wstring> records;
    std::string bytes = ReadFileBytes(filePath);
    if (bytes.empty())
        return records;
    EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
    bytes.erase(0, 3);
    EXPECT_EQ(bytes.find("\xEF\xBB\xBF"), std::string::npos) << "a second byte-order mark";
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "last record not ended by CR LF";

    std::wstring text = Utf8ToWide(bytes);
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        start = end + 2;
        size_t comma = line.find(L',');
        EXPECT_NE(comma, std::wstring::npos) << "record without fields";
        if (comma == std::wstring::npos)
            continue;
        EXPECT_TRUE(IsLogTimestamp(line.substr(0, comma))) << "bad timestamp in a record";
        if (timestamps != nullptr)
            timestamps->push_back(line.substr(0, comma));
        records.push_back(line.substr(comma + 1));
    }
    return records;
}

std::vector<std::wstring> CurrentLogRecords()
{
    return ReadLogRecords(ServiceLogFolderForTest() + L"/Tavrin_ACT_SERVICELOG_tmp.txt");
}

std::vector<std::wstring> ArchiveNames()
{
    std::vector<std::wstring> archives;
    for (const std::wstring& name : ListFolder(ServiceLogFolderForTest(), L"Tavrin_ACT_SERVICELOG_*.txt"))
    {
        if (name != L"Tavrin_ACT_SERVICELOG_tmp.txt")
            archives.push_back(name);
    }
    return archives;
}

std::vector<std::wstring> AllLogRecords(std::vector<std::wstring>* timestamps)
{
    std::vector<std::wstring> files = ArchiveNames();
    files.push_back(L"Tavrin_ACT_SERVICELOG_tmp.txt");
    std::vector<std::wstring> all;
    for (const std::wstring& name : files)
    {
        std::vector<std::wstring> records = ReadLogRecords(ServiceLogFolderForTest() + L"/" + name, timestamps);
        all.insert(all.end(), records.begin(), records.end());
    }
    return all;
}
