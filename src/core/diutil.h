/* Text conversion and string utilities (portable).
 *
 * Text is UTF-16 (DiChar) inside the client; UTF-8 and Latin-1 appear only at
 * the edges. Converters take a source range as an in/out start pointer
 * (advanced past what was consumed) and an end pointer (none: up to the
 * terminating NUL, which is not converted), and a target as a pointer and an
 * end. They return the bytes produced, or one of the DI_CONV_ codes. They
 * never write a terminating NUL themselves. */
#ifndef HV_DIUTIL_H
#define HV_DIUTIL_H

#include <initializer_list>

#include "di.h"

enum {
    DI_CONV_TARGET_FULL = -1,  /* the target ran out of room */
    DI_CONV_SOURCE_SHORT = -2, /* the source ends inside a sequence */
    DI_CONV_ILLEGAL = -3       /* the source holds an illegal sequence */
};

enum { DI_CONV_STRICT = 0, DI_CONV_LENIENT = 1 };

/* Core converters; mode DI_CONV_STRICT or DI_CONV_LENIENT. On a failure the
 * pointers stay after the last character converted completely. */
int diUtf16ToUtf8(const DiChar** source, const DiChar* sourceEnd, char** target, char* targetEnd,
                  int mode);
int diUtf8ToUtf16(const char** source, const char* sourceEnd, DiChar** target, DiChar* targetEnd,
                  int mode);

/* Lenient wrappers: the target is a plain pointer and end. */
int diTextToUtf8(char* target, char* targetEnd, const DiChar** source, const DiChar* sourceEnd);
int diTextFromUtf8(DiChar* target, DiChar* targetEnd, const char** source, const char* sourceEnd);

/* Legality of one sequence of length 1 to 4. */
bool diUtf8IsLegal(const unsigned char* bytes, int length);

/* Latin-1: units above 0xFF have no Latin-1 form and become '?'. Both stop
 * when the target is full. ToLatin1 returns the characters converted,
 * FromLatin1 the bytes written (two per character). */
int diTextToLatin1(char** target, char* targetEnd, const DiChar** source, const DiChar* sourceEnd);
int diTextFromLatin1(DiChar** target, DiChar* targetEnd, const char** source,
                     const char* sourceEnd);

/* Allocating forms over exactly n source units or bytes. The result is
 * zero-filled, NUL-terminated and freed by the caller with free(); none when
 * n is too large to size or memory runs out. Sizes in bytes: FromLatin1
 * 2n + 2, ToUtf8 3n + 3, FromUtf8 2n + 2. */
DiChar* diTextFromLatin1Dup(const char* bytes, size_t n);
char* diTextToUtf8Dup(const DiChar* text, size_t n);
/* Each byte that starts an illegal or cut-off sequence becomes one U+FFFD
 * where it stands, and the conversion goes on after it. `units`, when given,
 * receives the length of the text, NULs inside it counted (the zero fill
 * after it is not). */
DiChar* diTextFromUtf8Dup(const char* bytes, size_t n, size_t* units = nullptr);

/* Lower-cases A-Z in place (no other letters), up to n units or the NUL. */
void diStrLowerAscii(DiChar* text, size_t n);
/* Remove leading, respectively trailing, blanks, tabs, line feeds and
 * carriage returns in place. */
void diStrTrimLeft(DiChar* text);
void diStrTrimRight(DiChar* text);

/* True when Windows would open a device for a file of that name (n units,
 * one path component), whatever folder it is in: the stem up to the first
 * dot, less trailing spaces, is CON, PRN, AUX, NUL, CONIN$, CONOUT$, CLOCK$,
 * or COM or LPT with one digit or superscript 1-3, in any case. The one check
 * for every name from outside that becomes a file name. */
bool diIsDeviceName(const DiChar* name, size_t n);

/* Whole text against whole pattern: '*' any run, '?' any one unit, escape (0:
 * none) makes the next pattern unit literal. Work is bounded by
 * length(text) x length(pattern). */
bool diWildcardMatch(const DiChar* text, const DiChar* pattern, DiChar escape);
bool diWildcardMatchNoCase(const DiChar* text, const DiChar* pattern, DiChar escape);
/* True when an item of the separated list matches text case-insensitively;
 * items are trimmed of white space, empty items and items of 512 units or
 * more are ignored. A list of none matches nothing. */
bool diWildcardMatchList(const DiChar* text, const DiChar* list, DiChar separator, DiChar escape);

/* Splits a command line by the C runtime's argument rules. argv (argc
 * entries, the last a null) and chars (charCount units) may be none to count
 * only; argc counts the program name and the closing null entry, charCount
 * includes each argument's NUL. */
void diSplitCommandLine(const DiChar* commandLine, DiChar** argv, DiChar* chars, size_t* argc,
                        size_t* charCount);

/* One formatter argument: a 32-bit word (integer or character) or a text. */
struct DiFmtArg {
    enum Kind { Word, Text };
    Kind kind;
    uint32_t word;
    const DiChar* text;

    DiFmtArg(int v) : kind(Word), word(static_cast<uint32_t>(v)), text(nullptr) {}
    DiFmtArg(unsigned v) : kind(Word), word(v), text(nullptr) {}
    DiFmtArg(long v) : kind(Word), word(static_cast<uint32_t>(v)), text(nullptr) {}
    DiFmtArg(unsigned long v) : kind(Word), word(static_cast<uint32_t>(v)), text(nullptr) {}
    DiFmtArg(DiChar c) : kind(Word), word(c), text(nullptr) {}
    DiFmtArg(const DiChar* s) : kind(Text), word(0), text(s) {}
};

/* printf-style formatting into out (size units) with "%N$" markers (N 1-9):
 * marker N takes argument N. Conversions: %s (text), %c, %d, %i, %u, %x, %X,
 * %%, with the flags - 0 + space #, a width and a precision; the length
 * letters h, l are accepted and ignored. A missing argument formats as 0 or
 * "(null)"; a NUL character (%c of 0) as nothing. The output is always NUL-terminated when size > 0
 * and never longer than size units. Returns the units written without the NUL, or -1 when the
 * output did not fit. */
int diFormatPositional(DiChar* out, size_t size, const DiChar* format, const DiFmtArg* args,
                       size_t count);
inline int diFormatPositional(DiChar* out, size_t size, const DiChar* format,
                              std::initializer_list<DiFmtArg> args) {
    return diFormatPositional(out, size, format, args.begin(), args.size());
}

#endif
