// The TLS layer over loopback under Wine: handshakes per second of
// ddNetStartTls (each one loading the trust stores and deciding with the
// certificate cache) against `openssl s_time -new` on the same server, and
// bulk MB/s through ddNetSend/ddNetRecv against `openssl speed -evp` for the
// negotiated cipher. The anchors are the host's own openssl (64-bit); the
// client's is the 32-bit cross-built one. What the bulk figure includes is
// said at bulk().
#include "bench_ratio.h"
#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/ddtls.h"
#include "net/dicertcache.h"
#include "support/test_pki.h"
#include "ui/dddlg.h"

#include <openssl/objects.h>
#include <openssl/ssl.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

static std::string s_pki;

static std::string slurp(const std::wstring& path) {
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

// Runs a host shell command; its output lands in `out` (host path), which
// appears only when the command has finished. Empty when it does not.
static std::string runHost(const std::string& command, const std::string& out, int seconds) {
    std::string cmd =
        "/bin/sh -c \"" + command + " > " + out + ".tmp 2>&1; mv " + out + ".tmp " + out + "\"";
    if (!runWait(cmd, L"")) return "";
    std::wstring win = winPath(out);
    for (int i = 0; i < seconds * 100; i++) {
        if (GetFileAttributesW(win.c_str()) != INVALID_FILE_ATTRIBUTES) {
            std::string text = slurp(win);
            DeleteFileW(win.c_str());
            return text;
        }
        Sleep(10);
    }
    return "";
}

// Starts a peer through tests/peers/tls_peer.py; its port, or 0.
static int startPeer(const std::string& args, const std::string& portFile) {
    std::string cmd = "/usr/bin/python3 " HV_PEERS_DIR "/tls_peer.py --lifetime 60 --port-file " +
                      portFile + " " + args;
    if (!runWait(cmd, L"")) return 0;
    int port = 0;
    std::wstring win = winPath(portFile);
    for (int i = 0; i < 1000 && !port; i++) {
        FILE* f = _wfopen(win.c_str(), L"r");
        if (f) {
            if (fscanf(f, "%d", &port) != 1) port = 0;
            fclose(f);
        }
        if (!port) Sleep(10);
    }
    DeleteFileW(win.c_str());
    return port;
}

static double now() {
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

static DdSocket* secure(int port) {
    DdSocket* s = ddNetSocketCreate();
    if (ddNetSocketOpen(s, 1, 1) != 0 || ddNetConnectDirect(s, u"127.0.0.1", uint16_t(port)) != 0 ||
        ddNetStartTls(s, 1, u"good.test", 1) != 0) {
        ddNetSocketDestroy(s);
        return nullptr;
    }
    return s;
}

// The first connection to the test host asks whether to trust it.
static void acceptWarnings(HWND dlg, int) {
    PostMessageW(dlg, WM_COMMAND, IDOK, 0);
}

static void handshakes(const std::string& tag) {
    const int kCount = 40;
    std::string cert = " -cert " + s_pki + "/good.pem -key " + s_pki + "/good.key -cert_chain " +
                       s_pki + "/inter.pem";
    int port = startPeer("s_server -naccept " + std::to_string(kCount + 1) + cert,
                         "/tmp/hv_bench_tls_hs_" + tag);
    if (!port) return;
    DdSocket* first = secure(port); // remembers the host
    if (first) ddNetSocketDestroy(first);
    double t0 = now();
    int done = 0;
    for (int i = 0; i < kCount; i++) {
        DdSocket* s = secure(port);
        if (!s) break;
        ddNetSocketDestroy(s);
        done++;
    }
    double ours = done / (now() - t0);

    int anchorPort = startPeer("s_server -naccept 100000" + cert, "/tmp/hv_bench_tls_st_" + tag);
    std::string text =
        runHost("openssl s_time -connect 127.0.0.1:" + std::to_string(anchorPort) + " -new -time 3",
                "/tmp/hv_bench_tls_stime_" + tag, 30);
    // "N connections in T real seconds, ..."
    double anchor = 0;
    size_t at = text.find(" real seconds");
    if (at != std::string::npos) {
        size_t line = text.rfind('\n', at);
        int n = 0;
        double secs = 0;
        if (sscanf(text.c_str() + (line == std::string::npos ? 0 : line + 1),
                   "%d connections in %lf", &n, &secs) == 2 &&
            secs > 0)
            anchor = n / secs;
    }
    hvBenchRatio("tls handshakes/s vs openssl s_time -new", ours, anchor, "handshakes/s");
}

// A port on 127.0.0.1 that nothing listens on now, or 0.
static int freePort() {
    SOCKET l = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (l == INVALID_SOCKET) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof a;
    int port = 0;
    if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    closesocket(l);
    return port;
}

// The echo peer is the host's socat (C, the host's own OpenSSL with its
// assembly, a process of its own on another core): one connection, every
// record it decrypts goes through a pipe and back encrypted. It ends with
// the connection, or after two minutes if none comes.
static DdSocket* startEchoPeer() {
    int port = freePort();
    if (!port) return nullptr;
    std::string cmd =
        "/bin/sh -c \"exec timeout 120 socat -b 65536 OPENSSL-LISTEN:" + std::to_string(port) +
        ",bind=127.0.0.1,reuseaddr,cert=" + s_pki + "/chain-good.pem,key=" + s_pki +
        "/good.key,verify=0 PIPE" + " </dev/null >/dev/null 2>&1\"";
    if (!runWait(cmd, L"")) return nullptr;
    // Until it listens, connecting is refused.
    for (int i = 0; i < 500; i++) {
        if (DdSocket* s = secure(port)) return s;
        Sleep(20);
    }
    return nullptr;
}

// Bulk transfer through ddNetSend/ddNetRecv: the client writes 64 MB in
// 16 KB calls while the socket takes them and reads back whatever has
// arrived, waiting in select() only when neither way moves. The figure
// counts every byte twice (the client encrypts it going out and decrypts it
// coming back, as the anchor encrypts once), and includes the client's
// cipher work, its socket calls through Wine, the loopback and the check of
// the echoed bytes; the peer's cipher work runs beside it on its own core.
static void bulk(const std::string& tag) {
    DdSocket* s = startEchoPeer();
    if (!s) return;
    std::string cipher =
        OBJ_nid2sn(SSL_CIPHER_get_cipher_nid(SSL_get_current_cipher(static_cast<SSL*>(s->tls))));
    for (char& c : cipher)
        c = char(tolower(c));
    const size_t kBytes = 64u << 20, kBlock = 16384;
    std::string block(kBlock, '\0');
    uint32_t x = 2463534242u;
    for (char& c : block) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = char(x);
    }
    size_t sent = 0, got = 0;
    static char buf[kBlock];
    bool ok = true;
    SOCKET h = SOCKET(s->handle);
    double t0 = now();
    while (ok && got < kBytes) {
        bool moved = false;
        while (sent < kBytes) {
            size_t at = sent % kBlock;
            int n = ddNetSend(s, block.data() + at, int(std::min(kBlock - at, kBytes - sent)));
            if (n <= 0) {
                ok = s->error == DD_NET_ERR_WOULD_BLOCK;
                break;
            }
            sent += size_t(n);
            moved = true;
        }
        while (ok && got < sent) {
            size_t at = got % kBlock;
            int n = ddNetRecv(s, buf, int(kBlock - at));
            if (n <= 0) {
                ok = n < 0 && s->error == DD_NET_ERR_WOULD_BLOCK;
                break;
            }
            ok = memcmp(buf, block.data() + at, size_t(n)) == 0;
            got += size_t(n);
            moved = true;
        }
        if (ok && !moved) {
            fd_set r, wr;
            FD_ZERO(&r);
            FD_ZERO(&wr);
            FD_SET(h, &r);
            if (sent < kBytes) FD_SET(h, &wr);
            timeval tv = {10, 0};
            ok = select(0, &r, &wr, nullptr, &tv) > 0;
        }
    }
    double secs = now() - t0;
    ddNetSocketDestroy(s);
    if (!ok) {
        printf("tls bulk: the echo stopped after %zu of %zu bytes\n", got, kBytes);
        return;
    }
    double ours = 2.0 * double(got) / secs / 1e6;

    std::string text = runHost("openssl speed -evp " + cipher + " -seconds 2 -bytes 16384",
                               "/tmp/hv_bench_tls_speed_" + tag, 60);
    // The last line: "<name>  <n>k" in 1000s of bytes per second.
    double anchor = 0;
    size_t end = text.find_last_not_of(" \r\n");
    if (end != std::string::npos) {
        size_t k = text.rfind('k', end);
        size_t num = text.find_last_of(" \t", k);
        if (k != std::string::npos && num != std::string::npos)
            anchor = atof(text.substr(num + 1, k - num - 1).c_str()) / 1000.0;
    }
    std::string label = "tls bulk MB/s vs openssl speed -evp " + cipher;
    hvBenchRatio(label.c_str(), ours, anchor, "MB/s");
}

int main() {
    if (ddNetInit() != 0) return 1;
    char tag[64];
    snprintf(tag, sizeof tag, "%lu_%lu", GetCurrentProcessId(), GetTickCount());
    s_pki = std::string("/tmp/hv_bench_tls_pki_") + tag;
    runHost("/usr/bin/python3 " HV_PEERS_DIR "/make_pki.py " + s_pki, s_pki + ".done", 60);
    std::wstring cache = winPath(s_pki + "/cache");
    CreateDirectoryW(cache.c_str(), nullptr);
    ddConfigSetCertFolder(cache.c_str());
    std::wstring ca = winPath(s_pki + "/root.pem");
    g_ddApp->opt.caFile = static_cast<DiChar*>(calloc(ca.size() + 1, sizeof(DiChar)));
    memcpy(g_ddApp->opt.caFile, ca.c_str(), ca.size() * sizeof(DiChar));
    g_ddDlgHooks.initDialog = acceptWarnings;
    handshakes(tag);
    bulk(tag);
    runHost("rm -rf " + s_pki, s_pki + ".done", 10);
    return 0;
}
