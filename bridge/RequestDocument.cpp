#include "bridge/RequestDocument.h"

#include "bridge/RequestArguments.h"
#include "bridge/WorkFolder.h"
#include "log/ReasonRecord.h"
#include "log/ServiceLog.h"
#include "log/ServiceLogNames.h"
#include "sys/PathUtil.h"
#include "sys/SystemError.h"
#include "sys/WholeFileWrite.h"
#include "xml/XMLElement.h"
#include "xml/XMLNode.h"
#include "xml/XMLTextWriter.h"

namespace
{
std::wstring WriteRequest(const QMRequestInfo& info, const std::wstring& stem, const wchar_t* logName)
{
    if (!AcceptHostStrings(logName, {info.m_strAppName, info.m_strActionListXMLPath,
                                     info.m_strInstalledComponentListXMLPath, info.m_strComponentType,
                                     info.m_strLatestComponentListXMLPath, info.m_strVersion}))
        return std::wstring();
    std::wstring folder = GetVestabelWorkFolder();
    ReplaceChar(folder, L'\\', L'/');

    std::unique_ptr<CXMLDocument> document(BuildRequestDocument(info));
    std::string bytes;
    // The strings were accepted above, so the text can always be made.
    if (!WriteXMLDocumentText(document.get(), L"\r\n", bytes))
        return std::wstring();
    DWORD error = ERROR_SUCCESS;
    std::wstring path = WriteRequestFile(folder, MakeRequestFileStem(stem), bytes, error);
    if (path.empty())
    {
        // No request, no run: an updater started on a missing or empty request would do
        // anything but what was asked.
        if (error == ERROR_FILENAME_EXCED_RANGE)
            LogRequestPathTooLong(logName);
        else
        {
            WriteServiceLog(kServiceLogSource, L"SAVE_FAILED", JoinLogFields({logName, folder, DescribeSystemError(error)}));
            WriteReasonRecord(logName,
                              (IsDiskFullError(error) ? L"the work folder's disk is full: no request can be written: "
                                                      : L"no request can be written in the work folder: ") + folder,
                              error);
        }
        return path;
    }

    WriteServiceLog(kServiceLogSource, L"CREATE_XML", JoinLogFields({logName, path}));
    return path;
}

void AddAttributeIfSet(CXMLElement* element, const wchar_t* name, const std::wstring& value)
{
    if (!value.empty())
        element->AddAttribute(NewXMLAttribute(name, value.c_str()));
}
} // namespace

CXMLDocument* BuildRequestDocument(const QMRequestInfo& info)
{
    std::unique_ptr<CXMLElement> root(NewXMLElement(L"AppName"));
    root->SetValue(info.m_strAppName.c_str());
    AddAttributeIfSet(root.get(), L"ActionListXMLPath", info.m_strActionListXMLPath);
    AddAttributeIfSet(root.get(), L"InstalledComponentListXMLPath", info.m_strInstalledComponentListXMLPath);
    AddAttributeIfSet(root.get(), L"ComponentType", info.m_strComponentType);
    AddAttributeIfSet(root.get(), L"LatestComponentListXMLPath", info.m_strLatestComponentListXMLPath);
    AddAttributeIfSet(root.get(), L"Version", info.m_strVersion);
    return NewXMLDocument(root.release());
}

std::wstring CreateLaunchCheckRequest(const std::wstring& appName)
{
    QMRequestInfo info;
    info.m_strAppName = appName;
    return WriteRequest(info, appName, kLogNameLaunchCheck);
}

std::wstring CreateUpdateComponentsRequest(const std::wstring& actionListPath, const std::wstring& appName)
{
    QMRequestInfo info;
    info.m_strAppName = appName;
    info.m_strActionListXMLPath = actionListPath;
    return WriteRequest(info, appName, kLogNameUpdateComponents);
}

std::wstring CreateInstalledListRequest(const std::wstring& appName, const std::wstring& listPath,
                                        const std::wstring& componentType)
{
    QMRequestInfo info;
    info.m_strAppName = appName;
    info.m_strInstalledComponentListXMLPath = listPath;
    info.m_strComponentType = componentType;
    return WriteRequest(info, appName, kLogNameGetInstalledComponentList);
}

std::wstring CreateLatestListRequest(const std::wstring& listPath, const std::wstring& componentType,
                                     const std::wstring& version)
{
    QMRequestInfo info;
    info.m_strComponentType = componentType;
    info.m_strLatestComponentListXMLPath = listPath;
    info.m_strVersion = version;
    return WriteRequest(info, L"GetLatestComponentList", kLogNameGetLatestComponentList);
}
