// The TLS layer over loopback under Wine: handshakes per second of
// ddNetStartTls (each one loading the trust stores and deciding with the
// certificate cache) against `openssl s_time -new` on the same server, and
// bulk MB/s through ddNetSend/ddNetRecv against `openssl speed -evp` for the
// negotiated cipher. The anchors are the host's own openssl (64-bit); the
// client's is the 32-bit cross-built one, and the bulk figure also carries
// the echo peer's and the loopback's costs.
#include "bench_ratio.h"
#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/ddtls.h"
#include "net/dicertcache.h"
#include "ui/dddlg.h"

#include <openssl/objects.h>
#include <openssl/ssl.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>

static std::string s_pki;

static std::wstring winPath(const std::string& hostPath) {
    std::wstring w = L"Z:" + std::wstring(hostPath.begin(), hostPath.end());
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    return w;
}

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
    std::wstring w(cmd.begin(), cmd.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &w[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return "";
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
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
    std::wstring w(cmd.begin(), cmd.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &w[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
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

static void bulk(const std::string& tag) {
    int port = startPeer("echo --cert " + s_pki + "/good.pem --key " + s_pki + "/good.key" +
                             " --until END",
                         "/tmp/hv_bench_tls_echo_" + tag);
    if (!port) return;
    DdSocket* s = secure(port);
    if (!s) return;
    std::string cipher =
        OBJ_nid2sn(SSL_CIPHER_get_cipher_nid(SSL_get_current_cipher(static_cast<SSL*>(s->tls))));
    for (char& c : cipher)
        c = char(tolower(c));
    const size_t kBytes = 16u << 20;
    std::string block(16384, 'x');
    size_t sent = 0, got = 0;
    char buf[16384];
    double t0 = now();
    while (got < kBytes + 3) {
        if (sent < kBytes + 3) {
            const char* data = sent < kBytes ? block.data() : "END";
            int len = sent < kBytes ? int(std::min(block.size(), kBytes - sent)) : 3;
            int n = ddNetSend(s, data, len);
            if (n > 0) sent += size_t(n);
        }
        int n = ddNetRecv(s, buf, sizeof buf);
        if (n > 0) got += size_t(n);
        if (n == 0 || (n < 0 && s->error != 2)) break;
        if (n < 0 && sent >= kBytes + 3) Sleep(0);
    }
    double secs = now() - t0;
    ddNetSocketDestroy(s);
    double ours = 2.0 * double(got) / secs / 1e6; // both ways

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
