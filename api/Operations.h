#pragma once
// Bodies of the exported operations, run inside the call frame.

#include "api/QMCallContext.h"

#include <string>

bool RunLaunchCheck(QMCallContext& context, int& state);
bool RunIsSupportQuelmar(QMCallContext& context);
int RunUpdateComponents(QMCallContext& context, const std::wstring& componentType);
int RunGetInstalledComponentList(QMCallContext& context, const std::wstring& listPath,
                                 const std::wstring& componentType);
int RunGetLatestComponentList(QMCallContext& context, const std::wstring& listPath,
                              const std::wstring& componentType, const std::wstring& version);
int RunSupportComponentsManagement(QMCallContext& context);
