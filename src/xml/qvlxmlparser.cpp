#include "xml/qvlxmlparser.h"
#include "xml/qvlxmlglobals.h"

#include <stdlib.h>
#include <string.h>

/* ---- shared texts ----
 * A document repeats the same short texts over and over (element and
 * attribute names, type names, small values). Strings made from equal bytes
 * of one input share one reference-counted text, which saves an allocation
 * and a copy for each repetition. A direct-mapped table keyed by the input
 * bytes remembers the latest text of each slot and holds a reference to
 * it. Texts with a reference ('&') are decoded and never shared, so equal
 * bytes always give equal texts. */

struct CQVLTextCache {
    struct Slot {
        const uint8_t* bytes; /* inside the parser's input */
        size_t length;
        CQVLXMLStringRep* rep;
    };
    static const size_t kSlots = 1024;
    static const size_t kLongest = 48;
    Slot slots[kSlots];
};

void qvlTextCacheFree(CQVLTextCache* cache) {
    if (!cache) return;
    for (CQVLTextCache::Slot& s : cache->slots)
        CQVLXMLString::Release(s.rep);
    free(cache);
}

/* The slot for the bytes [from, from + n), or none when such bytes are not
 * shared. */
static CQVLTextCache::Slot* textSlot(CQVLParser* p, const uint8_t* from, size_t n) {
    if (n == 0 || n > CQVLTextCache::kLongest || memchr(from, '&', n)) return nullptr;
    if (!p->texts) {
        p->texts = static_cast<CQVLTextCache*>(calloc(1, sizeof(CQVLTextCache)));
        if (!p->texts) return nullptr;
    }
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < n; i++)
        h = (h ^ from[i]) * 16777619u;
    return &p->texts->slots[(h ^ (h >> 15)) & (CQVLTextCache::kSlots - 1)];
}

static bool slotHolds(const CQVLTextCache::Slot* s, const uint8_t* from, size_t n) {
    return s && s->rep && s->length == n && memcmp(s->bytes, from, n) == 0;
}

/* A string of the bytes [from, to) decoded as Substring does; null only when
 * out of memory. */
static CQVLXMLString* sharedString(CQVLParser* p, const uint8_t* from, const uint8_t* to) {
    size_t n = static_cast<size_t>(to - from);
    CQVLTextCache::Slot* slot = textSlot(p, from, n);
    if (slotHolds(slot, from, n))
        return new (std::nothrow) CQVLXMLString(CQVLXMLString::kShare, slot->rep);
    DiChar* text = p->Substring(from, to);
    if (!text) return nullptr;
    CQVLXMLString* s = CQVLXMLString::Create(text);
    if (slot && s && s->rep) {
        CQVLXMLString::Release(slot->rep);
        slot->bytes = from;
        slot->length = n;
        slot->rep = s->rep;
        slot->rep->count++;
    }
    return s;
}

CQVLXMLDoc* CQVLXMLParser::ParseDocument(CQVLParser* p) {
    CQVLXMLDecl* decl = nullptr;
    Prolog(p, &decl);
    CQVLXMLTag* root = Element(p);
    if (!root) {
        delete decl;
        p->SetError("Missing element tag");
        return nullptr;
    }
    while (Misc(p)) {
    }
    CQVLXMLDoc* doc = new (std::nothrow) CQVLXMLDoc(decl, root);
    if (!doc) {
        delete decl;
        delete root;
    }
    return doc;
}

bool CQVLXMLParser::Prolog(CQVLParser* p, CQVLXMLDecl** decl) {
    *decl = XMLDecl(p);
    while (Misc(p)) {
    }
    if (DoctypeDecl(p))
        while (Misc(p)) {
        }
    return true;
}

/* One of the declaration's attributes, accepted only under its exact name. */
static CQVLXMLAttribute* declAttribute(CQVLParser* p, const char* name) {
    const uint8_t* save = p->cursor;
    CQVLXMLAttribute* a = CQVLXMLParser::Attribute(p);
    if (a && a->name && a->name->Equals(name)) return a;
    delete a;
    p->cursor = save;
    return nullptr;
}

CQVLXMLDecl* CQVLXMLParser::XMLDecl(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptString("<?xml")) return nullptr;
    CQVLXMLAttributeList* attrs = new (std::nothrow) CQVLXMLAttributeList;
    if (!attrs) {
        p->cursor = start;
        return nullptr;
    }
    static const char* const kNames[3] = {"version", "encoding", "standalone"};
    bool ok = true;
    for (const char* name : kNames) {
        p->AcceptSpaces();
        CQVLXMLAttribute* a = declAttribute(p, name);
        if (!a) continue;
        if (name == kNames[2] && !a->value->Equals("yes") && !a->value->Equals("no")) {
            p->SetError("Value of standalone cannot be %s", a->value->Text());
            delete a;
            ok = false;
            break;
        }
        attrs->Append(a, true);
    }
    p->AcceptSpaces();
    if (ok && !p->AcceptString("?>")) {
        p->SetError("Expected ?> at end of XML declaration tag");
        ok = false;
    }
    if (!ok) {
        /* No declaration; what follows "<?" is read again as a processing
         * instruction. */
        delete attrs;
        p->cursor = start;
        return nullptr;
    }
    CQVLXMLDecl* decl = new (std::nothrow) CQVLXMLDecl(attrs);
    if (!decl) delete attrs;
    return decl;
}

