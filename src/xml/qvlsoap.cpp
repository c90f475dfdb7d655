#include "xml/qvlsoap.h"
#include "xml/qvlxmlglobals.h"
#include "xml/qvlxmlparser.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {
const DiChar kTypeString[] = u"xsd:string";
const DiChar kTypeInt[] = u"xsd:int";
const DiChar kTypeBoolean[] = u"xsd:boolean";
const DiChar kTypeShort[] = u"xsd:short";
const DiChar kTypeArray[] = u"ns2:Array";

/* The object written in mode 1 as UTF-16: its text with the markup
 * characters escaped, as a new heap text; null when out of memory. */
DiChar* escapedText(IQVLPackable* object) {
    CQVLPackBuffer buf(QVL_ENC_UTF16, QVL_MODE_ESCAPED);
    object->Pack(&buf);
    if (!buf.Terminate()) return nullptr;
    return reinterpret_cast<DiChar*>(buf.Detach());
}

DiChar* escapedText(const DiChar* text) {
    CQVLXMLString s(text);
    return escapedText(&s);
}

void replaceText(DiChar** field, DiChar* text) {
    free(*field);
    *field = text;
}

bool typeIs(const DiChar* type, const char* a, const char* b) {
    return qvlStrEqAscii(type, a) || qvlStrEqAscii(type, b);
}
} // namespace

/* ---- typed values ---- */

void IQVLXSISimpleType::Pack(CQVLPackBuffer* buffer) {
    PackValue(buffer);
    buffer->WriteAscii(buffer->encoding, " :: ");
    buffer->WriteString(buffer->encoding, GetTypeName());
}

const DiChar* CQVLXSDString::GetTypeName() {
    return kTypeString;
}

void CQVLXSDString::AddToElement(CQVLXMLTag* element) {
    if (!value) return;
    element->AddChild(CQVLXMLString::Create(escapedText(value)), true);
}

void CQVLXSDString::PackValue(CQVLPackBuffer* buffer) {
    buffer->WriteString(buffer->encoding, value ? value->Text() : nullptr);
}

CQVLXSDType::CQVLXSDType(const DiChar* type, const DiChar* text)
    : typeName(qvlStrDup(type)), value(new (std::nothrow) CQVLXMLString(text)) {}

CQVLXSDType::~CQVLXSDType() {
    free(typeName);
    delete value;
}

void CQVLXSDType::AddToElement(CQVLXMLTag* element) {
    /* The text was reference-decoded when it was read: escape it again, as a
     * string value is, or a "<" from the peer would make the packet
     * ill-formed. */
    if (value) element->AddChild(CQVLXMLString::Create(escapedText(value)), true);
}

void CQVLXSDType::PackValue(CQVLPackBuffer* buffer) {
    buffer->WriteString(buffer->encoding, value ? value->Text() : nullptr);
}

const DiChar* CQVLXSDInt::GetTypeName() {
    return kTypeInt;
}

void CQVLXSDInt::AddToElement(CQVLXMLTag* element) {
    element->AddChild(new (std::nothrow) CQVLXMLString(value), true);
}

void CQVLXSDInt::PackValue(CQVLPackBuffer* buffer) {
    buffer->WriteInt(buffer->encoding, value);
}

const DiChar* CQVLXSDBoolean::GetTypeName() {
    return kTypeBoolean;
}

void CQVLXSDBoolean::AddToElement(CQVLXMLTag* element) {
    element->AddChild(new (std::nothrow) CQVLXMLString(value ? "true" : "false"), true);
}

void CQVLXSDBoolean::PackValue(CQVLPackBuffer* buffer) {
    buffer->WriteAscii(buffer->encoding, value ? "true" : "false");
}

CQVLNS2Array::CQVLNS2Array(const DiChar* name, const DiChar* type)
    : itemName(new (std::nothrow) CQVLXMLString(name)),
      itemType(new (std::nothrow) CQVLXMLString(type)) {}

CQVLNS2Array::CQVLNS2Array(const char* name, const char* type)
    : itemName(new (std::nothrow) CQVLXMLString(name)),
      itemType(new (std::nothrow) CQVLXMLString(type)) {}

CQVLNS2Array::~CQVLNS2Array() {
    delete itemName;
    delete itemType;
}

const DiChar* CQVLNS2Array::GetTypeName() {
    return kTypeArray;
}

