#pragma once
/* qmhost doctor: what a support engineer runs first where updates fail. Checks the updater's
   registration and version, the work and log folders and the named mutexes with the module's
   own lookups and names, prints a verdict per check and the last service log records. */

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when every check is ok, 1 when any reports a problem. */
int RunDoctor(void);

/* qmhost doctor --list <path> [<componentType>]: takes an action list through the steps
   UpdateComponents takes before it starts the updater, on a copy beside it, and says whether the
   call would accept it, what it would do with it, and why not. 0 exactly when the call would not
   answer 100 for it; the list itself is only read. */
int RunListCheck(const wchar_t* path, const wchar_t* componentType);

#ifdef __cplusplus
}
#endif
