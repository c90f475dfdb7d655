// SOAP objects and HTTP packets: envelopes written and read back, typed
// parameters, faults, arrays, packet bytes and the packet reader.
#include "xmltest.h"
#include "xml/qvlsoap.h"
#include "xml/qvlxmlglobals.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace {

const std::string kEnvelopeStart = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
                                   "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                                   "xmlns:xsi=\"http://www.w3.org/1999/XMLSchema-instance\" "
                                   "xmlns:xsd=\"http://www.w3.org/1999/XMLSchema\"><SOAP-ENV:Body>";
const std::string kEnvelopeEnd = "</SOAP-ENV:Body></SOAP-ENV:Envelope>";

/* True when xmllint reads the bytes as well-formed XML (host tree; the
 * win32 tree has no xmllint to run and checks nothing here). */
bool WellFormed(const std::string& xml) {
#ifdef _WIN32
    (void)xml;
    return true;
#else
    char path[] = "/tmp/hv_xmllint_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return false;
    FILE* f = fdopen(fd, "wb");
    fwrite(xml.data(), 1, xml.size(), f);
    fclose(f);
    std::string cmd = std::string("xmllint --noout ") + path + " 2>/dev/null";
    int rc = system(cmd.c_str());
    remove(path);
    return rc == 0;
#endif
}

std::string Envelope(CQVLSOAPPacket* p, int enc) {
    std::unique_ptr<CQVLXMLDoc> d(p->ToXMLDoc(enc));
    return Markup(d.get());
}

/* Sends a packet through HTTP bytes and reads it back. */
std::unique_ptr<CQVLSOAPPacket> RoundTrip(CQVLSOAPPacket* p, bool asRequest, int enc) {
    std::unique_ptr<CQVLHTTPPacket> http;
    if (asRequest)
        http.reset(new CQVLHTTPRequest);
    else
        http.reset(new CQVLHTTPResponse);
    http->SetDocument(p->ToXMLDoc(enc));
    std::unique_ptr<CQVLPackBuffer> bytes(http->Serialize());
    CQVLParser parser(bytes->data, bytes->length);
    std::unique_ptr<CQVLHTTPPacket> back(CQVLXMLParser::ParseHTTPPacket(&parser));
    if (!back) return nullptr;
    return std::unique_ptr<CQVLSOAPPacket>(CQVLSOAPPacket::FromHTTP(back.get()));
}

std::unique_ptr<CQVLSOAPPacket> FromBytes(const std::string& xml, bool request) {
    std::string packet = (request ? "POST / HTTP/1.1\r\n\r\n" : "HTTP/1.1 200 OK\r\n\r\n") + xml;
    CQVLParser parser(packet.data(), packet.size());
    std::unique_ptr<CQVLHTTPPacket> http(CQVLXMLParser::ParseHTTPPacket(&parser));
    if (!http) return nullptr;
    return std::unique_ptr<CQVLSOAPPacket>(CQVLSOAPPacket::FromHTTP(http.get()));
}

TEST(SOAPWrite, RequestEnvelopeExactBytes) {
    CQVLSOAPRequest req("ns1:m");
    req.AddAttribute("xmlns:ns1", "urn:x");
    req.AddParameter(u"count", 3);
    req.AddParameter(u"name", u"a<b");
    std::string want = kEnvelopeStart +
                       "<ns1:m xmlns:ns1=\"urn:x\"><count xsi:type=\"xsd:int\">3</count>"
                       "<name xsi:type=\"xsd:string\">a&lt;b</name></ns1:m>" +
                       kEnvelopeEnd;
    std::string got = Envelope(&req, QVL_ENC_UTF16);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(WellFormed(got));
}

