#pragma once
// The host's strings that go into request documents and the action list, checked before
// anything is written or run.

#include <string>
#include <vector>

// True when every character may stand in an XML 1.0 document: no control character other
// than tab, line feed and carriage return, no U+FFFE or U+FFFF, and only paired surrogates.
bool CanCarryInXML(const std::wstring& text);

// False, with a "REFUSE_ARG" record naming the operation, when XML cannot carry one of the
// host's strings: the updater could not load a document written from it.
bool AcceptHostStrings(const wchar_t* logName, const std::vector<std::wstring>& strings);

// The record of a request that was not written because its path would be too long.
void LogRequestPathTooLong(const wchar_t* logName);