CQVLXMLContentTag* CQVLNS2Array::ItemElement(IQVLXSIType* item) {
    CQVLXMLContentTag* tag =
        new (std::nothrow) CQVLXMLContentTag(new (std::nothrow) CQVLXMLString(itemName));
    if (!tag) return nullptr;
    CQVLXMLString xsiType("xsi:type");
    tag->AddAttribute(&xsiType, itemType);
    item->AddToElement(tag);
    return tag;
}

void CQVLNS2Array::AddToElement(CQVLXMLTag* element) {
    for (auto* n = items.head; n; n = n->next)
        element->AddChild(ItemElement(n->item), true);
}

void CQVLNS2Array::Pack(CQVLPackBuffer* buffer) {
    for (auto* n = items.head; n; n = n->next) {
        CQVLXMLContentTag* tag = ItemElement(n->item);
        if (tag) tag->Pack(buffer);
        delete tag;
    }
}

/* ---- parameters ---- */

CQVLSOAPParameter::CQVLSOAPParameter(const DiChar* n, IQVLXSIType* adoptedValue)
    : name(new (std::nothrow) CQVLXMLString(n)), value(adoptedValue) {}

CQVLSOAPParameter::CQVLSOAPParameter(const DiChar* n, int32_t v)
    : CQVLSOAPParameter(n, new (std::nothrow) CQVLXSDInt(v)) {}

CQVLSOAPParameter::CQVLSOAPParameter(const DiChar* n, bool v)
    : CQVLSOAPParameter(n, new (std::nothrow) CQVLXSDBoolean(v)) {}

CQVLSOAPParameter::CQVLSOAPParameter(const DiChar* n, const DiChar* text)
    : CQVLSOAPParameter(n, new (std::nothrow) CQVLXSDString(text)) {}

CQVLSOAPParameter::CQVLSOAPParameter(CQVLXMLTag* element)
    : name(new (std::nothrow) CQVLXMLString(element->name)), value(nullptr) {
    DiChar* text = element->GetText();
    const CQVLXMLString* type = element->GetAttribute("xsi:type");
    const DiChar* t = type ? type->Text() : nullptr;
    if (!t || typeIs(t, "xsd:string", "soapenc:string"))
        value = new (std::nothrow) CQVLXSDString(text);
    else if (typeIs(t, "xsd:int", "soapenc:int"))
        value = new (std::nothrow) CQVLXSDInt(qvlStrToInt(text));
    else if (typeIs(t, "xsd:boolean", "soapenc:boolean"))
        value = new (std::nothrow)
            CQVLXSDBoolean(qvlStrEqAscii(text, "true") || qvlStrEqAscii(text, "1"));
    else
        value = new (std::nothrow) CQVLXSDType(t, text);
    free(text);
}

CQVLSOAPParameter::~CQVLSOAPParameter() {
    delete name;
    delete value;
}

bool CQVLSOAPParameter::IsType(const DiChar* typeName) {
    return value && typeName && qvlStrEq(value->GetTypeName(), typeName);
}

bool CQVLSOAPParameter::HasName(const DiChar* text) {
    return name && text && (name->Text() == text || name->Equals(text));
}

int32_t CQVLSOAPParameter::GetInt() {
    return IsType(kTypeInt) ? static_cast<CQVLXSDInt*>(value)->value : 0;
}

bool CQVLSOAPParameter::GetBool() {
    return IsType(kTypeBoolean) && static_cast<CQVLXSDBoolean*>(value)->value;
}

const DiChar* CQVLSOAPParameter::GetString() {
    if (!IsType(kTypeString)) return nullptr;
    CQVLXSDString* s = static_cast<CQVLXSDString*>(value);
    return s->value ? s->value->Text() : nullptr;
}

int32_t CQVLSOAPParameter::GetShort() {
    /* A received "xsd:short" is kept as a type name and its text. */
    if (!IsType(kTypeShort) || value->IsArray()) return 0;
    CQVLXSDType* t = dynamic_cast<CQVLXSDType*>(value);
    return t && t->value ? qvlStrToInt(t->value->Text()) : 0;
}