TEST(SOAPWrite, ArrayParameter) {
    CQVLSOAPRequest req("m");
    auto* arr = new CQVLNS2Array("item", "xsd:string");
    arr->AddItem(new CQVLXSDString("one"));
    arr->AddItem(new CQVLXSDString("t&o"));
    req.AddParameter(u"list", arr);
    req.AddParameter(new CQVLSOAPParameter(u"on", true));
    std::string got = Envelope(&req, QVL_ENC_UTF8);
    EXPECT_EQ(got, kEnvelopeStart +
                       "<m><list xsi:type=\"ns2:Array\" ns2:arrayType=\"xsd:string[2]\" "
                       "xmlns:ns2=\"http://schemas.xmlsoap.org/soap/encoding/\">"
                       "<item xsi:type=\"xsd:string\">one</item>"
                       "<item xsi:type=\"xsd:string\">t&amp;o</item></list>"
                       "<on xsi:type=\"xsd:boolean\">true</on></m>" +
                       kEnvelopeEnd);
    EXPECT_TRUE(WellFormed(got));
    std::unique_ptr<CQVLXMLContentTag> untyped(req.FindParameter(u"list")->ToElement(false));
    EXPECT_EQ(Markup(untyped.get()), "<list><item xsi:type=\"xsd:string\">one</item>"
                                     "<item xsi:type=\"xsd:string\">t&amp;o</item></list>");
}

TEST(SOAPWrite, ResponseReturnIsEscapedUtf16TextInEveryEncoding) {
    for (int enc : {QVL_ENC_UTF8, QVL_ENC_UTF16}) {
        CQVLSOAPResponse resp("ns1:rResponse");
        auto* ret = new CQVLXMLContentTag(u"v", u"1<2 \u00e9");
        resp.SetReturn(new CQVLXMLContentTag("old")); // replaced and deleted
        resp.SetReturn(ret);
        resp.AddReturnChild(new CQVLXMLEmptyTag("c"), true);
        CQVLSOAPParameter p(u"n", 5);
        resp.AddReturnParameter(&p);
        std::string got = Envelope(&resp, enc);
        EXPECT_EQ(got, kEnvelopeStart +
                           "<ns1:rResponse><return xsi:type=\"xsd:string\">&lt;v&gt;1&lt;2 "
                           "\xc3\xa9&lt;c/&gt;&lt;n&gt;5&lt;/n&gt;&lt;/v&gt;</return>"
                           "</ns1:rResponse>" +
                           kEnvelopeEnd)
            << enc;
        EXPECT_TRUE(WellFormed(got));
    }
    CQVLSOAPResponse none("r");
    EXPECT_EQ(Envelope(&none, QVL_ENC_UTF16),
              kEnvelopeStart + "<r><return xsi:type=\"xsd:string\"></return></r>" + kEnvelopeEnd);
    none.AddReturnChild(new CQVLXMLEmptyTag("dropped"), true); // no return: deleted
}

TEST(SOAPWrite, FaultTextsAreEscaped) {
    CQVLSOAPFault f;
    f.SetFaultCode(u"SOAP-ENV:Client");
    f.SetFaultString(u"bad <input> & \"more\"");
    f.AdoptDetail(qvlStrDup(u"d"));
    std::string got = Envelope(&f, QVL_ENC_UTF16);
    EXPECT_EQ(got, kEnvelopeStart +
                       "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Client</faultcode>"
                       "<faultstring>bad &lt;input&gt; &amp; &quot;more&quot;</faultstring>"
                       "<detail>d</detail></SOAP-ENV:Fault>" +
                       kEnvelopeEnd);
    EXPECT_TRUE(WellFormed(got));
}

TEST(SOAPWrite, ValueOfAnOtherTypeIsEscapedAgainWhenResent) {
    // A value of a type the library does not model keeps its decoded text;
    // writing it back must escape it like a string.
    CQVLSOAPRequest req("m");
    req.AddParameter(u"t", new CQVLXSDType(u"xsd:long", u"1<2 & 3"));
    std::string got = Envelope(&req, QVL_ENC_UTF8);
    EXPECT_NE(got.find(">1&lt;2 &amp; 3<"), std::string::npos) << got;
    EXPECT_TRUE(WellFormed(got));
}

