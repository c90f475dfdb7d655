// The X-AIP wire and regions against anchors measured in the same run:
//   pump/raw      requests through the pump and dispatch against the same
//                 bytes through diIOFill alone;
//   pump/inflate  the same requests in compressed blocks against zlib
//                 inflating the same blocks;
//   region/pixman union, intersection, subtraction and damage-area building
//                 against pixman's 16-bit regions on the same boxes.
#include "bench/bench_ratio.h"
#include "fakes/chan_fakes.h"
#include "xde/dixaip.h"
#include "xde/diregion.h"

#include <pixman.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Runs fn repeatedly for about `seconds`; returns runs per second.
template <class F> double rate(F fn, double seconds = 0.4) {
    fn();
    int runs = 0;
    double start = now(), t;
    do {
        fn();
        runs++;
    } while ((t = now()) - start < seconds);
    return runs / (t - start);
}

std::string msg(uint8_t type, const std::string& payload) {
    return std::string(1, char(type)) + char(payload.size() & 255) + char(payload.size() >> 8) +
           payload;
}

std::string blocks(const std::string& raw) {
    std::string out;
    for (size_t at = 0; at < raw.size(); at += 16000) {
        std::string piece = raw.substr(at, 16000);
        uLongf n = compressBound(uLong(piece.size()));
        std::string z(n, '\0');
        compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(piece.data()),
                  uLong(piece.size()), 6);
        z.resize(n);
        std::string p = std::string{char(piece.size() & 255), char(piece.size() >> 8)} + z;
        out += msg(0x80, p);
    }
    return out;
}

int64_t g_sink;
DiXRequestOps nullOps() {
    DiXRequestOps o = {};
    o.polyFillRectangle = [](DiXDisplay*, int32_t n, const int32_t* xy) { g_sink += n + xy[0]; };
    o.setForeground = [](DiXDisplay*, uint32_t v) { g_sink += v; };
    o.putImage = [](DiXDisplay*, int32_t, int32_t, const DiXImage* im) { g_sink += im->length; };
    return o;
}
const DiXRequestOps kNullOps = nullOps();

void queue(const std::string& stream) {
    fakesReset();
    for (size_t at = 0; at < stream.size(); at += 16384)
        g_fakeNet.incoming.push_back(stream.substr(at, 16384));
}

// X-AIP bytes (rawSize per run of the stream) per second through the pump
// and dispatch.
double pumpRate(const std::string& stream, size_t rawSize) {
    DdSocket sock{};
    double r = rate([&] {
        DiXDisplay d{};
        diXAIPInit(&d);
        d.flags = 0;
        d.ch.socket = &sock;
        d.ch.open = 1;
        d.ops = &kNullOps;
        queue(stream);
        while (!g_fakeNet.incoming.empty()) {
            d.ch.sliceDeadline = 0;
            if (diXAIPReadInput(&d) < 0) break;
        }
        diXAIPFree(&d);
        diIOBufferFree(&d.ch.in);
        diIOBufferFree(&d.ch.out);
    });
    return r * double(rawSize);
}

double fillRate(const std::string& stream) {
    DdSocket sock{};
    double r = rate([&] {
        DiBuffer b{};
        b.limit = 16384;
        queue(stream);
        while (diIOFill(&b, &sock) > 0) {
            g_sink += b.data[b.used - 1];
            b.used = 0;
        }
        diIOBufferFree(&b);
    });
    return r * double(stream.size());
}

double zlibRate(const std::string& compressed, size_t rawSize) {
    std::vector<uint8_t> out(65536);
    double r = rate([&] {
        for (size_t at = 0; at + 3 <= compressed.size();) {
            size_t n = uint8_t(compressed[at + 1]) | uint8_t(compressed[at + 2]) << 8;
            uLongf outLen = uLongf(out.size());
            uncompress(out.data(), &outLen,
                       reinterpret_cast<const Bytef*>(compressed.data() + at + 5), uLong(n - 2));
            g_sink += out[0];
            at += 3 + n;
        }
    });
    return r * double(rawSize);
}

void pumpBenchmarks() {
    std::string rect = msg(10, std::string("\x01\x00\x0a\x00\x14\x00\x1e\x00\x28\x00", 10));
    std::string fg = msg(20, "\x01\x02\x03");
    std::string image = msg(2, std::string(16381, '\x07'));
    struct Kind {
        const char* name;
        std::string one;
    } kinds[] = {{"PolyFillRectangle 13 B", rect}, {"SetForeground 6 B", fg},
                 {"PutImage 16384 B", image}};
    for (const Kind& k : kinds) {
        std::string raw;
        while (raw.size() < (4u << 20)) raw += k.one;
        double ours = pumpRate(raw, raw.size()), anchor = fillRate(raw);
        std::string label = std::string("pump/raw ") + k.name;
        hvBenchRatio(label.c_str(), ours / 1e6, anchor / 1e6, "MB/s");
        printf("    %.0f requests/s\n", ours / double(k.one.size()));
        std::string z = blocks(raw);
        double zOurs = pumpRate(z, raw.size()), zAnchor = zlibRate(z, raw.size());
        label = std::string("pump/inflate ") + k.name;
        hvBenchRatio(label.c_str(), zOurs / 1e6, zAnchor / 1e6, "MB/s (inflated)");
    }
}