CQVLXMLContentTag* CQVLSOAPParameter::ToElement(bool withType) {
    CQVLXMLContentTag* tag =
        new (std::nothrow) CQVLXMLContentTag(new (std::nothrow) CQVLXMLString(name));
    if (!tag) return nullptr;
    if (value && withType) {
        tag->AddAttribute(u"xsi:type", value->GetTypeName());
        if (value->IsArray()) {
            CQVLNS2Array* a = static_cast<CQVLNS2Array*>(value);
            CQVLPackBuffer t(QVL_ENC_UTF16, QVL_MODE_MARKUP);
            t.WriteString(QVL_ENC_UTF16, a->itemType ? a->itemType->Text() : nullptr);
            t.WriteChar(QVL_ENC_UTF16, '[');
            t.WriteInt(QVL_ENC_UTF16, static_cast<int32_t>(a->items.count));
            t.WriteChar(QVL_ENC_UTF16, ']');
            if (t.Terminate())
                tag->AddAttribute(u"ns2:arrayType", reinterpret_cast<const DiChar*>(t.data));
            tag->AddAttribute("xmlns:ns2", QVL_NS_SOAP_ENC);
        }
    }
    if (value) value->AddToElement(tag);
    return tag;
}

void CQVLSOAPParameter::Pack(CQVLPackBuffer* buffer) {
    buffer->WriteString(buffer->encoding, name ? name->Text() : nullptr);
    buffer->WriteAscii(buffer->encoding, " = ");
    if (value) value->Pack(buffer);
}

/* ---- messages ---- */

CQVLSOAPMessage::CQVLSOAPMessage(const DiChar* m) : method(qvlStrDup(m)) {}

CQVLSOAPMessage::CQVLSOAPMessage(const char* m) : method(qvlStrDupAscii(m)) {}

CQVLSOAPMessage::~CQVLSOAPMessage() {
    free(method);
}

bool CQVLSOAPMessage::IsMethod(const DiChar* text) {
    return method && text && qvlStrEq(method, text);
}

void CQVLSOAPMessage::AddAttribute(const DiChar* name, const DiChar* value) {
    attributes.Append(new (std::nothrow) CQVLXMLAttribute(name, value), true);
}

void CQVLSOAPMessage::AddAttribute(const char* name, const char* value) {
    attributes.Append(new (std::nothrow) CQVLXMLAttribute(name, value), true);
}

CQVLXMLContentTag* CQVLSOAPMessage::MethodElement() {
    CQVLXMLContentTag* tag = new (std::nothrow) CQVLXMLContentTag(method);
    if (!tag) return nullptr;
    for (auto* n = attributes.head; n; n = n->next)
        tag->AddAttribute(new (std::nothrow) CQVLXMLAttribute(n->item));
    return tag;
}

CQVLSOAPParameter* CQVLSOAPRequest::FindParameter(const DiChar* name) {
    for (auto* n = parameters.head; n; n = n->next)
        if (n->item->HasName(name)) return n->item;
    return nullptr;
}

bool CQVLSOAPRequest::HasParameter(const DiChar* name, const DiChar* typeName) {
    CQVLSOAPParameter* p = FindParameter(name);
    return p && (!typeName || p->IsType(typeName));
}

void CQVLSOAPRequest::AddParameter(const DiChar* name, int32_t value) {
    parameters.Append(new (std::nothrow) CQVLSOAPParameter(name, value), true);
}

void CQVLSOAPRequest::AddParameter(const DiChar* name, const DiChar* text) {
    parameters.Append(new (std::nothrow) CQVLSOAPParameter(name, text), true);
}

void CQVLSOAPRequest::AddParameter(const DiChar* name, IQVLXSIType* adoptedValue) {
    CQVLSOAPParameter* p = new (std::nothrow) CQVLSOAPParameter(name, adoptedValue);
    if (!p) delete adoptedValue;
    parameters.Append(p, true);
}

int32_t CQVLSOAPRequest::GetIntParameter(const DiChar* name) {
    CQVLSOAPParameter* p = FindParameter(name);
    return p ? p->GetInt() : 0;
}

bool CQVLSOAPRequest::GetBoolParameter(const DiChar* name) {
    CQVLSOAPParameter* p = FindParameter(name);
    return p && p->GetBool();
}

const DiChar* CQVLSOAPRequest::GetStringParameter(const DiChar* name) {
    CQVLSOAPParameter* p = FindParameter(name);
    return p ? p->GetString() : nullptr;
}

CQVLXMLElement* CQVLSOAPRequest::ToXML(int) {
    CQVLXMLContentTag* tag = MethodElement();
    if (!tag) return nullptr;
    for (auto* n = parameters.head; n; n = n->next)
        tag->AddChild(n->item->ToElement(true), true);
    return tag;
}

