/* Text conversion and string utilities (portable). */
#ifndef HV_DIUTIL_H
#define HV_DIUTIL_H

#include "di.h"

#include <initializer_list>

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

/* printf-style formatting into out (size units) with "%N$" markers (N 1-9).
 * Returns the units written without the NUL, or -1 when it did not fit. */
int diFormatPositional(DiChar* out, size_t size, const DiChar* format, const DiFmtArg* args,
                       size_t count);
inline int diFormatPositional(DiChar* out, size_t size, const DiChar* format,
                              std::initializer_list<DiFmtArg> args) {
    return diFormatPositional(out, size, format, args.begin(), args.size());
}

#endif
