#pragma once
// UTF-16 text as UTF-8 bytes and back, for files and streams that carry UTF-8. Ill-formed input
// gives the system's replacement characters; empty input gives empty output.

#include <string>

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);
