#include "xml/DOMInstance.h"

#include <new>

const CLSID kClsidDOMDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const CLSID kClsidDOMDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidSAXErrorHandler = {0xA60511C4, 0xCCF5, 0x479E, {0x98, 0xA3, 0xDC, 0x8D, 0xC5, 0x45, 0xB7, 0xD0}};

namespace
{
const CLSID kClsidSAXXMLReader30 = {0x3124C396, 0xFB13, 0x4836, {0xA6, 0xAD, 0x13, 0x17, 0xF1, 0x71, 0x36, 0x88}};
const IID kIidSAXXMLReader = {0xA4F96ED0, 0xF829, 0x476E, {0x81, 0xC0, 0xCD, 0xC7, 0xBD, 0x2A, 0x08, 0x02}};
const IID kIidXMLDOMDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// In-process server and handler, local and remote server: wherever the class is registered.
constexpr DWORD kAnyServerContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                    CLSCTX_REMOTE_SERVER;
} // namespace

CQMComPtr<IXMLDOMDocument> CreateDOMDocument(const CLSID& clsid)
{
    CQMComPtr<IUnknown> object;
    if (FAILED(::CoCreateInstance(clsid, nullptr, kAnyServerContext, IID_IUnknown,
                                  reinterpret_cast<void**>(object.Put()))) ||
        !object)
        return CQMComPtr<IXMLDOMDocument>();
    if (FAILED(::OleRun(object.Get())))
        return CQMComPtr<IXMLDOMDocument>();
    CQMComPtr<IXMLDOMDocument> document;
    if (FAILED(object->QueryInterface(kIidXMLDOMDocument, reinterpret_cast<void**>(document.Put()))))
        return CQMComPtr<IXMLDOMDocument>();
    return document;
}

CQMComPtr<ISAXXMLReader> CreateSAXReader()
{
    CQMComPtr<ISAXXMLReader> reader;
    if (FAILED(::CoCreateInstance(kClsidSAXXMLReader30, nullptr, kAnyServerContext, kIidSAXXMLReader,
                                  reinterpret_cast<void**>(reader.Put()))))
        return CQMComPtr<ISAXXMLReader>();
    return reader;
}

CQMBstr AllocateBstr(const std::wstring& text)
{
    CQMBstr result(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!result)
        throw std::bad_alloc();
    return result;
}
