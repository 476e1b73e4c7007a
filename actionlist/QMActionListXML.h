#pragma once
// The action list: the document through which the host, the module and the updater agree on
// which components an update concerns and what became of each.
//
//   <ActionList ParentAppName="..." ComponentType="...">
//        <Component ID="..." Action="..." Path="..." Version="..." Result="..."/>
//   </ActionList>
//
// Components are written one a line, indented by five spaces; "Result" holds the decimal
// result code that the module records while an update runs.

#include "xml/XMLNode.h"

#include <windows.h>

struct QMFileSave;

#include <array>
#include <string>
#include <vector>

// One component: "ID", "Action", "Path", "Version", "Result", in that order.
enum : size_t
{
    QM_COMPONENT_ID = 0,
    QM_COMPONENT_ACTION = 1,
    QM_COMPONENT_PATH = 2,
    QM_COMPONENT_VERSION = 3,
    QM_COMPONENT_RESULT = 4,
    QM_COMPONENT_FIELD_COUNT = 5,
};
using QMComponentRecord = std::array<std::wstring, QM_COMPONENT_FIELD_COUNT>;

// Load results.
enum : int
{
    QM_ACTIONLIST_LOADED = 0,
    QM_ACTIONLIST_UNREADABLE = 1, // missing, not well-formed, or a root without children
    QM_ACTIONLIST_WRONG_ROOT = 2, // the root element is not "ActionList"
};

class CQMActionListXML
{
public:
    CQMActionListXML() = default;
    virtual ~CQMActionListXML() = default;

    // One of the load results; on anything but QM_ACTIONLIST_LOADED the model is unchanged.
    int Load(const std::wstring& path);
    // What Load makes of a document that loaded: QM_ACTIONLIST_LOADED, QM_ACTIONLIST_WRONG_ROOT,
    // or QM_ACTIONLIST_UNREADABLE for a root without children.
    static int CheckRoot(const CXMLDocument& document);
    // Replaces the components with the child elements of root that have a non-empty "ID" and
    // "Action", whatever their names. Throws std::bad_alloc, leaving the model unchanged.
    void ParseComponents(CXMLNode* root);
    // A new tree of the whole model, owned by the caller; null when memory ran out.
    CXMLDocument* CreateDocument() const;
    // Writes the list; always 0: callers go on whether or not the file was written.
    int Save(const wchar_t* path) const;
    // Writes the list as the parser would write CreateDocument's tree, replacing the file in
    // one step. ERROR_SUCCESS, or why it was not written (ERROR_INVALID_DATA: a value XML cannot
    // carry; ERROR_OUTOFMEMORY); the file is then as it was. save, when given, says where the
    // redo copy of a write in place may go and what refused (xml/ReplacingFileSave.h).
    DWORD WriteFile(const wchar_t* path, QMFileSave* save = nullptr) const;
    // Sets "Result" of the first component with this ID (exact comparison); no such ID, no change.
    void SetResult(const std::wstring& id, const std::wstring& result);
    // SetResult of every ID in the list, without copying the IDs: each first component of an ID.
    void SetEveryResult(const std::wstring& result);
    // "ID" of every component in order, duplicates included.
    std::vector<std::wstring> GetComponentIDs() const;

    const std::vector<QMComponentRecord>& GetComponents() const { return m_vecComponents; }

private:
    std::vector<QMComponentRecord> m_vecComponents;

public:
    std::wstring m_strParentAppName;
    // Assigned directly by the update operation; empty leaves the attribute out of the file.
    std::wstring m_strComponentType;

private:
    // Position of the first component of each ID, ordered by ID for lookups. Positions, not
    // copies of the IDs: a list of thousands of components is read without an allocation each.
    std::vector<size_t> m_vecFirstByID;
    // The same positions in list order, so that setting every result stays linear and in step
    // with memory.
    std::vector<size_t> m_vecFirstOfEachID;
};
