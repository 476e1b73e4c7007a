#include "bridge/ResultDocument.h"

#include "bridge/VestabelRun.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"
#include "xml/XMLElement.h"
#include "xml/XMLNode.h"
#include "xml/XMLLoadProblem.h"
#include "xml/XMLParser.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace
{
constexpr int kNoResultCode = 20;

int DecisionFromLetter(const std::wstring& value, int previous)
{
    if (value == L"Y")
        return QM_LAUNCH_YES;
    if (value == L"N")
        return QM_LAUNCH_NO;
    if (value == L"R")
        return QM_LAUNCH_RESTART;
    return previous;
}

// A result written before its request belongs to an earlier request of the same name. A
// request the updater has already removed cannot be compared; its result is taken.
bool IsOlderThanRequest(const std::wstring& resultPath, const std::wstring& requestPath)
{
    WIN32_FILE_ATTRIBUTE_DATA result = {};
    WIN32_FILE_ATTRIBUTE_DATA request = {};
    if (!::GetFileAttributesExW(ToPlatformPath(resultPath).c_str(), GetFileExInfoStandard, &result) ||
        !::GetFileAttributesExW(ToPlatformPath(requestPath).c_str(), GetFileExInfoStandard, &request))
        return false;
    return ::CompareFileTime(&result.ftLastWriteTime, &request.ftLastWriteTime) < 0;
}
// Why a run's result could not be taken, for its reason record.
std::wstring DescribeUnreadResult(const std::wstring& resultPath, int status, bool stale, unsigned long exitCode)
{
    if (stale)
        return L"the result document is older than its request (an earlier run's): " + resultPath;
    if (status == QM_RESULT_WRONG_ROOT)
        return L"the result document's root is not CheckResult: " + resultPath;
    if (::GetFileAttributesW(ToPlatformPath(resultPath).c_str()) == INVALID_FILE_ATTRIBUTES)
        return L"the updater wrote no result document and ended with " + DescribeUpdaterExitCode(exitCode) +
               L" (expected at " + resultPath + L")";
    QMXMLLoadProblem problem = DiagnoseXMLFile(resultPath);
    return L"the result document " +
           (problem.m_eKind == QMXMLLoadProblem::QM_XML_LOADS ? std::wstring(L"cannot be read")
                                                               : DescribeXMLLoadProblem(problem)) +
           L": " + resultPath;
}
} // namespace

std::wstring GetResultDocumentPath(const std::wstring& requestPath)
{
    size_t slash = requestPath.rfind(L'/');
    size_t at = slash == std::wstring::npos ? 0 : slash + 1;
    return requestPath.substr(0, at) + L"RESULT_" + requestPath.substr(at);
}

int ParseResultCode(const std::wstring& text)
{
    return static_cast<int>(std::wcstol(text.c_str(), nullptr, 10));
}

int ReadResultDocument(const std::wstring& resultPath, QMCheckResult& result)
{
    std::unique_ptr<CXMLDocument> document(GetXMLParser()->LoadFile(resultPath.c_str()));
    if (!document || document->m_pRoot == nullptr)
        return QM_RESULT_UNREADABLE;
    CXMLNode* root = document->m_pRoot;
    const std::wstring* rootName = root->GetNameString();
    if (rootName == nullptr || *rootName != L"CheckResult")
        return QM_RESULT_WRONG_ROOT;

    CXMLElement* element = dynamic_cast<CXMLElement*>(root);
    if (element == nullptr)
        return QM_RESULT_READ;
    for (CXMLNode* attribute : element->GetAttributes())
    {
        const std::wstring* name = attribute->GetNameString();
        const std::wstring* value = attribute->GetValueString();
        if (name == nullptr || value == nullptr)
            continue;
        if (*name == L"LaunchApp")
            result.m_nLaunchDecision = DecisionFromLetter(*value, result.m_nLaunchDecision);
        else if (*name == L"ProcessInfo")
            result.m_strProcessInfo = *value;
        else if (*name == L"Result")
            result.m_strResult = *value;
    }
    return QM_RESULT_READ;
}

int CatchResultDocument(const std::wstring& requestPath, std::wstring& processInfo, int* resultCode,
                        const wchar_t* logName, unsigned long updaterExitCode)
{
    std::wstring resultPath = GetResultDocumentPath(requestPath);
    QMCheckResult result;
    bool stale = IsOlderThanRequest(resultPath, requestPath);
    int status = stale ? QM_RESULT_UNREADABLE : ReadResultDocument(resultPath, result);
    int decision = QM_LAUNCH_NONE;
    if (status != QM_RESULT_READ)
    {
        if (resultCode != nullptr)
            *resultCode = kNoResultCode;
        if (logName != nullptr)
            WriteReasonRecord(logName, DescribeUnreadResult(resultPath, status, stale, updaterExitCode));
    }
    else
    {
        WriteServiceLog(kServiceLogSource, L"CATCH_XML", JoinLogFields({L"-", resultPath}));
        processInfo = result.m_strProcessInfo;
        if (resultCode != nullptr)
            *resultCode = ParseResultCode(result.m_strResult);
        decision = result.m_nLaunchDecision;
    }
    // Read, unreadable or stale, no later run may take it for its own.
    ::DeleteFileW(ToPlatformPath(resultPath).c_str());
    return decision;
}
