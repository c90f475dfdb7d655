/* Client capability values. */
#include "session/dicapability.h"

#include "core/diapp.h"
#include "core/dilog.h"
#include "xml/qvlsoap.h"

#include <stdlib.h>

#include <string>

CCapability::CCapability(const DiChar* n, bool f) : name(diAppStrDup(n)), flag(f ? 1 : 0) {}

CCapability::~CCapability() {
    free(name);
}

/* A typed element named after the capability; none without a name, which
 * would make the message unreadable. */
static CQVLXMLElement* element(const DiChar* name, CQVLSOAPParameter* parameter) {
    CQVLXMLElement* out = name && *name ? parameter->ToElement(true) : nullptr;
    delete parameter;
    return out;
}

/* name=value as a new text; an absent name prints empty. */
static DiChar* joined(const DiChar* name, const std::u16string& value) {
    std::u16string text = std::u16string(name ? name : u"") + u"=" + value;
    return diAppStrDup(text.c_str());
}

static std::u16string decimal(int32_t value) {
    DiChar text[16];
    diFormatPositional(text, 16, u"%d", {static_cast<int>(value)});
    return text;
}

CStringCapability::CStringCapability(const DiChar* n, const DiChar* v, bool f)
    : CCapability(n, f), value(diAppStrDup(v)) {}

CStringCapability::~CStringCapability() {
    free(value);
}

CQVLXMLElement* CStringCapability::ToSOAPParameter() {
    return element(name, new CQVLSOAPParameter(name, value ? value : u""));
}

DiChar* CStringCapability::ToText() {
    return joined(name, value ? value : u"");
}

void CStringCapability::Log() {
    diLogInfoArgs(391, {name ? name : u"", value ? value : u""});
}

CQVLXMLElement* CIntCapability::ToSOAPParameter() {
    return element(name, new CQVLSOAPParameter(name, value));
}

DiChar* CIntCapability::ToText() {
    return joined(name, decimal(value));
}

void CIntCapability::Log() {
    diLogInfoArgs(390, {name ? name : u"", static_cast<int>(value)});
}

CQVLXMLElement* CBoolCapability::ToSOAPParameter() {
    return element(name, new CQVLSOAPParameter(name, value != 0));
}

DiChar* CBoolCapability::ToText() {
    return joined(name, value ? u"true" : u"false");
}

void CBoolCapability::Log() {
    diLogInfoArgs(391, {name ? name : u"", value ? u"true" : u"false"});
}
