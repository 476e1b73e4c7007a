#pragma once
// The small volume "./run test" mounts for the tests of a full disk (drive V:, named by
// QM_SMALL_VOLUME), and the temporary folder of this process pointed somewhere else.

#include <string>

class CSmallVolume
{
public:
    // Empties the volume of what earlier tests left.
    CSmallVolume();
    // Frees the volume again.
    ~CSmallVolume();
    CSmallVolume(const CSmallVolume&) = delete;
    CSmallVolume& operator=(const CSmallVolume&) = delete;

    // False when there is none (mounting it needs root): say so and skip.
    bool Available() const { return !m_strRoot.empty(); }
    static const char* SkipReason() { return "no small volume to fill: ./run test mounts one when it runs as root"; }
    // A path on the volume, "/" form.
    std::wstring Child(const std::wstring& relative) const { return m_strRoot + relative; }
    // Fills the volume until fewer than leaveBytes are free; true when it got there.
    bool Fill(unsigned long long leaveBytes = 0);
    // Frees what Fill took.
    void Release();

private:
    std::wstring m_strRoot;
};

// Points TMP of this process (and the processes it starts) at a folder until the end of the scope.
class CTemporaryFolderOverride
{
public:
    explicit CTemporaryFolderOverride(const std::wstring& folder);
    ~CTemporaryFolderOverride();
    CTemporaryFolderOverride(const CTemporaryFolderOverride&) = delete;
    CTemporaryFolderOverride& operator=(const CTemporaryFolderOverride&) = delete;

private:
    std::wstring m_strPrevious;
    bool m_bHad;
};