void CQVLSOAPRequest::Pack(CQVLPackBuffer* buffer) {
    int enc = buffer->encoding;
    buffer->WriteString(enc, method);
    buffer->WriteChar(enc, '\n');
    for (auto* n = parameters.head; n; n = n->next) {
        buffer->WriteChar(enc, '\t');
        n->item->Pack(buffer);
        buffer->WriteChar(enc, '\n');
    }
}

void CQVLSOAPResponse::SetReturn(CQVLXMLTag* adopted) {
    if (adopted == returnElement) return;
    delete returnElement;
    returnElement = adopted;
}

void CQVLSOAPResponse::AddReturnChild(CQVLXMLElement* child, bool owns) {
    if (returnElement)
        returnElement->AddChild(child, owns);
    else if (owns)
        delete child;
}

void CQVLSOAPResponse::AddReturnParameter(CQVLSOAPParameter* parameter) {
    if (parameter && returnElement) returnElement->AddChild(parameter->ToElement(false), true);
}

CQVLXMLElement* CQVLSOAPResponse::ToXML(int) {
    CQVLXMLContentTag* tag = MethodElement();
    CQVLXMLContentTag* ret = new (std::nothrow) CQVLXMLContentTag("return");
    if (!tag || !ret) {
        delete tag;
        delete ret;
        return nullptr;
    }
    tag->AddChild(ret, true);
    ret->AddAttribute("xsi:type", "xsd:string");
    if (returnElement) {
        /* Packed as UTF-16 whatever the packet's encoding: the text is read
         * back as UTF-16. */
        DiChar* text = escapedText(returnElement);
        if (!text) {
            delete tag;
            return nullptr;
        }
        ret->AddChild(CQVLXMLString::Create(text), true);
    }
    return tag;
}

void CQVLSOAPResponse::Pack(CQVLPackBuffer* buffer) {
    buffer->WriteString(buffer->encoding, method);
    buffer->WriteChar(buffer->encoding, '\n');
    if (returnElement) returnElement->Pack(buffer);
    buffer->WriteChar(buffer->encoding, '\n');
}

/* ---- faults ---- */

CQVLSOAPFault::~CQVLSOAPFault() {
    free(faultcode);
    free(faultstring);
    free(faultactor);
    free(detail);
}

void CQVLSOAPFault::SetFaultCode(const DiChar* t) {
    replaceText(&faultcode, qvlStrDup(t));
}
void CQVLSOAPFault::SetFaultString(const DiChar* t) {
    replaceText(&faultstring, qvlStrDup(t));
}
void CQVLSOAPFault::AdoptFaultCode(DiChar* t) {
    replaceText(&faultcode, t);
}
void CQVLSOAPFault::AdoptFaultString(DiChar* t) {
    replaceText(&faultstring, t);
}
void CQVLSOAPFault::AdoptFaultActor(DiChar* t) {
    replaceText(&faultactor, t);
}
void CQVLSOAPFault::AdoptDetail(DiChar* t) {
    replaceText(&detail, t);
}

CQVLXMLElement* CQVLSOAPFault::ToXML(int) {
    CQVLXMLContentTag* tag = new (std::nothrow) CQVLXMLContentTag("SOAP-ENV:Fault");
    if (!tag) return nullptr;
    const struct {
        const char* name;
        const DiChar* text;
    } fields[] = {{"faultcode", faultcode},
                  {"faultstring", faultstring},
                  {"faultactor", faultactor},
                  {"detail", detail}};
    for (const auto& f : fields) {
        if (!f.text) continue;
        /* The texts are plain text: escaped so that any of them keeps the
         * packet well-formed. */
        CQVLXMLContentTag* child = new (std::nothrow) CQVLXMLContentTag(f.name);
        DiChar* text = escapedText(f.text);
        if (!child || !text) {
            delete child;
            free(text);
            delete tag;
            return nullptr;
        }
        child->AddChild(CQVLXMLString::Create(text), true);
        tag->AddChild(child, true);
    }
    return tag;
}

