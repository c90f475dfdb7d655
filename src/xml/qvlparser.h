/* The parse input: a byte range with a cursor and the first error message.
 * Recognisers advance the cursor only when they match; none reads at or
 * past `end`, and none matches a NUL byte. */
#ifndef HV_QVLPARSER_H
#define HV_QVLPARSER_H

#include "di.h"

#include <string.h>

/* Texts the tree builder shares between the nodes it makes from one input
 * (qvlxmlparser.cpp); freed with the parser. */
struct CQVLTextCache;
void qvlTextCacheFree(CQVLTextCache* cache);

class CQVLParser {
  public:
    const uint8_t* begin;
    const uint8_t* cursor;
    const uint8_t* end;
    DiChar error[8192];
    /* Current nesting of elements and content groups (bounded). */
    uint32_t depth;
    /* Made on first use; it refers to the input, so Reset drops it. */
    CQVLTextCache* texts;

    static const uint32_t kMaxDepth = 256;

    CQVLParser() : begin(nullptr), cursor(nullptr), end(nullptr), depth(0), texts(nullptr) {
        error[0] = 0;
    }
    /* Over n bytes (a NUL inside stops every "any byte" rule). */
    CQVLParser(const void* bytes, size_t n) : texts(nullptr) { Reset(bytes, n); }
    ~CQVLParser() { qvlTextCacheFree(texts); }
    CQVLParser(const CQVLParser&) = delete;
    CQVLParser& operator=(const CQVLParser&) = delete;
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
    bool AcceptHexDigit();
    bool AcceptSpace() {
        int c = Current();
        return AcceptIf(c == ' ' || c == '\t' || c == '\n' || c == '\r');
    }
    bool AcceptSpaces() { /* S? : any number, true always */
        while (AcceptSpace()) {
        }
        return true;
    }
    bool AcceptNameChar();
    bool AcceptChar(uint8_t c) { return AcceptIf(c && Current() == c); }
    bool AcceptCharExcept(uint8_t c) {
        int cur = Current();
        return AcceptIf(cur > 0 && cur != c);
    }
    bool AcceptCharIn(const char* set);
    bool AcceptCharNotIn(const char* set);
    bool AcceptString(const char* s, size_t n) {
        if (static_cast<size_t>(end - cursor) < n || memcmp(cursor, s, n) != 0) return false;
        cursor += n;
        return true;
    }
    bool AcceptString(const char* s) { return AcceptString(s, strlen(s)); }
    bool AcceptUnless(const char* s, size_t n);

    /* As many AcceptCharExcept(c) as match, in one pass. */
    void AcceptRunExcept(uint8_t c) {
        const uint8_t* p = cursor;
        while (p < end && *p && *p != c)
            p++;
        cursor = p;
    }
    /* As many AcceptNameChar() as match, in one pass; like them it records
     * "Read past end of buffer!" when the input ends inside the run. */
    void AcceptNameChars() {
        const uint8_t* p = cursor;
        for (;; p++) {
            if (p >= end) {
                cursor = p;
                SetError("Read past end of buffer!");
                return;
            }
            uint8_t c = *p;
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-' || c == '_' || c == ':'))
                break;
        }
        cursor = p;
    }

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
