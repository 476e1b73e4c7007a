#pragma once
/* qmhost log: the service log's records grouped by call (entry to end, with the duration and, for
   a failure, its reason), archives in order and then the current file, so that a support
   engineer sees the last calls at a glance. */

#ifdef __cplusplus
extern "C" {
#endif

/* 0 when the log could be read (also when it holds no records), 1 otherwise. */
int RunLogView(void);

#ifdef __cplusplus
}
#endif