void CQVLSOAPFault::Pack(CQVLPackBuffer* buffer) {
    int enc = buffer->encoding;
    buffer->WriteAscii(enc, "SOAP-ENV:Fault\n");
    const struct {
        const char* name;
        const DiChar* text;
    } fields[] = {{"faultcode", faultcode},
                  {"faultstring", faultstring},
                  {"faultactor", faultactor},
                  {"detail", detail}};
    for (const auto& f : fields) {
        if (!f.text) continue;
        buffer->WriteChar(enc, '\t');
        buffer->WriteAscii(enc, f.name);
        buffer->WriteAscii(enc, " = ");
        buffer->WriteString(enc, f.text);
        buffer->WriteChar(enc, '\n');
    }
}

/* ---- envelopes ---- */

CQVLXMLDoc* CQVLSOAPPacket::ToXMLDoc(int encoding) {
    CQVLXMLElement* inner = ToXML(encoding);
    CQVLXMLContentTag* env = new (std::nothrow) CQVLXMLContentTag("SOAP-ENV:Envelope");
    CQVLXMLContentTag* body = new (std::nothrow) CQVLXMLContentTag("SOAP-ENV:Body");
    CQVLXMLDecl* decl = new (std::nothrow) CQVLXMLDecl;
    CQVLXMLDoc* doc = nullptr;
    if (inner && env && body && decl) doc = new (std::nothrow) CQVLXMLDoc(decl, env);
    if (!doc) {
        delete inner;
        delete env;
        delete body;
        delete decl;
        return nullptr;
    }
    env->AddAttribute("xmlns:SOAP-ENV", QVL_NS_SOAP_ENV);
    env->AddAttribute("xmlns:xsi", QVL_NS_XSI_1999);
    env->AddAttribute("xmlns:xsd", QVL_NS_XSD_1999);
    env->AddChild(body, true);
    body->AddChild(inner, true);
    return doc;
}

/* The first child tag of the body: `SOAP-ENV:Body`, else `soapenv:Body`. */
static CQVLXMLTag* bodyMethod(CQVLXMLDoc* doc) {
    CQVLXMLElement* body = doc->Find("SOAP-ENV:Body");
    if (!body) body = doc->Find("soapenv:Body");
    CQVLXMLElementList* kids = body ? body->GetChildren() : nullptr;
    for (auto* n = kids ? kids->head : nullptr; n; n = n->next)
        if (n->item->IsTag()) return static_cast<CQVLXMLTag*>(n->item);
    return nullptr;
}

static void takeMethod(CQVLSOAPMessage* msg, CQVLXMLTag* m) {
    if (!m) return;
    free(msg->method);
    msg->method = qvlStrDup(m->name ? m->name->Text() : nullptr);
    for (auto* n = m->attributes ? m->attributes->head : nullptr; n; n = n->next)
        msg->attributes.Append(new (std::nothrow) CQVLXMLAttribute(n->item), true);
}

CQVLSOAPPacket* CQVLSOAPPacket::FromHTTP(CQVLHTTPPacket* http) {
    CQVLXMLDoc* doc = http ? dynamic_cast<CQVLXMLDoc*>(http->document) : nullptr;
    if (!doc) return nullptr;
    if (http->IsRequest()) {
        CQVLSOAPRequest* req =
            new (std::nothrow) CQVLSOAPRequest(static_cast<const DiChar*>(nullptr));
        if (!req) return nullptr;
        CQVLXMLTag* m = bodyMethod(doc);
        takeMethod(req, m);
        CQVLXMLElementList* kids = m ? m->GetChildren() : nullptr;
        for (auto* n = kids ? kids->head : nullptr; n; n = n->next)
            if (n->item->IsTag() && n->item->GetChildren())
                req->parameters.Append(
                    new (std::nothrow) CQVLSOAPParameter(static_cast<CQVLXMLTag*>(n->item)), true);
        return req;
    }
    CQVLXMLElement* f = doc->Find("soapenv:Fault");
    if (!f) f = doc->Find("SOAP-ENV:Fault");
    if (f) {
        CQVLSOAPFault* fault = new (std::nothrow) CQVLSOAPFault;
        if (!fault) return nullptr;
        CQVLXMLElement* e;
        if ((e = f->Find("faultcode"))) fault->AdoptFaultCode(e->GetText());
        if ((e = f->Find("faultstring"))) fault->AdoptFaultString(e->GetText());
        if ((e = f->Find("faultactor"))) fault->AdoptFaultActor(e->GetText());
        if ((e = f->Find("detail"))) fault->AdoptDetail(e->GetText());
        return fault;
    }
    CQVLSOAPResponse* resp =
        new (std::nothrow) CQVLSOAPResponse(static_cast<const DiChar*>(nullptr));
    if (resp) takeMethod(resp, bodyMethod(doc));
    return resp;
}

