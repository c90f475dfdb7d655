// What the web server and a settings file hand the integrated client: the
// first byte picks the reader (0 a session document, 1 a configuration
// document after startDRX, 2 a settings file run as a launch configuration,
// 3 an object name against a stored session), the rest is the input.
#include "session/diintclient.h"
#include "session/diobjhandler.h"
#include "session/diprofile.h"
#include "session/disettings.h"
#include "session/diso.h"

#include <stddef.h>
#include <stdint.h>

#include <string>

int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {

struct Service : DiWsService {
    std::string reply;
    DiWsReply Call(const DiWsEndpoint&, const char*, const std::vector<std::string>&) override {
        DiWsReply r;
        r.hasResult = true;
        r.result = reply;
        return r;
    }
};

struct File : CSettingsFile {
    bool CreateUniqueFile() override { return true; }
    bool Open(const DiChar*) override { return true; }
    bool ReadFileBytes(std::string*) override { return false; }
    bool WriteFileBytes(const std::string&) override { return true; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    Service service;
    g_diWsService = &service;
    File file;
    switch (data[0] % 4) {
    case 0:
    case 1: {
        CServerOutpost outpost{DiSOOptions{}};
        CIntegratedClient client(&outpost);
        client.settingsFile = &file;
        client.SetServer(u"http://web.example:8080/hvn/");
        if (data[0] % 4 == 0) {
            client.ReadSessionDocument(input);
        } else {
            client.sessionCookie8 = "C";
            service.reply = input;
            client.ConfigureDRX();
        }
        break;
    }
    case 2: {
        if (!file.ParseBytes(input.data(), input.size())) break;
        CLaunchObjectHandler handler;
        handler.HandleAllItems(&file);
        break;
    }
    case 3: {
        for (auto kv : {std::pair<const DiChar*, const DiChar*>{u"sessioncookie", u"S"},
                        {u"protocol", u"http"},
                        {u"server", u"w"},
                        {u"port", u"80"},
                        {u"jwslocation", u"axis/HVNWS.jws"}})
            file.AddKey(kv.first, kv.second);
        std::u16string name = diProfileFromUtf8(input);
        CLaunchObjectHandler handler;
        handler.HandleObject(name.c_str(), &file);
        break;
    }
    }
    g_diWsService = nullptr;
    return 0;
}
