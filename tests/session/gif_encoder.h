// A GIF89a writer for tests, written from the file format: header, colour
// tables, graphic control extensions, image descriptors and LZW code
// streams, with knobs for the malformed files a server could send.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

struct GifTestFrame {
    uint32_t left = 0, top = 0, width = 1, height = 1;
    std::vector<uint8_t> pixels; // top row first, width x height
    std::vector<uint32_t> local; // 0xRRGGBB; empty: no local table
    bool interlaced = false;
    int trans = -1;             // graphic control extension when >= 0
    bool control = false;       // an extension even without transparency
    int minCodeSize = 0;        // 0: the table's bits, at least 2
    bool deferredClear = false; // a full table goes on without a clear
    size_t chunk = 255;         // bytes per sub-block
    std::string data;           // when set: replaces code size and codes
};

struct GifTestFile {
    uint32_t width = 1, height = 1;
    std::vector<uint32_t> global; // empty: no global table
    std::vector<GifTestFrame> frames;
    bool trailer = true;
};

// Bits a table of `entries` colours is stored at (table size 2^(n+1)).
inline int gifTableBits(size_t entries) {
    int n = 0;
    while ((2u << n) < entries)
        n++;
    return n;
}

inline void gifPut16(std::string& out, uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

inline void gifPutTable(std::string& out, const std::vector<uint32_t>& table) {
    size_t n = size_t(2) << gifTableBits(table.size());
    for (size_t i = 0; i < n; i++) {
        uint32_t c = i < table.size() ? table[i] : 0;
        out += char(c >> 16);
        out += char(c >> 8);
        out += char(c);
    }
}

// Codes of given widths packed least significant bit first.
inline std::string gifPackCodes(const std::vector<std::pair<int, int>>& codes) {
    std::string out;
    uint32_t acc = 0, n = 0;
    for (auto [code, width] : codes) {
        acc |= uint32_t(code) << n;
        n += uint32_t(width);
        while (n >= 8) {
            out += char(acc & 0xFF);
            acc >>= 8;
            n -= 8;
        }
    }
    if (n) out += char(acc & 0xFF);
    return out;
}

// Splits bytes into sub-blocks of `chunk` bytes and the terminator.
inline std::string gifSubBlocks(const std::string& bytes, size_t chunk, bool terminator = true) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += chunk) {
        size_t n = std::min(chunk, bytes.size() - i);
        out += char(n);
        out += bytes.substr(i, n);
    }
    if (terminator) out += '\0';
    return out;
}

// The LZW codes of `pixels` (clear first, end last) with their widths.
inline std::vector<std::pair<int, int>> gifLzwCodes(const std::vector<uint8_t>& pixels, int minSize,
                                                    bool deferredClear) {
    const int clear = 1 << minSize, end = clear + 1;
    std::vector<std::pair<int, int>> codes;
    std::vector<int> dict(4096 * 256, -1); // (prefix code, byte) -> code
    int next = clear + 2;
    auto width = [&] {
        int w = minSize + 1;
        while (w < 12 && next - 1 >= (1 << w))
            w++;
        return w;
    };
    auto reset = [&] {
        std::fill(dict.begin(), dict.end(), -1);
        next = clear + 2;
    };
    codes.push_back({clear, minSize + 1});
    if (pixels.empty()) {
        codes.push_back({end, minSize + 1});
        return codes;
    }
    int cur = pixels[0] & (clear - 1);
    for (size_t i = 1; i < pixels.size(); i++) {
        int p = pixels[i] & (clear - 1);
        int& slot = dict[size_t(cur) * 256 + size_t(p)];
        if (slot >= 0) {
            cur = slot;
            continue;
        }
        codes.push_back({cur, width()});
        if (next < 4096) {
            slot = next++;
        } else if (!deferredClear) {
            codes.push_back({clear, width()});
            reset();
        }
        cur = p;
    }
    codes.push_back({cur, width()});
    if (next < 4096) next++; // the decoder adds an entry for the last code
    codes.push_back({end, width()});
    return codes;
}

inline std::string gifEncode(const GifTestFile& file) {
    std::string out = "GIF89a";
    gifPut16(out, file.width);
    gifPut16(out, file.height);
    int gbits = gifTableBits(file.global.size());
    out += char(file.global.empty() ? 0 : 0x80 | (gbits << 4) | gbits);
    out += '\0';
    out += '\0';
    if (!file.global.empty()) gifPutTable(out, file.global);
    for (const GifTestFrame& f : file.frames) {
        if (f.trans >= 0) {
            out += "\x21\xF9\x04";
            out += '\x01';
            gifPut16(out, 0);
            out += char(f.trans);
            out += '\0';
        }
        out += ',';
        gifPut16(out, f.left);
        gifPut16(out, f.top);
        gifPut16(out, f.width);
        gifPut16(out, f.height);
        int lbits = gifTableBits(f.local.size());
        out += char((f.local.empty() ? 0 : 0x80 | lbits) | (f.interlaced ? 0x40 : 0));
        if (!f.local.empty()) gifPutTable(out, f.local);
        if (!f.data.empty()) {
            out += f.data;
            continue;
        }
        const std::vector<uint32_t>& table = f.local.empty() ? file.global : f.local;
        int minSize = f.minCodeSize ? f.minCodeSize : std::max(2, gifTableBits(table.size()) + 1);
        std::vector<uint8_t> stream;
        if (f.interlaced) {
            static const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; pass++)
                for (uint32_t y = start[pass]; y < f.height; y += step[pass])
                    stream.insert(stream.end(), f.pixels.begin() + y * f.width,
                                  f.pixels.begin() + (y + 1) * f.width);
        } else {
            stream = f.pixels;
        }
        out += char(minSize);
        out += gifSubBlocks(gifPackCodes(gifLzwCodes(stream, minSize, f.deferredClear)), f.chunk);
    }
    if (file.trailer) out += ';';
    return out;
}
