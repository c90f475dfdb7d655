/* Helpers shared by the XML library tests. */
#ifndef HV_TESTS_XMLTEST_H
#define HV_TESTS_XMLTEST_H

#include "xml/qvlpackable.h"
#include "xml/qvlxml.h"
#include "xml/qvlxmlparser.h"

#include <stdlib.h>
#include <memory>
#include <string>

/* Bytes written to a pack buffer. */
inline std::string Bytes(const CQVLPackBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

/* The little-endian bytes of a UTF-16 text. */
inline std::string Le16(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

/* Packs an object with the given settings. */
inline std::string Packed(IQVLPackable* o, int encoding, int mode) {
    CQVLPackBuffer b(encoding, mode);
    o->Pack(&b);
    return Bytes(b);
}

/* Takes over a malloc'd text. */
inline std::u16string Adopt(DiChar* t) {
    std::u16string s = t ? std::u16string(t) : std::u16string();
    free(t);
    return s;
}

inline std::u16string U16(const DiChar* t) {
    return t ? std::u16string(t) : std::u16string();
}

struct Parsed {
    std::unique_ptr<CQVLXMLDoc> doc;
    std::u16string error;
};

inline Parsed ParseXml(const std::string& text) {
    CQVLParser p(text.data(), text.size());
    Parsed r;
    r.doc.reset(CQVLXMLParser::ParseDocument(&p));
    r.error = p.error;
    return r;
}

/* The tree written back in markup mode as UTF-8. */
inline std::string Markup(IQVLPackable* o) {
    return Packed(o, QVL_ENC_UTF8, QVL_MODE_MARKUP);
}

#endif
