// Drawing rates of the frame-buffer renderer on a 32-bit 1024x768 buffer
// beside the X server's own frame buffer measured by x11perf on an Xvfb
// this program starts, in the same run; and a raw 1920x1080 image put
// beside memcpy of the image's bytes.
#include "bench/bench_ratio.h"
#include "fb/fb.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

/* Runs `draw` (which touches `pixels` pixels) for about half a second and
 * returns Mpixel/s. */
template <class F> double Rate(double pixels, F draw) {
    draw();
    long n = 0;
    auto start = Clock::now();
    double secs;
    do {
        for (int i = 0; i < 16; i++)
            draw();
        n += 16;
        secs = std::chrono::duration<double>(Clock::now() - start).count();
    } while (secs < 0.5);
    return pixels * n / secs / 1e6;
}

/* ---- x11perf on an Xvfb of our own ---- */

pid_t g_xvfb;

std::string StartXvfb() {
    for (int n = 150 + getpid() % 80; n < 300; n++) {
        std::string lock = "/tmp/.X" + std::to_string(n) + "-lock", sock = "/tmp/.X11-unix/X" + std::to_string(n);
        struct stat st;
        if (stat(lock.c_str(), &st) == 0 || stat(sock.c_str(), &st) == 0)
            continue;
        std::string disp = ":" + std::to_string(n);
        const char* argv[] = {"Xvfb", disp.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid;
        int rc = posix_spawnp(&pid, "Xvfb", &fa, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0)
            return "";
        for (int i = 0; i < 100; i++) {
            if (stat(sock.c_str(), &st) == 0) {
                usleep(200000);
                g_xvfb = pid;
                return disp;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                break;
            usleep(100000);
        }
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }
    return "";
}

void StopXvfb() {
    if (g_xvfb > 0) {
        kill(g_xvfb, SIGTERM);
        waitpid(g_xvfb, nullptr, 0);
    }
}

/* x11perf's rates (operations per second) by test description. */
std::map<std::string, double> RunX11perf(const std::string& display, const std::string& tests) {
    std::map<std::string, double> rates;
    std::string cmd = "x11perf -display " + display + " -repeat 1 -time 1 " + tests + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return rates;
    char line[512];
    while (fgets(line, sizeof line, p)) {
        const char* open = strchr(line, '(');
        const char* close = strstr(line, "/sec): ");
        if (!open || !close)
            continue;
        std::string name = close + 7;
        while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
            name.pop_back();
        rates[name] = atof(open + 1);
    }
    pclose(p);
    return rates;
}

/* ---- our side ---- */

struct Buffer {
    FbBuffer b{};
    Buffer(int w, int h) {
        b.width = w;
        b.height = h;
        b.depth = 24;
        b.bytesPerPixel = 4;
        if (fbCreatePixmap(nullptr, &b) != 0)
            abort();
    }
    ~Buffer() { fbDestroyPixmap(nullptr, &b); }
};

} // namespace

int main() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Buffer screen(1024, 768), other(1024, 768), tile(8, 8);
    for (size_t i = 0; i < size_t(tile.b.stride) * 8; i++)
        tile.b.bits[i] = uint8_t(i * 37);
    FbGC gc{};
    gc.ops = &fbNoOps;
    gc.changeMask = 0xFFFFFFFF;
    gc.function = 3;
    gc.planeMask = ~0u;
    gc.foreground = 0x123456;
    gc.tile = &tile.b;
    fbCreateGC(nullptr, &gc);
    fbValidateGC(nullptr, &screen.b, &gc);

    /* Glyphs of 6 x 13 cells, about half their bits set. */
    std::vector<FbGlyph> glyphs(256);
    FbGlyph* table[256] = {};
    for (int c = 0; c < 256; c++) {
        glyphs[c].bitmap.width = 6;
        glyphs[c].bitmap.height = 13;
        glyphs[c].bitmap.depth = 1;
        fbCreateGlyph(nullptr, nullptr, &glyphs[c]);
        for (int r = 0; r < 13; r++)
            glyphs[c].bitmap.bits[r] = uint8_t((c * 7 + r * 13) & 0x3F);
        glyphs[c].yOffset = 10;
        glyphs[c].advance = 6;
        table[c] = &glyphs[c];
    }
    gc.glyphs = table;

    auto rects = [](int side, int n) {
        std::vector<FbRect> r;
        for (int i = 0; i < n; i++)
            r.push_back({(i * 37) % (1024 - side), (i * 53) % (768 - side), uint32_t(side), uint32_t(side)});
        return r;
    };
    auto segs = [](int len, int n) {
        std::vector<FbSegment> s;
        for (int i = 0; i < n; i++) {
            int x = 100 + (i * 37) % 800, y = 100 + (i * 53) % 500, dx = (i % 5) * len / 4, dy = len - dx;
            s.push_back({x, y, x + (i & 1 ? dx : -dx), y + (i & 2 ? dy : -dy)});
        }
        return s;
    };
    std::map<std::string, double> ours;
    auto r10 = rects(10, 1000), r100 = rects(100, 50);
    ours["10x10 rectangle"] = Rate(100.0 * 1000, [&] { gc.ops->PolyFillRect(nullptr, &screen.b, &gc, 1000, r10.data()); });
    ours["100x100 rectangle"] = Rate(1e4 * 50, [&] { gc.ops->PolyFillRect(nullptr, &screen.b, &gc, 50, r100.data()); });
    auto s10 = segs(10, 1000), s100 = segs(100, 200);
    ours["10-pixel line segment"] = Rate(10.0 * 1000, [&] { gc.ops->PolySegment(nullptr, &screen.b, &gc, 1000, s10.data()); });
    ours["100-pixel line segment"] = Rate(100.0 * 200, [&] { gc.ops->PolySegment(nullptr, &screen.b, &gc, 200, s100.data()); });
    ours["Copy 100x100 from pixmap to pixmap"] = Rate(1e4, [&] {
        gc.ops->CopyArea(nullptr, &screen.b, &gc, 300, 200, 100, 100, &other.b, 10, 10);
    });
    ours["Scroll 500x500 pixels"] = Rate(250000.0, [&] {
        gc.ops->CopyArea(nullptr, &screen.b, &gc, 100, 100, 500, 500, &screen.b, 100, 101);
    });
    uint8_t line[80];
    for (int i = 0; i < 80; i++)
        line[i] = uint8_t(33 + i);
    ours["Char in 80-char line (6x13)"] = Rate(78.0 * 80, [&] { gc.ops->PolyText8(nullptr, &screen.b, &gc, 10, 300, 80, line); });
    std::vector<uint8_t> img100(100 * 100 * 3, 0x5A);
    ours["PutImage 100x100 square"] = Rate(1e4, [&] {
        gc.ops->PutImage(nullptr, &screen.b, &gc, 50, 50, 100, 100, 24, 0, uint32_t(img100.size()), img100.data());
    });
    gc.fillStyle = FB_FILL_TILED;
    gc.changeMask = FB_GC_FILL_STYLE;
    fbValidateGC(nullptr, &screen.b, &gc);
    ours["10x10 tiled rectangle (4x4 tile)"] = Rate(100.0 * 1000, [&] { gc.ops->PolyFillRect(nullptr, &screen.b, &gc, 1000, r10.data()); });

    /* Raw 1920x1080 put into 32 bpp against memcpy of the same bytes. */
    {
        Buffer big(1920, 1080);
        std::vector<uint8_t> data(1920u * 1080u * 3u, 0x33), copy(data.size());
        for (size_t i = 0; i < data.size(); i++)
            data[i] = uint8_t(i * 7);
        double put = Rate(1920.0 * 1080, [&] {
            gc.ops->PutImage(nullptr, &big.b, &gc, 0, 0, 1920, 1080, 24, 0, uint32_t(data.size()), data.data());
        });
        double mem = Rate(1920.0 * 1080, [&] {
            memcpy(copy.data(), data.data(), data.size());
            __asm__ __volatile__("" : : "r"(copy.data()) : "memory");
        });
        hvBenchRatio("put/memcpy 1920x1080 raw into 32 bpp", put, mem, "Mpixel/s");
    }

    const std::pair<const char*, const char*> rows[] = {
        {"-rect10", "10x10 rectangle"},
        {"-rect100", "100x100 rectangle"},
        {"-tilerect10", "10x10 tiled rectangle (4x4 tile)"},
        {"-seg10", "10-pixel line segment"},
        {"-seg100", "100-pixel line segment"},
        {"-copypixpix100", "Copy 100x100 from pixmap to pixmap"},
        {"-scroll500", "Scroll 500x500 pixels"},
        {"-ftext", "Char in 80-char line (6x13)"},
        {"-putimage100", "PutImage 100x100 square"},
    };
    /* Pixels per x11perf operation, to turn its rates into Mpixel/s. */
    const std::map<std::string, double> pixelsPerOp = {
        {"10x10 rectangle", 100},          {"100x100 rectangle", 1e4},
        {"10x10 tiled rectangle (4x4 tile)", 100}, {"10-pixel line segment", 10},
        {"100-pixel line segment", 100},   {"Copy 100x100 from pixmap to pixmap", 1e4},
        {"Scroll 500x500 pixels", 250000}, {"Char in 80-char line (6x13)", 78},
        {"PutImage 100x100 square", 1e4}};
    std::string display = getenv("FB_BENCH_NO_X") ? "" : StartXvfb();
    std::string flags;
    for (auto& r : rows)
        flags += std::string(r.first) + " ";
    std::map<std::string, double> x = display.empty() ? std::map<std::string, double>() : RunX11perf(display, flags);
    StopXvfb();
    if (display.empty())
        printf("Xvfb could not be started: no anchor figures\n");
    for (auto& r : rows) {
        double anchor = x.count(r.second) ? x[r.second] * pixelsPerOp.at(r.second) / 1e6 : 0;
        hvBenchRatio((std::string("fb/Xvfb ") + (r.first + 1)).c_str(), ours[r.second], anchor, "Mpixel/s");
    }
    for (FbGlyph& g : glyphs)
        fbFreeGlyph(nullptr, nullptr, &g);
    fbDestroyGC(nullptr, &gc);
    return 0;
}
