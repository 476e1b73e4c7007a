#pragma once
// The lazily created strings of the tree nodes.

#include <new>
#include <string>

// An owned string that is null until first set. It is constructed inside its node on first
// use, with no allocation of its own (trees of thousands of nodes are built and deleted on
// every save), and later sets assign into the same object, so pointers handed out stay valid.
class CXMLStringSlot
{
public:
    CXMLStringSlot() noexcept {}
    ~CXMLStringSlot()
    {
        if (m_pstr != nullptr)
            m_pstr->~basic_string();
    }
    CXMLStringSlot(const CXMLStringSlot&) = delete;
    CXMLStringSlot& operator=(const CXMLStringSlot&) = delete;

    // A null text stores the empty string.
    void Set(const wchar_t* text)
    {
        const wchar_t* source = text != nullptr ? text : L"";
        if (m_pstr == nullptr)
            m_pstr = new (m_storage) std::wstring(source);
        else
            m_pstr->assign(source);
    }
    const std::wstring* Get() const noexcept { return m_pstr; }
    const wchar_t* Text() const noexcept { return m_pstr != nullptr ? m_pstr->c_str() : nullptr; }

private:
    std::wstring* m_pstr = nullptr;
    alignas(std::wstring) unsigned char m_storage[sizeof(std::wstring)];
};

// An empty string of static storage; a function static would take the runtime's thread-safe
// guard, which stays behind when the module is unloaded.
extern const std::wstring g_strEmptyNodeString;

inline const std::wstring& NodeStringOrEmpty(const std::wstring* text)
{
    return text != nullptr ? *text : g_strEmptyNodeString;
}
