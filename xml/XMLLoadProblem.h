#pragma once
// Why a file does not load as a document, in words for the service log and the doctor: it
// cannot be read, it is not well-formed (where), or it holds what the tree cannot carry. Only
// asked after a load failed, so it may take its time.

#include <windows.h>

#include <string>

struct QMXMLLoadProblem
{
    enum EKind
    {
        QM_XML_LOADS,          // no problem: the file loads
        QM_XML_UNREADABLE,     // it cannot be opened or read (m_nSystemError)
        QM_XML_NOT_WELL_FORMED, // m_nLine, m_nColumn (0 when unknown), m_strReason
        QM_XML_UNSUPPORTED,    // well-formed, but it holds CDATA, entity references, processing
                               // instructions or namespaces, or is nested too deep
    };
    EKind m_eKind = QM_XML_LOADS;
    DWORD m_nSystemError = ERROR_SUCCESS;
    long m_nLine = 0;
    long m_nColumn = 0;
    std::wstring m_strReason;
};

// The problem of the file at path ("/" or "\"). The caller has COM set up on its thread.
// Throws std::bad_alloc.
QMXMLLoadProblem DiagnoseXMLFile(const std::wstring& path);

// "is not well-formed (line 3 column 7): the reason" and the like; empty for QM_XML_LOADS. The
// position is the DOM's, or the SAX reader's where the DOM gives none (Wine's always says line
// 0); some errors (text before the root, a document cut short) leave both without one.
std::wstring DescribeXMLLoadProblem(const QMXMLLoadProblem& problem);
