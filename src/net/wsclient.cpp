/* The session web-service client (see wsclient.h). */
#include "net/wsclient.h"

#include "core/dilog.h"
#ifdef _WIN32
#include "net/ddsoaptls.h"
#endif

/* The namespace table under a name of its own: other runtime users of the
 * program define the runtime's default name. */
#define namespaces hvwsNamespaces
#include "HVNWS.nsmap"
#undef namespaces

#include <string.h>

using namespace hvws;

namespace {

/* The descriptor of one operation: its element names, the generated
 * serialisers of its request and response records, and the response's
 * return field. */
template <class Req, class Resp> struct WsOperation {
    const char* request;
    const char* response;
    void (*serialize)(struct soap*, const Req*);
    int (*put)(struct soap*, const Req*, const char*, const char*);
    Resp* (*get)(struct soap*, Resp*, const char*, const char*);
    char** Resp::*result;
};

#define HV_WS_OPERATION(name)                                                                      \
    const WsOperation<ns1__##name, ns1__##name##Response> k_##name = {                             \
        "ns1:" #name,                                                                              \
        "ns1:" #name "Response",                                                                   \
        soap_serialize_ns1__##name,                                                                \
        soap_put_ns1__##name,                                                                      \
        soap_get_ns1__##name##Response,                                                            \
        &ns1__##name##Response::_##name##Return};

HV_WS_OPERATION(search)
HV_WS_OPERATION(modifySession)
HV_WS_OPERATION(getSessionCookie)
HV_WS_OPERATION(startSession)
HV_WS_OPERATION(restartSession)
HV_WS_OPERATION(setDRXConfiguration)
HV_WS_OPERATION(startDRX)
HV_WS_OPERATION(authenticateSession)
HV_WS_OPERATION(endSession)
HV_WS_OPERATION(lookupPrefs)
HV_WS_OPERATION(searchWebtopContent)
HV_WS_OPERATION(searchWebtopContentHierarchy)
HV_WS_OPERATION(registerDRXEventListener)
HV_WS_OPERATION(resumeSession)
HV_WS_OPERATION(suspendSession)
HV_WS_OPERATION(getSessionToken)
HV_WS_OPERATION(startEmulatorSession)
HV_WS_OPERATION(endEmulatorSession)
HV_WS_OPERATION(getWebtop)
#undef HV_WS_OPERATION

template <class Req, class Resp>
int putEnvelope(struct soap* soap, const WsOperation<Req, Resp>& op, const Req* req) {
    if (soap_envelope_begin_out(soap) || soap_body_begin_out(soap) ||
        op.put(soap, req, op.request, "") || soap_body_end_out(soap) || soap_envelope_end_out(soap))
        return soap->error;
    return SOAP_OK;
}

/* The hooks the proxy puts between the runtime and the wire, and what they
 * learnt during the call. */
struct Wire {
    int (*post)(struct soap*, const char*, const char*, int, const char*, const char*, ULONG64);
    int (*postHeader)(struct soap*, const char*, const char*);
    int (*parseHeader)(struct soap*, const char*, const char*);
    int headerError;
};

Wire& wire(struct soap* soap) {
    return *static_cast<Wire*>(soap->user);
}

/* A length past the reply cap is refused at the head: the runtime would
 * otherwise allocate that much for the body of an HTTP error at once. (The
 * runtime matches header names loosely, so the length is checked after
 * every header, not by name.) */
int parseHeader(struct soap* soap, const char* key, const char* value) {
    int err = wire(soap).parseHeader(soap, key, value);
    if (!err && soap->length > WS_MAX_REPLY) {
        soap->length = 0;
        err = SOAP_LENGTH;
    }
    if (err && !wire(soap).headerError) wire(soap).headerError = err;
    return err;
}

int fail(struct soap* soap) {
    int code = soap->error;
    soap_closesock(soap);
    return soap->error = WsMapCode(code);
}

/* After the response element was not found at the top of the body: read a
 * fault in its place. Anything that is not a readable fault is a tag
 * mismatch (3) with the client's fault code. */
int readFault(struct soap* soap) {
    soap->error = SOAP_OK;
    if (soap_getfault(soap)) {
        soap->error = SOAP_TAG_MISMATCH;
        *soap_faultcode(soap) = soap->version == 2 ? "SOAP-ENV:Sender" : "SOAP-ENV:Client";
        soap_set_fault(soap);
        return fail(soap);
    }
    const char* code = *soap_faultcode(soap);
    int result = SOAP_FAULT;
    if (!code)
        result = SOAP_FAULT;
    else if (!soap_match_tag(soap, code, "SOAP-ENV:Server") ||
             !soap_match_tag(soap, code, "SOAP-ENV:Receiver"))
        result = SOAP_SVR_FAULT;
    else if (!soap_match_tag(soap, code, "SOAP-ENV:Client") ||
             !soap_match_tag(soap, code, "SOAP-ENV:Sender"))
        result = SOAP_CLI_FAULT;
    else if (!soap_match_tag(soap, code, "SOAP-ENV:MustUnderstand"))
        result = SOAP_MUSTUNDERSTAND;
    else if (!soap_match_tag(soap, code, "SOAP-ENV:VersionMismatch"))
        result = SOAP_VERSIONMISMATCH;
    /* The fault counts only when the message ends properly after it. */
    if (soap_body_end_in(soap) || soap_envelope_end_in(soap) || soap_end_recv(soap))
        return fail(soap);
    soap->error = result;
    return fail(soap);
}

/* The reading steps. The runtime's own would take any element in any
 * namespace as the response, and would report a non-envelope or an empty
 * body under the HTTP status (200) as if it were the outcome. */
template <class Req, class Resp>
int readReply(struct soap* soap, const WsOperation<Req, Resp>& op, char** result) {
    if (soap_begin_recv(soap)) {
        /* The runtime reports a refused header (a compressed reply) and a
         * reply without a body under the HTTP status that carried them. */
        int status = soap->error;
        if (status == soap->status && (status / 100 == 2 || status == 400 || status == 500)) {
            int header = wire(soap).headerError;
            soap->error = header ? header : SOAP_VERSIONMISMATCH;
        } else if (status >= 100) {
            /* The status line (still in the line buffer) is the detail. */
            *soap_faultstring(soap) = "HTTP error";
            *soap_faultdetail(soap) = soap_strdup(soap, soap->msgbuf);
        }
        return fail(soap);
    }
    /* The runtime would report an end of input or a foreign element here
     * under the HTTP status too, and would take XML of any other kind as a
     * plain reply: the status is kept out of the envelope step. */
    int status = soap->status;
    soap->status = 0;
    int e = soap_envelope_begin_in(soap);
    soap->status = status;
    if (e || soap->version == 0) {
        /* The end of input keeps its code; whatever else stands where the
         * envelope should (an HTML page, XML of another kind) is not a SOAP
         * reply. */
        if (soap->error != SOAP_EOF && soap->error != SOAP_TCP_ERROR &&
            soap->error != SOAP_SSL_ERROR)
            soap->error = SOAP_VERSIONMISMATCH;
        return fail(soap);
    }
    if (soap_recv_header(soap) || soap_body_begin_in(soap)) return fail(soap);
    Resp* resp = op.get(soap, nullptr, op.response, nullptr);
    if (!resp || soap->error) {
        if (soap->error == SOAP_TAG_MISMATCH && soap->level == 2) return readFault(soap);
        if (!soap->error) soap->error = SOAP_TAG_MISMATCH;
        return fail(soap);
    }
    if (soap_body_end_in(soap) || soap_envelope_end_in(soap) || soap_end_recv(soap))
        return fail(soap);
    char** ret = resp->*op.result;
    *result = ret ? *ret : nullptr;
    soap_closesock(soap);
    return soap->error = SOAP_OK;
}

/* A reply past its cap fails as a cut one, wherever the reader was. */
template <class Req, class Resp>
int receive(struct soap* soap, const WsOperation<Req, Resp>& op, char** result) {
    int code = readReply(soap, op, result);
    if (code && soap->count > soap->recv_maxlength) code = soap->error = WS_END_OF_INPUT;
    return code;
}

/* The call road of every operation. */
template <class Req, class Resp>
int SoapCall(struct soap* soap, const char* endpoint, const char* action,
             const WsOperation<Req, Resp>& op, Req* req, char** result) {
    /* Without an endpoint nothing is sent anywhere: there is no built-in
     * server to fall back to (the session cookie would travel to it). */
    if (!endpoint) return soap->error = WS_NO_ENDPOINT;
    soap_begin(soap);
    wire(soap).headerError = 0;
    soap->encodingStyle = ""; /* the SOAP 1.1 encoding */
    op.serialize(soap, req);
    if (soap_begin_count(soap)) return fail(soap);
    if ((soap->mode & SOAP_IO_LENGTH) && putEnvelope(soap, op, req)) return fail(soap);
    if (soap_end_count(soap)) return fail(soap);
    /* A null action would drop the header: the empty action is sent. */
    if (soap_connect(soap, endpoint, action ? action : "") || putEnvelope(soap, op, req) ||
        soap_end_send(soap))
        return fail(soap);
    *result = nullptr;
    return receive(soap, op, result);
}

char* text(const char* s) {
    return const_cast<char*>(s);
}

int postHeader(struct soap* soap, const char* key, const char* value) {
    if (key && value && !strcmp(key, "User-Agent")) value = "gSOAP/2.7";
    return wire(soap).postHeader(soap, key, value);
}

/* Through an HTTP proxy, an "https" request travels inside the CONNECT
 * tunnel: it names the path only and carries no Proxy-Authorization, which
 * would hand the proxy password to the web server. The CONNECT request
 * itself goes out as it is. */
int post(struct soap* soap, const char* endpoint, const char* host, int port, const char* path,
         const char* action, ULONG64 count) {
    if (soap->status == SOAP_CONNECT || !soap->proxy_host || !endpoint ||
        strncmp(endpoint, "https:", 6))
        return wire(soap).post(soap, endpoint, host, port, path, action, count);
    const char* proxyHost = soap->proxy_host;
    const char* proxyUser = soap->proxy_userid;
    const char* proxyPassword = soap->proxy_passwd;
    soap->proxy_host = nullptr;
    soap->proxy_userid = nullptr;
    soap->proxy_passwd = nullptr;
    int err = wire(soap).post(soap, endpoint, host, port, path, action, count);
    soap->proxy_host = proxyHost;
    soap->proxy_userid = proxyUser;
    soap->proxy_passwd = proxyPassword;
    return err;
}

bool empty(const char* s) {
    return !s || !*s;
}

/* Endpoint parts come from settings and from files the web server hands
 * out: a blank or control character would end the request line or a
 * header early and let the rest pass as headers of its own, and a host
 * with a path, user or port part would send the request (and the session
 * cookie) to another server than the one named. */
bool plain(const char* s, const char* forbidden) {
    for (; *s; s++)
        if (static_cast<unsigned char>(*s) <= 0x20 || *s == 0x7F || strchr(forbidden, *s))
            return false;
    return true;
}

bool validPort(const char* s) {
    long value = 0;
    for (const char* p = s; *p; p++) {
        if (*p < '0' || *p > '9' || p - s >= 5) return false;
        value = value * 10 + (*p - '0');
    }
    return value >= 1 && value <= 65535;
}

} // namespace

