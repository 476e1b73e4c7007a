#include "ui/ModuleInstance.h"

namespace
{
constexpr int kStringBufferChars = 1000;
}

HINSTANCE GetModuleInstance()
{
    return ::GetModuleHandleW(L"Pellorin.dll");
}

std::wstring LoadModuleString(UINT id)
{
    HINSTANCE module = GetModuleInstance();
    if (module == nullptr)
        return std::wstring();
    wchar_t buffer[kStringBufferChars] = {};
    int length = ::LoadStringW(module, id, buffer, kStringBufferChars);
    return std::wstring(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}
