#include "xml/qvlxml.h"
#include "xml/qvlxmlglobals.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

/* ---- element base ---- */

CQVLXMLElement* CQVLXMLElement::Find(const CQVLXMLString* name) {
    if (!name) return nullptr;
    if (IsTag() && static_cast<CQVLXMLTag*>(this)->HasName(name)) return this;
    CQVLXMLElementList* kids = GetChildren();
    for (auto* n = kids ? kids->head : nullptr; n; n = n->next)
        if (CQVLXMLElement* hit = n->item->Find(name)) return hit;
    return nullptr;
}

CQVLXMLElement* CQVLXMLElement::Find(const DiChar* name) {
    if (!name) return nullptr;
    CQVLXMLString s(name);
    return Find(&s);
}

CQVLXMLElement* CQVLXMLElement::Find(const char* name) {
    if (!name) return nullptr;
    CQVLXMLString s(name);
    return Find(&s);
}

DiChar* CQVLXMLElement::GetText() {
    CQVLPackBuffer buf(QVL_ENC_UTF16, QVL_MODE_TEXT);
    Pack(&buf);
    if (!buf.Terminate()) return nullptr;
    size_t units = buf.length / 2 + 1;
    DiChar* text = static_cast<DiChar*>(malloc(units * sizeof(DiChar)));
    if (text) memcpy(text, buf.data, units * sizeof(DiChar));
    return text;
}

void CQVLXMLElementList::Pack(CQVLPackBuffer* buffer) {
    for (Node* n = head; n; n = n->next)
        n->item->Pack(buffer);
}

/* ---- strings ---- */

void CQVLXMLString::Adopt(DiChar* text) {
    if (!text) text = qvlStrDupAscii("");
    rep = text ? new (std::nothrow) CQVLXMLStringRep{text, 1} : nullptr;
    if (!rep) free(text);
}

CQVLXMLString::CQVLXMLString(const DiChar* text) : rep(nullptr) {
    Adopt(text ? qvlStrDup(text) : nullptr);
}

CQVLXMLString::CQVLXMLString(const char* ascii) : rep(nullptr) {
    Adopt(ascii ? qvlStrDupAscii(ascii) : nullptr);
}

CQVLXMLString::CQVLXMLString(DiChar* heapText, bool copy) : rep(nullptr) {
    Adopt(copy && heapText ? qvlStrDup(heapText) : heapText);
}

CQVLXMLString::CQVLXMLString(int32_t value) : rep(nullptr) {
    char s[16];
    snprintf(s, sizeof s, "%d", static_cast<int>(value));
    Adopt(qvlStrDupAscii(s));
}

CQVLXMLString::CQVLXMLString(const CQVLXMLString& other) : CQVLXMLElement(), rep(other.rep) {
    if (rep)
        rep->count++;
    else
        Adopt(nullptr);
}

CQVLXMLString::CQVLXMLString(const CQVLXMLString* other) : rep(other ? other->rep : nullptr) {
    if (rep)
        rep->count++;
    else
        Adopt(nullptr);
}

CQVLXMLString::CQVLXMLString(ShareTag, CQVLXMLStringRep* shared) : rep(shared) {
    if (rep)
        rep->count++;
    else
        Adopt(nullptr);
}

void CQVLXMLString::Release(CQVLXMLStringRep* rep) {
    if (rep && --rep->count == 0) {
        free(rep->text);
        delete rep;
    }
}

CQVLXMLString::~CQVLXMLString() {
    Release(rep);
}

CQVLXMLString* CQVLXMLString::Create(DiChar* heapText) {
    CQVLXMLString* s = new (std::nothrow) CQVLXMLString(heapText, false);
    if (!s) free(heapText);
    return s;
}

bool CQVLXMLString::Equals(const DiChar* text) const {
    return Text() && text && qvlStrEq(Text(), text);
}

bool CQVLXMLString::Equals(const char* ascii) const {
    return qvlStrEqAscii(Text(), ascii);
}

bool CQVLXMLString::Equals(const CQVLXMLString* other) const {
    return other && Equals(other->Text());
}

void CQVLXMLString::Pack(CQVLPackBuffer* buffer) {
    buffer->WriteString(buffer->encoding, Text());
}

/* ---- attributes ---- */

CQVLXMLAttribute::CQVLXMLAttribute(const DiChar* n, const DiChar* v)
    : name(new (std::nothrow) CQVLXMLString(n)), value(new (std::nothrow) CQVLXMLString(v)) {}

CQVLXMLAttribute::CQVLXMLAttribute(const char* n, const char* v)
    : name(new (std::nothrow) CQVLXMLString(n)), value(new (std::nothrow) CQVLXMLString(v)) {}

CQVLXMLAttribute::CQVLXMLAttribute(const CQVLXMLString* n, const CQVLXMLString* v)
    : name(new (std::nothrow) CQVLXMLString(n)), value(new (std::nothrow) CQVLXMLString(v)) {}

