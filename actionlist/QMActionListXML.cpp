#include "actionlist/QMActionListXML.h"

#include "sys/NoThrow.h"
#include "xml/XMLElement.h"
#include "xml/ReplacingFileSave.h"
#include "xml/XMLParser.h"
#include "xml/XMLTextWriter.h"

#include <algorithm>
#include <memory>

namespace
{
const wchar_t kRootName[] = L"ActionList";
const wchar_t kComponentName[] = L"Component";
const wchar_t kParentAppName[] = L"ParentAppName";
const wchar_t kComponentType[] = L"ComponentType";
const wchar_t* const kFieldNames[QM_COMPONENT_FIELD_COUNT] = {L"ID", L"Action", L"Path", L"Version", L"Result"};

// The same names as the strings the writer takes, made as the module loads and freed as it
// unloads: function statics would take the runtime's thread-safe guard, which stays behind.
const std::wstring g_strRootName = kRootName;
const std::wstring g_strComponentName = kComponentName;
const std::wstring g_strParentAppName = kParentAppName;
const std::wstring g_strComponentType = kComponentType;
const std::wstring g_strFieldNames[QM_COMPONENT_FIELD_COUNT] = {kFieldNames[0], kFieldNames[1], kFieldNames[2],
                                                                kFieldNames[3], kFieldNames[4]};

// The attribute's value, or empty when it is missing or has none.
std::wstring AttributeValue(const CXMLElement& element, const wchar_t* name)
{
    const CXMLNode* attribute = element.FindAttribute(name);
    const std::wstring* value = attribute != nullptr ? attribute->GetValueString() : nullptr;
    return value != nullptr ? *value : std::wstring();
}

void CopyAttributeIfPresent(const CXMLElement& element, const wchar_t* name, std::wstring& target)
{
    if (element.FindAttribute(name) != nullptr)
        target = AttributeValue(element, name);
}

void AddAttribute(CXMLElement& element, const wchar_t* name, const std::wstring& value)
{
    element.AddAttribute(NewXMLAttribute(name, value.c_str()));
}
} // namespace

int CQMActionListXML::Load(const std::wstring& path)
{
    return ValueOrFailure<int>(QM_ACTIONLIST_UNREADABLE, [&]() -> int {
        CXMLParser* parser = GetXMLParser();
        std::unique_ptr<CXMLDocument> document(parser != nullptr ? parser->LoadFile(path.c_str()) : nullptr);
        if (!document)
            return QM_ACTIONLIST_UNREADABLE;
        int verdict = CheckRoot(*document);
        if (verdict != QM_ACTIONLIST_LOADED)
            return verdict;
        const CXMLElement& root = static_cast<const CXMLElement&>(*document->m_pRoot);

        // Everything that can fail comes before the model changes.
        std::wstring parentAppName = m_strParentAppName;
        std::wstring componentType = m_strComponentType;
        CopyAttributeIfPresent(root, kParentAppName, parentAppName);
        CopyAttributeIfPresent(root, kComponentType, componentType);
        ParseComponents(document->m_pRoot);
        m_strParentAppName.swap(parentAppName);
        m_strComponentType.swap(componentType);
        return QM_ACTIONLIST_LOADED;
    });
}

int CQMActionListXML::CheckRoot(const CXMLDocument& document)
{
    const CXMLElement* root = dynamic_cast<const CXMLElement*>(document.m_pRoot);
    const std::wstring* rootName = root != nullptr ? root->GetNameString() : nullptr;
    if (rootName == nullptr || *rootName != kRootName)
        return QM_ACTIONLIST_WRONG_ROOT;
    return root->GetChildCount() == 0 ? QM_ACTIONLIST_UNREADABLE : QM_ACTIONLIST_LOADED;
}

void CQMActionListXML::ParseComponents(CXMLNode* root)
{
    std::vector<QMComponentRecord> components;
    const int count = root != nullptr ? root->GetChildCount() : 0;
    components.reserve(count);
    for (int i = 0; i < count; ++i)
    {
        const CXMLElement* element = dynamic_cast<const CXMLElement*>(root->GetChild(i));
        if (element == nullptr)
            continue;
        QMComponentRecord record;
        for (size_t field = 0; field < QM_COMPONENT_FIELD_COUNT; ++field)
            record[field] = AttributeValue(*element, kFieldNames[field]);
        if (record[QM_COMPONENT_ID].empty() || record[QM_COMPONENT_ACTION].empty())
            continue;
        components.push_back(std::move(record));
    }

    // Sorted by ID, equal IDs keeping list order: the first of each run is the first component
    // of its ID.
    std::vector<size_t> firstByID(components.size());
    for (size_t i = 0; i < firstByID.size(); ++i)
        firstByID[i] = i;
    auto idLess = [&components](size_t a, size_t b) {
        return components[a][QM_COMPONENT_ID] < components[b][QM_COMPONENT_ID];
    };
    std::stable_sort(firstByID.begin(), firstByID.end(), idLess);
    firstByID.erase(std::unique(firstByID.begin(), firstByID.end(),
                                [&components](size_t a, size_t b) {
                                    return components[a][QM_COMPONENT_ID] == components[b][QM_COMPONENT_ID];
                                }),
                    firstByID.end());
    std::vector<size_t> firstOfEachID(firstByID);
    std::sort(firstOfEachID.begin(), firstOfEachID.end());

    m_vecComponents.swap(components);
    m_vecFirstByID.swap(firstByID);
    m_vecFirstOfEachID.swap(firstOfEachID);
}