TEST(SOAPRead, RequestRoundTripKeepsMethodAttributesAndTypedParameters) {
    CQVLSOAPRequest req("ns1:doLaunch");
    req.AddAttribute("xmlns:ns1", "urn:quorvellan-serveroutpost");
    req.AddParameter(u"count", -3);
    req.AddParameter(u"name", u"a<b & c \U0001F600");
    req.AddParameter(new CQVLSOAPParameter(u"flag", true));
    auto back = RoundTrip(&req, true, QVL_ENC_UTF16);
    ASSERT_NE(back, nullptr);
    ASSERT_TRUE(back->IsRequest());
    auto* r = static_cast<CQVLSOAPRequest*>(back.get());
    EXPECT_TRUE(r->IsMethod(u"ns1:doLaunch"));
    ASSERT_EQ(r->attributes.count, 1u);
    EXPECT_TRUE(r->attributes.head->item->value->Equals(u"urn:quorvellan-serveroutpost"));
    EXPECT_EQ(r->GetIntParameter(u"count"), -3);
    EXPECT_EQ(U16(r->GetStringParameter(u"name")), u"a<b & c \U0001F600");
    EXPECT_TRUE(r->GetBoolParameter(u"flag"));
    EXPECT_TRUE(r->HasParameter(u"count", u"xsd:int"));
    EXPECT_FALSE(r->HasParameter(u"count", u"xsd:string"));
    EXPECT_TRUE(r->HasParameter(u"name", nullptr));
    EXPECT_FALSE(r->HasParameter(u"missing", nullptr));
    EXPECT_EQ(r->GetIntParameter(u"missing"), 0);
    EXPECT_EQ(r->GetStringParameter(u"count"), nullptr); // wrong kind
}

TEST(SOAPRead, ResponseAndFaultRoundTrip) {
    CQVLSOAPResponse resp("ns1:xResponse");
    resp.AddAttribute("xmlns:ns1", "urn:x");
    resp.SetReturn(new CQVLXMLContentTag(u"v", u"1"));
    auto back = RoundTrip(&resp, false, QVL_ENC_UTF8);
    ASSERT_NE(back, nullptr);
    ASSERT_TRUE(back->IsResponse());
    auto* r = static_cast<CQVLSOAPResponse*>(back.get());
    EXPECT_TRUE(r->IsMethod(u"ns1:xResponse"));
    EXPECT_EQ(r->attributes.count, 1u);
    EXPECT_EQ(r->returnElement, nullptr);

    CQVLSOAPFault f;
    f.SetFaultCode(u"c<1>");
    f.SetFaultString(u"s & t");
    f.AdoptFaultActor(qvlStrDup(u"a"));
    back = RoundTrip(&f, false, QVL_ENC_UTF16);
    ASSERT_NE(back, nullptr);
    ASSERT_TRUE(back->IsFault());
    auto* rf = static_cast<CQVLSOAPFault*>(back.get());
    EXPECT_EQ(U16(rf->faultcode), u"c<1>");
    EXPECT_EQ(U16(rf->faultstring), u"s & t");
    EXPECT_EQ(U16(rf->faultactor), u"a");
    EXPECT_EQ(rf->detail, nullptr);
}

TEST(SOAPRead, ParameterKindsFollowXsiType) {
    auto p = FromBytes("<e><SOAP-ENV:Body><m>"
                       "<a xsi:type=\"xsd:boolean\">1</a><b xsi:type=\"xsd:boolean\">TRUE</b>"
                       "<c xsi:type=\"soapenc:boolean\">true</c><d xsi:type=\"xsd:long\">77</d>"
                       "<e xsi:type=\"soapenc:int\">12abc</e><f>plain</f><g/>"
                       "<h xsi:type=\"xsd:short\">-4</h><i xsi:type=\"soapenc:string\">s</i>"
                       "<j xsi:type=\"xsd:int\">x</j></m></SOAP-ENV:Body></e>",
                       true);
    ASSERT_NE(p, nullptr);
    auto* r = static_cast<CQVLSOAPRequest*>(p.get());
    EXPECT_TRUE(r->GetBoolParameter(u"a"));
    EXPECT_FALSE(r->GetBoolParameter(u"b"));
    EXPECT_TRUE(r->HasParameter(u"b", u"xsd:boolean"));
    EXPECT_TRUE(r->GetBoolParameter(u"c"));
    CQVLSOAPParameter* d = r->FindParameter(u"d");
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->IsType(u"xsd:long"));
    EXPECT_EQ(d->GetInt(), 0);
    EXPECT_EQ(U16(static_cast<CQVLXSDType*>(d->value)->value->Text()), u"77");
    EXPECT_EQ(r->GetIntParameter(u"e"), 12);
    EXPECT_EQ(U16(r->GetStringParameter(u"f")), u"plain");
    EXPECT_EQ(r->FindParameter(u"g"), nullptr); // empty element: skipped
    EXPECT_EQ(r->FindParameter(u"h")->GetShort(), -4);
    EXPECT_EQ(U16(r->GetStringParameter(u"i")), u"s");
    EXPECT_EQ(r->GetIntParameter(u"j"), 0);
    EXPECT_EQ(r->parameters.count, 9u);
}

