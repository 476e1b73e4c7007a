#pragma once
// A fresh folder under the temporary folder, removed with everything in it at the end of the test.

#include <string>

class CTempFolder
{
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // "/" form, no trailing separator.
    const std::wstring& Path() const { return m_strPath; }
    // The path of a child, "/" form.
    std::wstring Child(const std::wstring& relative) const { return m_strPath + L"/" + relative; }

private:
    std::wstring m_strPath;
};

// Removes a folder and everything below it; true when it is gone.
bool RemoveFolderTree(const std::wstring& folder);
