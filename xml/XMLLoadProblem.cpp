#include "xml/XMLLoadProblem.h"

#include "sys/ComHandle.h"
#include "sys/Handle.h"
#include "sys/PathUtil.h"
#include "xml/DOMInstance.h"
#include "xml/DOMTreeReader.h"
#include "xml/SAXTreeReader.h"

#include <cwctype>
#include <memory>

namespace
{
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
                CQMBstr ownedReason(reason);
                problem.m_strReason = Trimmed(reason);
            }
            owned->get_line(&problem.m_nLine);
            owned->get_linepos(&problem.m_nColumn);
        }
        if (problem.m_nLine <= 0)
            FindSAXErrorPosition(path, problem.m_nLine, problem.m_nColumn);
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
