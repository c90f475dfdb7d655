// Drive mapping requests in any order over the in-memory file layer. The
// input is a list of requests: a code byte, a u16 payload length, the
// payload. A path that reaches the file layer without being a plain "T:\"
// path free of device names and streams fails the run.
#include "devices/dicdm.h"
#include "fakes/cdm_fakes.h"
#include "fakes/chan_fakes.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

bool isDevice(std::u16string c) {
    size_t dot = c.find(u'.');
    if (dot != std::u16string::npos) c.resize(dot);
    while (!c.empty() && c.back() == u' ')
        c.pop_back();
    std::string low;
    for (char16_t ch : c) {
        if (ch == 0xB9 || ch == 0xB2 || ch == 0xB3) ch = u'1';
        low += char(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
    }
    for (const char* d : {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"})
        if (low == d) return true;
    return low.size() == 4 && (low.compare(0, 3, "com") == 0 || low.compare(0, 3, "lpt") == 0) &&
           low[3] >= '0' && low[3] <= '9';
}

void checkTouched() {
    for (const std::u16string& p : g_fakeFiles.touched) {
        bool ok = p.size() >= 3 && (p[0] == u'T' || p[0] == u't') && p[1] == u':' &&
                  p[2] == u'\\' && p.find(u':', 2) == std::u16string::npos && p.size() <= 263;
        size_t start = 3;
        for (size_t i = 3; ok && i <= p.size(); i++)
            if (i == p.size() || p[i] == u'\\') {
                ok = !isDevice(p.substr(start, i - start));
                start = i + 1;
            }
        if (!ok) {
            fprintf(stderr, "a refused path reached the file layer\n");
            abort();
        }
    }
    g_fakeFiles.touched.clear();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fakesReset();
    fakeFilesReset();
    fakeAddDir(u"t:\\d");
    fakeAddFile(u"t:\\d\\a", "hello");
    fakeAddFile(u"t:\\f", std::string(300, 'f'));
    DiCDMDrive t = {1, {'T', ':', '\\', 0}};
    DiIOChannel* io = static_cast<DiIOChannel*>(calloc(1, sizeof(DiIOChannel)));
    diDEChannelInit(&io->ch, DI_OBJ_CDM, 0, 0);
    if (!diCDMChannelInit(io, &g_fakeFileOps, &t, 1)) abort();
    diChannelAttachConnection(&io->ch, ddNetSocketCreate());
    size_t at = 0;
    while (at + 3 <= size) {
        uint32_t code = data[at] % 26;
        size_t n = data[at + 1] | data[at + 2] << 8;
        at += 3;
        if (n > size - at) n = size - at;
        // A copy of exactly the payload, so that a read past it is caught.
        uint8_t* payload = static_cast<uint8_t*>(malloc(n ? n : 1));
        memcpy(payload, data + at, n);
        if (code == 25) diIOChannelConnectionLost(io); // dropped, and back
        if (diIOFileHandlers[code]) diIOFileHandlers[code](io, payload, uint32_t(n), 0);
        free(payload);
        at += n;
        checkTouched();
        g_fakeNet.sent.clear();
    }
    diCDMChannelTeardown(io);
    diDEChannelFree(&io->ch);
    free(io);
    if (g_fakeFiles.openHandles || g_fakeFiles.openSearches) abort();
    return 0;
}
