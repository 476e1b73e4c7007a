#include "xml/XMLLoadProblem.h"

#include "sys/ComHandle.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "xml/DOMInstance.h"
#include "xml/DOMTreeReader.h"

#include <cwctype>
#include <memory>

namespace
{
// Larger files are not read twice over for a position.
constexpr LONGLONG kMaxReadBytes = 256 * 1024 * 1024;

// Where the reader gave up on the document. Lives on its caller's stack and outlives the
// reader, so its reference count only has to be plausible.
class CSAXErrorPosition : public ISAXErrorHandler
{
public:
    HRESULT WINAPI QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid != IID_IUnknown && iid != kIidSAXErrorHandler)
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<ISAXErrorHandler*>(this);
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return ++m_nReferences; }
    ULONG WINAPI Release() override { return --m_nReferences; }

    HRESULT WINAPI error(ISAXLocator* locator, const wchar_t*, HRESULT) override { return Take(locator); }
    HRESULT WINAPI fatalError(ISAXLocator* locator, const wchar_t*, HRESULT) override { return Take(locator); }
    HRESULT WINAPI ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) override { return S_OK; }

    bool m_bFound = false;
    long m_nLine = 0;
    long m_nColumn = 0;

private:
    HRESULT Take(ISAXLocator* locator)
    {
        int line = 0, column = 0;
        if (!m_bFound && locator != nullptr && locator->getLineNumber(&line) == S_OK &&
            locator->getColumnNumber(&column) == S_OK)
        {
            m_nLine = line;
            m_nColumn = column;
            m_bFound = true;
        }
        return E_FAIL;
    }

    ULONG m_nReferences = 1;
};

// The DOM reports no position on some platforms (line 0 under Wine); the SAX reader tells the
// line it stopped in.
bool FindPositionWithSAX(const std::wstring& platformPath, long& line, long& column)
{
    CQMFileHandle file(::CreateFileW(platformPath.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxReadBytes)
        return false;
    SAFEARRAY* bytes = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size.QuadPart));
    if (bytes == nullptr)
        return false;
    void* data = nullptr;
    DWORD read = 0;
    bool whole = SUCCEEDED(::SafeArrayAccessData(bytes, &data)) &&
                 ::ReadFile(file.Get(), data, static_cast<DWORD>(size.QuadPart), &read, nullptr) &&
                 read == size.QuadPart;
    if (data != nullptr)
        ::SafeArrayUnaccessData(bytes);
    CSAXErrorPosition position;
    {
        CQMComPtr<ISAXXMLReader> reader = CreateSAXReader();
        if (whole && reader && reader->putErrorHandler(&position) == S_OK)
        {
            // Nothing from outside the file.
            reader->putFeature(L"http://xml.org/sax/features/external-general-entities", VARIANT_FALSE);
            reader->putFeature(L"http://xml.org/sax/features/external-parameter-entities", VARIANT_FALSE);
            VARIANT input;
            ::VariantInit(&input);
            V_VT(&input) = VT_ARRAY | VT_UI1;
            V_ARRAY(&input) = bytes;
            reader->parse(input);
        }
    }
    ::SafeArrayDestroy(bytes);
    line = position.m_nLine;
    column = position.m_nColumn;
    return position.m_bFound;
}

std::wstring Trimmed(std::wstring text)
{
    while (!text.empty() && std::iswspace(text.back()))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && std::iswspace(text[start]))
        ++start;
    return text.substr(start);
}
} // namespace

QMXMLLoadProblem DiagnoseXMLFile(const std::wstring& path)
{
    QMXMLLoadProblem problem;
    std::wstring platformPath = ToPlatformPath(path);
    {
        CQMFileHandle file(::CreateFileW(platformPath.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
        {
            problem.m_eKind = QMXMLLoadProblem::QM_XML_UNREADABLE;
            problem.m_nSystemError = ::GetLastError();
            return problem;
        }
    }

    CQMComPtr<IXMLDOMDocument> dom = CreateDOMDocument(kClsidDOMDocument30);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    std::wstring slashed(path);
    ReplaceChar(slashed, L'\\', L'/');
    CQMBstr bstrPath = AllocateBstr(slashed);
    if (!dom || dom->put_async(VARIANT_FALSE) != S_OK || dom->put_preserveWhiteSpace(VARIANT_FALSE) != S_OK ||
        dom->put_resolveExternals(VARIANT_FALSE) != S_OK || dom->put_validateOnParse(VARIANT_FALSE) != S_OK ||
        dom->load(BorrowedStringVariant(bstrPath.Get()), &loaded) != S_OK || loaded != VARIANT_TRUE)
    {
        problem.m_eKind = QMXMLLoadProblem::QM_XML_NOT_WELL_FORMED;
        IXMLDOMParseError* error = nullptr;
        if (dom && dom->get_parseError(&error) == S_OK && error != nullptr)
        {
            CQMComPtr<IXMLDOMParseError> owned(error);
            BSTR reason = nullptr;
            if (owned->get_reason(&reason) == S_OK && reason != nullptr)
            {
                problem.m_strReason = Trimmed(reason);
                ::SysFreeString(reason);
            }
            owned->get_line(&problem.m_nLine);
            owned->get_linepos(&problem.m_nColumn);
        }
        if (problem.m_nLine <= 0)
            FindPositionWithSAX(platformPath, problem.m_nLine, problem.m_nColumn);
        return problem;
    }
    std::unique_ptr<CXMLDocument> tree(ConvertDOMDocument(dom.Get()));
    if (!tree)
        problem.m_eKind = QMXMLLoadProblem::QM_XML_UNSUPPORTED;
    return problem;
}

std::wstring DescribeXMLLoadProblem(const QMXMLLoadProblem& problem)
{
    switch (problem.m_eKind)
    {
    case QMXMLLoadProblem::QM_XML_UNREADABLE:
        return L"cannot be read";
    case QMXMLLoadProblem::QM_XML_NOT_WELL_FORMED:
    {
        std::wstring text = L"is not well-formed";
        if (problem.m_nLine > 0)
            text += L" (line " + std::to_wstring(problem.m_nLine) + L" column " + std::to_wstring(problem.m_nColumn) +
                    L")";
        else
            text += L" (the platform's parser gives no position)";
        // The platform's own words, when it has any beyond its generic one.
        if (!problem.m_strReason.empty() && problem.m_strReason != L"error")
            text += L": " + problem.m_strReason;
        return text;
    }
    case QMXMLLoadProblem::QM_XML_UNSUPPORTED:
        return L"holds what the module does not read (CDATA or entity references or processing instructions or "
               L"namespaces or elements nested too deep)";
    default:
        return std::wstring();
    }
}
