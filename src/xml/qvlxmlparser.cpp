#include "xml/qvlxmlparser.h"
#include "xml/qvlxmlglobals.h"

#include <stdlib.h>

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

DiChar* CQVLXMLParser::Name(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptLetter() && !p->AcceptChar('_') && !p->AcceptChar(':')) return nullptr;
    while (p->AcceptNameChar()) {
    }
    DiChar* name = p->Substring(start, p->cursor);
    if (!name) p->cursor = start;
    return name;
}

DiChar* CQVLXMLParser::AttValue(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    uint8_t q = '"';
    if (!p->AcceptChar('"')) {
        if (!p->AcceptChar('\'')) return nullptr;
        q = '\'';
    }
    const uint8_t* from = p->cursor;
    while (p->AcceptCharExcept(q)) {
    }
    DiChar* value = p->Substring(from, p->cursor);
    p->AcceptChar(q);
    if (!value) p->cursor = start;
    return value;
}

CQVLXMLAttribute* CQVLXMLParser::Attribute(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    DiChar* name = Name(p);
    if (!name) return nullptr;
    p->AcceptSpaces();
    DiChar* value = nullptr;
    if (p->AcceptChar('=')) {
        p->AcceptSpaces();
        value = AttValue(p);
    }
    if (!value) {
        free(name);
        p->cursor = start;
        return nullptr;
    }
    CQVLXMLString* n = CQVLXMLString::Create(name);
    CQVLXMLString* v = CQVLXMLString::Create(value);
    CQVLXMLAttribute* a = nullptr;
    if (n && v && n->rep && v->rep) a = new (std::nothrow) CQVLXMLAttribute(n, v);
    delete n;
    delete v;
    if (!a || !a->name || !a->value || !a->name->rep || !a->value->rep) {
        delete a;
        p->cursor = start;
        return nullptr;
    }
    return a;
}

CQVLXMLTag* CQVLXMLParser::Element(CQVLParser* p) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptChar('<')) return nullptr;
    DiChar* rawName = Name(p);
    if (!rawName) {
        p->cursor = start;
        return nullptr;
    }
    CQVLDepthGuard guard(p);
    CQVLXMLString* name = CQVLXMLString::Create(rawName);
    CQVLXMLAttributeList* attrs = new (std::nothrow) CQVLXMLAttributeList;
    CQVLXMLTag* tag = nullptr;
    if (!guard.ok() || !name || !name->rep || !attrs) goto fail;
    for (;;) {
        if (CQVLXMLAttribute* a = Attribute(p)) {
            attrs->Append(a, true);
        } else if (p->AcceptString("/>")) {
            tag = new (std::nothrow) CQVLXMLEmptyTag(name);
            break;
        } else if (p->AcceptChar('>')) {
            CQVLXMLContentTag* ct = new (std::nothrow) CQVLXMLContentTag(name);
            tag = ct;
            if (!ct) break;
            name = nullptr; /* owned by the tag from here on */
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
    if (!tag || !tag->attributes) goto fail;
    delete tag->attributes;
    tag->attributes = attrs;
    return tag;

fail:
    if (tag)
        delete tag; /* owns the name */
    else
        delete name;
    delete attrs;
    p->cursor = start;
    return nullptr;
}

bool CQVLXMLParser::EndTag(CQVLParser* p, const CQVLXMLString* startName) {
    const uint8_t* start = p->cursor;
    if (!p->AcceptString("</")) return false;
    DiChar* name = Name(p);
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
    while (p->AcceptCharExcept('<')) {
    }
    if (p->cursor == start) return nullptr;
    return CQVLXMLString::Create(p->Substring(start, p->cursor));
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
