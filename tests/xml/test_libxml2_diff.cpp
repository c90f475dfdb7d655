// Differential check: on well-formed documents our parser builds the same
// tree (element names, attributes in order, character data) as libxml2.
#include "xmltest.h"
#include "xml/qvlsoap.h"
#include "xml/qvlxmlglobals.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>

#include <string>
#include <vector>

namespace {

/* A canonical text of a tree: E(name)[a=v;...]{...} with T"..." for merged
 * character data (CDATA included; comments and instructions dropped). */
struct Canon {
    std::string out;
    std::string pendingText;
    void Flush() {
        if (!pendingText.empty()) out += "T\"" + pendingText + "\"";
        pendingText.clear();
    }
    void Start(const std::string& name, const std::vector<std::pair<std::string, std::string>>& a) {
        Flush();
        out += "E(" + name + ")[";
        for (auto& kv : a)
            out += kv.first + "=" + kv.second + ";";
        out += "]{";
    }
    void End() {
        Flush();
        out += "}";
    }
};

std::string Utf8(const DiChar* t) {
    CQVLPackBuffer b(QVL_ENC_UTF8, QVL_MODE_MARKUP);
    b.WriteString(QVL_ENC_UTF8, t);
    return Bytes(b);
}

void Walk(CQVLXMLElement* e, Canon* c) {
    if (e->IsTag()) {
        auto* t = static_cast<CQVLXMLTag*>(e);
        std::vector<std::pair<std::string, std::string>> attrs;
        for (auto* n = t->attributes->head; n; n = n->next)
            attrs.emplace_back(Utf8(n->item->name->Text()), Utf8(n->item->value->Text()));
        c->Start(Utf8(t->name->Text()), attrs);
        CQVLXMLElementList* kids = t->GetChildren();
        for (auto* n = kids ? kids->head : nullptr; n; n = n->next)
            Walk(n->item, c);
        c->End();
        return;
    }
    if (auto* s = dynamic_cast<CQVLXMLString*>(e))
        c->pendingText += Utf8(s->Text());
    else if (auto* cd = dynamic_cast<CQVLXMLCDSect*>(e))
        c->pendingText += Utf8(cd->text->Text());
}

std::string OurCanon(const std::string& doc) {
    Parsed r = ParseXml(doc);
    if (!r.doc) return "null";
    Canon c;
    Walk(r.doc->root, &c);
    return c.out;
}

void SaxStart(void* ctx, const xmlChar* name, const xmlChar** atts) {
    std::vector<std::pair<std::string, std::string>> a;
    for (int i = 0; atts && atts[i]; i += 2)
        a.emplace_back(reinterpret_cast<const char*>(atts[i]),
                       reinterpret_cast<const char*>(atts[i + 1]));
    static_cast<Canon*>(ctx)->Start(reinterpret_cast<const char*>(name), a);
}
void SaxEnd(void* ctx, const xmlChar*) {
    static_cast<Canon*>(ctx)->End();
}
void SaxText(void* ctx, const xmlChar* ch, int len) {
    static_cast<Canon*>(ctx)->pendingText.append(reinterpret_cast<const char*>(ch), len);
}

std::string LibxmlCanon(const std::string& doc) {
    xmlSAXHandler h;
    memset(&h, 0, sizeof h); // SAX1 callbacks: qualified names, attributes in order
    h.startElement = SaxStart;
    h.endElement = SaxEnd;
    h.characters = SaxText;
    h.ignorableWhitespace = SaxText;
    h.cdataBlock = SaxText;
    Canon c;
    xmlSubstituteEntitiesDefault(1); // references in attribute values decoded
    int rc = xmlSAXUserParseMemory(&h, &c, doc.data(), static_cast<int>(doc.size()));
    return rc == 0 ? c.out : "libxml2 error";
}

std::string SoapDoc(CQVLSOAPPacket* p, int enc) {
    std::unique_ptr<CQVLXMLDoc> d(p->ToXMLDoc(enc));
    return Markup(d.get());
}

std::vector<std::string> Corpus() {
    std::vector<std::string> c = {
        "<a/>",
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n<r a='1' b=\"x'y\">t</r>",
        "<r>x &lt; y &gt; z &amp; &quot;q&quot; &#65;&#x42;&#x1F600; \xc3\xa9\xe2\x82\xac</r>",
        "<r><![CDATA[<not> markup]]>tail<!-- c -->more<?pi data?>end</r>",
        "<r>\n  <a>1</a>\n  <b x=\"&lt;&#65;\"/>\n  <c:d e:f=\"g\"/>\n</r>\n",
        "<!-- lead --><?pi?>\n<!DOCTYPE r [\n <!ELEMENT r (#PCDATA|a)*>\n <!ELEMENT a EMPTY>\n"
        " <!ATTLIST a id ID #IMPLIED k (x|y) #IMPLIED>\n <!ENTITY e \"v\">\n"
        " <!NOTATION n SYSTEM \"n\">\n <!-- in subset -->\n]>\n<r>t<a id=\"i1\"/>u</r>\n<!-- end "
        "-->",
        "<profiles><profile name=\"default\" url=\"https://h/x?a=1&amp;b=2\">"
        "<setting name=\"logging\" value=\"logging_all\"/><setting name=\"w\">100</setting>"
        "</profile><profile name=\"second\"/></profiles>",
        "<_x.y-z:w9 attr_1=\"\" attr-2 = '' >  </_x.y-z:w9>",
    };
    CQVLSOAPRequest req("ns1:init");
    req.AddAttribute("xmlns:ns1", "urn:quorvellan-serveroutpost");
    req.AddAttribute("SOAP-ENV:encodingStyle", QVL_NS_SOAP_ENC);
    req.AddParameter(u"count", 3);
    req.AddParameter(u"name", u"a<b & \"c\" \u00e9");
    auto* arr = new CQVLNS2Array("item", "xsd:string");
    arr->AddItem(new CQVLXSDString("one"));
    arr->AddItem(new CQVLXSDString("<two>"));
    req.AddParameter(u"list", arr);
    req.AddParameter(new CQVLSOAPParameter(u"flag", true));
    c.push_back(SoapDoc(&req, QVL_ENC_UTF16));
    CQVLSOAPResponse resp("ns1:initResponse");
    auto* ret = new CQVLXMLContentTag(u"x", u"v&w");
    // No apostrophe: the writer escapes it as "&apos;", which this parser
    // keeps as text.
    ret->AddAttribute("k", "v");
    resp.SetReturn(ret);
    c.push_back(SoapDoc(&resp, QVL_ENC_UTF16));
    c.push_back(SoapDoc(&resp, QVL_ENC_UTF8));
    CQVLSOAPFault fault;
    fault.SetFaultCode(u"SOAP-ENV:Server");
    fault.SetFaultString(u"bad <input> & more");
    fault.AdoptDetail(qvlStrDup(u"d"));
    c.push_back(SoapDoc(&fault, QVL_ENC_UTF16));
    return c;
}

TEST(XMLDifferential, SameTreeAsLibxml2OnWellFormedDocuments) {
    for (const std::string& doc : Corpus()) {
        std::string theirs = LibxmlCanon(doc);
        ASSERT_NE(theirs, "libxml2 error") << doc;
        EXPECT_EQ(OurCanon(doc), theirs) << doc;
    }
}

} // namespace
