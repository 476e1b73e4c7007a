#pragma once
// Fixed names of the service log's folder and files.

#include <cstddef>

// Joined to the user data folder, slashes included.
constexpr const wchar_t* kServiceLogSubFolder = L"Tavrin_Inc_ZL/ServiceLog/QuelmarService";
constexpr const wchar_t* kServiceLogPrefix = L"Tavrin_ACT_SERVICELOG_";
constexpr const wchar_t* kServiceLogCurrentFile = L"Tavrin_ACT_SERVICELOG_tmp.txt";
// Archives beyond this many matching entries get the oldest one deleted.
constexpr size_t kServiceLogEntryLimit = 50;
// Every module of the service writes its short name as the record's source; ours is "PL".
constexpr const wchar_t* kServiceLogSource = L"PL";

// The exported functions as the records name them; GetLatestComponentList is recorded under its historic name.
constexpr const wchar_t* kLogNameLaunchCheck = L"LaunchCheck";
constexpr const wchar_t* kLogNameIsSupportQuelmar = L"IsSupportQuelmar";
constexpr const wchar_t* kLogNameUpdateComponents = L"UpdateComponents";
constexpr const wchar_t* kLogNameGetInstalledComponentList = L"GetInstalledComponentList";
constexpr const wchar_t* kLogNameGetLatestComponentList = L"GetLastComponentList";
constexpr const wchar_t* kLogNameSupportComponentsManagement = L"SupportComponentsManagement";
