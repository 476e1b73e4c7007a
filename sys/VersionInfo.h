#pragma once
// This module's path, file versions and version comparison.

#include <string>

// The full path of Pellorin.dll as loaded in this process (backslash form).
std::wstring GetModuleFilePath();

// The file's FileVersion, normalised ("1, 1, 0, 13" gives 1.1.0.13); empty without one.
std::wstring GetFileVersionString(const std::wstring& path);

// Digits kept, "," and "." become ".", all else dropped; one leading "." removed.
std::wstring NormalizeVersionString(const std::wstring& raw);

struct QMVersion
{
    int m_nMajor;
    int m_nMinor;
    int m_nBuild;
    int m_nRevision;
};

// Four components separated by ".", "/", ":" or "-"; missing or non-numeric ones are 0.
QMVersion ParseVersion(const std::wstring& text);

// -1, 0 or 1 as first is lower than, equal to or higher than second.
int CompareVersions(const std::wstring& first, const std::wstring& second);