int WsMapCode(int code) {
    /* The runtime numbers its own failures differently from the codes the
     * callers act on; HTTP statuses and the XML and fault codes up to 12
     * are the same. */
    switch (code) {
    case SOAP_EOF:
    case SOAP_LENGTH:
        return WS_END_OF_INPUT;
    case SOAP_EOM:
        return WS_NO_CONTEXT;
    case SOAP_TCP_ERROR:
    case SOAP_UDP_ERROR:
        return WS_TCP_ERROR;
    case SOAP_HTTP_ERROR:
        return WS_HTTP_ERROR;
    case SOAP_SSL_ERROR:
        return WS_TLS_ERROR;
    case SOAP_ZLIB_ERROR:
        return WS_ENCODED_REPLY;
    case SOAP_VERSIONMISMATCH:
        return WS_NOT_ENVELOPE;
    }
    if (code >= 0 && code <= SOAP_FAULT) return code;
    if (code >= 100 && code < 600) return code;
    /* Every other failure of the runtime's reader (references, required
     * elements, limits) means the body held no readable response. */
    return SOAP_TAG_MISMATCH;
}

SessionServiceProxy::SessionServiceProxy(const char* protocol, const char* host,
                                         const char* portText, const char* path,
                                         const char* proxyHost, int proxyPort,
                                         const char* proxyUser, const char* proxyPassword,
                                         const char* proxyType) {
    /* Whatever case the scheme came in, TLS is set up here: the runtime
     * would otherwise run its own TLS, on its own trust, for "HTTPS". */
    bool secure = protocol && !strcasecmp(protocol, "https");
    bool http = protocol && !strcasecmp(protocol, "http");
    if ((secure || http) && !empty(host) && plain(host, "/\\@?#:[]") && portText &&
        validPort(portText) && (!path || plain(path, "?#"))) {
        endpointText = std::string(secure ? "https" : "http") + "://" + host + ":" + portText +
                       "/" + (path ? path : "");
        endpoint = endpointText.c_str();
    } else {
        diLogErrorText(u"Web service: the server address is not usable");
    }
    soap = soap_new1(SOAP_C_UTFSTRING);
    if (!soap) return;
    auto* w = new Wire{soap->fpost, soap->fposthdr, soap->fparsehdr, 0};
    soap->user = w;
    soap->fpost = post;
    soap->fposthdr = postHeader;
    soap->fparsehdr = parseHeader;
    soap->connect_timeout = WS_CONNECT_TIMEOUT_S;
    soap->send_timeout = WS_STALL_TIMEOUT_S;
    soap->recv_timeout = WS_STALL_TIMEOUT_S;
    soap->recv_maxlength = WS_MAX_REPLY;
    soap->maxlength = WS_MAX_REPLY;
    if (secure) {
        /* The client's hooks decide about certificates; the context set-up
         * already runs them. (The portable build keeps the runtime's own
         * strict verification.) */
#ifdef _WIN32
        ddSoapTlsInstall(soap);
#endif
        if (soap_ssl_client_context(soap, SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION, nullptr, nullptr,
                                    nullptr, nullptr, nullptr))
            diLogErrorText(u"Web service: the TLS set-up failed");
    }
    if (!empty(proxyHost) && proxyPort != 0) {
        if (proxyType && !strcmp(proxyType, "SOCKS")) {
            diLogErrorText(u"Web service: the SOCKS proxy is not used (the web service reaches "
                           u"HTTP proxies only)");
        } else {
            proxyHost_ = proxyHost;
            soap->proxy_host = proxyHost_.c_str();
            soap->proxy_port = proxyPort;
            if (!empty(proxyUser) && proxyPassword) {
                proxyUser_ = proxyUser;
                proxyPassword_ = proxyPassword;
                soap->proxy_userid = proxyUser_.c_str();
                soap->proxy_passwd = proxyPassword_.c_str();
            }
        }
    }
    if (!soap->namespaces) soap_set_namespaces(soap, hvwsNamespaces);
}

