// Connections through proxies, ours against curl in the same run with the
// same proxies and responders: set-ups per second (each followed by one
// small request) through tinyproxy, microsocks with a password, and two hops;
// MB/s for 256 MiB over one hop and two, and ours direct for scale.
#include "core/ddapp.h"
#include "net/ddnet.h"
#include "net/diroute.h"
#include "support/peer_process.h"
#include "bench/bench_ratio.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

double now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

// Runs curl with the arguments to its end; the number of transfers that
// reported status 200 (Wine does not hand over a host program's exit code,
// so curl reports each status into a file; nor does it wait for one: the
// shell leaves a second file when curl has ended).
int curl(const std::string& args) {
    char out[128];
    snprintf(out, sizeof out, "/tmp/hv_bench_curl_%lu", GetCurrentProcessId());
    std::string path = std::string("Z:") + out, done = path + ".done";
    DeleteFileA(path.c_str());
    DeleteFileA(done.c_str());
    std::string cmd = "/bin/sh -c \"/usr/bin/curl -s -w '%{http_code}\\n' " + args + " >" + out +
                      "; : >" + out + ".done\"";
    std::wstring w(cmd.begin(), cmd.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, &w[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 0;
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    for (int i = 0; i < 600000 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(1);
    int ok = 0;
    if (FILE* f = fopen(path.c_str(), "r")) {
        char line[64];
        while (fgets(line, sizeof line, f))
            if (strncmp(line, "200", 3) == 0) ok++;
        fclose(f);
    }
    DeleteFileA(path.c_str());
    DeleteFileA(done.c_str());
    return ok;
}

// One connection through the configured chain, one GET, the whole reply
// read: the bytes received, or -1.
int64_t fetchOnce(int port, uint32_t flags) {
    DdSocket* s = ddNetSocketCreate();
    int64_t total = -1;
    if (ddNetSocketOpen(s, 1, 1) == 0 && diNetConnect(s, u"127.0.0.1", uint16_t(port), flags) == 0) {
        const char get[] = "GET /small HTTP/1.0\r\n\r\n";
        if (ddNetSend(s, get, int(sizeof get - 1)) == int(sizeof get - 1)) {
            total = 0;
            static char buf[1 << 16];
            for (;;) {
                int n = ddNetRecv(s, buf, sizeof buf);
                if (n > 0) {
                    total += n;
                    continue;
                }
                if (n == 0) break;
                if (s->error != DD_NET_ERR_WOULD_BLOCK || ddNetWaitReadable(s, 30000) != 1) {
                    total = -1;
                    break;
                }
            }
        }
    }
    ddNetSocketDestroy(s);
    return total;
}

DiRoute* route(uint32_t kind, int port) {
    DiRoute* r = new DiRoute;
    diRouteInit(r, kind, u"127.0.0.1", uint32_t(port), 0);
    return r;
}

void reset() {
    g_ddApp->httpProxyInUse = g_ddApp->socksInUse = 0;
    free(g_ddApp->opt.baseRoute);
    g_ddApp->opt.baseRoute = nullptr;
}

// The session's base route; its SOCKS hop gets the bench's credentials.
void baseRoute(const std::string& spec) {
    std::u16string w(spec.begin(), spec.end());
    g_ddApp->opt.baseRoute = static_cast<DiChar*>(malloc((w.size() + 1) * 2));
    memcpy(g_ddApp->opt.baseRoute, w.c_str(), (w.size() + 1) * 2);
    DiRouteChain* base = diSOGetBaseRoute();
    if (base && base->first) {
        base->first->route->credentialKind = 1;
        diRouteSetCredentials(base->first->route, u"bench", u"pw");
    }
}

struct Setup {
    const char* label;
    std::string curlProxy; // curl's proxy options
    void (*configure)(int tiny, int socks);
    uint32_t flags;
};

} // namespace

int main() {
    ddNetInit();
    Peer web, source, tiny, socks;
    std::string root = "/tmp/hv_bench_web_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(("Z:" + root).c_str(), nullptr);
    FILE* f = fopen(("Z:" + root + "/small").c_str(), "wb");
    if (f) {
        fputs("small page\n", f);
        fclose(f);
    }
    if (!web.start("proxy_launcher.py", "web --root " + root) ||
        !source.start("proxy_launcher.py", "source --bytes 268435456") ||
        !tiny.start("proxy_launcher.py", "tinyproxy") ||
        !socks.start("proxy_launcher.py", "microsocks --user bench --password pw")) {
        fprintf(stderr, "bench_routes: peers did not start\n");
        return 1;
    }
    g_ddApp->opt.httpProxyRoute = route(DI_ROUTE_HTTP, tiny.port);
    g_ddApp->opt.socksRoute = route(DI_ROUTE_SOCKS, socks.port);
    g_ddApp->opt.socksRoute->credentialKind = 1;
    diRouteSetCredentials(g_ddApp->opt.socksRoute, u"bench", u"pw");
    static int s_socks;
    s_socks = socks.port;
    std::string tp = "http://127.0.0.1:" + std::to_string(tiny.port);
    std::string sp = "bench:pw@127.0.0.1:" + std::to_string(socks.port);
    Setup setups[] = {
        {"set-ups/s tinyproxy ours/curl", "-p -x " + tp,
         [](int, int) { g_ddApp->httpProxyInUse = 1; }, 0},
        {"set-ups/s microsocks+password ours/curl", "--socks5-hostname " + sp,
         [](int, int) { g_ddApp->socksInUse = 1; }, 0},
        {"set-ups/s two hops ours/curl", "--preproxy socks5h://" + sp + " -p -x " + tp,
         [](int, int) {
             g_ddApp->httpProxyInUse = 1;
             baseRoute("CTSOCKS:127.0.0.1:" + std::to_string(s_socks));
         },
         1},
    };
    const int kSetups = 100;
    for (const Setup& su : setups) {
        reset();
        su.configure(tiny.port, socks.port);
        double t0 = now();
        int ok = 0;
        for (int i = 0; i < kSetups; ++i) ok += fetchOnce(web.port, su.flags) > 0;
        double ours = ok / (now() - t0);
        std::string url = "http://127.0.0.1:" + std::to_string(web.port) + "/small";
        std::string urls;
        for (int i = 0; i < kSetups; ++i) urls += " -o /dev/null " + url;
        // One curl process for all requests: the set-ups, not process starts.
        t0 = now();
        int done = curl(su.curlProxy + " -H 'Connection: close'" + urls);
        double anchor = done / (now() - t0);
        hvBenchRatio(su.label, ours, anchor, "set-ups/s");
    }
    // 256 MiB through one hop and two; ours direct for scale.
    const double mib = 256.0;
    std::string surl = "http://127.0.0.1:" + std::to_string(source.port) + "/";
    struct Bulk {
        const char* label;
        std::string curlProxy;
        int hops;
    } bulks[] = {
        {"MB/s 256 MiB one hop ours/curl", "-p -x " + tp, 1},
        {"MB/s 256 MiB two hops ours/curl", "--preproxy socks5h://" + sp + " -p -x " + tp, 2},
    };
    reset();
    double t0 = now();
    int64_t direct = fetchOnce(source.port, 0);
    double directRate = direct > 0 ? mib / (now() - t0) : 0;
    printf("ours direct: %.1f MB/s\n", directRate);
    for (const Bulk& b : bulks) {
        reset();
        g_ddApp->httpProxyInUse = 1;
        uint32_t flags = 0;
        if (b.hops == 2) {
            baseRoute("CTSOCKS:127.0.0.1:" + std::to_string(socks.port));
            flags = 1;
        }
        t0 = now();
        int64_t got = fetchOnce(source.port, flags);
        double ours = got > (1 << 28) ? mib / (now() - t0) : 0;
        t0 = now();
        int done = curl("-o /dev/null " + b.curlProxy + " " + surl);
        double anchor = done == 1 ? mib / (now() - t0) : 0;
        hvBenchRatio(b.label, ours, anchor, "MB/s");
    }
    reset();
    DeleteFileA(("Z:" + root + "/small").c_str());
    RemoveDirectoryA(("Z:" + root).c_str());
    return 0;
}
