// Connection information over a fuzzed printer list and default printer,
// and a PC/SC service whose reader list, claimed sizes, states and answers
// to reset are the fuzzed bytes.
#include "devices/discard.h"
#include "session/diinfo.h"
#include "session/diso.h"

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string.h>

int32_t diListenerOpen(DiChannel*) {
    return -1;
}

namespace {
std::u16string s_list;
uint32_t s_claim = 0, s_state = 0, s_atrLength = 0;

int32_t establish(uint32_t, uint32_t* context) {
    *context = 1;
    return 0;
}
int32_t release(uint32_t) {
    return 0;
}
/* Claims any size; writes what fits in the buffer it was given. */
int32_t listReaders(bool, uint32_t, const void*, void* buf, uint32_t* chars) {
    if (buf) {
        size_t n = s_list.size() < *chars ? s_list.size() : *chars;
        memcpy(buf, s_list.data(), n * sizeof(char16_t));
    }
    *chars = s_claim;
    return 0;
}
int32_t getStatusChange(bool, uint32_t, uint32_t, DiSCardReaderState* states, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) {
        states[i].eventState = s_state;
        states[i].cbAtr = s_atrLength;
        memset(states[i].atr, 0x3b, sizeof states[i].atr);
    }
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string list;
    for (size_t i = 0; i + 1 < size; i += 2)
        list += char16_t(data[i] | (data[i + 1] << 8));
    static DiSCardApi api = [] {
        DiSCardApi a = {};
        a.establish = establish;
        a.release = release;
        a.listReaders = listReaders;
        a.getStatusChange = getStatusChange;
        return a;
    }();
    s_list = list;
    s_claim = size >= 4 ? uint32_t(data[0] | data[1] << 8 | data[2] << 16) : uint32_t(list.size());
    s_state = size >= 6 ? uint32_t(data[4] | data[5] << 8) : 0x20;
    s_atrLength = size >= 7 ? data[6] : 0;
    static CServerOutpost* so = new CServerOutpost(DiSOOptions());
    DiInfoFacts f;
    f.hasPrintQueue = true;
    f.printerList = list.c_str();
    f.defaultPrinter = list.c_str();
    f.drives = {{list, 1}};
    diInfoListReaders(&api, &f.readers);
    f.serialPorts = {{list, list}};
    CConnectionInfo info;
    info.Refresh(so, f);
    CQVLPackBuffer b(QVL_ENC_UTF16, QVL_MODE_MARKUP);
    info.Pack(&b);
    return 0;
}
