#pragma once
// File helpers of the stand-in updater.

#include <string>

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Creates the file with the bytes; false, leaving it alone, when the file already exists.
bool WriteNewBytes(const std::wstring& path, const std::string& bytes);
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

// The value of name="..." in an XML text, entities resolved; empty when absent.
std::string FindAttribute(const std::string& xml, const std::string& name);
// Text safe inside a double-quoted XML attribute.
std::string EscapeAttribute(const std::string& text);
