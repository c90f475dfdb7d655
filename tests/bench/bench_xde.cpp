// The X engine replaying a busy session that the fake server writes from a
// fixed seed (about 200,000 requests in 16 windows at depth 24, timers on
// a virtual clock, painting through the recording device): requests per
// second, against decoding the same bytes alone, and per primitive against
// x11perf on an Xvfb of our own.
#include "bench/bench_ratio.h"
#include "core/ditimer.h"
#include "fakes/chan_fakes.h"
#include "xde/recording_device.h"

#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

typedef std::chrono::steady_clock Clock;

uint32_t g_now = 1000;
uint32_t virtualClock() {
    return g_now;
}

std::string script(const std::string& name, int count) {
    std::string out = "/tmp/hv_bench_xde_" + std::to_string(getpid()) + "_" + name;
    std::string cmd = "python3 " HV_PEERS_DIR "/xaip_peer.py script --name " + name +
                      " --seed 3 --count " + std::to_string(count) + " --out " + out;
    if (system(cmd.c_str()) != 0) return "";
    std::ifstream f(out, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    unlink(out.c_str());
    return s.str();
}

struct Replay {
    size_t requests = 0;
    double seconds = 0;
    double rate() const { return seconds > 0 ? requests / seconds : 0; }
};

/* Dispatches every request of the stream; the session's set-up (up to
 * `from` requests) runs untimed. With ops none the requests are decoded
 * only. */
Replay replay(const std::string& bytes, bool engine, size_t from) {
    static const DiXRequestOps nothing{};
    fakesReset();
    g_rdev = RecordingDevice();
    g_rdev.record = false;
    fbSetDamageSink(&diXDamageSink);
    DiXDisplay* d = new DiXDisplay{};
    diXDEInit(d, recordingDevice(), nullptr, 1280, 1024);
    DdSocket sock{};
    sock.handle = 1;
    d->ch.socket = &sock;
    d->ch.open = 1;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t at = 0, n = 0;
    Replay r;
    Clock::time_point start;
    while (at + 3 <= bytes.size()) {
        uint32_t type = p[at], len = uint32_t(p[at + 1] | p[at + 2] << 8);
        if (n == from) {
            if (!engine) d->ops = &nothing;
            start = Clock::now();
        }
        diXAIPHandleRequest(d, type, p + at + 3, len);
        at += 3 + len;
        n++;
        if (n % 27 == 0) diXFlushDueUpdates(d);
        if (n % 100 == 0) {
            g_now++;
            diTimerDispatch(g_now);
        }
        if (g_fakeNet.sent.size() > (1 << 20)) g_fakeNet.sent.clear();
    }
    for (int i = 0; i < 2100; i++) diTimerDispatch(++g_now);
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.requests = n > from ? n - from : 0;
    d->ops = &diXEngineOps;
    DiEvent ev{};
    ev.w[0] = 11;
    diXDEHandleEvent(&d->ch.hdr, &ev);
    d->ch.socket = nullptr;
    diXDEFree(d);
    delete d;
    return r;
}

/* The requests before the first drawing one: the session, windows, font. */
size_t setupCount(const std::string& bytes) {
    size_t at = 0, n = 0;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes.data());
    while (at + 3 <= bytes.size()) {
        uint32_t type = p[at], len = uint32_t(p[at + 1] | p[at + 2] << 8);
        if (type == 10 || type == 12 || type == 34 || type == 2 || type == 20) return n;
        at += 3 + len;
        n++;
    }
    return n;
}

pid_t g_xvfb;

std::string startXvfb() {
    for (int n = 150 + getpid() % 80; n < 300; n++) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock",
                    sock = "/tmp/.X11-unix/X" + std::to_string(n);
        struct stat st;
        if (stat(lock.c_str(), &st) == 0 || stat(sock.c_str(), &st) == 0) continue;
        std::string disp = ":" + std::to_string(n);
        const char* argv[] = {"Xvfb", disp.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
                              "tcp", nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        int rc = posix_spawnp(&pid, "Xvfb", &fa, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) return "";
        for (int i = 0; i < 100; i++) {
            if (stat(sock.c_str(), &st) == 0) {
                usleep(200000);
                g_xvfb = pid;
                return disp;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid) break;
            usleep(100000);
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return "";
}

/* x11perf's rate (operations per second) of one test. */
double x11perf(const std::string& display, const std::string& test) {
    std::string cmd = "x11perf -display " + display + " -repeat 1 -time 1 " + test + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return 0;
    char line[512];
    double rate = 0;
    while (fgets(line, sizeof line, p)) {
        const char* open = strchr(line, '(');
        if (open && strstr(line, "/sec): ") && rate == 0) rate = atof(open + 1);
    }
    pclose(p);
    return rate;
}

} // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    diDEClock = virtualClock;
    const char* only = getenv("HV_BENCH_XDE_ONLY");
    std::string busy = script("busy", only ? 2000 : 200000);
    if (busy.empty()) {
        printf("the fake server wrote no session\n");
        return 1;
    }
    size_t from = setupCount(busy);
    Replay decode = replay(busy, false, from), engine = replay(busy, true, from);
    printf("engine: %.0f requests/s over %zu requests\n", engine.rate(), engine.requests);
    hvBenchRatio("engine/decode busy session", engine.rate(), decode.rate(), "requests/s");

    if (!only || strcmp(only, "scattered") == 0) {
        std::string scattered = script("busy-scattered", 200);
        Replay sd = replay(scattered, false, setupCount(scattered));
        Replay se = replay(scattered, true, setupCount(scattered));
        hvBenchRatio("engine/decode 2000 scattered rectangles", se.rate(), sd.rate(),
                     "requests/s");
    }

    std::string display = startXvfb();
    /* x11perf counts rectangles and characters, and sends -rect10 as
     * requests of 1000 rectangles, -rect100 of 36, -ftext lines of 80
     * characters: the scripts send the same. */
    struct Row {
        const char* kind;
        const char* test;
        double unitsPerRequest;
        int requests;
    } rows[] = {{"rect10", "-rect10", 1000, 2000},
                {"rect100", "-rect100", 36, 6000},
                {"copywinwin100", "-copywinwin100", 1, 20000},
                {"ftext", "-ftext", 80, 20000},
                {"putimage10", "-putimage10", 1, 20000}};
    /* HV_BENCH_XDE_ONLY=<kind> (or "scattered"): that row alone, for profiling. */
    for (const Row& row : rows) {
        if (only && strcmp(only, row.kind) != 0) continue;
        std::string s = script(std::string("busy-") + row.kind, row.requests);
        Replay r = replay(s, true, setupCount(s));
        double anchor = display.empty() ? 0 : x11perf(display, row.test);
        hvBenchRatio((std::string("engine/Xvfb ") + row.kind).c_str(),
                     r.rate() * row.unitsPerRequest, anchor, "ops/s");
    }
    if (g_xvfb > 0) {
        kill(g_xvfb, SIGTERM);
        waitpid(g_xvfb, nullptr, 0);
    }
    return 0;
}
