// A dump of 80-column lines (each a text write, a full-width scroll and a
// cursor move) from the T-AIP peer into an 80x25 terminal under Wine, plain
// and in compressed blocks, in MB/s of server stream: painted, against the
// same run with painting off. HV_TAIP_MB sets the size (default 30).
#include "bench/bench_ratio.h"
#include "support/peer_process.h"
#include "tde/ditde.h"
#include "tde/tde_display.h"
#include "ui/ddui.h"

#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

// Seconds the peer measured from its first byte to the pong after the last,
// or a negative value when the run failed.
double run(const char* style, int mb, bool paint) {
    char result[160];
    snprintf(result, sizeof result, "/tmp/hv_taip_bench_%lu_%s_%d", GetCurrentProcessId(), style,
             paint ? 1 : 0);
    Peer peer;
    std::string cmd = std::string("taip_peer.py serve dump --style ") + style + " --mb " +
                      std::to_string(mb) + " --result-file " + result;
    if (!peer.start(cmd, " --lifetime 600")) return -1;
    DiFrame* frame = hvMakeTerminal(640, 400, peer.port);
    if (!frame) return -1;
    DiTDisplay* t = reinterpret_cast<DiTDisplay*>(frame->manager->channel);
    t->paintingOff = paint ? 0 : 1;
    double seconds = -1;
    std::string win = std::string("Z:") + result;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 600000 && seconds < 0;) {
        hvPumpOnce();
        if (FILE* f = fopen(win.c_str(), "r")) {
            char word[16] = "";
            if (fscanf(f, "%15s %lf", word, &seconds) != 2 || strcmp(word, "ok")) seconds = -1;
            fclose(f);
            if (seconds < 0) break;
        }
    }
    DeleteFileA(win.c_str());
    diUIDestroyFrame(frame);
    return seconds;
}

} // namespace

int main() {
    MSG m;
    PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
    if (!hvSocketSinkInit() || ddUIInit(nullptr, GetModuleHandleW(nullptr)) != 1) return 1;
    const char* env = getenv("HV_TAIP_MB");
    int mb = env ? atoi(env) : 30;
    if (mb < 1) mb = 1;
    for (const char* style : {"plain", "zsync"}) {
        double painted = run(style, mb, true), bare = run(style, mb, false);
        if (painted <= 0 || bare <= 0) {
            printf("taip/dump %s: a run failed\n", style);
            return 1;
        }
        printf("taip/dump %s: %d MB painted in %.2f s, unpainted in %.2f s\n", style, mb, painted,
               bare);
        std::string label = std::string("taip/dump ") + style + " painted vs unpainted";
        hvBenchRatio(label.c_str(), mb / painted, mb / bare, "MB/s");
    }
    return 0;
}
