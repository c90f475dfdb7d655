/* Helpers shared by the frame-buffer tests: owned buffers, pixel access
 * independent of the renderer's own, and a recording damage sink. */
#ifndef HV_TESTS_FBTEST_H
#define HV_TESTS_FBTEST_H

#include "fb/fb.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

/* A pixmap that frees itself. bpp4 picks the 32-bit layout of depth 24. */
struct TestBuffer {
    FbBuffer b{};
    TestBuffer(int32_t w, int32_t h, uint32_t depth, bool bpp4 = false) {
        b.width = w;
        b.height = h;
        b.depth = depth;
        b.bytesPerPixel = bpp4 ? 4 : 0;
        EXPECT_EQ(fbCreatePixmap(nullptr, &b), 0);
    }
    ~TestBuffer() { fbDestroyPixmap(nullptr, &b); }
    TestBuffer(const TestBuffer&) = delete;
    TestBuffer& operator=(const TestBuffer&) = delete;
    FbBuffer* operator&() { return &b; }

    /* Bits per pixel of this format. */
    uint32_t mask() const {
        return b.depth == 8 ? 0xFFu : b.depth == 16 ? 0xFFFFu : b.bytesPerPixel == 4 ? 0xFFFFFFFFu : 0xFFFFFFu;
    }
    bool inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < b.width && y < b.height; }
    uint8_t* addr(int32_t x, int32_t y) const {
        return b.bits + size_t(b.height - 1 - y) * b.stride + size_t(x) * b.bytesPerPixel;
    }
    uint32_t get(int32_t x, int32_t y) const {
        if (b.depth == 1)
            return (b.bits[size_t(y) * b.stride + size_t(x / 8)] >> (x % 8)) & 1;
        const uint8_t* p = addr(x, y);
        uint32_t v = 0;
        for (uint32_t i = 0; i < b.bytesPerPixel; i++)
            v |= uint32_t(p[i]) << (8 * i);
        return v;
    }
    void set(int32_t x, int32_t y, uint32_t v) {
        if (b.depth == 1) {
            uint8_t& byte = b.bits[size_t(y) * b.stride + size_t(x / 8)];
            byte = uint8_t((byte & ~(1u << (x % 8))) | ((v & 1) << (x % 8)));
            return;
        }
        uint8_t* p = addr(x, y);
        for (uint32_t i = 0; i < b.bytesPerPixel; i++)
            p[i] = uint8_t(v >> (8 * i));
    }
    void randomize(std::mt19937& rng) {
        for (int32_t y = 0; y < b.height; y++)
            for (int32_t x = 0; x < b.width; x++)
                set(x, y, rng() & mask());
    }
    void copyFrom(const TestBuffer& o) {
        for (int32_t y = 0; y < b.height; y++)
            for (int32_t x = 0; x < b.width; x++)
                set(x, y, o.get(x, y));
    }
    /* First differing pixel as text, or "" when equal. */
    std::string diff(const TestBuffer& o) const {
        for (int32_t y = 0; y < b.height; y++)
            for (int32_t x = 0; x < b.width; x++)
                if (get(x, y) != o.get(x, y))
                    return "(" + std::to_string(x) + ", " + std::to_string(y) + "): " +
                           std::to_string(get(x, y)) + " vs " + std::to_string(o.get(x, y));
        return "";
    }
};

/* The formats the drawing families exist for: depth and 4-byte flag. */
struct TestFormat {
    uint32_t depth;
    bool bpp4;
    const char* name;
};
inline const std::vector<TestFormat>& DrawingFormats() {
    static const std::vector<TestFormat> f = {{8, false, "8"}, {16, false, "16"}, {24, false, "24"}, {24, true, "32"}};
    return f;
}

/* A GC as the engine makes it: copy, solid, full plane mask, all changes. */
inline FbGC FreshGC() {
    FbGC gc{};
    gc.ops = &fbNoOps;
    gc.changeMask = 0xFFFFFFFF;
    gc.function = 3;
    gc.planeMask = 0xFFFFFFFF;
    return gc;
}

/* Records every damage report as text. */
struct DamageLog {
    static std::vector<std::string>& entries() {
        static std::vector<std::string> e;
        return e;
    }
    static void rect(void*, FbBuffer*, FbGC*, int32_t x, int32_t y, int32_t w, int32_t h) {
        entries().push_back("rect " + std::to_string(x) + " " + std::to_string(y) + " " +
                            std::to_string(w) + " " + std::to_string(h));
    }
    static void line(void*, FbBuffer*, FbGC*, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
        entries().push_back("line " + std::to_string(x1) + " " + std::to_string(y1) + " " +
                            std::to_string(x2) + " " + std::to_string(y2));
    }
    static void boxes(void*, FbBuffer*, FbGC*, uint32_t n, const FbRect*) {
        entries().push_back("boxes " + std::to_string(n));
    }
    DamageLog() {
        static const FbDamageSink sink = {rect, line, boxes};
        entries().clear();
        fbSetDamageSink(&sink);
    }
    ~DamageLog() { fbSetDamageSink(nullptr); }
};

#endif