TEST(SOAPRead, BodyAndFaultLookupByLiteralPrefix) {
    auto p = FromBytes("<x><soapenv:Body> <m k=\"v\"><p>1</p></m></soapenv:Body></x>", true);
    ASSERT_NE(p, nullptr);
    auto* r = static_cast<CQVLSOAPRequest*>(p.get());
    EXPECT_TRUE(r->IsMethod(u"m"));
    EXPECT_EQ(r->parameters.count, 1u);
    // The first body found wins, even when it has no method.
    p = FromBytes("<x><SOAP-ENV:Body/><soapenv:Body><m/></soapenv:Body></x>", true);
    EXPECT_EQ(static_cast<CQVLSOAPRequest*>(p.get())->method, nullptr);
    // A request without a body has no method and no parameters.
    p = FromBytes("<x/>", true);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->IsRequest());
    EXPECT_EQ(static_cast<CQVLSOAPRequest*>(p.get())->method, nullptr);
    // Faults: soapenv: first, then SOAP-ENV:.
    p = FromBytes("<e><soapenv:Body><soapenv:Fault><faultcode>a</faultcode>"
                  "<detail><x>d</x></detail></soapenv:Fault></soapenv:Body></e>",
                  false);
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(p->IsFault());
    auto* f = static_cast<CQVLSOAPFault*>(p.get());
    EXPECT_EQ(U16(f->faultcode), u"a");
    EXPECT_EQ(U16(f->detail), u"d");
    EXPECT_EQ(f->faultstring, nullptr);
    p = FromBytes("<e><SOAP-ENV:Fault><faultcode>1</faultcode></SOAP-ENV:Fault>"
                  "<soapenv:Fault><faultcode>2</faultcode></soapenv:Fault></e>",
                  false);
    EXPECT_EQ(U16(static_cast<CQVLSOAPFault*>(p.get())->faultcode), u"2");
}

TEST(SOAPRead, OnlyXmlDocumentsArePackets) {
    CQVLHTTPResponse http;
    http.SetDocument(new CQVLHTMLDoc);
    EXPECT_EQ(CQVLSOAPPacket::FromHTTP(&http), nullptr);
    http.SetDocument(nullptr);
    EXPECT_EQ(CQVLSOAPPacket::FromHTTP(&http), nullptr);
}

TEST(SOAPTrace, TextForms) {
    CQVLSOAPRequest req("m");
    req.AddParameter(u"n", 3);
    req.AddParameter(u"s", u"a<b");
    req.AddParameter(new CQVLSOAPParameter(u"b", false));
    req.AddParameter(u"t", new CQVLXSDType(u"xsd:long", u"9"));
    auto* arr = new CQVLNS2Array("i", "xsd:int");
    arr->AddItem(new CQVLXSDInt(1));
    req.AddParameter(u"l", arr);
    EXPECT_EQ(Packed(&req, QVL_ENC_UTF8, QVL_MODE_MARKUP),
              "m\n\tn = 3 :: xsd:int\n\ts = a<b :: xsd:string\n\tb = false :: xsd:boolean\n"
              "\tt = 9 :: xsd:long\n\tl = <i xsi:type=\"xsd:int\">1</i>\n");
    CQVLSOAPFault f;
    f.SetFaultString(u"x");
    f.AdoptDetail(qvlStrDup(u"y"));
    EXPECT_EQ(Packed(&f, QVL_ENC_UTF8, QVL_MODE_MARKUP),
              "SOAP-ENV:Fault\n\tfaultstring = x\n\tdetail = y\n");
    CQVLSOAPResponse resp("r");
    EXPECT_EQ(Packed(&resp, QVL_ENC_UTF8, QVL_MODE_MARKUP), "r\n\n");
}