bool CQVLXMLParser::Misc(CQVLParser* p) {
    if (p->AtEnd()) return false;
    if (Comment(p) || PI(p)) return true;
    if (!p->AcceptSpace()) return false;
    p->AcceptSpaces();
    return true;
}

bool CQVLXMLParser::Comment(CQVLParser* p) {
    if (!p->AcceptString("<!--")) return false;
    while (p->AcceptUnless("-->", 3)) {
    }
    p->AcceptString("-->");
    return true;
}

bool CQVLXMLParser::PI(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptString("<?")) return false;
    DiChar* target = Name(p);
    if (!target) {
        p->SetError("Expected target for processing instruction");
        p->cursor = start;
        return false;
    }
    free(target);
    p->AcceptSpaces();
    while (p->AcceptUnless("?>", 2)) {
    }
    if (!p->AcceptString("?>")) {
        p->cursor = start;
        return false;
    }
    return true;
}

bool CQVLXMLParser::ScanName(CQVLParser* p) {
    if (!p->AcceptLetter() && !p->AcceptChar('_') && !p->AcceptChar(':')) return false;
    p->AcceptNameChars();
    return true;
}

DiChar* CQVLXMLParser::Name(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!ScanName(p)) return nullptr;
    DiChar* name = p->Substring(start, p->cursor);
    if (!name) p->cursor = start;
    return name;
}

CQVLXMLString* CQVLXMLParser::NameString(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!ScanName(p)) return nullptr;
    CQVLXMLString* name = sharedString(p, start, p->cursor);
    if (!name || !name->rep) {
        delete name;
        name = nullptr;
        p->cursor = start;
    }
    return name;
}

CQVLXMLString* CQVLXMLParser::AttValueString(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    uint8_t q = '"';
    if (!p->AcceptChar('"')) {
        if (!p->AcceptChar('\'')) return nullptr;
        q = '\'';
    }
    const uint8_t* from = p->cursor;
    p->AcceptRunExcept(q);
    CQVLXMLString* value = sharedString(p, from, p->cursor);
    if (value && !value->rep) {
        delete value;
        value = nullptr;
    }
    p->AcceptChar(q);
    if (!value) p->cursor = start;
    return value;
}

DiChar* CQVLXMLParser::AttValue(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    uint8_t q = '"';
    if (!p->AcceptChar('"')) {
        if (!p->AcceptChar('\'')) return nullptr;
        q = '\'';
    }
    const uint8_t* from = p->cursor;
    p->AcceptRunExcept(q);
    DiChar* value = p->Substring(from, p->cursor);
    p->AcceptChar(q);
    if (!value) p->cursor = start;
    return value;
}

CQVLXMLAttribute* CQVLXMLParser::Attribute(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    CQVLXMLString* n = NameString(p);
    if (!n) return nullptr;
    p->AcceptSpaces();
    CQVLXMLString* v = nullptr;
    if (p->AcceptChar('=')) {
        p->AcceptSpaces();
        v = AttValueString(p);
    }
    CQVLXMLAttribute* a =
        v ? new (std::nothrow) CQVLXMLAttribute(CQVLXMLAttribute::kAdopt, n, v) : nullptr;
    if (!a) {
        delete n;
        delete v;
        p->cursor = start;
        return nullptr;
    }
    return a;
}

CQVLXMLTag* CQVLXMLParser::Element(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptChar('<')) return nullptr;
    CQVLXMLString* name = NameString(p);
    if (!name) {
        p->cursor = start;
        return nullptr;
    }
    CQVLDepthGuard guard(p);
    CQVLXMLAttributeList* attrs = new (std::nothrow) CQVLXMLAttributeList;
    CQVLXMLTag* tag = nullptr;
    if (!guard.ok() || !name || !name->rep || !attrs) goto fail;
    for (;;) {
        if (CQVLXMLAttribute* a = Attribute(p)) {
            attrs->Append(a, true);
        } else if (p->AcceptString("/>")) {
            tag = new (std::nothrow) CQVLXMLEmptyTag(name, attrs);
            if (tag) name = nullptr, attrs = nullptr; /* owned by the tag */
            break;
        } else if (p->AcceptChar('>')) {
            CQVLXMLContentTag* ct = new (std::nothrow) CQVLXMLContentTag(name, attrs);
            tag = ct;
            if (!ct) break;
            name = nullptr; /* owned by the tag from here on */
            attrs = nullptr;
            if (!ct->children || !Content(p, ct) || !EndTag(p, ct->name)) {
                p->SetError("Missing end tag for %s\n", ct->name->Text());
                goto fail;
            }
            break;
        } else if (p->AcceptSpace()) {
            p->AcceptSpaces();
        } else {
            p->SetError("Illegal tag syntax for <%s>", name->Text());
            goto fail;
        }
    }
    if (!tag) goto fail;
    return tag;

