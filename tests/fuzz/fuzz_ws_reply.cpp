// A web-service reply from a hostile server: the first byte picks one of the
// 19 operations, the rest is the whole HTTP reply, read through the
// generated code, the client's reading steps and the code map. A call may
// succeed only with that operation's response element in the service
// namespace.
#include "fakes/ws_wire.h"

#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

typedef int (*Operation)(SessionServiceProxy&, char**);

const struct {
    const char* response;
    Operation call;
} kOperations[] = {
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& op = kOperations[data[0] % 19];
    SessionServiceProxy proxy("http", "web.example", "8080", "axis/HVNWS.jws", nullptr, 0, nullptr,
                              nullptr);
    WsWire wire;
    wire.reply.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    wire.attach(proxy);
    char* out = nullptr;
    int code = op.call(proxy, &out);
    if (code == 0) {
        // Success needs the operation's own response element in the service
        // namespace, and only success may hand out a text.
        if (wire.reply.find(op.response) == std::string::npos ||
            wire.reply.find("http://DefaultNamespace") == std::string::npos)
            abort();
        if (out) (void)strlen(out);
    } else if (out) {
        abort();
    }
    return 0;
}
