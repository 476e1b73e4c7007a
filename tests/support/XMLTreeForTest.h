#pragma once
// Trees in a form that tests can compare and print, and XML files written and read as text.

#include "xml/XMLNode.h"

#include <memory>
#include <string>

// One line per tree, for EXPECT_EQ: E:name[a="v" b="w"]{children}, T"text", A:n="v", D{root}.
// Unset names and values show as "(null)".
std::wstring DescribeTree(const CXMLNode* node);

// The file's XML as text (UTF-8 decoded, byte-order mark dropped); line breaks become "\n",
// because Wine's DOM writes LF where Windows' writes CR LF.
std::wstring ReadXMLFileText(const std::wstring& path);

// The text without its first line (the XML declaration).
std::wstring WithoutDeclaration(const std::wstring& text);

// True when bytes are valid UTF-8 (a byte-order mark allowed).
bool IsValidUtf8(const std::string& bytes);

// depth start tags, then as many end tags of name.
std::string NestedElements(int depth, const std::string& startTag, const std::string& name);

// A test name for a table row from its description ("root without children" -> root_without_children).
std::string ParamName(const char* what);

// True when the tests run under Wine, whose DOM differs from Windows' in places.
bool RunningUnderWine();

// Loads through the shared parser; null when it returns null.
std::unique_ptr<CXMLDocument> LoadFileForTest(const std::wstring& path);
