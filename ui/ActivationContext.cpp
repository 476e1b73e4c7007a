#include "ui/ActivationContext.h"

CQMActivationScope::CQMActivationScope(HMODULE module)
{
    ACTCTXW context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.hModule = module;
    context.lpResourceName = MAKEINTRESOURCEW(2);
    m_hContext = ::CreateActCtxW(&context);
    if (m_hContext == INVALID_HANDLE_VALUE)
        return;
    if (!::ActivateActCtx(m_hContext, &m_nCookie))
        m_nCookie = 0;
}

CQMActivationScope::~CQMActivationScope()
{
    if (m_nCookie != 0)
        ::DeactivateActCtx(0, m_nCookie);
    if (m_hContext != INVALID_HANDLE_VALUE)
        ::ReleaseActCtx(m_hContext);
}