/* ---- HTTP headers ---- */

CQVLHTTPHeader::~CQVLHTTPHeader() {
    free(name);
}

/* Writes a header text without CR and LF, so that no text can start a
 * header line of its own. */
static void writeHeaderText(CQVLPackBuffer* b, const DiChar* t) {
    for (; t && *t; t++)
        if (*t != '\r' && *t != '\n') b->WriteChar(b->encoding, *t);
}

void CQVLHTTPHeader::Pack(CQVLPackBuffer* buffer) {
    writeHeaderText(buffer, name);
    buffer->WriteAscii(buffer->encoding, ": ");
    writeHeaderText(buffer, GetValue());
    buffer->WriteAscii(buffer->encoding, "\r\n");
}

CQVLHTTPStringHeader::CQVLHTTPStringHeader(const DiChar* n, const DiChar* v)
    : CQVLHTTPHeader(qvlStrDup(n)), value(qvlStrDup(v)) {}

CQVLHTTPStringHeader::CQVLHTTPStringHeader(DiChar* n, DiChar* v, bool copy)
    : CQVLHTTPHeader(copy ? qvlStrDup(n) : n), value(copy ? qvlStrDup(v) : v) {}

CQVLHTTPStringHeader::~CQVLHTTPStringHeader() {
    free(value);
}

CQVLHTTPStringHeader* CQVLHTTPStringHeader::Create(DiChar* n, DiChar* v) {
    CQVLHTTPStringHeader* h = new (std::nothrow) CQVLHTTPStringHeader(n, v, false);
    if (!h) {
        free(n);
        free(v);
    }
    return h;
}

int32_t CQVLHTTPStringHeader::GetIntValue() {
    return value ? qvlStrToInt(value) : 0;
}

CQVLHTTPIntHeader::CQVLHTTPIntHeader(const DiChar* n, int32_t v)
    : CQVLHTTPHeader(qvlStrDup(n)), value(v) {
    text[0] = 0;
}

const DiChar* CQVLHTTPIntHeader::GetValue() {
    char s[16];
    int n = snprintf(s, sizeof s, "%d", static_cast<int>(value));
    for (int i = 0; i <= n; i++)
        text[i] = static_cast<unsigned char>(s[i]);
    return text;
}

/* ---- HTTP packets ---- */

CQVLHTTPPacket::CQVLHTTPPacket() : headers(new (std::nothrow) CQVLList<CQVLHTTPHeader>) {}

CQVLHTTPPacket::CQVLHTTPPacket(CQVLList<CQVLHTTPHeader>* adopted) : headers(adopted) {}

CQVLHTTPPacket::~CQVLHTTPPacket() {
    delete headers;
    delete document;
}

void CQVLHTTPPacket::AddHeader(CQVLHTTPHeader* adopted) {
    if (headers)
        headers->Append(adopted, true);
    else
        delete adopted;
}

void CQVLHTTPPacket::AddHeader(const DiChar* name, const DiChar* value) {
    AddHeader(new (std::nothrow) CQVLHTTPStringHeader(name, value));
}

void CQVLHTTPPacket::AddHeader(const char* name, const char* value) {
    AddHeader(CQVLHTTPStringHeader::Create(qvlStrDupAscii(name), qvlStrDupAscii(value)));
}

void CQVLHTTPPacket::SetDocument(CQVLDoc* adopted) {
    if (adopted == document) return;
    delete document;
    document = adopted;
}

CQVLHTTPHeader* CQVLHTTPPacket::FindHeader(const DiChar* name) {
    if (!name || !headers) return nullptr;
    for (auto* n = headers->head; n; n = n->next)
        if (qvlStrEq(n->item->name, name)) return n->item;
    return nullptr;
}

CQVLHTTPHeader* CQVLHTTPPacket::FindHeader(const char* name) {
    if (!name || !headers) return nullptr;
    for (auto* n = headers->head; n; n = n->next)
        if (qvlStrEqAscii(n->item->name, name)) return n->item;
    return nullptr;
}

const DiChar* CQVLHTTPPacket::GetHeaderValue(const DiChar* name) {
    CQVLHTTPHeader* h = FindHeader(name);
    return h ? h->GetValue() : nullptr;
}

