#pragma once
// The module's own instance, found by its file name: resources and window classes
// belong to "Pellorin.dll" whatever instance handle the loader reported.

#include <windows.h>

#include <string>

HINSTANCE GetModuleInstance();

// A string resource of the module, at most 999 characters; empty when it cannot be loaded.
std::wstring LoadModuleString(UINT id);
