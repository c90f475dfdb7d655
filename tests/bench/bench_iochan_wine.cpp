// Rates of the device channel under Wine, each against an anchor measured in
// the same run:
// - replies of 61,432 data bytes (the largest read a reply carries; 61,464
//   bytes with their headers) framed, deflated when that pays and written
//   through Winsock to io_peer, which reads and inflates them. Data that do
//   not deflate against the same bytes through a plain blocking Winsock
//   echo; data that deflate well against zlib at level 3 deflating the same
//   buffers. Rates count the data bytes, in MB/s.
// - 64 KB read from COM5 through the serial class with two 4,096-byte reads
//   waiting, while the far end of the line (a pseudo-terminal pair) sends
//   at the pace of a 115200-baud line, against that pace: 11,520 B/s.
#include "bench/bench_ratio.h"
#include "core/ddapp.h"
#include "core/ddsetting.h"
#include "core/dide.h"
#include "devices/dddevices.h"
#include "devices/didevice.h"
#include "session/diprofile.h"
#include "support/mem_profile_store.h"
#include "support/peer_process.h"

#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <string>

namespace {

const uint32_t kReply = DI_IO_MAX_TRANSFER + 32, kData = DI_IO_MAX_TRANSFER, kCount = 160,
               kRounds = 5;

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// One turn of the client's loop; alertable, so device completions run.
void pump() {
    MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_ALLINPUT, MWMO_ALERTABLE);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    diTimerDispatch(diDEClock());
    ddNetPoll();
}

template <class F> bool pumpUntil(F done, DWORD guardMs) {
    DWORD start = GetTickCount();
    while (!done())
        if (GetTickCount() - start > guardMs)
            return false;
        else
            pump();
    return true;
}

// A device channel made by the channel factory, connected and started.
DiChannel* connectChannel(int port, bool withList) {
    DiChannel* ch = diDECreateChannel(nullptr, DI_OBJ_DEVLIST, 0, 0);
    if (!ch) return nullptr;
    if (withList) ddDevListBuildFor(reinterpret_cast<DiIOChannel*>(ch));
    if (ddNetSocketOpen(ch->socket, 1, 1) != 0 ||
        diNetConnect(ch->socket, u"127.0.0.1", uint16_t(port), 0) != 0) {
        diDEDestroyChannel(ch);
        return nullptr;
    }
    ddNetSelectEvents(ch->socket, DD_NET_READ | DD_NET_WRITE | DD_NET_CLOSE,
                      DD_NET_READ | DD_NET_CLOSE);
    diIOSendStart(ch);
    return ch;
}

// A reply whose header and CompletionId frame the given data.
std::string reply(uint32_t completionId, const std::string& data) {
    std::string r(32, '\0');
    uint32_t total = uint32_t(32 + data.size());
    memcpy(&r[0], &total, 4);
    r[4] = 0x20;
    memcpy(&r[20], &completionId, 4);
    return r + data;
}

// Seconds from the first reply until io_peer, having read the last, closes;
// negative on failure.
double throughChannel(int port, const std::string& r) {
    DiChannel* ch = connectChannel(port, false);
    if (!ch) return -1;
    DiIOChannel* io = reinterpret_cast<DiIOChannel*>(ch);
    /* The server's hello turns compression back on: replies go after it. */
    io->compressOn = 0;
    double t = -1;
    if (pumpUntil([&] { return io->compressOn != 0; }, 10000)) {
        double t0 = now();
        bool sent = true;
        for (uint32_t i = 0; i < kCount && sent; i++)
            sent = diIOSendData(io, kReply, reinterpret_cast<const uint8_t*>(r.data()), 1) == 0;
        std::string last = reply(0xFFFFFFFF, "");
        sent = sent && diIOSendData(io, uint32_t(last.size()),
                                    reinterpret_cast<const uint8_t*>(last.data()), 1) == 0;
        if (sent && pumpUntil([&] { return !ddNetIsOpen(ch->socket); }, 60000)) t = now() - t0;
    }
    diDEDestroyChannel(ch);
    return t;
}

