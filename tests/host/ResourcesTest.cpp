#include "Pellorin.h"
#include "support/FileUtilForTest.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace
{
class ResourcesTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_NE(m_hModule, nullptr); }
    void TearDown() override
    {
        if (m_hModule != nullptr)
            ::FreeLibrary(m_hModule);
    }
    // Loaded as data only: the resources must be there without running any code.
    HMODULE m_hModule = ::LoadLibraryExW(L"Pellorin.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
};

std::wstring LoadModuleText(HMODULE module, UINT id)
{
    wchar_t buffer[1000] = {};
    int length = ::LoadStringW(module, id, buffer, 1000);
    return std::wstring(buffer, length > 0 ? length : 0);
}

TEST_F(ResourcesTest, CarriesTheBusyMessageAndOkCaption)
{
    EXPECT_EQ(LoadModuleText(m_hModule, 5001),
              L"Si sta installando altro software.\nAl termine dell'installazione, confermare l'ultima versione.");
    EXPECT_EQ(LoadModuleText(m_hModule, 5005), L"OK");
}

TEST_F(ResourcesTest, CarriesTheCommonControlsManifest)
{
    HRSRC manifest = ::FindResourceW(m_hModule, MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr);
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(m_hModule, manifest)));
    std::string xml(text, ::SizeofResource(m_hModule, manifest));
    EXPECT_NE(xml.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
    EXPECT_NE(xml.find("version=\"6.0.0.0\""), std::string::npos);
    // A dependency of another architecture would not activate, and the dialog would lose its look.
    EXPECT_NE(xml.find(sizeof(void*) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"x86\""),
              std::string::npos);
}

TEST(ModuleVersion, FileVersionStringIsTheReleaseNumber)
{
    DWORD ignored = 0;
    DWORD size = ::GetFileVersionInfoSizeW(L"Pellorin.dll", &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(L"Pellorin.dll", 0, size, block.data()));
    struct Translation
    {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, sizeof(Translation));
    wchar_t key[64];
    swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language, translation->codePage);
    wchar_t* version = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), key, reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(std::wstring(version), L"1, 1, 0, 13");
    EXPECT_EQ(std::wstring(key), L"\\StringFileInfo\\040904e4\\FileVersion");

    // The header's numbers are the resource's, in both of its forms.
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(PELLORIN_VERSION_MAJOR << 16 | PELLORIN_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(PELLORIN_VERSION_PATCH << 16 | PELLORIN_VERSION_BUILD));
    std::wstring dotted(version);
    for (size_t at; (at = dotted.find(L", ")) != std::wstring::npos;)
        dotted.replace(at, 2, L".");
    EXPECT_EQ(dotted, Utf8ToWide(PELLORIN_VERSION_STRING));

    // The description tells a 64-bit module from a 32-bit one in the file's properties.
    wchar_t* description = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904e4\\FileDescription",
                                 reinterpret_cast<void**>(&description), &length));
    EXPECT_EQ(std::wstring(description).find(L"(64-bit)") != std::wstring::npos, sizeof(void*) == 8) << description;
}

// Reads an extended dialog template as the dialog manager does.
class CTemplateReader
{
public:
    explicit CTemplateReader(const BYTE* p) : m_p(p) {}
    WORD Word() { WORD v; memcpy(&v, m_p, 2); m_p += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, m_p, 4); m_p += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *m_p++; }
    // A string, or "#<ordinal>" for an ordinal, or "" for none.
    std::wstring SzOrOrd()
    {
        WORD first = Word();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring text(1, static_cast<wchar_t>(first));
        for (WORD ch = Word(); ch != 0; ch = Word())
            text += static_cast<wchar_t>(ch);
        return text;
    }
    void AlignDword(const BYTE* base) { while ((m_p - base) % 4 != 0) ++m_p; }
    void Skip(size_t n) { m_p += n; }

private:
    const BYTE* m_p;
};