/* ---- HTTP ---- */

TEST(HTTPWrite, ResponseWithHeaderAndDocument) {
    CQVLHTTPResponse http;
    http.AddHeader("Message-Id", "7");
    http.SetDocument(new CQVLXMLDoc(new CQVLXMLDecl, new CQVLXMLContentTag(u"a", u"\u00e9")));
    std::unique_ptr<CQVLPackBuffer> b(http.Serialize());
    std::string body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xc3\xa9</a>";
    EXPECT_EQ(Bytes(*b), "HTTP/1.1 200 OK\r\nMessage-Id: 7\r\nContent-type: text/xml\r\n"
                         "Content-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n" + body);
}

TEST(HTTPWrite, RequestWithoutDocumentAndIntHeader) {
    CQVLHTTPRequest http;
    http.AddHeader(new CQVLHTTPIntHeader(u"N", -5));
    std::unique_ptr<CQVLPackBuffer> b(http.Serialize());
    EXPECT_EQ(Bytes(*b), "POST /quorvellan/soap HTTP:/1.1\r\nN: -5\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(U16(http.GetHeaderValue("N")), u"-5");
    EXPECT_EQ(http.FindHeader("N")->GetIntValue(), -5);
    EXPECT_EQ(http.FindHeader("n"), nullptr);
    EXPECT_EQ(http.GetHeaderValue(static_cast<const DiChar*>(nullptr)), nullptr);
}

/* A document whose writing runs out of memory part way. */
struct FailingDoc : CQVLDoc {
    void Pack(CQVLPackBuffer* b) override {
        b->WriteAscii(b->encoding, "<partial");
        b->Reserve(uint64_t(1) << 40);
    }
};

TEST(HTTPWrite, IncompleteBodyGivesNoPacket) {
    CQVLHTTPResponse http;
    http.SetDocument(new FailingDoc);
    EXPECT_EQ(http.Serialize(), nullptr);
}

TEST(HTTPWrite, LineBreaksInHeadersAreDropped) {
    CQVLHTTPResponse http;
    http.AddHeader(u"X-A\r\nB", u"v\r\nInjected: 1\n");
    std::unique_ptr<CQVLPackBuffer> b(http.Serialize());
    EXPECT_EQ(Bytes(*b), "HTTP/1.1 200 OK\r\nX-AB: vInjected: 1\r\nContent-Length: 0\r\n\r\n");
}

TEST(HTTPWrite, HtmlPage) {
    struct Case {
        const char16_t *raw, *script, *onload;
        std::string want;
    } cases[] = {
        {u"<p>raw</p>", u"s", u"o", "<p>raw</p>"},
        {nullptr, nullptr, nullptr, "<HTML><HEAD><TITLE>T</TITLE></HEAD><BODY>B</BODY></HTML>"},
        {nullptr, u"f()", nullptr,
         "<HTML><HEAD><TITLE>T</TITLE></HEAD><SCRIPT>f()</SCRIPT>B</BODY></HTML>"},
        {nullptr, u"f()", u"g()",
         "<HTML><HEAD><TITLE>T</TITLE></HEAD><SCRIPT>f()</SCRIPT><BODY onload=\"g()\">B</BODY>"
         "</HTML>"},
    };
    for (const Case& c : cases) {
        CQVLHTMLDoc d;
        d.raw = qvlStrDup(c.raw);
        d.title = qvlStrDup(u"T");
        d.head = qvlStrDup(u"not written");
        d.body = qvlStrDup(u"B");
        d.SetScript(c.script);
        d.SetOnLoad(c.onload);
        EXPECT_EQ(Markup(&d), c.want);
        EXPECT_STREQ(d.GetContentType(), "text/html");
    }
    CQVLDoc base;
    EXPECT_STREQ(base.GetContentType(), "unknown");
}

std::unique_ptr<CQVLHTTPPacket> ParseHttp(const std::string& bytes, std::u16string* error) {
    CQVLParser p(bytes.data(), bytes.size());
    std::unique_ptr<CQVLHTTPPacket> r(CQVLXMLParser::ParseHTTPPacket(&p));
    if (error) *error = p.error;
    return r;
}

std::vector<std::pair<std::u16string, std::u16string>> Headers(CQVLHTTPPacket* p) {
    std::vector<std::pair<std::u16string, std::u16string>> v;
    for (auto* n = p->headers->head; n; n = n->next)
        v.emplace_back(U16(n->item->name), U16(n->item->GetValue()));
    return v;
}

TEST(HTTPRead, PostKeepsHeadersButContentLength) {
    auto p = ParseHttp("POST /x HTTP/1.1\r\nA: 1\r\nContent-Length: 999\r\nB:   value\r\n"
                       "C:x&amp;y\r\n\r\n<r/>",
                       nullptr);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->IsRequest());
    using H = std::vector<std::pair<std::u16string, std::u16string>>;
    EXPECT_EQ(Headers(p.get()), (H{{u"A", u"1"}, {u"B", u"value"}, {u"C", u"x&y"}}));
    ASSERT_NE(p->document, nullptr);
    EXPECT_STREQ(p->document->GetContentType(), "text/xml");
}

