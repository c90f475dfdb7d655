/* The parse input: a byte range with a cursor and the first error message.
 * Recognisers advance the cursor only when they match; none reads at or
 * past `end`, and none matches a NUL byte. */
#ifndef HV_QVLPARSER_H
#define HV_QVLPARSER_H

#include "di.h"

class CQVLParser {
  public:
    const uint8_t* begin;
    const uint8_t* cursor;
    const uint8_t* end;
    DiChar error[8192];
    /* Current nesting of elements and content groups (bounded). */
    uint32_t depth;

    static const uint32_t kMaxDepth = 256;

    CQVLParser() : begin(nullptr), cursor(nullptr), end(nullptr), depth(0) { error[0] = 0; }
    /* Over n bytes (a NUL inside stops every "any byte" rule). */
    CQVLParser(const void* bytes, size_t n) { Reset(bytes, n); }
    void Reset(const void* bytes, size_t n);

    bool HasError() const { return error[0] != 0; }
    /* Records the message when none is recorded yet: each "%s" of the
     * format takes the next text argument (null reads as empty). */
    void SetError(const char* format, const DiChar* a1 = nullptr, const DiChar* a2 = nullptr);
    /* New heap text of the bytes [from, to) decoded from UTF-8 with the
     * character and entity references replaced. Null when out of memory. */
    DiChar* Substring(const uint8_t* from, const uint8_t* to);

    bool AtEnd() const { return cursor >= end; }
    /* The current byte; at the end of input records "Read past end of
     * buffer!" and fails. */
    bool PeekChar(uint8_t* c);
    bool AcceptLetter();
    bool AcceptDigit();
    bool AcceptDecimalDigit();
    bool AcceptHexDigit();
    bool AcceptSpace();
    bool AcceptSpaces(); /* S? : any number, true always */
    bool AcceptNameChar();
    bool AcceptChar(uint8_t c);
    bool AcceptCharExcept(uint8_t c);
    bool AcceptCharIn(const char* set);
    bool AcceptCharNotIn(const char* set);
    bool AcceptString(const char* s, size_t n);
    bool AcceptString(const char* s);
    bool AcceptUnless(const char* s, size_t n);
    bool AcceptEOL();
    bool AcceptNotEOL();

  private:
    bool AcceptIf(bool ok) {
        if (ok) cursor++;
        return ok;
    }
    int Current() const { return cursor < end && *cursor ? *cursor : -1; }
};

/* Counts one level of nesting (elements, content groups) for the life of a
 * rule; past the limit the rule must fail, as deep input would otherwise
 * exhaust the stack. */
class CQVLDepthGuard {
  public:
    explicit CQVLDepthGuard(CQVLParser* p) : p_(p) {
        ok_ = ++p_->depth <= CQVLParser::kMaxDepth;
        if (!ok_) p_->SetError("Elements nested too deeply");
    }
    ~CQVLDepthGuard() { p_->depth--; }
    CQVLDepthGuard(const CQVLDepthGuard&) = delete;
    CQVLDepthGuard& operator=(const CQVLDepthGuard&) = delete;
    bool ok() const { return ok_; }

  private:
    CQVLParser* p_;
    bool ok_;
};

/* Replaces the character and entity references of a text in place. */
void qvlDecodeReferences(DiChar* text);

#endif
