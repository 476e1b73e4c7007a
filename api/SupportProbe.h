#pragma once
// The question every operation asks first: is the service's updater registered here?

// Writes the "CHECK_VERSION" record with this module's file version.
void LogModuleVersion();

// True when an updater path is registered. A failed probe writes the module version
// and the exit record "IsSupportQuelmar,false", whichever operation ran it.
bool IsVestabelRegistered();

// The updater version that component management needs.
constexpr const wchar_t* kRequiredVestabelVersion = L"1.1.0";
