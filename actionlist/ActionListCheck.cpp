#include "actionlist/ActionListCheck.h"

#include "actionlist/QMActionListXML.h"
#include "sys/PathUtil.h"
#include "sys/QMFileUtil.h"
#include "xml/XMLElement.h"
#include "xml/XMLLoadProblem.h"
#include "xml/XMLParser.h"

#include <memory>
#include <string>

namespace
{
size_t CountChildElements(const CXMLNode* root)
{
    size_t count = 0;
    for (int i = 0; i < root->GetChildCount(); ++i)
        count += root->GetChild(static_cast<unsigned>(i))->m_nType == XML_NODE_ELEMENT ? 1 : 0;
    return count;
}
} // namespace

QMActionListCheck CheckActionList(const std::wstring& path)
{
    QMActionListCheck check;
    DWORD attributes = ::GetFileAttributesW(ToPlatformPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
    {
        DWORD error = ::GetLastError();
        check.m_bMissing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        check.m_strReason = check.m_bMissing ? L"the action list does not exist" : L"the action list cannot be found";
        check.m_nSystemError = check.m_bMissing ? ERROR_SUCCESS : error;
        return check;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
    {
        check.m_strReason = L"the action list is a folder";
        return check;
    }

    std::unique_ptr<CXMLDocument> document(GetXMLParser()->LoadFile(path.c_str()));
    if (!document || document->m_pRoot == nullptr)
    {
        QMXMLLoadProblem problem = DiagnoseXMLFile(path);
        check.m_strReason = L"the action list " + (problem.m_eKind == QMXMLLoadProblem::QM_XML_LOADS
                                                       ? std::wstring(L"cannot be read")
                                                       : DescribeXMLLoadProblem(problem));
        check.m_nSystemError = problem.m_nSystemError;
        return check;
    }
    int verdict = CQMActionListXML::CheckRoot(*document);
    if (verdict == QM_ACTIONLIST_WRONG_ROOT)
    {
        const std::wstring* rootName = document->m_pRoot->GetNameString();
        check.m_strReason = L"the action list's root is " + (rootName != nullptr ? *rootName : std::wstring()) +
                            L" instead of ActionList";
        return check;
    }
    if (verdict != QM_ACTIONLIST_LOADED)
    {
        check.m_strReason = L"the action list names no component";
        return check;
    }
    size_t elements = CountChildElements(document->m_pRoot);
    CQMActionListXML model;
    model.ParseComponents(document->m_pRoot);
    check.m_nComponents = model.GetComponents().size();
    check.m_nDropped = elements - check.m_nComponents;
    if (check.m_nComponents == 0)
    {
        check.m_strReason = L"the action list names no component with both ID and Action (" +
                            std::to_wstring(check.m_nDropped) + L" element(s) lack one)";
        return check;
    }
    check.m_bAccepted = true;
    return check;
}

QMListWriteRefusal CheckListWriteRefusal(const std::wstring& path)
{
    QMListWriteRefusal refusal;
    DWORD attributes = ::GetFileAttributesW(ToPlatformPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return refusal;
    // The attribute tells, not an open: the save refuses a read-only list even where the
    // platform would let this user write it (its owner, an administrator, root under Wine).
    if (attributes & FILE_ATTRIBUTE_READONLY)
    {
        refusal.m_eKind = QMListWriteRefusal::QM_READ_ONLY;
        refusal.m_strReason = L"the action list is read-only";
        refusal.m_nSystemError = ERROR_ACCESS_DENIED; // what the save meets
        return refusal;
    }
    DWORD error = ProbeFileWriting(path);
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
    {
        refusal.m_eKind = QMListWriteRefusal::QM_HELD;
        refusal.m_strReason = L"another program holds the action list without sharing its writing";
    }
    else if (error == ERROR_ACCESS_DENIED)
    {
        refusal.m_eKind = QMListWriteRefusal::QM_NOT_PERMITTED;
        refusal.m_strReason = L"this user may not write the action list";
    }
    else
        return refusal;
    refusal.m_nSystemError = error;
    return refusal;
}
