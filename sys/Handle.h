#pragma once
// Move-only owners for platform handles: one template, a traits struct per kind.

#include <windows.h>
#include <utility>

template <class Traits>
class CQMUniqueHandle
{
public:
    using pointer = typename Traits::pointer;

    CQMUniqueHandle() noexcept : m_h(Traits::Invalid()) {}
    explicit CQMUniqueHandle(pointer h) noexcept : m_h(h) {}
    ~CQMUniqueHandle() { Reset(); }

    CQMUniqueHandle(const CQMUniqueHandle&) = delete;
    CQMUniqueHandle& operator=(const CQMUniqueHandle&) = delete;
    CQMUniqueHandle(CQMUniqueHandle&& other) noexcept : m_h(other.Release()) {}
    CQMUniqueHandle& operator=(CQMUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    pointer Get() const noexcept { return m_h; }
    explicit operator bool() const noexcept { return m_h != Traits::Invalid(); }

    void Reset(pointer h = Traits::Invalid()) noexcept
    {
        if (m_h != Traits::Invalid())
            Traits::Close(m_h);
        m_h = h;
    }

    pointer Release() noexcept
    {
        pointer h = m_h;
        m_h = Traits::Invalid();
        return h;
    }

    // For out-parameters of platform calls; frees what was held first.
    pointer* Put() noexcept
    {
        Reset();
        return &m_h;
    }

private:
    pointer m_h;
};

struct QMKernelHandleTraits
{
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};

// CreateFileW reports failure with INVALID_HANDLE_VALUE, not null.
struct QMFileHandleTraits
{
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { ::CloseHandle(h); }
};

struct QMFindHandleTraits
{
    using pointer = HANDLE;
    static pointer Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(pointer h) noexcept { ::FindClose(h); }
};

struct QMRegKeyTraits
{
    using pointer = HKEY;
    static pointer Invalid() noexcept { return nullptr; }
    static void Close(pointer h) noexcept { ::RegCloseKey(h); }
};

using CQMKernelHandle = CQMUniqueHandle<QMKernelHandleTraits>;
using CQMFileHandle = CQMUniqueHandle<QMFileHandleTraits>;
using CQMFindHandle = CQMUniqueHandle<QMFindHandleTraits>;
using CQMRegKey = CQMUniqueHandle<QMRegKeyTraits>;
