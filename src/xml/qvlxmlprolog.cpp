/* The document type declaration: its syntax is checked and nothing is kept
 * (no entity, default or content model is applied). Every rule puts the
 * cursor back where it started when it fails. */
#include "xml/qvlxmlparser.h"

#include <stdlib.h>

namespace {
/* Restores the cursor unless the rule succeeded. */
class Rewind {
  public:
    explicit Rewind(CQVLParser* p) : p_(p), start_(p->cursor) {}
    bool fail() {
        p_->cursor = start_;
        return false;
    }
    bool fail(const char* message) {
        p_->SetError(message);
        return fail();
    }

  private:
    CQVLParser* p_;
    const uint8_t* start_;
};

bool requireSpace(CQVLParser* p) {
    if (!p->AcceptSpace()) return false;
    p->AcceptSpaces();
    return true;
}

void acceptRepeat(CQVLParser* p) {
    p->AcceptCharIn("?*+");
}

/* The rest of a '|'-separated list after its first item: (S? '|' S? item)*.
 * White space not followed by '|' is left to the caller. Returns false when
 * an item is missing after a '|'. */
bool acceptBarItems(CQVLParser* p, bool (*item)(CQVLParser*)) {
    for (;;) {
        const uint8_t* save = p->cursor;
        p->AcceptSpaces();
        if (!p->AcceptChar('|')) {
            p->cursor = save;
            return true;
        }
        p->AcceptSpaces();
        if (!item(p)) return false;
    }
}

bool nameToken(CQVLParser* p) {
    if (!p->AcceptNameChar()) return false;
    while (p->AcceptNameChar()) {
    }
    return true;
}
} // namespace

bool CQVLXMLParser::SkipName(CQVLParser* p) {
    DiChar* n = Name(p);
    free(n);
    return n != nullptr;
}

bool CQVLXMLParser::SkipQuoted(CQVLParser* p) {
    DiChar* v = AttValue(p);
    free(v);
    return v != nullptr;
}

bool CQVLXMLParser::DoctypeDecl(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptString("<!DOCTYPE")) return false;
    if (!requireSpace(p) || !SkipName(p)) return r.fail();
    p->AcceptSpaces();
    if (p->AcceptChar('[')) {
        while (MarkupDecl(p) || DeclSep(p)) {
        }
        if (!p->AcceptChar(']')) {
            p->SetError("Missing ] in !DOCTYPE");
            return false;
        }
        p->AcceptSpaces();
    }
    p->AcceptSpaces();
    if (!p->AcceptChar('>')) {
        p->SetError("Missing terminating > in !DOCTYPE");
        return false;
    }
    return true;
}

bool CQVLXMLParser::DeclSep(CQVLParser* p) {
    if (requireSpace(p)) return true;
    Rewind r(p);
    if (!p->AcceptChar('%')) return false;
    if (!SkipName(p)) return r.fail("Expected name in PERef");
    if (!p->AcceptChar(';')) return r.fail("Missing semi-colon in PERef");
    return true;
}

bool CQVLXMLParser::MarkupDecl(CQVLParser* p) {
    return ElementDecl(p) || AttlistDecl(p) || EntityDecl(p) || NotationDecl(p) || PI(p) ||
           Comment(p);
}

bool CQVLXMLParser::ElementDecl(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptString("<!ELEMENT")) return false;
    if (!requireSpace(p)) return r.fail();
    if (!SkipName(p)) return r.fail("Expected name after !ELEMENT");
    if (!requireSpace(p) || !ContentSpec(p)) return r.fail("Expected content in !ELEMENT tag");
    p->AcceptSpaces();
    if (!p->AcceptChar('>')) return r.fail("Missing > in !ELEMENT tag");
    return true;
}

bool CQVLXMLParser::ContentSpec(CQVLParser* p) {
    return p->AcceptString("EMPTY") || p->AcceptString("ANY") || Mixed(p) || Children(p);
}

bool CQVLXMLParser::Mixed(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptChar('(') || !p->AcceptString("#PCDATA")) return r.fail();
    if (!acceptBarItems(p, SkipName)) return r.fail("Expected name after |");
    p->AcceptSpaces();
    if (!p->AcceptString(")*")) return r.fail("Expected )* in Mixed declaration");
    return true;
}

/* A choice '(' cp ('|' cp)* ')' or a sequence '(' cp (',' cp)* ')'. Both
 * would be tried from the same position; deciding by the first separator
 * reads each group once (trying both doubles the work at every level) and
 * records the same first message: a sequence fails as a choice first. */
bool CQVLXMLParser::Children(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptChar('(')) return false;
    CQVLDepthGuard guard(p);
    if (!guard.ok()) return r.fail();
    p->AcceptSpaces();
    ContentParticle(p); /* a missing particle is not reported */
    uint8_t kind = 0;
    for (;;) {
        const uint8_t* save = p->cursor;
        p->AcceptSpaces();
        uint8_t sep = p->AcceptChar('|') ? '|' : p->AcceptChar(',') ? ',' : 0;
        if (!sep) {
            p->cursor = save;
            break;
        }
        if (kind == 0) {
            kind = sep;
            if (sep == ',') p->SetError("Expected ) at end of Choice");
        } else if (sep != kind) {
            return r.fail(kind == '|' ? "Expected ) at end of Choice" : "Expected ) at end of Seq");
        }
        p->AcceptSpaces();
        ContentParticle(p);
    }
    p->AcceptSpaces();
    if (!p->AcceptChar(')'))
        return r.fail(kind == ',' ? "Expected ) at end of Seq" : "Expected ) at end of Choice");
    acceptRepeat(p);
    return true;
}

bool CQVLXMLParser::ContentParticle(CQVLParser* p) {
    if (!SkipName(p) && !Children(p)) return false;
    acceptRepeat(p);
    return true;
}

