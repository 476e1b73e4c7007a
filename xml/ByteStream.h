#pragma once
// A write-only COM stream that appends to a byte string. The DOM saves into a stream in many
// small writes; the platform's memory stream grows its block to the exact new size on each of
// them (under Wine a copy of the whole block every time, so a list of thousands of components
// took time growing with the square of its size), while the string grows geometrically.

#include <windows.h>
#include <objidl.h>

#include <string>

// Lives on its user's stack and must outlive every reference handed out: its reference count
// only has to be plausible. Only Write does anything; everything else reports E_NOTIMPL.
class CQMByteStream : public IStream
{
public:
    explicit CQMByteStream(std::string& bytes) : m_bytes(bytes) {}
    CQMByteStream(const CQMByteStream&) = delete;
    CQMByteStream& operator=(const CQMByteStream&) = delete;

    HRESULT WINAPI QueryInterface(REFIID iid, void** object) override;
    ULONG WINAPI AddRef() override { return ++m_nReferences; }
    ULONG WINAPI Release() override { return --m_nReferences; }

    // Appends; E_OUTOFMEMORY, with nothing appended, when the string cannot grow.
    HRESULT WINAPI Write(const void* data, ULONG size, ULONG* written) override;

    HRESULT WINAPI Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    HRESULT WINAPI CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT WINAPI Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT WINAPI Revert() override { return E_NOTIMPL; }
    HRESULT WINAPI LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT WINAPI UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT WINAPI Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    HRESULT WINAPI Clone(IStream**) override { return E_NOTIMPL; }

private:
    std::string& m_bytes;
    ULONG m_nReferences = 1;
};
