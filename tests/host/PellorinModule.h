#pragma once
// Loads Pellorin.dll the way a host does and resolves its exports by name.

#include "Pellorin.h"

#include <gtest/gtest.h>

#include <windows.h>

class CPellorinModule
{
public:
    CPellorinModule() : m_hModule(::LoadLibraryW(L"Pellorin.dll"))
    {
        if (m_hModule == nullptr)
            return;
        m_pfnLaunchCheck = Resolve<PFN_LaunchCheck>("LaunchCheck");
        m_pfnIsSupportQuelmar = Resolve<PFN_IsSupportQuelmar>("IsSupportQuelmar");
        m_pfnUpdateComponents = Resolve<PFN_UpdateComponents>("UpdateComponents");
        m_pfnGetInstalledComponentList = Resolve<PFN_GetInstalledComponentList>("GetInstalledComponentList");
        m_pfnGetLatestComponentList = Resolve<PFN_GetLatestComponentList>("GetLatestComponentList");
        m_pfnSupportComponentsManagement = Resolve<PFN_SupportComponentsManagement>("SupportComponentsManagement");
    }
    ~CPellorinModule()
    {
        if (m_hModule != nullptr)
            ::FreeLibrary(m_hModule);
    }
    CPellorinModule(const CPellorinModule&) = delete;
    CPellorinModule& operator=(const CPellorinModule&) = delete;

    bool Loaded() const
    {
        return m_hModule != nullptr && m_pfnLaunchCheck && m_pfnIsSupportQuelmar && m_pfnUpdateComponents &&
               m_pfnGetInstalledComponentList && m_pfnGetLatestComponentList && m_pfnSupportComponentsManagement;
    }
    HMODULE Handle() const { return m_hModule; }

    template <class Fn>
    Fn Resolve(const char* nameOrOrdinal) const
    {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(m_hModule, nameOrOrdinal)));
    }

    PFN_LaunchCheck m_pfnLaunchCheck = nullptr;
    PFN_IsSupportQuelmar m_pfnIsSupportQuelmar = nullptr;
    PFN_UpdateComponents m_pfnUpdateComponents = nullptr;
    PFN_GetInstalledComponentList m_pfnGetInstalledComponentList = nullptr;
    PFN_GetLatestComponentList m_pfnGetLatestComponentList = nullptr;
    PFN_SupportComponentsManagement m_pfnSupportComponentsManagement = nullptr;

private:
    HMODULE m_hModule;
};
