#pragma once
// The state of an action-list model as one text, for comparisons in tests.

#include "actionlist/QMActionListXML.h"

#include <string>

// "P=<ParentAppName>;T=<ComponentType>", then a line "[ID][Action][Path][Version][Result]" per component.
inline std::wstring DescribeModel(const CQMActionListXML& model)
{
    std::wstring text = L"P=" + model.m_strParentAppName + L";T=" + model.m_strComponentType;
    for (const QMComponentRecord& record : model.GetComponents())
    {
        text += L"\n";
        for (const std::wstring& field : record)
            text += L"[" + field + L"]";
    }
    return text;
}
