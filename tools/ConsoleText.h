#pragma once
/* qmhost's output: a console shows UTF-16 as it is, and redirected output (support engineers
   attach it to a ticket) is UTF-8, so user names and paths outside the console's code page
   survive. Formats take %ls for wide strings and %hs for narrow ones. */

#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

void QMPrint(const wchar_t* format, ...);
void QMPrintError(const wchar_t* format, ...);
/* UTF-8 text as it stands in the service log, then a line end. */
void QMPrintUtf8Line(const char* indent, const char* text, size_t length);

#ifdef __cplusplus
}
#endif
