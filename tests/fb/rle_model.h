// A pixel-at-a-time model of the interleaved run-length decoder and a random
// order-stream writer, shared by the decoder's tests and its comparison with
// an independent decoder. The model follows the format's rules literally:
// one pixel, one bounds test, no row segments.
#pragma once
#include <stdint.h>
#include <string.h>

#include <random>
#include <vector>

namespace rlemodel {

// Decodes like fbDecodeRLE8/16/24/24To32 (P pixel bytes, S colour bytes).
inline int32_t decode(int P, int S, uint32_t w, uint32_t h, const uint8_t* data, uint32_t len,
                      uint8_t* dst, int32_t stride) {
    if (w == 0 || h == 0) return 0;
    const uint32_t ones = P == 4 ? 0xFFFFFFFFu : (1u << (8 * P)) - 1;
    int64_t first = stride >= 0 ? 0 : int64_t(h - 1) * -int64_t(stride);
    uint32_t row = 0, col = 0, fg = ones;
    size_t at = 0;
    bool prevBg = false;
    auto pix = [&](uint32_t r, uint32_t c) { return dst + first + int64_t(r) * stride + c * P; };
    auto get = [&](uint32_t r, uint32_t c) {
        uint32_t v = 0;
        memcpy(&v, pix(r, c), P);
        return v;
    };
    auto put = [&](uint32_t v) {
        if (row >= h) return;
        memcpy(pix(row, col), &v, P);
        if (++col == w) col = 0, row++;
    };
    auto colour = [&](size_t i) {
        uint32_t v = 0;
        for (int b = 0; b < S; b++)
            v |= uint32_t(data[i + b]) << (8 * b);
        return v;
    };
    auto fgPixel = [&](bool bit) {
        uint32_t v = bit ? fg : 0;
        if (row > 0 && row < h) v ^= get(row - 1, col);
        put(v);
    };
    while (at < len) {
        if (row >= h) return 0; // the image is full: the rest is not read
        uint8_t code = data[at];
        size_t left = len - at;
        if (code == 0xFB || code == 0xFC || code == 0xFF) return -3;
        // Code 5 in both forms: skipped.
        if ((code >= 0xA0 && code <= 0xBF) || code == 0xF5) {
            at += code == 0xA0 ? 2 : code == 0xF5 ? 3 : 1;
            prevBg = false;
            continue;
        }
        int kind;           // 0 bg, 1 fg, 2 fgbg, 3 colour run, 4 colour image, 6 dither,
        bool setFg = false; // 9/10 special, 13 white, 14 black
        int64_t n = 0;
        size_t head = 1;
        if (code >= 0xF0) {
            static const int hi[] = {0, 1, 2, 3, 4, -1, 1, 2, 6, 9, 10, -1, -1, 13, 14, -1};
            kind = hi[code & 15];
            setFg = code == 0xF6 || code == 0xF7;
            if (code <= 0xF8) {
                if (left < 3) return 0;
                n = data[at + 1] + 256 * data[at + 2];
                head = 3;
            }
        } else if (code >= 0xC0) {
            kind = code < 0xD0 ? 1 : code < 0xE0 ? 2 : 6;
            setFg = kind != 6;
            n = code & 15;
            if (n == 0) {
                if (left < 2) return 0;
                n = data[at + 1] + (kind == 2 ? 1 : 16);
                head = 2;
            } else if (kind == 2) {
                n *= 8;
            }
        } else {
            kind = code >> 5;
            n = code & 31;
            if (n == 0) {
                if (left < 2) return 0;
                n = data[at + 1] + (kind == 2 ? 1 : 32);
                head = 2;
            } else if (kind == 2) {
                n *= 8;
            }
        }
        size_t need = head + (setFg ? S : 0);
        if (kind == 2) need += (n + 7) / 8;
        if (kind == 3) need += S;
        if (kind == 4) need += n * S;
        if (kind == 6) need += 2 * S;
        if (need > left) return 0;
        size_t op = at + head;
        if (setFg) fg = colour(op), op += S;
        switch (kind) {
        case 0:
            if (prevBg && (col != 0 || row > 1)) fgPixel(true), n--;
            for (int64_t i = 0; i < n; i++) {
                if (row == 0)
                    put(0);
                else if (row < h)
                    put(get(row - 1, col));
            }
            break;
        case 1:
            for (int64_t i = 0; i < n; i++)
                fgPixel(true);
            break;
        case 2:
            for (int64_t i = 0; i < n; i++)
                fgPixel((data[op + i / 8] >> (i % 8)) & 1);
            break;
        case 3:
            for (int64_t i = 0; i < n; i++)
                put(colour(op));
            break;
        case 4:
            for (int64_t i = 0; i < n; i++)
                put(colour(op + i * S));
            break;
        case 6:
            for (int64_t i = 0; i < 2 * n; i++)
                put(colour(op + (i % 2) * S));
            break;
        case 9:
        case 10:
            for (int i = 0; i < 8; i++)
                fgPixel(((kind == 9 ? 0x03 : 0x05) >> i) & 1);
            break;
        case 13:
            put(ones);
            break;
        case 14:
            put(0);
            break;
        }
        prevBg = kind == 0;
        at += need;
    }
    return 0;
}

// Writes random order streams. In `strict` mode a stream fills exactly w * h
// pixels and avoids the forms on which decoders of this format are known to
// disagree: no order across the end of row 0, no code 5, no background run
// of count 0, no unknown codes. Otherwise anything goes, including streams
// that end early, run over, or are cut inside an order.
struct StreamWriter {
    std::mt19937& rng;
    int S;
    uint32_t w, h;
    bool strict;
    std::vector<uint8_t> out;
    uint64_t pos = 0;

