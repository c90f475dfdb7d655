// An in-memory transport for a web-service proxy's context: the request
// bytes are collected, the reply comes from a buffer, and where the runtime
// would connect is recorded. Shared by the web-service tests and fuzzer.
#pragma once

#include "net/wsclient.h"

#include <string.h>
#include <string>

struct WsWire {
    std::string sent;
    std::string reply;
    size_t at = 0;
    int opens = 0;
    std::string endpoint, host;
    int port = 0;

    // The proxy's context carries the proxy's own data: the transport of
    // the one call under way is kept here.
    static WsWire*& wire(struct soap*) {
        static WsWire* current;
        return current;
    }

    // Puts the transport on the proxy's context; a fresh proxy per call.
    void attach(SessionServiceProxy& proxy) {
        wire(proxy.soap) = this;
        struct soap* s = proxy.soap;
        s->fopen = [](struct soap* soap, const char* endpoint, const char* host, int port) {
            WsWire& w = *wire(soap);
            w.opens++;
            w.endpoint = endpoint ? endpoint : "";
            // Where the runtime's own connect would go: to the proxy if any.
            w.host = soap->proxy_host ? soap->proxy_host : host ? host : "";
            w.port = soap->proxy_host ? soap->proxy_port : port;
            return SOAP_SOCKET(7);
        };
        s->fsend = [](struct soap* soap, const char* data, size_t n) {
            wire(soap)->sent.append(data, n);
            return SOAP_OK;
        };
        s->frecv = [](struct soap* soap, char* buf, size_t n) {
            WsWire& w = *wire(soap);
            size_t k = w.reply.size() - w.at < n ? w.reply.size() - w.at : n;
            memcpy(buf, w.reply.data() + w.at, k);
            w.at += k;
            return k;
        };
        s->fclose = [](struct soap* soap) {
            soap->socket = SOAP_INVALID_SOCKET;
            return SOAP_OK;
        };
        s->fclosesocket = [](struct soap*, SOAP_SOCKET) { return SOAP_OK; };
    }
};

// Every operation of the proxy with plausible arguments, and the local
// name of its response element.
typedef int (*WsOperationCall)(SessionServiceProxy&, char**);

inline const struct {
    const char* response;
    WsOperationCall call;
} kWsOperations[] = {
    {"searchResponse", [](SessionServiceProxy& p, char** o) { return p.search("c", o); }},
    {"modifySessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.modifySession("c", "a", "v", o); }},
    {"getSessionCookieResponse",
     [](SessionServiceProxy& p, char** o) { return p.getSessionCookie("t", o); }},
    {"startSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.startSession("1:2", false, o); }},
    {"restartSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.restartSession("1:2", "t", o); }},
    {"setDRXConfigurationResponse",
     [](SessionServiceProxy& p, char** o) { return p.setDRXConfiguration("c", o); }},
    {"startDRXResponse", [](SessionServiceProxy& p, char** o) { return p.startDRX("c", o); }},
    {"authenticateSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.authenticateSession("c", "", "t", o); }},
    {"endSessionResponse", [](SessionServiceProxy& p, char** o) { return p.endSession("c", o); }},
    {"lookupPrefsResponse", [](SessionServiceProxy& p, char** o) { return p.lookupPrefs("c", o); }},
    {"searchWebtopContentResponse",
     [](SessionServiceProxy& p, char** o) { return p.searchWebtopContent("c", o); }},
    {"searchWebtopContentHierarchyResponse",
     [](SessionServiceProxy& p, char** o) { return p.searchWebtopContentHierarchy("c", o); }},
    {"registerDRXEventListenerResponse",
     [](SessionServiceProxy& p, char** o) { return p.registerDRXEventListener("c", "Print", o); }},
    {"resumeSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.resumeSession("c", "e", o); }},
    {"suspendSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.suspendSession("c", "e", o); }},
    {"getSessionTokenResponse",
     [](SessionServiceProxy& p, char** o) { return p.getSessionToken("c", o); }},
    {"startEmulatorSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.startEmulatorSession("c", "app", o); }},
    {"endEmulatorSessionResponse",
     [](SessionServiceProxy& p, char** o) { return p.endEmulatorSession("c", "e", o); }},
    {"getWebtopResponse",
     [](SessionServiceProxy& p, char** o) { return p.getWebtop("c", false, true, o); }},
};