bool CQVLXMLParser::AttlistDecl(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptString("<!ATTLIST")) return false;
    if (!requireSpace(p)) return r.fail("Expected space after !ATTLIST");
    if (!SkipName(p)) return r.fail("Expected space agter !ATTLIST ");
    while (AttDef(p)) {
    }
    p->AcceptSpaces();
    if (!p->AcceptChar('>')) return r.fail("Expected > at end of !ATTLIST");
    return true;
}

bool CQVLXMLParser::AttDef(CQVLParser* p) {
    Rewind r(p);
    if (!requireSpace(p) || !SkipName(p) || !requireSpace(p) || !AttType(p) || !requireSpace(p) ||
        !DefaultDecl(p))
        return r.fail();
    return true;
}

bool CQVLXMLParser::AttType(CQVLParser* p) {
    /* Longest first, so that IDREFS is not read as ID. */
    static const char* const kOrdered[] = {"ENTITIES", "NMTOKENS", "IDREFS", "NMTOKEN",
                                           "ENTITY",   "IDREF",    "CDATA",  "ID"};
    for (const char* t : kOrdered)
        if (p->AcceptString(t)) return true;
    return NotationType(p) || Enumeration(p);
}

bool CQVLXMLParser::NotationType(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptString("NOTATION")) return false;
    p->AcceptSpaces();
    if (!p->AcceptChar('(')) return r.fail("Expected ( after NOTATION");
    if (!SkipName(p)) return r.fail("Expected Name after NOTATION");
    if (!acceptBarItems(p, SkipName)) return r.fail("Expected Name after | in NOTATION");
    p->AcceptSpaces();
    if (!p->AcceptChar(')')) return r.fail("Expected ) to terminate NOTATION");
    return true;
}


bool CQVLXMLParser::Enumeration(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptChar('(') || !nameToken(p)) return r.fail();
    if (!acceptBarItems(p, nameToken)) return r.fail("Expected Name after | in enumeration");
    p->AcceptSpaces();
    if (!p->AcceptChar(')')) return r.fail("Expected ) to terminate enumeration");
    return true;
}

bool CQVLXMLParser::DefaultDecl(CQVLParser* p) {
    if (p->AcceptString("#REQUIRED") || p->AcceptString("#IMPLIED")) return true;
    Rewind r(p);
    if (p->AcceptString("#FIXED")) p->AcceptSpaces();
    if (!AttDefaultValue(p)) return r.fail();
    return true;
}

bool CQVLXMLParser::AttDefaultValue(CQVLParser* p) {
    Rewind r(p);
    char stop[4] = "<&";
    if (p->AcceptChar('"'))
        stop[2] = '"';
    else if (p->AcceptChar('\''))
        stop[2] = '\'';
    else
        return false;
    for (;;) {
        if (p->AcceptCharNotIn(stop)) continue;
        if (p->cursor < p->end && *p->cursor == '&') {
            CQVLXMLElement* ref = Reference(p);
            if (!ref) break;
            delete ref;
            continue;
        }
        break;
    }
    if (!p->AcceptChar(static_cast<uint8_t>(stop[2])))
        return r.fail("Expected terminating quote in AttValue");
    return true;
}

bool CQVLXMLParser::EntityDecl(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptString("<!ENTITY")) return false;
    p->AcceptSpaces();
    if (p->AcceptChar('%')) {
        if (!requireSpace(p) || !SkipName(p) || !requireSpace(p) ||
            !(SkipQuoted(p) || ExternalID(p)))
            return r.fail("Parse error after !ENTITY");
        p->AcceptSpaces();
        if (!p->AcceptChar('>')) return r.fail("Expected terminating > in !ENTITY tag");
        return true;
    }
    if (!SkipName(p) || !requireSpace(p)) return r.fail("Parse error after ENTITY");
    if (!SkipQuoted(p)) {
        if (!ExternalID(p)) return r.fail("Parse error after ENTITY");
        NDataDecl(p);
    }
    p->AcceptSpaces();
    if (!p->AcceptChar('>')) return r.fail("Expected terminating > in ENTITY tag");
    return true;
}

bool CQVLXMLParser::ExternalID(CQVLParser* p) {
    Rewind r(p);
    if (p->AcceptString("SYSTEM")) {
        if (!requireSpace(p) || !SkipQuoted(p)) return r.fail("Expected value after SYSTEM");
        return true;
    }
    if (!p->AcceptString("PUBLIC")) return false;
    if (!requireSpace(p) || !SkipQuoted(p)) return r.fail("Expected value after PUBLIC");
    if (!requireSpace(p) || !SkipQuoted(p)) return r.fail("Expected value after PUBLIC <value>");
    return true;
}

bool CQVLXMLParser::NDataDecl(CQVLParser* p) {
    Rewind r(p);
    p->AcceptSpaces();
    if (!p->AcceptString("NDATA")) return r.fail();
    p->AcceptSpaces();
    if (!SkipName(p)) return r.fail("Expected Name after NDATA");
    return true;
}

bool CQVLXMLParser::NotationDecl(CQVLParser* p) {
    Rewind r(p);
    if (!p->AcceptString("<!NOTATION")) return false;
    if (!requireSpace(p) || !SkipName(p) || !requireSpace(p)) return r.fail();
    const uint8_t* id = p->cursor;
    if (!ExternalID(p)) {
        p->cursor = id;
        if (!p->AcceptString("PUBLIC")) return r.fail();
        if (!requireSpace(p) || !SkipQuoted(p)) return r.fail("Expected PubidLiteral after PUBLIC");
    }
    p->AcceptSpaces();
    if (!p->AcceptChar('>')) return r.fail("Expected > at end of !NOTATION tag");
    return true;
}