CXMLDocument* CQMActionListXML::CreateDocument() const
{
    return ValueOrFailure<CXMLDocument*>(nullptr, [this] {
        std::unique_ptr<CXMLElement> root(NewXMLElement(kRootName));
        AddAttribute(*root, kParentAppName, m_strParentAppName);
        if (!m_strComponentType.empty())
            AddAttribute(*root, kComponentType, m_strComponentType);
        for (const QMComponentRecord& record : m_vecComponents)
        {
            std::unique_ptr<CXMLElement> component(NewXMLElement(kComponentName));
            for (size_t field = 0; field < QM_COMPONENT_FIELD_COUNT; ++field)
            {
                // "ID" and "Action" always; the optional fields only when they have a value.
                if (field <= QM_COMPONENT_ACTION || !record[field].empty())
                    AddAttribute(*component, kFieldNames[field], record[field]);
            }
            root->AddChild(component.release());
        }
        CXMLDocument* document = NewXMLDocument(root.get());
        root.release();
        return document;
    });
}

DWORD CQMActionListXML::WriteFile(const wchar_t* path, QMFileSave* save) const
{
    if (path == nullptr)
        return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
    return ValueOrFailure(static_cast<DWORD>(ERROR_OUTOFMEMORY), [&]() -> DWORD {
        // The text that the parser would write for CreateDocument's tree, made straight from
        // the records: a list of thousands of components is saved at the end of every update.
        std::string bytes;
        CXMLFlatDocumentWriter writer(L"\r\n", bytes);
        const QMXMLAttributeRef root[] = {{&g_strParentAppName, &m_strParentAppName},
                                          {&g_strComponentType, &m_strComponentType}};
        if (!writer.BeginRoot(g_strRootName, root, m_strComponentType.empty() ? 1 : 2))
            return ERROR_INVALID_DATA;
        for (const QMComponentRecord& record : m_vecComponents)
        {
            QMXMLAttributeRef fields[QM_COMPONENT_FIELD_COUNT] = {};
            size_t count = 0;
            for (size_t field = 0; field < QM_COMPONENT_FIELD_COUNT; ++field)
            {
                // "ID" and "Action" always; the optional fields only when they have a value.
                if (field <= QM_COMPONENT_ACTION || !record[field].empty())
                    fields[count++] = {&g_strFieldNames[field], &record[field]};
            }
            if (!writer.AddChild(g_strComponentName, fields, count))
                return ERROR_INVALID_DATA;
        }
        writer.EndRoot();
        return SaveBytesReplacing(bytes, path, save);
    });
}

int CQMActionListXML::Save(const wchar_t* path) const
{
    WriteFile(path);
    return 0;
}

void CQMActionListXML::SetResult(const std::wstring& id, const std::wstring& result)
{
    auto first = std::lower_bound(m_vecFirstByID.begin(), m_vecFirstByID.end(), id,
                                  [this](size_t position, const std::wstring& key) {
                                      return m_vecComponents[position][QM_COMPONENT_ID] < key;
                                  });
    if (first == m_vecFirstByID.end() || m_vecComponents[*first][QM_COMPONENT_ID] != id)
        return;
    // A failed allocation leaves the old result: assignment gives the strong guarantee.
    ValueOrFailure(false, [&] {
        m_vecComponents[*first][QM_COMPONENT_RESULT] = result;
        return true;
    });
}

void CQMActionListXML::SetEveryResult(const std::wstring& result)
{
    for (size_t first : m_vecFirstOfEachID)
    {
        ValueOrFailure(false, [&] {
            m_vecComponents[first][QM_COMPONENT_RESULT] = result;
            return true;
        });
    }
}

std::vector<std::wstring> CQMActionListXML::GetComponentIDs() const
{
    return ValueOrFailure(std::vector<std::wstring>(), [this] {
        std::vector<std::wstring> ids;
        ids.reserve(m_vecComponents.size());
        for (const QMComponentRecord& record : m_vecComponents)
            ids.push_back(record[QM_COMPONENT_ID]);
        return ids;
    });
}