TEST(HTTPRead, StartLinesAndBodies) {
    using H = std::vector<std::pair<std::u16string, std::u16string>>;
    struct Case {
        std::string in;
        bool ok, request, doc;
        H headers;
        const char* error;
    } cases[] = {
        {"GET /index.html HTTP/1.1\r\nHost: h\r\n\r\n", true, true, false,
         H{{u"GET", u"/index.html"}, {u"Host", u"h"}}, ""},
        {"GET /x\r\nHost: h\r\n\r\n", true, true, false, H{{u"GET", u"/x"}, {u"Host", u"h"}}, ""},
        {"GET\t/p\n\n", true, true, false, H{{u"GET", u"/p"}}, ""},
        {"GET /p", true, true, false, H{{u"GET", u"/p"}}, ""},
        {"HTTP/1.1 200 OK\nX: 1\n\n<r/>", true, false, true, H{{u"X", u"1"}}, ""},
        {"HTTP/1.1 200 OK\r\n\r\nnot xml", false, false, false, H{}, "No XML payload"},
        {"POST / HTTP/1.1\r\nA: 1", false, false, false, H{}, "No XML payload"},
        {"PUT / HTTP/1.1\r\n\r\n<r/>", false, false, false, H{}, ""},
        {"post / HTTP/1.1\r\n\r\n<r/>", false, false, false, H{}, ""},
        {std::string("POST /\r\nA\0: 1\r\n\r\n<r/>", 21), false, false, false, H{},
         "Bad HTTP header line"},
    };
    for (const Case& c : cases) {
        std::u16string err;
        auto p = ParseHttp(c.in, &err);
        EXPECT_EQ(p != nullptr, c.ok) << c.in;
        EXPECT_EQ(err, std::u16string(c.error, c.error + strlen(c.error))) << c.in;
        if (!p) continue;
        EXPECT_EQ(p->IsRequest(), c.request) << c.in;
        EXPECT_EQ(p->IsResponse(), !c.request) << c.in;
        EXPECT_EQ(p->document != nullptr, c.doc) << c.in;
        EXPECT_EQ(Headers(p.get()), c.headers) << c.in;
    }
}

TEST(HTTPRead, DecodedLineBreaksCannotBeEchoedIntoHeaders) {
    auto in = ParseHttp("POST /a HTTP/1.1\r\nX:v&#13;&#10;Set-Cookie: s\r\n\r\n<r/>", nullptr);
    ASSERT_NE(in, nullptr);
    ASSERT_EQ(U16(in->GetHeaderValue("X")), u"v\r\nSet-Cookie: s");
    CQVLHTTPResponse out;
    out.AddHeader(u"X", in->GetHeaderValue("X"));
    std::unique_ptr<CQVLPackBuffer> b(out.Serialize());
    EXPECT_EQ(Bytes(*b), "HTTP/1.1 200 OK\r\nX: vSet-Cookie: s\r\nContent-Length: 0\r\n\r\n");
}

