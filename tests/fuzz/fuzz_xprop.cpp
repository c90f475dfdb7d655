// The server's properties (request 59) through the wire and the engine's
// dispatch, on a multi-window session with framed windows 3 and 4 and a
// base URL, plug-in commands reaching the real registry over an in-memory
// loader. Input: byte 0 the operation, byte 1 the name (an index into the
// known names, else the name follows the window text), then the window
// text and the value separated by the first 0xFF byte.
#include "fakes/chan_fakes.h"
#include "xde/dixprop.h"
#include "xde/recording_device.h"

#include "core/diapp.h"

#include <stdlib.h>
#include <string.h>

#include <string>

namespace {

const char* const kNames[] = {"mrkqvlloadurl",      "QVL_LAUNCHPROP",     "qvl-cwm-oldtransient",
                              "qvlplaysound",       "qvl_call_client_cmd", "qvl-swm-windowinfo",
                              "qvl-swm-serverinfo", "qvl-swm-focusinfo"};
const size_t kNameCount = sizeof kNames / sizeof kNames[0];

// Libraries whose file name starts with "ok" load; their functions answer
// by the name's second character.
int g_token;
void* load(const DiChar* file) {
    return file[0] == 'o' && file[1] == 'k' ? &g_token : nullptr;
}
void* symbol(void*, const char* name) {
    return const_cast<char*>(name);
}
void unload(void*) {}
int32_t call1(void*, const DiChar* instance) {
    return instance[0] & 1;
}
int32_t call3(void*, const DiChar*, uint32_t argc, const DiChar* const* argv) {
    int32_t sum = 0;
    for (uint32_t i = 0; i < argc; i++)
        for (const DiChar* p = argv[i]; *p; p++) sum += *p;
    return sum;
}
const DiXPluginLoader kLoader = {load, symbol, unload, call1, call3};

int32_t pluginInitialize(DiXDisplay*, const DiChar* i, const DiChar* l) {
    return diXPluginInitialize(&kLoader, i, l);
}
int32_t pluginTerminate(DiXDisplay*, const DiChar* i) {
    return diXPluginTerminate(&kLoader, i);
}
int32_t pluginCall(DiXDisplay*, const DiChar* i, int32_t argc, const DiChar* const* argv) {
    return diXPluginCall(&kLoader, i, uint32_t(argc), argv);
}
void frameTouched(DiXDisplay*, DiXWindow* w) {
    if (!w->frame) abort();
}

std::string text(const std::string& t) {
    std::string s;
    s += char(t.size() & 255), s += char(t.size() >> 8);
    return s + t;
}

void request(DiXDisplay* d, uint32_t type, const std::string& payload) {
    std::string p = payload.empty() ? std::string(1, '\0') : payload;
    diXAIPHandleRequest(d, type, reinterpret_cast<const uint8_t*>(p.data()),
                        uint32_t(payload.size()));
}

DiChar g_base[] = u"https://server.example/login/index.html";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 0x1800) return 0;
    fakesReset();
    g_rdev = RecordingDevice();
    g_rdev.record = false;
    DdXDeviceVector vec = *recordingDevice();
    vec.pluginInitialize = pluginInitialize;
    vec.pluginTerminate = pluginTerminate;
    vec.pluginCall = pluginCall;
    vec.swmUpdateStyle = frameTouched;
    vec.swmFocus = frameTouched;
    DiXDisplay* d = new DiXDisplay{};
    if (diXDEInit(d, &vec, nullptr, 640, 480) < 0) {
        delete d;
        return 0;
    }
    DdSocket sock{};
    sock.handle = 1;
    d->ch.socket = &sock;
    d->ch.open = 1;
    g_ddApp->url = data[0] & 0x80 ? g_base : nullptr;
    // A multi-window seamless session of 200 x 100 with two framed windows.
    request(d, 48, std::string("\x02\0\0\0\xc8\0\x64\0\x18\x01\0", 11));
    for (char id : {'\x03', '\x04'})
        request(d, 15, std::string(1, id) + std::string("\x0a\0\x0a\0\x32\0\x28\0\x02\0\0\0", 12) +
                           std::string(4, '\0'));

    std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    size_t cut = rest.find('\xff');
    std::string window = rest.substr(0, cut), value;
    if (cut != std::string::npos) value = rest.substr(cut + 1);
    std::string name;
    if (data[1] < kNameCount) {
        name = kNames[data[1]];
    } else {
        size_t n = std::min<size_t>(data[1] - kNameCount, window.size());
        name = window.substr(0, n);
        window = window.substr(n);
    }
    // Several commands in one value: each line is one request.
    size_t at = 0;
    do {
        size_t end = value.find('\n', at);
        std::string one = value.substr(at, end == std::string::npos ? std::string::npos : end - at);
        request(d, 59, std::string(2, '\0') + char(data[0] & 3) + text(window) + text(name) +
                           text(one));
        at = end == std::string::npos ? end : end + 1;
    } while (at != std::string::npos);

    std::u16string wide(value.begin(), value.end());
    for (char16_t& ch : wide) ch = char16_t(uint8_t(ch));
    diXPluginNameKind(wide.c_str());
    std::u16string url;
    diXPropJoinUrl(g_base, wide, &url);

    // Empty the registry for the next input.
    while (const DdXPlugin* p = diXPluginFirst()) {
        const DiChar* name0 = nullptr;
        for (uint32_t i = 0; i < DI_XPLUGIN_NAMES && !name0; i++) name0 = p->names[i];
        if (!name0) abort(); // a record without names must not stay listed
        std::u16string keep(name0);
        diXPluginTerminate(&kLoader, keep.c_str());
    }
    d->ch.socket = nullptr;
    diXDEFree(d);
    delete d;
    g_ddApp->url = nullptr;
    return 0;
}