    StreamWriter(std::mt19937& r, int colourBytes, uint32_t width, uint32_t height, bool exact)
        : rng(r), S(colourBytes), w(width), h(height), strict(exact) {}

    uint32_t rnd(uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    }
    void colour() {
        for (int i = 0; i < S; i++)
            out.push_back(uint8_t(rnd(0, 255)));
    }
    void count16(uint32_t n) {
        out.push_back(uint8_t(n));
        out.push_back(uint8_t(n >> 8));
    }
    // A count n in the regular (5 bits, zero form + 32) or lite (4 bits,
    // + 16) form of code `base`, or the 16-bit form of code `mega`.
    void runCount(bool lite, uint8_t base, uint8_t mega, uint32_t n, bool allowMega) {
        int form = rnd(0, 2);
        uint32_t bits = lite ? 15 : 31, plus = lite ? 16 : 32;
        if (form == 0 && n >= 1 && n <= bits) {
            out.push_back(uint8_t(base | n));
        } else if (form <= 1 && n >= plus && n <= plus + 255) {
            out.push_back(base);
            out.push_back(uint8_t(n - plus));
        } else if (allowMega || (n > plus + 255)) {
            out.push_back(mega);
            count16(n);
        } else if (n >= 1 && n <= bits) {
            out.push_back(uint8_t(base | n));
        } else {
            out.push_back(base);
            out.push_back(uint8_t(n - plus));
        }
    }
    void fgbgCount(uint8_t base, uint8_t mega, uint32_t n, uint32_t bits) {
        int form = rnd(0, 2);
        if (form == 0 && n % 8 == 0 && n / 8 >= 1 && n / 8 <= bits) {
            out.push_back(uint8_t(base | n / 8));
        } else if (form == 1 && n >= 1 && n <= 256) {
            out.push_back(base);
            out.push_back(uint8_t(n - 1));
        } else {
            out.push_back(mega);
            count16(n);
        }
    }
    void masks(uint32_t n) {
        for (uint32_t i = 0; i < (n + 7) / 8; i++)
            out.push_back(uint8_t(rnd(0, 255)));
    }
    // Pixels the next order may cover.
    uint32_t room() {
        uint64_t total = uint64_t(w) * h;
        uint64_t lim = pos < w ? w - pos : total - pos;
        return uint32_t(lim > 65535 ? 65535 : lim);
    }
    uint32_t pickCount(uint32_t maxN) {
        uint32_t r = rnd(0, 9);
        uint32_t n = r < 6 ? rnd(1, 40) : r < 9 ? rnd(1, 300) : rnd(1, 3000);
        if (strict && n > maxN) n = maxN;
        return n;
    }
    void order() {
        uint32_t maxN = strict ? room() : 65535;
        int kind = rnd(0, strict ? 11 : 14);
        uint32_t n;
        switch (kind) {
        case 0: // background run
            n = pickCount(maxN);
            if (!strict && rnd(0, 15) == 0)
                n = 0, out.push_back(0xF0), count16(0);
            else
                runCount(false, 0x00, 0xF0, n, true);
            break;
        case 1: // foreground run
            n = pickCount(maxN);
            runCount(false, 0x20, 0xF1, n, true);
            break;
        case 2: // set foreground + foreground run
            n = pickCount(maxN);
            runCount(true, 0xC0, 0xF6, n, true);
            colour();
            break;
        case 3: // foreground/background image
        case 4: // set foreground + image
            n = pickCount(maxN);
            if (rnd(0, 1) && n >= 8) n &= ~7u;
            // Some decoders want room for a whole last mask byte.
            if (strict && n % 8 && pos + ((n + 7) & ~7u) > uint64_t(w) * h) {
                if (n < 8) return order1(maxN);
                n &= ~7u;
            }
            if (kind == 3)
                fgbgCount(0x40, 0xF2, n, 31);
            else
                fgbgCount(0xD0, 0xF7, n, 15), colour();
            masks(n);
            break;
        case 5: // colour run
            n = pickCount(maxN);
            runCount(false, 0x60, 0xF3, n, true);
            colour();
            break;
        case 6: // colour image
            n = pickCount(strict ? maxN : 600);
            runCount(false, 0x80, 0xF4, n, true);
            for (uint32_t i = 0; i < n; i++)
                colour();
            break;
        case 7: // dithered run (pairs)
            if (maxN < 2) return order1(maxN);
            n = pickCount(maxN / 2);
            if (n > maxN / 2 && strict) n = maxN / 2;
            runCount(true, 0xE0, 0xF8, n, true);
            colour(), colour();
            n *= 2;
            break;
        case 8:
        case 9: // special images of 8 pixels
            if (maxN < 8) return order1(maxN);
            out.push_back(kind == 8 ? 0xF9 : 0xFA);
            n = 8;
            break;
        case 10:
        case 11:
            return order1(maxN);
        case 12: // code 5
        {
            int f = rnd(0, 2);
            if (f == 0)
                out.push_back(0xA0), out.push_back(uint8_t(rnd(0, 255)));
            else if (f == 1)
                out.push_back(uint8_t(rnd(0xA1, 0xBF)));
            else
                out.push_back(0xF5), count16(rnd(0, 65535));
            n = 0;
            break;
        }
        case 13: // MEGA order of count 0
            out.push_back(uint8_t(0xF0 + rnd(0, 4))), count16(0);
            n = 0;
            break;
        default: // an unknown code, now and then
            if (rnd(0, 7) == 0) out.push_back(std::vector<uint8_t>{0xFB, 0xFC, 0xFF}[rnd(0, 2)]);
            n = 0;
            break;
        }
        pos += n;
    }
    void order1(uint32_t) {
        out.push_back(rnd(0, 1) ? 0xFD : 0xFE);
        pos += 1;
    }
    // One whole stream.
    std::vector<uint8_t> stream() {
        out.clear();
        pos = 0;
        uint64_t total = uint64_t(w) * h;
        if (strict) {
            while (pos < total)
                order();
        } else {
            uint64_t goal = total * rnd(0, 12) / 10 + rnd(0, 3);
            for (int guard = 0; pos < goal && guard < 4000; guard++)
                order();
            if (rnd(0, 3) == 0 && !out.empty()) out.resize(rnd(0, uint32_t(out.size()) - 1));
        }
        return out;
    }
};

} // namespace rlemodel