/* A hostile peer shapes the header block so that this reader and the next
 * one (the channel that cuts packets, a proxy, the server) disagree on where
 * the headers end or how long the body is. */
TEST(HTTPRead, HeaderBlockEndsWhereEveryReaderSeesItEnd) {
    using H = std::vector<std::pair<std::u16string, std::u16string>>;
    struct Case {
        std::string in;
        bool ok;
        H headers;
    } cases[] = {
        /* a line without ':' would run into the body and take its lines as
         * headers, and the document from after the next blank line */
        {"POST / HTTP/1.1\r\nA: 1\r\nno colon\r\n\r\n<a/>\r\nB: 2\r\n\r\n<b/>", false, H{}},
        {"HTTP/1.1 200 OK\r\nno colon\r\n\r\n<a/>", false, H{}},
        {"POST /\r\n: empty name\r\n\r\n<r/>", false, H{}},
        /* every line end the channel knows, and a blank line of blanks */
        {"POST /\rA: 1\rB: 2\r\r<r/>", true, H{{u"A", u"1"}, {u"B", u"2"}}},
        {"POST /\n\rA: 1\n\r\n\r<r/>", true, H{{u"A", u"1"}}},
        {"POST /\r\nA: 1\r\n \t \r\n<r/>", true, H{{u"A", u"1"}}},
        /* framing headers in any spelling are dropped */
        {"POST /\r\ncontent-length: 5\r\nTRANSFER-ENCODING: chunked\r\nContent-Type: a\r\n"
         "Content-Length : 9\r\nA: 1\r\n\r\n<r/>",
         true, H{{u"A", u"1"}}},
        {"GET /p?q HTTP/1.1\r\nContent-Length: 3\r\nX-Other: y\r\n\r\n", true,
         H{{u"GET", u"/p?q"}, {u"X-Other", u"y"}}},
    };
    for (const Case& c : cases) {
        std::u16string err;
        auto p = ParseHttp(c.in, &err);
        ASSERT_EQ(p != nullptr, c.ok) << c.in;
        if (!p) {
            EXPECT_EQ(err, u"Bad HTTP header line") << c.in;
            continue;
        }
        EXPECT_EQ(Headers(p.get()), c.headers) << c.in;
        EXPECT_EQ(p->document != nullptr, !p->GetHeaderValue("GET")) << c.in;
    }
}

/* Headers taken from a received packet and put into one that goes out
 * never add a second length or a coding beside the writer's own. */
TEST(HTTPWrite, NoFramingHeaderIsWrittenButTheWritersOwn) {
    const char16_t* names[] = {u"content-length",   u"Content-Type",     u"Transfer-Encoding",
                               u"Content-\rLength", u"Content-Length:x", u"CONTENT-LENGTH ",
                               u" Content-type"};
    CQVLHTTPResponse out;
    for (const char16_t* n : names)
        out.AddHeader(n, u"99");
    out.AddHeader(u"Message-Id", u"7");
    std::unique_ptr<CQVLPackBuffer> b(out.Serialize());
    EXPECT_EQ(Bytes(*b), "HTTP/1.1 200 OK\r\nMessage-Id: 7\r\nContent-Length: 0\r\n\r\n");

    auto in = ParseHttp("POST /\r\nContent-&#76;ength: 5\r\nM: 1\r\n\r\n<r/>", nullptr);
    ASSERT_NE(in, nullptr);
    CQVLHTTPResponse echo;
    for (auto* n = in->headers->head; n; n = n->next)
        echo.AddHeader(n->item->name, n->item->GetValue());
    echo.SetDocument(in->document);
    in->document = nullptr;
    b.reset(echo.Serialize());
    std::string bytes = Bytes(*b);
    EXPECT_EQ(bytes.substr(0, bytes.find("Content-Length")),
              "HTTP/1.1 200 OK\r\nM: 1\r\nContent-type: text/xml\r\n");
}

} // namespace