// Region shapes.
std::vector<DiBox> comb(int bands, int offset) {
    std::vector<DiBox> v;
    for (int i = 0; i < bands; i++) v.push_back({int16_t(offset), int16_t(2 * i), 
                                                 int16_t(offset + 100 + (i % 7) * 10),
                                                 int16_t(2 * i + 1)});
    return v;
}
std::vector<DiBox> staircase(int steps, int offset) {
    std::vector<DiBox> v;
    for (int i = 0; i < steps; i++)
        v.push_back({int16_t(offset + i), int16_t(i * 3), int16_t(offset + i + 50), int16_t(i * 3 + 3)});
    return v;
}
std::vector<DiBox> checker(int n, int offset) {
    std::vector<DiBox> v;
    for (int y = 0; y < n; y++)
        for (int x = (y + offset) % 2; x < n; x += 2)
            v.push_back({int16_t(x * 8), int16_t(y * 8), int16_t(x * 8 + 8), int16_t(y * 8 + 8)});
    return v;
}

void ours(DiRegion* r, const std::vector<DiBox>& boxes) {
    RegionInit(r, nullptr, 0);
    for (const DiBox& b : boxes) {
        DiRegion one;
        RegionInit(&one, &b, 0);
        RegionUnion(r, r, &one);
        RegionUninit(&one);
    }
}
void theirs(pixman_region16_t* r, const std::vector<DiBox>& boxes) {
    pixman_region_init(r);
    for (const DiBox& b : boxes)
        pixman_region_union_rect(r, r, b.x1, b.y1, unsigned(b.x2 - b.x1), unsigned(b.y2 - b.y1));
}

void regionBenchmarks() {
    struct Shape {
        const char* name;
        std::vector<DiBox> a, b;
    } shapes[] = {{"1000-band combs", comb(1000, 0), comb(1000, 50)},
                  {"staircases", staircase(1000, 0), staircase(1000, 25)},
                  {"checkerboards", checker(40, 0), checker(40, 1)}};
    for (const Shape& s : shapes) {
        DiRegion a, b, out;
        ours(&a, s.a), ours(&b, s.b);
        RegionInit(&out, nullptr, 0);
        pixman_region16_t pa, pb, pout;
        theirs(&pa, s.a), theirs(&pb, s.b);
        pixman_region_init(&pout);
        const char* ops[] = {"union", "intersect", "subtract"};
        for (int op = 0; op < 3; op++) {
            double o = rate([&] {
                if (op == 0) RegionUnion(&out, &a, &b);
                if (op == 1) RegionIntersect(&out, &a, &b);
                if (op == 2) RegionSubtract(&out, &a, &b);
            }, 0.2);
            double p = rate([&] {
                if (op == 0) pixman_region_union(&pout, &pa, &pb);
                if (op == 1) pixman_region_intersect(&pout, &pa, &pb);
                if (op == 2) pixman_region_subtract(&pout, &pa, &pb);
            }, 0.2);
            std::string label = std::string("region/pixman ") + ops[op] + " " + s.name;
            hvBenchRatio(label.c_str(), o, p, "ops/s");
        }
        RegionUninit(&a), RegionUninit(&b), RegionUninit(&out);
        pixman_region_fini(&pa), pixman_region_fini(&pb), pixman_region_fini(&pout);
    }
    std::mt19937 rng(5);
    for (int n : {1, 16, 256, 2047}) {
        for (int adjacent = 0; adjacent < 2; adjacent++) {
            std::vector<DiXRect> rects;
            for (int i = 0; i < n; i++) {
                if (adjacent)
                    rects.push_back({int16_t((i % 64) * 16), int16_t((i / 64) * 16), 16, 16});
                else
                    rects.push_back({int16_t(rng() % 2000), int16_t(rng() % 2000),
                                     uint16_t(1 + rng() % 60), uint16_t(1 + rng() % 60)});
            }
            std::vector<pixman_box16_t> pboxes;
            for (const DiXRect& r : rects)
                pboxes.push_back({r.x, r.y, int16_t(r.x + r.width), int16_t(r.y + r.height)});
            double o = rate([&] {
                DiXRegionArea a;
                diXAreaInit(&a);
                diXAreaAddBoxes(&a, n, rects.data());
                g_sink += a.count;
                diXAreaFree(&a);
            }, 0.2);
            double p = rate([&] {
                pixman_region16_t r, add;
                pixman_region_init(&r);
                pixman_region_init_rects(&add, pboxes.data(), n);
                pixman_region_union(&r, &r, &add);
                g_sink += pixman_region_n_rects(&r);
                pixman_region_fini(&add);
                pixman_region_fini(&r);
            }, 0.2);
            std::string label = "region/pixman AddBoxes " + std::to_string(n) +
                                (adjacent ? " adjacent" : " scattered");
            hvBenchRatio(label.c_str(), o, p, "ops/s");
        }
    }
    /* A window's damage from one request of n boxes in separate columns,
     * each a row lower (a union of n * n boxes, kept as its extents), next
     * to one walk over the request's boxes. */
    for (int n : {256, 2048}) {
        std::vector<DiXRect> rects;
        for (int i = 0; i < n; i++)
            rects.push_back({int16_t(i * 2), int16_t(i), 1, uint16_t(n)});
        double o = rate(
            [&] {
                DiXRegionArea a;
                diXAreaInit(&a);
                diXAreaAddBoxesUpTo(&a, n, rects.data(), 64);
                g_sink += a.width;
                diXAreaFree(&a);
            },
            0.2);
        double w = rate(
            [&] {
                int32_t x2 = INT32_MIN;
                for (const DiXRect& r : rects)
                    x2 = std::max(x2, int32_t(r.x) + r.width);
                g_sink += x2;
            },
            0.2);
        std::string label = "damage/walk of a staircase of " + std::to_string(n) + " boxes";
        hvBenchRatio(label.c_str(), o, w, "ops/s");
    }
}

} // namespace

int main() {
    diXAIPScratchRef();
    pumpBenchmarks();
    regionBenchmarks();
    diXAIPScratchUnref();
    return g_sink == 42 ? 1 : 0;
}
