#pragma once
// Bodies of the exported operations, run inside the call frame.

#include "api/QMCallContext.h"

#include <string>

bool RunLaunchCheck(QMCallContext& context, const std::wstring& appName, int& state);
bool RunIsSupportQuelmar(QMCallContext& context);
int RunUpdateComponents(QMCallContext& context, const std::wstring& appName, const std::wstring& actionListPath,
                        const std::wstring& componentType, QMProgressCallback progress);
// After the exit record of a component update: up to about 5 s for the updater's window to go.
void WaitForVestabelUI();
int RunGetInstalledComponentList(QMCallContext& context, const std::wstring& appName,
                                 const std::wstring& listPath, const std::wstring& componentType);
int RunGetLatestComponentList(QMCallContext& context, const std::wstring& listPath,
                              const std::wstring& componentType, const std::wstring& version);
int RunSupportComponentsManagement(QMCallContext& context);
