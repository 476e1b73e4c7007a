#pragma once
// Threads that keep the module that started them loaded until they end, so that a call can
// return (and the host unload the module) while its worker still waits for something.

#include "sys/Handle.h"

// Starts procedure(argument) on a new thread that holds a reference on the module containing
// procedure and drops it as the thread exits. Returns the thread's handle; empty when no thread
// was started (then no reference is held and argument is untouched).
CQMKernelHandle StartModuleThread(unsigned(__stdcall* procedure)(void*), void* argument);
