#include "sys/ModuleThread.h"

#include <memory>

namespace
{
struct QMModuleThreadStart
{
    unsigned(__stdcall* m_pfnProcedure)(void*);
    void* m_pArgument;
    HMODULE m_hModule;
};

DWORD WINAPI ModuleThreadEntry(void* argument)
{
    QMModuleThreadStart start = *static_cast<QMModuleThreadStart*>(argument);
    delete static_cast<QMModuleThreadStart*>(argument);
    unsigned code = start.m_pfnProcedure(start.m_pArgument);
    // The module may be unloaded by this very call: nothing of it may run afterwards.
    ::FreeLibraryAndExitThread(start.m_hModule, code);
}
} // namespace

CQMKernelHandle StartModuleThread(unsigned(__stdcall* procedure)(void*), void* argument)
{
    auto start = std::make_unique<QMModuleThreadStart>();
    start->m_pfnProcedure = procedure;
    start->m_pArgument = argument;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(procedure),
                              &start->m_hModule))
        return CQMKernelHandle();
    HMODULE module = start->m_hModule;
    CQMKernelHandle thread(::CreateThread(nullptr, 0, ModuleThreadEntry, start.get(), 0, nullptr));
    if (!thread)
    {
        ::FreeLibrary(module);
        return CQMKernelHandle();
    }
    start.release();
    return thread;
}
