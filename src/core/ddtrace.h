/* The trace file: "KLV.TXT" in the temporary folder, created empty at
 * start-up, then appended to line by line. Every byte written is UTF-8. */
#ifndef HV_DDTRACE_H
#define HV_DDTRACE_H

#include "dd.h"
#include "core/diutil.h"

void ddTraceLogOpen(void);
void ddTraceLogClose(void);
/* Full path of the trace file; empty before ddTraceLogOpen. */
const wchar_t* ddTraceLogPath(void);
/* Message N formatted with the arguments ("%1$s" markers), then CR LF. */
void ddTraceLogPrintf(int message, std::initializer_list<DiFmtArg> args);
/* Appends the text as it is (converted to UTF-8). */
void ddTraceLogWrite(const DiChar* text);
/* Hands the file to the receiver in pieces of 63 bytes, each cut back to
 * whole characters (the Console Log window fills itself this way). */
void ddTraceLogShowTo(void (*sink)(const DiChar* text, void* ctx), void* ctx);

#endif