const DiChar* CQVLHTTPPacket::GetHeaderValue(const char* name) {
    CQVLHTTPHeader* h = FindHeader(name);
    return h ? h->GetValue() : nullptr;
}

namespace {
/* One line of a header block: its bytes [from, to). */
struct HttpLine {
    const uint8_t* from;
    const uint8_t* to;
};

/* Takes the next line and its line end. A line ends at CR LF, LF CR, a
 * lone CR or a lone LF: the channel that cuts packets out of the stream
 * splits lines the same way, so both find the same end of the header block
 * and no reader takes body lines for headers. False at the end of input. */
bool takeLine(CQVLParser* p, HttpLine* line) {
    if (p->AtEnd()) return false;
    const uint8_t* e = p->cursor;
    while (e < p->end && *e != '\r' && *e != '\n')
        e++;
    line->from = p->cursor;
    line->to = e;
    if (e < p->end) {
        uint8_t first = *e++;
        if (e < p->end && (*e == '\r' || *e == '\n') && *e != first) e++;
    }
    p->cursor = e;
    return true;
}

/* A line of spaces and TABs only ends the header block. */
bool blankLine(const HttpLine& l) {
    for (const uint8_t* c = l.from; c < l.to; c++)
        if (*c != ' ' && *c != '\t') return false;
    return true;
}

/* Headers that say how the bytes of one packet are framed. The writer
 * writes its own for the body it sends; a received one describes someone
 * else's body, so it is neither kept nor ever written out again (a second
 * length or a chunked coding would let the next reader cut the stream
 * elsewhere). Names compare without case and without blanks around them. */
bool isFramingName(const uint8_t* from, const uint8_t* to) {
    static const char* const kFraming[] = {"content-length", "content-type", "transfer-encoding"};
    while (from < to && (*from == ' ' || *from == '\t'))
        from++;
    while (to > from && (to[-1] == ' ' || to[-1] == '\t'))
        to--;
    for (const char* f : kFraming) {
        size_t n = strlen(f), i = 0;
        if (static_cast<size_t>(to - from) != n) continue;
        for (; i < n; i++) {
            uint8_t c = from[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<uint8_t>(c - 'A' + 'a');
            if (c != static_cast<uint8_t>(f[i])) break;
        }
        if (i == n) return true;
    }
    return false;
}

/* Writes one header line unless, as written, it names a framing header.
 * The check looks at the written bytes up to the first ':', as the next
 * reader will: a name that only becomes "Content-Length" once the writer
 * has left out its CR, LF or unwritable characters, or that carries a ':'
 * of its own, is caught as well. */
void packHeader(CQVLHTTPHeader* h, CQVLPackBuffer* out) {
    uint32_t mark = out->length;
    h->Pack(out);
    if (out->failed || out->length <= mark) return;
    const uint8_t* line = out->data + mark;
    const uint8_t* colon = static_cast<const uint8_t*>(memchr(line, ':', out->length - mark));
    if (colon && isFramingName(line, colon)) out->length = mark;
}
} // namespace

CQVLPackBuffer* CQVLHTTPPacket::Serialize() {
    CQVLPackBuffer body(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    if (document) document->Pack(&body);
    CQVLPackBuffer* out = new (std::nothrow) CQVLPackBuffer(QVL_ENC_ANSI7, QVL_MODE_MARKUP);
    if (!out) return nullptr;
    int enc = out->encoding;
    out->WriteAscii(enc, GetStartLine());
    for (auto* n = headers ? headers->head : nullptr; n; n = n->next)
        packHeader(n->item, out);
    if (document) {
        out->WriteAscii(enc, "Content-type: ");
        out->WriteAscii(enc, document->GetContentType());
        out->WriteAscii(enc, "\r\n");
    }
    out->WriteAscii(enc, "Content-Length: ");
    out->WriteInt(enc, static_cast<int32_t>(body.length));
    out->WriteAscii(enc, "\r\n\r\n");
    out->Append(&body);
    if (out->failed) {
        delete out;
        return nullptr;
    }
    return out;
}

namespace {
/* The start line: 1 for a request, 0 for a response, -1 for anything else.
 * A GET target runs to the first space, TAB or NUL and never past its own
 * line; it is stored as the header "GET". */
int readStartLine(CQVLParser* p, CQVLList<CQVLHTTPHeader>* headers, bool* get) {
    HttpLine line;
    if (!takeLine(p, &line)) return -1;
    CQVLParser start(line.from, static_cast<size_t>(line.to - line.from));
    if (start.AcceptString("POST")) return 1;
    if (start.AcceptString("HTTP")) return 0;
    if (!start.AcceptString("GET")) return -1;
    *get = true;
    while (start.AcceptCharIn(" \t")) {
    }
    const uint8_t* from = start.cursor;
    while (start.AcceptCharNotIn(" \t")) {
    }
    CQVLHTTPHeader* target =
        CQVLHTTPStringHeader::Create(qvlStrDupAscii("GET"), p->Substring(from, start.cursor));
    if (!target) return -1;
    headers->Append(target, true);
    return 1;
}

/* Header lines up to the first blank line or the end of input. Every line
 * must be a name, ':' and a value; anything else refuses the packet, as a
 * reader that guessed where such a line ends could disagree with the next
 * reader of the same bytes. */
bool readHeaders(CQVLParser* p, CQVLList<CQVLHTTPHeader>* headers) {
    HttpLine line;
    while (takeLine(p, &line) && !blankLine(line)) {
        size_t n = static_cast<size_t>(line.to - line.from);
        const uint8_t* colon = static_cast<const uint8_t*>(memchr(line.from, ':', n));
        if (!colon || colon == line.from || memchr(line.from, 0, n)) {
            p->SetError("Bad HTTP header line");
            return false;
        }
        if (isFramingName(line.from, colon)) continue;
        const uint8_t* value = colon + 1;
        while (value < line.to && (*value == ' ' || *value == '\t'))
            value++;
        CQVLHTTPHeader* h = CQVLHTTPStringHeader::Create(p->Substring(line.from, colon),
                                                         p->Substring(value, line.to));
        if (!h) return false;
        headers->Append(h, true);
    }
    return true;
}
} // namespace

CQVLHTTPPacket* CQVLXMLParser::ParseHTTPPacket(CQVLParser* p) {
    CQVLList<CQVLHTTPHeader>* headers = new (std::nothrow) CQVLList<CQVLHTTPHeader>;
    if (!headers) return nullptr;
    bool get = false;
    int request = readStartLine(p, headers, &get);
    if (request < 0 || !readHeaders(p, headers)) {
        delete headers;
        return nullptr;
    }
    CQVLParser body(p->cursor, static_cast<size_t>(p->end - p->cursor));
    CQVLXMLDoc* doc = CQVLXMLParser::ParseDocument(&body);
    if (!doc && !get) {
        p->SetError("No XML payload");
        delete headers;
        return nullptr;
    }
    CQVLHTTPPacket* packet =
        request ? static_cast<CQVLHTTPPacket*>(new (std::nothrow) CQVLHTTPRequest(headers))
                : new (std::nothrow) CQVLHTTPResponse(headers);
    if (!packet) {
        delete headers;
        delete doc;
        return nullptr;
    }
    packet->SetDocument(doc);
    return packet;
}

/* ---- HTML page ---- */

CQVLHTMLDoc::~CQVLHTMLDoc() {
    free(raw);
    free(title);
    free(head);
    free(body);
    free(onload);
    free(script);
}

void CQVLHTMLDoc::SetOnLoad(const DiChar* text) {
    replaceText(&onload, qvlStrDup(text));
}

void CQVLHTMLDoc::SetScript(const DiChar* text) {
    replaceText(&script, qvlStrDup(text));
}

void CQVLHTMLDoc::Pack(CQVLPackBuffer* b) {
    int enc = b->encoding;
    if (raw && *raw) {
        b->WriteString(enc, raw);
        return;
    }
    b->WriteAscii(enc, "<HTML><HEAD><TITLE>");
    b->WriteString(enc, title);
    b->WriteAscii(enc, "</TITLE></HEAD>");
    if (script && *script) {
        b->WriteAscii(enc, "<SCRIPT>");
        b->WriteString(enc, script);
        b->WriteAscii(enc, "</SCRIPT>");
        if (onload && *onload) {
            b->WriteAscii(enc, "<BODY onload=\"");
            b->WriteString(enc, onload);
            b->WriteAscii(enc, "\">");
        }
    } else {
        b->WriteAscii(enc, "<BODY>");
    }
    b->WriteString(enc, body);
    b->WriteAscii(enc, "</BODY></HTML>");
}