fail:
    delete tag; /* owns the name and the attributes */
    delete name;
    delete attrs;
    p->cursor = start;
    return nullptr;
}

bool CQVLXMLParser::EndTag(CQVLParser* p, const CQVLXMLString* startName) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptString("</")) return false;
    const uint8_t* nameFrom = p->cursor;
    if (!ScanName(p)) {
        p->cursor = start;
        return false;
    }
    /* The usual case: the start tag's name came from the same bytes. */
    size_t n = static_cast<size_t>(p->cursor - nameFrom);
    CQVLTextCache::Slot* slot = textSlot(p, nameFrom, n);
    if (startName && startName->rep && slotHolds(slot, nameFrom, n) && slot->rep == startName->rep) {
        p->AcceptSpaces();
        if (!p->AcceptChar('>')) {
            p->SetError("Missing > at end of tag");
            return false;
        }
        return true;
    }
    DiChar* name = p->Substring(nameFrom, p->cursor);
    if (!name) {
        p->cursor = start;
        return false;
    }
    bool same = startName && startName->Equals(name);
    if (!same)
        p->SetError("End tag <%s> doesn't match start tag <%s>", name,
                    startName ? startName->Text() : nullptr);
    free(name);
    if (!same) return false;
    p->AcceptSpaces();
    if (!p->AcceptChar('>')) {
        p->SetError("Missing > at end of tag");
        return false;
    }
    return true;
}

CQVLXMLString* CQVLXMLParser::CharData(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    p->AcceptRunExcept('<');
    if (p->cursor == start) return nullptr;
    CQVLXMLString* s = sharedString(p, start, p->cursor);
    return s ? s : CQVLXMLString::Create(nullptr); /* out of memory: an empty text */
}

CQVLXMLCDSect* CQVLXMLParser::CDSect(CQVLParser* p) {
    if (!p->AcceptString("<![CDATA[")) return nullptr;
    const uint8_t* from = p->cursor;
    while (p->AcceptUnless("]]>", 3)) {
    }
    CQVLXMLString* text = CQVLXMLString::Create(p->Substring(from, p->cursor));
    p->AcceptString("]]>");
    CQVLXMLCDSect* sect = text ? new (std::nothrow) CQVLXMLCDSect(text) : nullptr;
    if (!sect) delete text;
    return sect;
}

bool CQVLXMLParser::Content(CQVLParser* p, CQVLXMLContentTag* parent) {
    parent->AddChild(CharData(p), true);
    for (;;) {
        CQVLXMLElement* node = Element(p);
        if (!node) node = CDSect(p);
        if (!node && !PI(p) && !Comment(p)) break;
        /* Comments and processing instructions leave nothing. */
        if (node) parent->AddChild(node, true);
        parent->AddChild(CharData(p), true);
    }
    return true;
}

CQVLXMLElement* CQVLXMLParser::Reference(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (p->AcceptString("&#")) {
        const uint8_t* from = p->cursor;
        if (p->AcceptChar('x')) {
            while (p->AcceptHexDigit()) {
            }
        } else if (p->AcceptDigit()) {
            while (p->AcceptDigit()) {
            }
        } else {
            p->SetError("Expected 'x' or digit to start CharRef");
            p->cursor = start;
            return nullptr;
        }
        const uint8_t* to = p->cursor;
        if (!p->AcceptChar(';')) {
            p->SetError("Missing semi-colon in CharRef");
            p->cursor = start;
            return nullptr;
        }
        DiChar* digits = p->Substring(from, to);
        CQVLXMLCharRef* ref = digits ? new (std::nothrow) CQVLXMLCharRef(digits) : nullptr;
        free(digits);
        if (!ref) p->cursor = start;
        return ref;
    }
    if (!p->AcceptChar('&')) return nullptr;
    DiChar* name = Name(p);
    if (!name) {
        p->SetError("Expected name in EntityRef");
        p->cursor = start;
        return nullptr;
    }
    if (!p->AcceptChar(';')) {
        p->SetError("Missing semi-colon in EntityRef %s", name);
        free(name);
        p->cursor = start;
        return nullptr;
    }
    CQVLXMLString* s = CQVLXMLString::Create(name);
    CQVLXMLEntityRef* ref = s ? new (std::nothrow) CQVLXMLEntityRef(s) : nullptr;
    if (!ref) {
        delete s;
        p->cursor = start;
    }
    return ref;
}