CQVLXMLAttribute::CQVLXMLAttribute(const CQVLXMLAttribute* other)
    : CQVLXMLAttribute(other ? other->name : nullptr, other ? other->value : nullptr) {}

CQVLXMLAttribute::~CQVLXMLAttribute() {
    delete name;
    delete value;
}

bool CQVLXMLAttribute::HasName(const CQVLXMLString* n) const {
    return name && name->Equals(n);
}

void CQVLXMLAttribute::Pack(CQVLPackBuffer* buffer) {
    buffer->WriteString(buffer->encoding, name ? name->Text() : nullptr);
    buffer->WriteChar(buffer->encoding, '=');
    buffer->WriteQuoted(buffer->encoding, value ? value->Text() : nullptr);
}

void CQVLXMLAttributeList::Pack(CQVLPackBuffer* buffer) {
    for (Node* n = head; n; n = n->next) {
        buffer->WriteChar(buffer->encoding, ' ');
        n->item->Pack(buffer);
    }
}

/* ---- markers and leaf nodes ---- */

void CQVLXMLCDSect::Pack(CQVLPackBuffer* buffer) {
    int enc = buffer->encoding;
    if (buffer->mode != QVL_MODE_TEXT) buffer->WriteAscii(enc, "<![CDATA[");
    buffer->WriteString(enc, text ? text->Text() : nullptr);
    if (buffer->mode != QVL_MODE_TEXT) buffer->WriteAscii(enc, "]]>");
}

