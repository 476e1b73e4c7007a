#pragma once
/* qmhost doctor: what a support engineer runs first where updates fail. Checks the updater's
   registration and version, the work and log folders and the named mutexes with the module's
   own lookups and names, prints a verdict per check and the last service log records. */

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when every check is ok, 1 when any reports a problem. */
int RunDoctor(void);

#ifdef __cplusplus
}
#endif
