// A web-service reply from a hostile server: the first byte picks one of the
// 19 operations, the rest is the whole HTTP reply, read through the
// generated code, the client's reading steps and the code map. A call may
// succeed only with that operation's response element in the service
// namespace.
#include "fakes/ws_wire.h"

#include <stdlib.h>
#include <string.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto& op = kWsOperations[data[0] % 19];
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
