#include "support/XMLTreeForTest.h"

#include "support/FileUtilForTest.h"
#include "xml/XMLElement.h"
#include "xml/XMLParser.h"

#include <windows.h>

#include <cctype>

namespace
{
std::wstring Quoted(const wchar_t* text)
{
    return text != nullptr ? L"\"" + std::wstring(text) + L"\"" : L"(null)";
}

std::wstring Named(const wchar_t* name)
{
    return name != nullptr ? std::wstring(name) : L"(null)";
}
} // namespace

std::wstring DescribeTree(const CXMLNode* node)
{
    if (node == nullptr)
        return L"(none)";
    switch (node->m_nType)
    {
    case XML_NODE_DOCUMENT:
        return L"D{" + DescribeTree(static_cast<const CXMLDocument*>(node)->m_pRoot) + L"}";
    case XML_NODE_ATTRIBUTE:
        return L"A:" + Named(node->GetName()) + L"=" + Quoted(node->GetValue());
    case XML_NODE_TEXT:
        return L"T" + Quoted(node->GetValue());
    case XML_NODE_ELEMENT:
    {
        const CXMLElement* element = dynamic_cast<const CXMLElement*>(node);
        if (element == nullptr)
            break;
        std::wstring text = L"E:" + Named(element->GetName()) + L"[";
        for (size_t i = 0; i < element->GetAttributes().size(); ++i)
            text += (i > 0 ? L" " : L"") + DescribeTree(element->GetAttributes()[i]).substr(2);
        text += L"]{";
        for (size_t i = 0; i < element->GetChildren().size(); ++i)
            text += (i > 0 ? L"," : L"") + DescribeTree(element->GetChildren()[i]);
        return text + L"}";
    }
    default:
        break;
    }
    return L"?" + std::to_wstring(node->m_nType);
}

std::wstring ReadXMLFileText(const std::wstring& path)
{
    std::string bytes = ReadFileBytes(path);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);
    std::wstring text = Utf8ToWide(bytes);
    std::wstring result;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
            continue;
        result += text[i];
    }
    return result;
}

std::wstring WithoutDeclaration(const std::wstring& text)
{
    size_t end = text.find(L'\n');
    return end == std::wstring::npos ? std::wstring() : text.substr(end + 1);
}

bool IsValidUtf8(const std::string& bytes)
{
    std::string body = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    if (body.empty())
        return true;
    return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, body.data(), static_cast<int>(body.size()), nullptr,
                                 0) > 0;
}

std::unique_ptr<CXMLDocument> LoadFileForTest(const std::wstring& path)
{
    return std::unique_ptr<CXMLDocument>(GetXMLParser()->LoadFile(path.c_str()));
}

bool RunningUnderWine()
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string NestedElements(int depth, const std::string& startTag, const std::string& name)
{
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += startTag;
    for (int i = 0; i < depth; ++i)
        text += "</" + name + ">";
    return text;
}

std::string ParamName(const char* what)
{
    std::string name;
    for (const char* ch = what; *ch != '\0'; ++ch)
        name += isalnum(static_cast<unsigned char>(*ch)) ? *ch : '_';
    return name;
}
