#pragma once

#include "api/QMCallContext.h"

// Creates the busy mutex owned by the calling thread and keeps it in the context, with a second
// handle for the worker (m_pBusyHold). False when it could not be created or already existed:
// then another call runs (or is starting at this very moment) and this one takes the busy path
// without holding the mutex.
bool TakeBusyMutex(QMCallContext& context);
