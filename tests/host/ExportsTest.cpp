#include "host/PellorinModule.h"

#include "support/RegistryForTest.h"
#include "support/ServiceLogReader.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

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

// Makes the module's allocations of at least a given size fail, as when memory has run out: its
// import of the C runtime's malloc, which its C++ runtime's operator new calls, goes to a
// function of the test for as long as this lives. (Exhausting the address space instead does
// not work under Wine's 64-bit loader: reserving tens of terabytes gets the process killed.)
class CFailingModuleMalloc
{
public:
    CFailingModuleMalloc(HMODULE module, size_t minimum)
    {
        s_nMinimum = minimum;
        s_nRefused = 0;
        auto base = reinterpret_cast<BYTE*>(module);
        auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d)
        {
            if (::lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), "msvcrt.dll") != 0)
                continue;
            auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots)
            {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                    std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name, "malloc") != 0)
                    continue;
                m_pSlot = &slots->u1.Function;
                s_pfnMalloc = reinterpret_cast<MallocFn>(*m_pSlot);
                Write(reinterpret_cast<ULONG_PTR>(&Malloc));
            }
        }
    }
    ~CFailingModuleMalloc()
    {
        if (m_pSlot != nullptr)
            Write(reinterpret_cast<ULONG_PTR>(s_pfnMalloc));
    }
    CFailingModuleMalloc(const CFailingModuleMalloc&) = delete;
    CFailingModuleMalloc& operator=(const CFailingModuleMalloc&) = delete;

    bool Installed() const { return m_pSlot != nullptr; }
    static int Refused() { return s_nRefused; }

private:
    using MallocFn = void*(__cdecl*)(size_t);
    static void* __cdecl Malloc(size_t size)
    {
        if (size < s_nMinimum)
            return s_pfnMalloc(size);
        ++s_nRefused;
        return nullptr;
    }
    void Write(ULONG_PTR value)
    {
        DWORD protection = 0;
        if (::VirtualProtect(m_pSlot, sizeof(*m_pSlot), PAGE_READWRITE, &protection))
        {
            *m_pSlot = value;
            ::VirtualProtect(m_pSlot, sizeof(*m_pSlot), protection, &protection);
        }
    }

    decltype(IMAGE_THUNK_DATA::u1.Function)* m_pSlot = nullptr;
    static inline MallocFn s_pfnMalloc = nullptr;
    static inline size_t s_nMinimum = 0;
    static inline int s_nRefused = 0;
};

// Exceptions of the module's runtime (exhausted memory) must unwind through the module's frames
// and the runtime's own (std::wstring's, which g++ compiled) to the export's guard, end the call
// with its documented result and leave the module as usable as before. Nothing else in these
// tests makes the module throw.
TEST_F(ExportsTest, ExhaustedMemoryEndsTheCallWithItsResult)
{
    std::wstring longName(1 << 20, L'n');
    // First each call's copy of the name fails as the string is made; then the copies fit and
    // the entry record, the name and more, fails as the string that joins its fields grows.
    for (size_t refusedFrom : {longName.size(), (longName.size() + 8) * sizeof(wchar_t)})
    {
        int state = 42;
        {
            CFailingModuleMalloc failing(m_module.Handle(), refusedFrom);
            ASSERT_TRUE(failing.Installed()) << "the module imports no malloc of msvcrt.dll";
            EXPECT_FALSE(m_module.m_pfnLaunchCheck(longName.c_str(), &state));
            EXPECT_EQ(m_module.m_pfnGetInstalledComponentList(longName.c_str(), L"C:/i.xml", L"t"),
                      QM_LIST_NOT_SUPPORTED);
            EXPECT_EQ(m_module.m_pfnUpdateComponents(L"App", longName.c_str(), L"t", nullptr), QM_UPDATE_NOT_SUPPORTED);
            EXPECT_EQ(CFailingModuleMalloc::Refused(), 3) << "refused from " << refusedFrom << " bytes";
        }
        EXPECT_EQ(state, 42);
        EXPECT_TRUE(AllLogRecords().empty()) << "a call went on after its copy or its entry record failed";
    }

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