void CQVLXMLEntityRef::Pack(CQVLPackBuffer* buffer) {
    int enc = buffer->encoding;
    if (buffer->mode == QVL_MODE_TEXT && name) {
        static const struct {
            const char* name;
            char c;
        } kChars[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
        for (const auto& e : kChars)
            if (name->Equals(e.name)) {
                buffer->WriteChar(enc, static_cast<DiChar>(e.c));
                return;
            }
    }
    buffer->WriteChar(enc, '&');
    buffer->WriteString(enc, name ? name->Text() : nullptr);
    buffer->WriteChar(enc, ';');
}

CQVLXMLCharRef::CQVLXMLCharRef(const DiChar* digits) : code(0) {
    if (!digits) return;
    int base = 10;
    if (*digits == 'x') {
        base = 16;
        digits++;
    }
    int64_t v = 0;
    for (; *digits; digits++) {
        int d = *digits >= '0' && *digits <= '9'   ? *digits - '0'
                : *digits >= 'a' && *digits <= 'f' ? *digits - 'a' + 10
                : *digits >= 'A' && *digits <= 'F' ? *digits - 'A' + 10
                                                   : 99;
        if (d >= base) break;
        if (v <= INT32_MAX) v = v * base + d;
    }
    code = v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

void CQVLXMLCharRef::Pack(CQVLPackBuffer* buffer) {
    int enc = buffer->encoding;
    if (buffer->mode != QVL_MODE_TEXT) buffer->WriteAscii(enc, "&#");
    buffer->WriteInt(enc, code);
    if (buffer->mode != QVL_MODE_TEXT) buffer->WriteChar(enc, ';');
}

/* ---- tags ---- */

CQVLXMLTag::CQVLXMLTag(const DiChar* n)
    : name(new (std::nothrow) CQVLXMLString(n)),
      attributes(new (std::nothrow) CQVLXMLAttributeList) {}

CQVLXMLTag::CQVLXMLTag(const char* n)
    : name(new (std::nothrow) CQVLXMLString(n)),
      attributes(new (std::nothrow) CQVLXMLAttributeList) {}

CQVLXMLTag::CQVLXMLTag(CQVLXMLString* adoptedName)
    : name(adoptedName), attributes(new (std::nothrow) CQVLXMLAttributeList) {}

CQVLXMLTag::~CQVLXMLTag() {
    delete name;
    delete attributes;
}

bool CQVLXMLTag::HasName(const CQVLXMLString* n) const {
    return name && name->Equals(n);
}

namespace {
std::atomic<uint32_t> g_attributeLookups{0};
} // namespace

uint32_t CQVLXMLTag::AttributeLookups() {
    return g_attributeLookups.load(std::memory_order_relaxed);
}

const CQVLXMLString* CQVLXMLTag::FindAttribute(const CQVLXMLString* n) const {
    g_attributeLookups.fetch_add(1, std::memory_order_relaxed);
    if (!attributes || !n) return nullptr;
    for (auto* node = attributes->head; node; node = node->next)
        if (node->item->HasName(n)) return node->item->value;
    return nullptr;
}

const CQVLXMLString* CQVLXMLTag::GetAttribute(const DiChar* n) const {
    if (!n) return nullptr;
    CQVLXMLString s(n);
    return FindAttribute(&s);
}

const CQVLXMLString* CQVLXMLTag::GetAttribute(const char* n) const {
    if (!n) return nullptr;
    CQVLXMLString s(n);
    return FindAttribute(&s);
}

void CQVLXMLTag::AddAttribute(CQVLXMLAttribute* adopted) {
    if (attributes)
        attributes->Append(adopted, true);
    else
        delete adopted;
}

void CQVLXMLTag::AddAttribute(const DiChar* n, const DiChar* v) {
    AddAttribute(new (std::nothrow) CQVLXMLAttribute(n, v));
}

void CQVLXMLTag::AddAttribute(const char* n, const char* v) {
    AddAttribute(new (std::nothrow) CQVLXMLAttribute(n, v));
}

void CQVLXMLTag::AddAttribute(const CQVLXMLString* n, const CQVLXMLString* v) {
    AddAttribute(new (std::nothrow) CQVLXMLAttribute(n, v));
}

void CQVLXMLTag::PackStart(CQVLPackBuffer* buffer) {
    buffer->WriteChar(buffer->encoding, '<');
    buffer->WriteString(buffer->encoding, name ? name->Text() : nullptr);
    if (HasAttributes()) attributes->Pack(buffer);
}

CQVLXMLContentTag::CQVLXMLContentTag(const DiChar* n)
    : CQVLXMLTag(n), children(new (std::nothrow) CQVLXMLElementList) {}

CQVLXMLContentTag::CQVLXMLContentTag(const char* n)
    : CQVLXMLTag(n), children(new (std::nothrow) CQVLXMLElementList) {}

CQVLXMLContentTag::CQVLXMLContentTag(CQVLXMLString* adoptedName)
    : CQVLXMLTag(adoptedName), children(new (std::nothrow) CQVLXMLElementList) {}

CQVLXMLContentTag::CQVLXMLContentTag(CQVLXMLString* adoptedName,
                                     CQVLXMLAttributeList* adoptedAttributes)
    : CQVLXMLTag(adoptedName, adoptedAttributes),
      children(new (std::nothrow) CQVLXMLElementList) {}

CQVLXMLContentTag::CQVLXMLContentTag(const DiChar* n, const DiChar* content)
    : CQVLXMLContentTag(n) {
    AddChild(new (std::nothrow) CQVLXMLString(content), true);
}

CQVLXMLContentTag::~CQVLXMLContentTag() {
    delete children;
}

void CQVLXMLContentTag::AddChild(CQVLXMLElement* child, bool owns) {
    if (children)
        children->Append(child, owns);
    else if (owns)
        delete child;
}

void CQVLXMLContentTag::RemoveChild(CQVLXMLElement* child) {
    if (children) children->Remove(child, true);
}

void CQVLXMLContentTag::DetachChild(CQVLXMLElement* child) {
    if (children) children->Remove(child, false);
}

void CQVLXMLContentTag::Pack(CQVLPackBuffer* buffer) {
    if (buffer->mode == QVL_MODE_TEXT) {
        if (children) children->Pack(buffer);
        return;
    }
    int enc = buffer->encoding;
    PackStart(buffer);
    buffer->WriteChar(enc, '>');
    if (children) children->Pack(buffer);
    buffer->WriteAscii(enc, "</");
    buffer->WriteString(enc, name ? name->Text() : nullptr);
    buffer->WriteChar(enc, '>');
}

void CQVLXMLEmptyTag::Pack(CQVLPackBuffer* buffer) {
    if (buffer->mode == QVL_MODE_TEXT) return;
    PackStart(buffer);
    buffer->WriteAscii(buffer->encoding, "/>");
}

/* ---- declaration and documents ---- */

CQVLXMLDecl::CQVLXMLDecl() : attributes(new (std::nothrow) CQVLXMLAttributeList) {
    if (attributes) {
        attributes->Append(new (std::nothrow) CQVLXMLAttribute("version", "1.0"), true);
        attributes->Append(new (std::nothrow) CQVLXMLAttribute("encoding", "UTF-8"), true);
    }
}

void CQVLXMLDecl::Pack(CQVLPackBuffer* buffer) {
    if (buffer->mode == QVL_MODE_TEXT) return;
    buffer->WriteAscii(buffer->encoding, "<?xml");
    if (attributes && attributes->count) attributes->Pack(buffer);
    buffer->WriteAscii(buffer->encoding, "?>");
}

CQVLXMLDoc::CQVLXMLDoc(CQVLXMLDecl* adoptedDecl, CQVLXMLElement* adoptedRoot)
    : decl(adoptedDecl), root(adoptedRoot) {
    topLevel.Append(root, false);
}

CQVLXMLDoc::~CQVLXMLDoc() {
    topLevel.Clear();
    delete decl;
    delete root;
}

void CQVLXMLDoc::Pack(CQVLPackBuffer* buffer) {
    if (decl) decl->Pack(buffer);
    if (root) root->Pack(buffer);
}

CQVLXMLElement* CQVLXMLDoc::Find(const DiChar* name) {
    for (auto* n = topLevel.head; n; n = n->next)
        if (CQVLXMLElement* hit = n->item->Find(name)) return hit;
    return nullptr;
}

CQVLXMLElement* CQVLXMLDoc::Find(const char* name) {
    for (auto* n = topLevel.head; n; n = n->next)
        if (CQVLXMLElement* hit = n->item->Find(name)) return hit;
    return nullptr;
}