// Predefined classes may be stored by ordinal or by name; both mean the same to the dialog manager.
std::wstring ClassName(std::wstring stored)
{
    if (stored == L"#128")
        return L"button";
    if (stored == L"#130")
        return L"static";
    for (wchar_t& ch : stored)
        ch = static_cast<wchar_t>(towlower(ch));
    return stored;
}

struct DialogItem
{
    DWORD id;
    DWORD style;
    std::wstring windowClass;
    std::wstring title;
    short cx;
    short cy;
};

TEST_F(ResourcesTest, MessageBoxTemplateHasItsControls)
{
    HRSRC found = ::FindResourceW(m_hModule, MAKEINTRESOURCEW(131), MAKEINTRESOURCEW(5)); // RT_DIALOG
    ASSERT_NE(found, nullptr);
    const BYTE* base = static_cast<const BYTE*>(::LockResource(::LoadResource(m_hModule, found)));
    CTemplateReader r(base);
    EXPECT_EQ(r.Word(), 1);      // dlgVer
    EXPECT_EQ(r.Word(), 0xFFFF); // extended template
    r.Dword();                   // help id
    r.Dword();                   // extended style
    DWORD style = r.Dword();
    WORD count = r.Word();
    r.Short();
    r.Short();
    EXPECT_EQ(r.Short(), 250);
    EXPECT_EQ(r.Short(), 97);
    EXPECT_EQ(r.SzOrOrd(), L""); // menu
    EXPECT_EQ(r.SzOrOrd(), L""); // class
    EXPECT_EQ(r.SzOrOrd(), L"##dummyString");
    DWORD required = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    EXPECT_EQ(style & required, required);
    EXPECT_EQ(r.Word(), 8); // points
    r.Word();
    r.Byte();
    r.Byte();
    EXPECT_EQ(r.SzOrOrd(), L"MS Shell Dlg 2");

    std::vector<DialogItem> items;
    for (WORD i = 0; i < count; ++i)
    {
        r.AlignDword(base);
        DialogItem item;
        r.Dword();
        r.Dword();
        item.style = r.Dword();
        r.Short();
        r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = r.Dword();
        item.windowClass = ClassName(r.SzOrOrd());
        item.title = r.SzOrOrd();
        r.Skip(r.Word());
        items.push_back(item);
    }
    ASSERT_EQ(items.size(), 6u);

    const struct
    {
        DWORD id;
        const wchar_t* windowClass;
        const wchar_t* title;
        bool visible;
        bool defaultButton;
    } expected[] = {{1, L"button", L"OK", false, true},
                    {6, L"button", L"\u306f\u3044", false, true},
                    {7, L"button", L"\u3044\u3044\u3048", false, false},
                    {2, L"button", L"\u30ad\u30e3\u30f3\u30bb\u30eb", false, false},
                    {2000, L"static", L"", true, false},
                    {2001, L"static", L"##dummyString", true, false}};
    for (const auto& e : expected)
    {
        SCOPED_TRACE(e.id);
        auto item = std::find_if(items.begin(), items.end(), [&](const DialogItem& it) { return it.id == e.id; });
        ASSERT_NE(item, items.end());
        EXPECT_EQ(item->windowClass, e.windowClass);
        EXPECT_EQ(item->title, e.title);
        EXPECT_EQ((item->style & WS_VISIBLE) != 0, e.visible);
        if (item->windowClass == L"button")
        {
            EXPECT_EQ((item->style & 0xF) == BS_DEFPUSHBUTTON, e.defaultButton);
        }
    }
    auto icon = std::find_if(items.begin(), items.end(), [](const DialogItem& it) { return it.id == 2000; });
    EXPECT_EQ(icon->style & 0x1F, static_cast<DWORD>(SS_ICON));
    EXPECT_EQ(icon->cx, 20);
    EXPECT_EQ(icon->cy, 20);
    auto text = std::find_if(items.begin(), items.end(), [](const DialogItem& it) { return it.id == 2001; });
    EXPECT_EQ(text->style & 0x1F, static_cast<DWORD>(SS_LEFT));
}
} // namespace
