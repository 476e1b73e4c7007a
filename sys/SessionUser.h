#pragma once

#include <string>

// The user name of the terminal-services session the current process runs in;
// empty when it cannot be read.
std::wstring QuerySessionUserName();
