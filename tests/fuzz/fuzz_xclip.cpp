// The clipboard relay over three displays: first byte the displays' setup
// (bit i: display i has the extended clipboard; bit 3: display 2 shares
// display 0's server; bit 4: the Windows clipboard is another program's);
// then commands {selector u8, length u16, bytes}: selector % 3 the display,
// (selector / 3) % 4 request 52, 63, 64 or the loss of the connection
// (which also reopens the display). Every delivered byte is read; nothing
// is left allocated at the end.
#include "core/diutil.h"
#include "fakes/chan_fakes.h"
#include "xde/dixclip.h"
#include "xde/dixseamless.h"
#include "xde/recording_device.h"

#include <stdlib.h>
#include <string.h>

namespace {

volatile uint32_t s_sink;
bool s_foreign;

void touch(const uint8_t* p, uint32_t n) {
    uint32_t h = 0;
    for (uint32_t i = 0; i < n; i++)
        h += p[i];
    s_sink += h;
}

const DiXClipService kService = {
    [](DiXDisplay*) -> int { return s_foreign; },
    [](DiXDisplay*, uint8_t** list, uint32_t* length) -> uint32_t {
        static const uint8_t kList[] = {7, 0, 'U', 'N', 'I', 'C', 'O', 'D', 'E'};
        *list = static_cast<uint8_t*>(malloc(sizeof kList));
        if (!*list) return 0;
        memcpy(*list, kList, sizeof kList);
        *length = sizeof kList;
        return 1;
    },
    [](DiXDisplay*, const uint32_t* ids, const DiChar* const* names, const uint32_t* lengths,
       uint32_t count, int32_t) {
        for (uint32_t i = 0; i < count; i++)
            touch(reinterpret_cast<const uint8_t*>(names[i]), lengths[i] * 2), s_sink += ids[i];
    },
    [](DiXDisplay*) { s_sink++; },
    [](DiXDisplay*, const uint8_t* data, uint32_t length, const DiChar* name, uint32_t n) {
        if (length > DI_XCLIP_MAX_TOTAL) abort();
        touch(data, length);
        touch(reinterpret_cast<const uint8_t*>(name), n * 2);
    },
    [](DiXDisplay* d, const DiChar* name, uint32_t n) {
        diXAIPSendClipboardData(d, name, n, nullptr, 0, 0);
    },
    [](DiXDisplay*) { s_sink++; },
};

struct Cursor {
    const uint8_t* p;
    size_t n;
    uint32_t u8() { return n ? (n--, *p++) : 0; }
    uint32_t u16() { return u8() | u8() << 8; }
};

DiXDisplay* openDisplay(DdSocket* sock, uint32_t setup, int i) {
    DiXDisplay* d = new DiXDisplay{};
    if (diXDEInit(d, recordingDevice(), nullptr, 64, 48) < 0) {
        diXDEFree(d);
        delete d;
        return nullptr;
    }
    sock->handle = 1;
    d->ch.socket = sock;
    d->ch.open = 1;
    if (setup & (1u << i)) d->flags |= DI_XFLAG_CLIP_EX;
    const char* server = i == 1 ? "b" : (i == 2 && !(setup & 8)) ? "c" : "a";
    d->serverName = diTextFromLatin1Dup(server, 1);
    d->serverNameLength = 1;
    d->ownerBlock = static_cast<uint8_t*>(malloc(2));
    d->ownerBlock[0] = d->ownerBlock[1] = uint8_t('0' + i);
    d->ownerBlockLength = 2;
    return d;
}

void closeDisplay(DiXDisplay*& d) {
    if (!d) return;
    d->ch.socket = nullptr;
    diXDEFree(d);
    delete d;
    d = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fakesReset();
    g_rdev = RecordingDevice();
    g_rdev.record = false;
    diXClipSetService(&kService);
    uint32_t setup = data[0];
    s_foreign = (setup & 16) != 0;
    DdSocket socks[3] = {};
    DiXDisplay* d[3] = {};
    for (int i = 0; i < 3; i++)
        d[i] = openDisplay(&socks[i], setup, i);
    Cursor c{data + 1, size - 1};
    static const uint32_t kTypes[3] = {52, 63, 64};
    while (c.n) {
        uint32_t sel = c.u8();
        uint32_t len = c.u16();
        if (len > c.n) len = uint32_t(c.n);
        /* A heap copy of exactly the payload: reads past it are seen. */
        uint8_t* payload = static_cast<uint8_t*>(malloc(len ? len : 1));
        memcpy(payload, c.p, len);
        c.p += len, c.n -= len;
        int i = int(sel % 3);
        uint32_t what = (sel / 3) % 4;
        if (d[i] && what < 3) {
            diXAIPHandleRequest(d[i], kTypes[what], payload, len);
        } else if (d[i]) {
            d[i]->ch.stopReading = 1;
            DiEvent ev{};
            ev.w[0] = 2;
            diXDEHandleEvent(&d[i]->ch.hdr, &ev);
            if (sel & 0x80) diXAnnounceLocalClipboard(d[(i + 1) % 3] ? d[(i + 1) % 3] : d[i], 1);
            closeDisplay(d[i]);
            d[i] = openDisplay(&socks[i], setup, i);
        }
        free(payload);
        g_fakeNet.sent.clear();
        g_fakeNet.sentBy.clear();
    }
    for (int i = 0; i < 3; i++)
        closeDisplay(d[i]);
    if (diXClipboardOwner()) abort();
    diXClipSetService(nullptr);
    return 0;
}