bool exact(SOCKET s, char* p, int n, bool sending) {
    while (n > 0) {
        int k = sending ? send(s, p, n, 0) : recv(s, p, n, 0);
        if (k <= 0) return false;
        p += k, n -= k;
    }
    return true;
}

// Seconds to send the same replies through a plain socket and read each
// back from io_peer's echo; negative on failure.
double plainEcho(int port, std::string r) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    double t = -1;
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        double t0 = now();
        bool ok = true;
        for (uint32_t i = 0; i < kCount && ok; i++)
            ok = exact(s, &r[0], int(r.size()), true) && exact(s, &r[0], int(r.size()), false);
        if (ok) t = now() - t0;
    }
    closesocket(s);
    return t;
}

double zlibLevel3(const std::string& r) {
    std::string out(compressBound(uLong(r.size())), '\0');
    double t0 = now();
    for (uint32_t i = 0; i < kCount; i++) {
        uLongf n = uLongf(out.size());
        compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(r.data()),
                  uLong(r.size()), 3);
    }
    return now() - t0;
}

// MB/s of the data bytes, the best of each over rounds taken in turn, so
// that a change in the machine's load falls on both.
template <class F, class G> void bestRates(F ours, G anchor, double* o, double* a) {
    *o = *a = 0;
    for (uint32_t i = 0; i < kRounds; i++) {
        double t = ours(), u = anchor();
        if (t > 0 && kCount * double(kData) / t / 1e6 > *o) *o = kCount * double(kData) / t / 1e6;
        if (u > 0 && kCount * double(kData) / u / 1e6 > *a) *a = kCount * double(kData) / u / 1e6;
    }
}

// Bytes a second of the serial reads, as io_peer measured them; 0 on failure.
double serialRate() {
    Peer line;
    if (!line.reservePortFile() ||
        !line.launch("../devices/iochan_harness_driver.py rate " + line.portFile))
        return 0;
    DiChannel* ch = connectChannel(line.port, true);
    if (!ch) return 0;
    bool closed = pumpUntil([&] { return !ddNetIsOpen(ch->socket); }, 60000);
    diDEDestroyChannel(ch);
    std::string result = "Z:" + line.portFile + ".result";
    double rate = 0;
    FILE* f = fopen(result.c_str(), "r");
    if (f) {
        char text[256] = {};
        if (!fgets(text, sizeof text, f) || sscanf(text, "rate %lf", &rate) != 1)
            fprintf(stderr, "serial: %s", text);
        fclose(f);
    }
    DeleteFileA(result.c_str());
    return closed ? rate : 0;
}

} // namespace

int main() {
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    if (!hvSocketSinkInit()) return 1;
    static CMemProfileStore store;
    g_diProfileStore = &store;
    ddSettingSetString(L"SerialPorts", L"COM5=COM5");
    g_ddApp->hasSmartCards = 0; // COM5 is the device list's first record
    g_ddApp->probeOne = 1;
    diIAIPSetLevel(2);

    std::string noise(kData, '\0'), text(kData, '\0');
    uint32_t x = 2463534242u;
    for (uint32_t i = 0; i < kData; i++) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        noise[i] = char(x);
        text[i] = char("serial line text, "[i % 18] + (i / 4096) % 3);
    }
    std::string noisy = reply(1, noise), plain = reply(1, text);
    Peer sink, echo;
    if (!sink.start("io_peer.py", "replies", 300) || !echo.start("io_peer.py", "echo", 300)) {
        fprintf(stderr, "io_peer did not start\n");
        return 1;
    }
    double ours, anchor;
    bestRates([&] { return throughChannel(sink.port, noisy); },
              [&] { return plainEcho(echo.port, noisy); }, &ours, &anchor);
    hvBenchRatio("IO replies 61432 B, not deflating, vs Winsock echo", ours, anchor, "MB/s");
    bestRates([&] { return throughChannel(sink.port, plain); }, [&] { return zlibLevel3(plain); },
              &ours, &anchor);
    hvBenchRatio("IO replies 61432 B, deflating, vs zlib level 3", ours, anchor, "MB/s");
    double serial = serialRate();
    hvBenchRatio("serial 64 KB at 115200 baud, 2 reads of 4096", serial, 11520, "B/s");
    return ours > 0 && serial > 0 ? 0 : 1;
}
