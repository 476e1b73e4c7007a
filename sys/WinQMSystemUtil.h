#pragma once

#include "sys/QMSystemUtil.h"

class CWinQMSystemUtil : public CQMSystemUtil
{
public:
    bool IsSessionUserAdmin() override;
    std::wstring GetCurrentUserName() override;
};
