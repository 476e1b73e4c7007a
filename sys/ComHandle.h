#pragma once
// Owners for COM resources, on the one handle template: interface pointers,
// COM strings, variants and the balance of a thread's COM initialisation.

#include "sys/Handle.h"

#include <objbase.h>
#include <oleauto.h>

template <class T>
struct QMComPtrTraits
{
    using pointer = T*;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer p) noexcept { p->Release(); }
};

template <class T>
class CQMComPtr : public CQMUniqueHandle<QMComPtrTraits<T>>
{
public:
    using CQMUniqueHandle<QMComPtrTraits<T>>::CQMUniqueHandle;
    T* operator->() const noexcept { return this->Get(); }
};

struct QMBstrTraits
{
    using pointer = BSTR;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer p) noexcept { ::SysFreeString(p); }
};

using CQMBstr = CQMUniqueHandle<QMBstrTraits>;

// Holds whether CoInitialize succeeded; only a successful call (S_OK or S_FALSE) is balanced.
// A thread that the host already put into another apartment keeps it untouched.
struct QMComInitTraits
{
    using pointer = bool;
    static pointer Invalid() noexcept { return false; }
    static void Close(pointer) noexcept { ::CoUninitialize(); }
};

using CQMComInit = CQMUniqueHandle<QMComInitTraits>;

inline CQMComInit InitializeComForThread() noexcept
{
    return CQMComInit(SUCCEEDED(::CoInitialize(nullptr)));
}

class CQMVariant
{
public:
    CQMVariant() noexcept { ::VariantInit(&m_var); }
    ~CQMVariant() { ::VariantClear(&m_var); }
    CQMVariant(const CQMVariant&) = delete;
    CQMVariant& operator=(const CQMVariant&) = delete;

    VARIANT* Put() noexcept
    {
        ::VariantClear(&m_var);
        return &m_var;
    }
    const VARIANT& Get() const noexcept { return m_var; }

private:
    VARIANT m_var;
};

// A string variant that borrows the text: for in-arguments only, never cleared.
inline VARIANT BorrowedStringVariant(BSTR text) noexcept
{
    VARIANT var;
    ::VariantInit(&var);
    V_VT(&var) = VT_BSTR;
    V_BSTR(&var) = text;
    return var;
}
