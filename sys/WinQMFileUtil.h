#pragma once

#include "sys/QMFileUtil.h"

class CWinQMFileUtil : public CQMFileUtil
{
public:
    int CompareFiles(const std::wstring& first, const std::wstring& second) override;
    bool CreateFolder(const std::wstring& path) override;
    bool CopyPath(const std::wstring& source, const std::wstring& destination, bool overwrite) override;
    std::wstring GetFileSizeText(const std::wstring& path) override;
    void GetFileTimeText(const std::wstring& path, std::wstring& text) override;
};

// "/" become "\" and every run of "\" one "\"; a leading "\\" (a network share) is kept.
std::wstring NormalizeCopyPath(const std::wstring& path);
