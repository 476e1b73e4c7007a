#pragma once
// The request documents written for the updater before each run.

#include <memory>
#include <string>

class CXMLDocument;

// What a request tells the updater; empty fields are left out of the document.
struct QMRequestInfo
{
    std::wstring m_strAppName;
    std::wstring m_strActionListXMLPath;
    std::wstring m_strInstalledComponentListXMLPath;
    std::wstring m_strComponentType;
    std::wstring m_strLatestComponentListXMLPath;
    std::wstring m_strVersion;
};

// Root "AppName" holding the application name as text, with the non-empty paths,
// type and version as attributes in a fixed order.
CXMLDocument* BuildRequestDocument(const QMRequestInfo& info);

// Each writer saves a new document under a number of its own in the work folder, logs
// "CREATE_XML" and returns its path ("/" form). Empty, with a "REFUSE_ARG" record, when XML
// cannot carry one of the strings or the request's or its result's path would be too long.
std::wstring CreateLaunchCheckRequest(const std::wstring& appName);
std::wstring CreateUpdateComponentsRequest(const std::wstring& actionListPath, const std::wstring& appName);
std::wstring CreateInstalledListRequest(const std::wstring& appName, const std::wstring& listPath,
                                        const std::wstring& componentType);
std::wstring CreateLatestListRequest(const std::wstring& listPath, const std::wstring& componentType,
                                     const std::wstring& version);
