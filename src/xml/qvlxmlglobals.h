/* Shared helpers of the XML and SOAP library: heap UTF-16 texts, the
 * character conversions the writer and the parser need, and the entity
 * table. Portable: no Windows headers. */
#ifndef HV_QVLXMLGLOBALS_H
#define HV_QVLXMLGLOBALS_H

#include "di.h"

/* Length in units of a NUL-terminated UTF-16 text; 0 for null. */
size_t qvlStrLen(const DiChar* s);
/* New heap copy (malloc) of a text; null for null or out of memory. */
DiChar* qvlStrDup(const DiChar* s);
/* New heap UTF-16 copy of an ASCII text. */
DiChar* qvlStrDupAscii(const char* s);
/* Exact comparison; two nulls are equal, a null and a text are not. */
bool qvlStrEq(const DiChar* a, const DiChar* b);
/* Exact comparison against an ASCII text. */
bool qvlStrEqAscii(const DiChar* a, const char* b);
/* Sign of the difference of the first differing units (like wcscmp). */
int qvlStrCmp(const DiChar* a, const DiChar* b);
/* Leading decimal integer: optional white space and sign, then digits,
 * saturated to the 32-bit range; 0 when there are no digits or no text. */
int32_t qvlStrToInt(const DiChar* s);

/* Converts one UTF-16 unit to the system's ANSI code page into at most 4
 * bytes; returns the byte count (0 when nothing could be converted). The
 * portable default maps U+0000-U+00FF to one byte and everything else to
 * '?'; the Windows layer installs the code-page conversion. */
typedef int (*QVLAnsiConverter)(DiChar c, uint8_t out[4]);
void qvlSetAnsiConverter(QVLAnsiConverter fn);
int qvlToAnsi(DiChar c, uint8_t out[4]);

/* UTF-8 to UTF-16 of n bytes into a new heap text. Invalid sequences become
 * U+FFFD; code points above U+FFFF become surrogate pairs. Null only when
 * out of memory. */
DiChar* qvlUtf8ToUtf16Dup(const uint8_t* bytes, size_t n);

/* Code of an entity name of the lenient entity table (case-sensitive), or
 * 0 when the name is not in it. */
int qvlEntityCode(const DiChar* name, size_t n);

#endif
