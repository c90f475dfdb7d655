// The session web-service client over an in-memory transport: what a
// request puts on the wire (head, parameters parsed back with libxml2, proxy
// forms) and what each kind of reply becomes (codes, return text, fault).
#include "fakes/ws_wire.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* kEnv11 = "http://schemas.xmlsoap.org/soap/envelope/";
const char* kEnv12 = "http://www.w3.org/2003/05/soap-envelope";

// The same without a length: 1 MiB chunks, so only the reader's caps stop it.
std::string chunked(const std::string& body) {
    std::string out =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (size_t at = 0; at < body.size(); at += 1 << 20) {
        std::string part = body.substr(at, 1 << 20);
        char size[16];
        snprintf(size, sizeof size, "%zx\r\n", part.size());
        out += size + part + "\r\n";
    }
    return out + "0\r\n\r\n";
}

std::string http(const std::string& body, const std::string& status = "200 OK",
                 const std::string& extra = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=utf-8\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// An envelope whose envelope prefix is `p`, bound to `ns`.
std::string envelope(const std::string& body, const std::string& p = "SOAP-ENV",
                     const std::string& ns = kEnv11, const std::string& header = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><" + p + ":Envelope xmlns:" + p + "=\"" + ns +
           "\" xmlns:ns1=\"http://DefaultNamespace\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\">" +
           header + "<" + p + ":Body>" + body + "</" + p + ":Body></" + p + ":Envelope>";
}

std::string response(const std::string& inner, const std::string& name = "ns1:getWebtopResponse") {
    return envelope("<" + name + ">" + inner + "</" + name + ">");
}

std::string fault11(const std::string& p, const std::string& code) {
    return envelope("<" + p + ":Fault><faultcode>" + p + ":" + code +
                        "</faultcode><faultstring>it broke</faultstring></" + p + ":Fault>",
                    p);
}

std::string fault12(const std::string& p, const std::string& code) {
    return envelope("<" + p + ":Fault><" + p + ":Code><" + p + ":Value>" + p + ":" + code + "</" +
                        p + ":Value></" + p + ":Code><" + p + ":Reason><" + p + ":Text>bad</" + p +
                        ":Text></" + p + ":Reason></" + p + ":Fault>",
                    p, kEnv12);
}

SessionServiceProxy* proxyFor(const char* protocol = "http", const char* host = "web.example",
                              const char* proxyHost = nullptr, int proxyPort = 0,
                              const char* user = nullptr, const char* password = nullptr,
                              const char* proxyType = nullptr) {
    return new SessionServiceProxy(protocol, host, "8080", "axis/HVNWS.jws", proxyHost, proxyPort,
                                   user, password, proxyType);
}

// A proxy made from texts that the caller overwrites right after: a caller
// that asks for new credentials after a 407 reuses its buffers.
SessionServiceProxy* proxyFromReusedTexts() {
    char host[] = "px", user[] = "u", password[] = "p";
    auto* proxy = new SessionServiceProxy("http", "web.example", "8080", "axis/HVNWS.jws", host,
                                          3128, user, password);
    memset(host, 'X', 2);
    memset(user, 'X', 1);
    memset(password, 'X', 1);
    return proxy;
}

struct Call {
    int code;
    const char* result; // the return text, or null
};

Call getWebtop(const std::string& reply, SessionServiceProxy* p = nullptr) {
    std::unique_ptr<SessionServiceProxy> proxy(p ? p : proxyFor());
    WsWire wire;
    wire.reply = reply;
    wire.attach(*proxy);
    char* out = nullptr;
    int code = proxy->getWebtop("cookie", false, true, &out);
    static std::string kept;
    kept = out ? out : "";
    return {code, out ? kept.c_str() : nullptr};
}

TEST(WsReply, CodesAndReturnText) {
    const std::string big(17 << 20, 'x');
    struct Row {
        const char* what;
        std::string reply;
        int code;
        const char* result;
    } rows[] = {
        {"the response", http(response("<getWebtopReturn>doc</getWebtopReturn>")), 0, "doc"},
        {"another return name", http(response("<return xsi:type=\"xsd:string\">d</return>")), 0,
         "d"},
        {"an empty return", http(response("<getWebtopReturn/>")), 0, ""},
        {"a nil return", http(response("<r xsi:nil=\"true\"/>")), 0, nullptr},
        {"no return", http(response("")), 0, nullptr},
        {"the return by reference",
         http(envelope("<ns1:getWebtopResponse><r href=\"#a\"/></ns1:getWebtopResponse>"
                       "<id id=\"a\" xsi:type=\"xsd:string\">shared</id>")),
         0, "shared"},
        {"UTF-8 text stays UTF-8", http(response("<r>\xE2\x82\xAC &#233;</r>")), 0,
         "\xE2\x82\xAC \xC3\xA9"},
        {"a header entry for another node",
         http(envelope("<ns1:getWebtopResponse><r>d</r></ns1:getWebtopResponse>", "SOAP-ENV",
                       kEnv11,
                       "<SOAP-ENV:Header><h SOAP-ENV:mustUnderstand=\"1\" "
                       "SOAP-ENV:actor=\"urn:elsewhere\"/></SOAP-ENV:Header>")),
         0, "d"},
        // Failures.
        {"the response in a foreign namespace",
         http(
             envelope("<x:getWebtopResponse xmlns:x=\"urn:other\"><r>d</r></x:getWebtopResponse>")),
         3, nullptr},
        {"the response of another operation",
         http(response("<r>d</r>", "ns1:startSessionResponse")), 3, nullptr},
        {"an envelope-namespace element in the response",
         http(response("<r>d</r><SOAP-ENV:Trailer/>")), 3, nullptr},
        {"a header entry that must be understood",
         http(envelope("<ns1:getWebtopResponse/>", "SOAP-ENV", kEnv11,
                       "<SOAP-ENV:Header><h SOAP-ENV:mustUnderstand=\"1\"/></SOAP-ENV:Header>")),
         8, nullptr},
        {"a body that ends at once", http(envelope("")), 6, nullptr},
        {"an HTML page at 200", http("<html><body>Welcome</body></html>"), 32, nullptr},
        {"an HTML page at 500",
         http("<html><body>Error</body></html>", "500 Internal Server Error"), 32, nullptr},
        {"an empty body", http(""), 32, nullptr},
        {"a gzip reply", http("\x1f\x8b\x08", "200 OK", "Content-Encoding: gzip\r\n"), 24, nullptr},
        {"proxy credentials wanted", http("", "407 Proxy Authentication Required"), 407, nullptr},
        {"not found", http("nope", "404 Not Found"), 404, nullptr},
        {"a reply cut short", http(response("<r>doc</r>")).substr(0, 300), -1, nullptr},
        {"an HTTP error announcing 17 MiB",
         "HTTP/1.1 407 Denied\r\nContent-Length: 17825792\r\n\r\nshort", 407, nullptr},
        {"a reply announcing 10^15 bytes",
         "HTTP/1.1 200 OK\r\nContent-Length: 0999999999999999\r\n\r\n" + response("<r>d</r>"), -1,
         nullptr},
        {"17 MiB announced", http(response("<r>" + big + "</r>")), -1, nullptr},
        {"a 17 MiB return text in chunks", chunked(response("<r>" + big + "</r>")), -1, nullptr},
        {"a 17 MiB reply of blanks in chunks",
         chunked(response("<r>d</r>" + std::string(17 << 20, ' '))), -1, nullptr},
        {"a reply in chunks", chunked(response("<r>d</r>")), 0, "d"},
    };
    for (const Row& r : rows) {
        Call c = getWebtop(r.reply);
        EXPECT_EQ(c.code, r.code) << r.what;
        if (r.result)
            EXPECT_STREQ(c.result, r.result) << r.what;
        else
            EXPECT_EQ(c.result, nullptr) << r.what;
    }
}

TEST(WsReply, FaultCodesAndTexts) {
    struct Row {
        const char* what;
        std::string reply;
        int code;
        const char* faultcode;
    } rows[] = {
        {"server", http(fault11("SOAP-ENV", "Server"), "500 Error"), 2, "SOAP-ENV:Server"},
        {"client", http(fault11("SOAP-ENV", "Client"), "500 Error"), 1, "SOAP-ENV:Client"},
        {"must understand", http(fault11("SOAP-ENV", "MustUnderstand")), 8,
         "SOAP-ENV:MustUnderstand"},
        {"version mismatch", http(fault11("SOAP-ENV", "VersionMismatch")), 32,
         "SOAP-ENV:VersionMismatch"},
        {"an application fault under another prefix",
         http(fault11("soapenv", "Server.userException"), "500 Error"), 12,
         "SOAP-ENV:Server.userException"},
        {"a SOAP 1.2 sender fault", http(fault12("SOAP-ENV", "Sender"), "500 Error"), 1, nullptr},
        {"a SOAP 1.2 fault under another prefix", http(fault12("env", "Sender"), "500 Error"), 12,
         nullptr},
    };
    for (const Row& r : rows) {
        std::unique_ptr<SessionServiceProxy> proxy(proxyFor());
        WsWire wire;
        wire.reply = r.reply;
        wire.attach(*proxy);
        char* out = nullptr;
        EXPECT_EQ(proxy->getWebtop("cookie", false, true, &out), r.code) << r.what;
        EXPECT_EQ(out, nullptr) << r.what;
        const char** code = soap_faultcode(proxy->soap);
        if (r.faultcode) {
            EXPECT_STREQ(*code, r.faultcode) << r.what;
            EXPECT_STREQ(*soap_faultstring(proxy->soap), "it broke") << r.what;
        }
    }
    // An HTTP error keeps the status line for the callers that report it.
    std::unique_ptr<SessionServiceProxy> proxy(proxyFor());
    WsWire wire;
    wire.reply = http("", "407 Proxy Authentication Required");
    wire.attach(*proxy);
    char* out = nullptr;
    ASSERT_EQ(proxy->startSession("1:2", false, &out), 407);
    EXPECT_STREQ(*soap_faultstring(proxy->soap), "HTTP error");
    EXPECT_STREQ(*soap_faultdetail(proxy->soap), "HTTP/1.1 407 Proxy Authentication Required");
}

// Without a usable endpoint every operation fails with 11 and sends
// nothing: no fallback server, and no part of the address (which session
// files carry) may add header lines or point the cookie elsewhere.
TEST(WsRequest, NoUsableEndpointSendsNothing) {
    struct Row {
        const char *protocol, *host, *port, *path;
    } rows[] = {
        {"http", "", "80", "p"},
        {"http", nullptr, "80", "p"},
        {"ftp", "web.example", "80", "p"},
        {nullptr, "web.example", "80", "p"},
        {"http", "web.example\r\nX-Injected: 1", "80", "p"},
        {"http", "evil.example/x?", "80", "p"},
        {"http", "user@evil.example", "80", "p"},
        {"http", "web.example:99", "80", "p"},
        {"http", "web.example", "70000", "p"},
        {"http", "web.example", "0", "p"},
        {"http", "web.example", "", "p"},
        {"http", "web.example", "80x", "p"},
        {"http", "web.example", "000080", "p"},
        {"http", "web.example", "80", "axis HTTP/1.1\r\nX-Injected: 1"},
    };
    for (const Row& r : rows) {
        std::unique_ptr<SessionServiceProxy> proxy(new SessionServiceProxy(
            r.protocol, r.host, r.port, r.path, nullptr, 0, nullptr, nullptr));
        WsWire wire;
        wire.attach(*proxy);
        char* out = const_cast<char*>("kept");
        std::vector<int> codes;
        for (const auto& op : kWsOperations)
            codes.push_back(op.call(*proxy, &out));
        EXPECT_EQ(codes, std::vector<int>(19, 11)) << (r.host ? r.host : "") << " " << r.port;
        EXPECT_STREQ(out, "kept");
        EXPECT_EQ(wire.opens, 0);
        EXPECT_EQ(wire.sent, "");
    }
}

// The request as sent: head lines by name, the request element's children.
struct Sent {
    std::string requestLine;
    std::map<std::string, std::string> head;
    std::string body;
    std::string element;                                     // request element, "ns:name"
    std::vector<std::pair<std::string, std::string>> params; // name, text or "href:" + text
};

Sent parse(const std::string& wire) {
    Sent s;
    size_t end = wire.find("\r\n\r\n");
    if (end == std::string::npos) return s;
    std::string head = wire.substr(0, end);
    s.body = wire.substr(end + 4);
    size_t at = 0;
    while (at < head.size()) {
        size_t eol = head.find("\r\n", at);
        if (eol == std::string::npos) eol = head.size();
        std::string line = head.substr(at, eol - at);
        if (at == 0)
            s.requestLine = line;
        else if (size_t colon = line.find(": "); colon != std::string::npos)
            s.head[line.substr(0, colon)] = line.substr(colon + 2);
        at = eol + 2;
    }
    xmlDocPtr doc = xmlReadMemory(s.body.data(), int(s.body.size()), nullptr, nullptr, 0);
    if (!doc) return s;
    std::map<std::string, std::string> ids;
    xmlNodePtr body = xmlDocGetRootElement(doc)->children;
    for (xmlNodePtr n = body->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (xmlChar* id = xmlGetProp(n, BAD_CAST "id")) {
            xmlChar* t = xmlNodeGetContent(n);
            ids[std::string("#") + (char*)id] = (char*)t;
            xmlFree(t);
            xmlFree(id);
        } else if (s.element.empty()) {
            s.element =
                std::string((char*)n->ns->prefix) + ":" + (char*)n->name + "@" + (char*)n->ns->href;
        }
    }
    for (xmlNodePtr n = body->children; n; n = n->next) {
        if (n->type != XML_ELEMENT_NODE || xmlHasProp(n, BAD_CAST "id")) continue;
        for (xmlNodePtr p = n->children; p; p = p->next) {
            if (p->type != XML_ELEMENT_NODE) continue;
            std::string text;
            if (xmlChar* href = xmlGetProp(p, BAD_CAST "href")) {
                text = "href:" + ids[(char*)href];
                xmlFree(href);
            } else {
                xmlChar* t = xmlNodeGetContent(p);
                text = (char*)t;
                xmlFree(t);
            }
            EXPECT_FALSE(xmlHasProp(p, BAD_CAST "type")) << "no xsi:type on " << p->name;
            s.params.push_back({(char*)p->name, text});
        }
        break;
    }
    xmlFreeDoc(doc);
    return s;
}

Sent send(SessionServiceProxy* p, const std::function<int(SessionServiceProxy&, char**)>& call,
          WsWire* w = nullptr) {
    std::unique_ptr<SessionServiceProxy> proxy(p);
    WsWire local;
    WsWire& wire = w ? *w : local;
    wire.reply = http(response("<r>d</r>"));
    wire.attach(*proxy);
    char* out = nullptr;
    call(*proxy, &out); // only the request matters here
    return parse(wire.sent);
}

using Params = std::vector<std::pair<std::string, std::string>>;

TEST(WsRequest, ParametersOnTheWire) {
    const char* shared = "same text";
    struct Row {
        const char* what;
        std::function<int(SessionServiceProxy&, char**)> call;
        const char* element;
        Params params;
    } rows[] = {
        {"booleans in table order",
         [](SessionServiceProxy& p, char** o) { return p.getWebtop("ck", true, false, o); },
         "ns1:getWebtop",
         {{"sessionCookie", "ck"}, {"isHierarchical", "true"}, {"lookupSessions", "false"}}},
        {"a null text is left out, an empty one kept",
         [](SessionServiceProxy& p, char** o) {
             return p.authenticateSession("ck", "", nullptr, o);
         },
         "ns1:authenticateSession",
         {{"sessionCookie", "ck"}, {"username", ""}}},
        {"markup, line feeds and UTF-8 survive",
         [](SessionServiceProxy& p, char** o) {
             return p.modifySession("a<b&c\nd", "preferredlanguage", "caf\xC3\xA9 \xE2\x82\xAC", o);
         },
         "ns1:modifySession",
         {{"sessionCookie", "a<b&c\nd"},
          {"attrName", "preferredlanguage"},
          {"attrValue", "caf\xC3\xA9 \xE2\x82\xAC"}}},
        {"one text given twice is sent once by reference",
         [shared](SessionServiceProxy& p, char** o) { return p.suspendSession(shared, shared, o); },
         "ns1:suspendSession",
         {{"sessionCookie", "href:same text"}, {"emulatorSessionId", "href:same text"}}},
        {"the client id",
         [](SessionServiceProxy& p, char** o) { return p.startSession("12:34", false, o); },
         "ns1:startSession",
         {{"clientId", "12:34"}, {"join", "false"}}},
    };
    for (const Row& r : rows) {
        Sent s = send(proxyFor(), r.call);
        EXPECT_EQ(s.element, std::string(r.element) + "@http://DefaultNamespace") << r.what;
        EXPECT_EQ(s.params, r.params) << r.what;
    }
}

TEST(WsRequest, HeadDirectAndThroughProxies) {
    auto call = [](SessionServiceProxy& p, char** o) { return p.endSession("ck", o); };
    struct Row {
        const char* what;
        SessionServiceProxy* proxy;
        const char* connectTo; // host:port the transport was opened to
        const char* requestLine;
        const char* proxyAuth; // null: no header
    } rows[] = {
        {"direct", proxyFor(), "web.example:8080", "POST /axis/HVNWS.jws HTTP/1.1", nullptr},
        {"HTTP proxy with credentials", proxyFor("http", "web.example", "px", 3128, "u", "p:w"),
         "px:3128", "POST http://web.example:8080/axis/HVNWS.jws HTTP/1.1", "Basic dTpwOnc="},
        {"HTTP proxy, user without password",
         proxyFor("http", "web.example", "px", 3128, "u", nullptr), "px:3128",
         "POST http://web.example:8080/axis/HVNWS.jws HTTP/1.1", nullptr},
        {"HTTP proxy, empty user", proxyFor("http", "web.example", "px", 3128, "", "p"), "px:3128",
         "POST http://web.example:8080/axis/HVNWS.jws HTTP/1.1", nullptr},
        {"texts the caller reuses", proxyFromReusedTexts(), "px:3128",
         "POST http://web.example:8080/axis/HVNWS.jws HTTP/1.1", "Basic dTpw"},
        {"proxy port 0 is no proxy", proxyFor("http", "web.example", "px", 0, "u", "p"),
         "web.example:8080", "POST /axis/HVNWS.jws HTTP/1.1", nullptr},
        {"a SOCKS proxy is not used",
         proxyFor("http", "web.example", "px", 1080, "u", "p", "SOCKS"), "web.example:8080",
         "POST /axis/HVNWS.jws HTTP/1.1", nullptr},
        // Inside the CONNECT tunnel: the path only, and the proxy password
        // never reaches the web server.
        {"https through an HTTP proxy", proxyFor("https", "web.example", "px", 3128, "u", "p"),
         "px:3128", "POST /axis/HVNWS.jws HTTP/1.1", nullptr},
    };
    for (const Row& r : rows) {
        WsWire wire;
        Sent s = send(r.proxy, call, &wire);
        EXPECT_EQ(wire.host + ":" + std::to_string(wire.port), r.connectTo) << r.what;
        EXPECT_EQ(s.requestLine, r.requestLine) << r.what;
        if (r.proxyAuth)
            EXPECT_EQ(s.head["Proxy-Authorization"], r.proxyAuth) << r.what;
        else
            EXPECT_EQ(s.head.count("Proxy-Authorization"), 0u) << r.what;
        EXPECT_EQ(s.head["SOAPAction"], "\"\"") << r.what;
        EXPECT_EQ(s.head["User-Agent"], "gSOAP/2.7") << r.what;
        EXPECT_EQ(s.head["Connection"], "close") << r.what;
        EXPECT_EQ(s.head.count("Accept-Encoding"), 0u) << r.what;
        EXPECT_EQ(s.head["Content-Length"], std::to_string(s.body.size())) << r.what;
    }
}

// "HTTPS" in any case is the same secure endpoint, never plain http.
TEST(WsRequest, SchemeCaseStillSecure) {
    for (const char* scheme : {"https", "HTTPS", "Https"}) {
        std::unique_ptr<SessionServiceProxy> proxy(proxyFor(scheme));
        EXPECT_EQ(proxy->endpointText, "https://web.example:8080/axis/HVNWS.jws") << scheme;
    }
}

} // namespace