SessionServiceProxy::~SessionServiceProxy() {
    if (!soap) return;
    delete static_cast<Wire*>(soap->user);
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
}

#define HV_WS_CALL(op, fill)                                                                       \
    if (!soap) return WS_NO_CONTEXT;                                                               \
    ns1__##op req;                                                                                 \
    fill;                                                                                          \
    return SoapCall(soap, endpoint, nullptr, k_##op, &req, result)

int SessionServiceProxy::search(const char* sessionCookie, char** result) {
    HV_WS_CALL(search, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::modifySession(const char* sessionCookie, const char* attrName,
                                       const char* attrValue, char** result) {
    HV_WS_CALL(modifySession, (req.sessionCookie = text(sessionCookie),
                               req.attrName = text(attrName), req.attrValue = text(attrValue)));
}
int SessionServiceProxy::getSessionCookie(const char* sessionToken, char** result) {
    HV_WS_CALL(getSessionCookie, (req.sessionToken = text(sessionToken)));
}
int SessionServiceProxy::startSession(const char* clientId, bool join, char** result) {
    HV_WS_CALL(startSession, (req.clientId = text(clientId), req.join = join));
}
int SessionServiceProxy::restartSession(const char* clientId, const char* reconnectToken,
                                        char** result) {
    HV_WS_CALL(restartSession,
               (req.clientId = text(clientId), req.reconnectToken = text(reconnectToken)));
}
int SessionServiceProxy::setDRXConfiguration(const char* sessionCookie, char** result) {
    HV_WS_CALL(setDRXConfiguration, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::startDRX(const char* sessionCookie, char** result) {
    HV_WS_CALL(startDRX, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::authenticateSession(const char* sessionCookie, const char* username,
                                             const char* password, char** result) {
    HV_WS_CALL(authenticateSession, (req.sessionCookie = text(sessionCookie),
                                     req.username = text(username), req.password = text(password)));
}
int SessionServiceProxy::endSession(const char* sessionCookie, char** result) {
    HV_WS_CALL(endSession, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::lookupPrefs(const char* sessionCookie, char** result) {
    HV_WS_CALL(lookupPrefs, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::searchWebtopContent(const char* sessionCookie, char** result) {
    HV_WS_CALL(searchWebtopContent, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::searchWebtopContentHierarchy(const char* sessionCookie, char** result) {
    HV_WS_CALL(searchWebtopContentHierarchy, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::registerDRXEventListener(const char* sessionCookie, const char* eventName,
                                                  char** result) {
    HV_WS_CALL(registerDRXEventListener,
               (req.sessionCookie = text(sessionCookie), req.eventName = text(eventName)));
}
int SessionServiceProxy::resumeSession(const char* sessionCookie, const char* emulatorSessionId,
                                       char** result) {
    HV_WS_CALL(resumeSession, (req.sessionCookie = text(sessionCookie),
                               req.emulatorSessionId = text(emulatorSessionId)));
}
int SessionServiceProxy::suspendSession(const char* sessionCookie, const char* emulatorSessionId,
                                        char** result) {
    HV_WS_CALL(suspendSession, (req.sessionCookie = text(sessionCookie),
                                req.emulatorSessionId = text(emulatorSessionId)));
}
int SessionServiceProxy::getSessionToken(const char* sessionCookie, char** result) {
    HV_WS_CALL(getSessionToken, (req.sessionCookie = text(sessionCookie)));
}
int SessionServiceProxy::startEmulatorSession(const char* sessionCookie,
                                              const char* applicationName, char** result) {
    HV_WS_CALL(startEmulatorSession, (req.sessionCookie = text(sessionCookie),
                                      req.applicationName = text(applicationName)));
}
int SessionServiceProxy::endEmulatorSession(const char* sessionCookie,
                                            const char* emulatorSessionId, char** result) {
    HV_WS_CALL(endEmulatorSession, (req.sessionCookie = text(sessionCookie),
                                    req.emulatorSessionId = text(emulatorSessionId)));
}
int SessionServiceProxy::getWebtop(const char* sessionCookie, bool isHierarchical,
                                   bool lookupSessions, char** result) {
    HV_WS_CALL(getWebtop,
               (req.sessionCookie = text(sessionCookie), req.isHierarchical = isHierarchical,
                req.lookupSessions = lookupSessions));
}
#undef HV_WS_CALL
