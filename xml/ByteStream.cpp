#include "xml/ByteStream.h"

#include <new>

HRESULT WINAPI CQMByteStream::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_ISequentialStream && iid != IID_IStream)
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
}

HRESULT WINAPI CQMByteStream::Write(const void* data, ULONG size, ULONG* written)
{
    if (written != nullptr)
        *written = 0;
    if (data == nullptr && size > 0)
        return STG_E_INVALIDPOINTER;
    try
    {
        m_bytes.append(static_cast<const char*>(data), size);
    }
    catch (const std::exception&)
    {
        return E_OUTOFMEMORY;
    }
    if (written != nullptr)
        *written = size;
    return S_OK;
}
