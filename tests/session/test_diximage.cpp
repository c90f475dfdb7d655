// GIF files read into images and written as icons: checked against an
// independent reader (ImageMagick's convert) over seeded random files, and
// table rows for the icon layout, malformed code streams and hostile sizes.
#include <gtest/gtest.h>

#include "session/diximage.h"
#include "session/gif_encoder.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

bool decodeBytes(CxImage& img, const std::string& bytes, int frame = 0) {
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    CImageFile file(f, true);
    img.SetFrame(frame);
    return img.Decode(&file, CXIMAGE_FORMAT_GIF);
}

std::string iconBytes(CxImage& img) {
    char* buf = nullptr;
    size_t size = 0;
    FILE* f = open_memstream(&buf, &size);
    bool ok;
    {
        CImageFile file(f, true);
        ok = img.Encode(&file, CXIMAGE_FORMAT_ICO);
    }
    std::string out = ok ? std::string(buf, size) : std::string();
    free(buf);
    return out;
}

uint32_t le(const std::string& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; i++)
        v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    return v;
}

// RGBA rows from the top, as the reference reader prints them; a masked
// pixel's colour is left 0 as only its alpha is compared.
std::string rgbaOf(const CxImage& img) {
    std::string out;
    CxRGBQuad t = img.GetTransColor();
    for (int y = img.GetHeight() - 1; y >= 0; y--)
        for (int x = 0; x < img.GetWidth(); x++) {
            CxRGBQuad c = img.GetPixelColor(x, y);
            bool masked = img.GetTransIndex() >= 0 && c.red == t.red && c.green == t.green &&
                          c.blue == t.blue;
            out += masked ? std::string(4, '\0')
                          : std::string{char(c.red), char(c.green), char(c.blue), char(255)};
        }
    return out;
}

// Clears the colour of fully transparent pixels of a reference RGBA dump.
std::string normalised(std::string rgba) {
    for (size_t i = 0; i + 3 < rgba.size(); i += 4)
        if (rgba[i + 3] == 0) rgba.replace(i, 3, 3, '\0');
    return rgba;
}

std::string runConvert(const std::string& args) {
    std::string out;
    FILE* p = popen(("/usr/bin/convert " + args + " -depth 8 rgba:- 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

struct TempDir {
    std::string path;
    TempDir() {
        char t[] = "/tmp/hv_gif_XXXXXX";
        path = mkdtemp(t);
    }
    ~TempDir() { system(("rm -rf '" + path + "'").c_str()); }
};

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<uint32_t> distinctColours(std::mt19937& rng, size_t n, std::vector<uint32_t>* used) {
    std::vector<uint32_t> out;
    while (out.size() < n) {
        uint32_t c = rng() & 0xFFFFFF;
        if (std::find(used->begin(), used->end(), c) != used->end()) continue;
        used->push_back(c);
        out.push_back(c);
    }
    return out;
}

// Pixels with runs, so strings grow long and the table fills.
std::vector<uint8_t> pixels(std::mt19937& rng, size_t n, size_t colours) {
    std::vector<uint8_t> p(n);
    uint8_t run = 0;
    for (size_t i = 0; i < n; i++) {
        if (i == 0 || rng() % 4 == 0) run = uint8_t(rng() % colours);
        p[i] = run;
    }
    return p;
}

GifTestFrame randomFrame(std::mt19937& rng, uint32_t w, uint32_t h, size_t colours) {
    GifTestFrame f;
    f.width = w;
    f.height = h;
    f.pixels = pixels(rng, size_t(w) * h, colours);
    f.interlaced = rng() % 2;
    f.chunk = 1 + rng() % 255;
    f.deferredClear = rng() % 3 == 0;
    if (rng() % 2) f.trans = int(rng() % colours);
    return f;
}

// A file read at `bits`: one frame for 1, 4 and 8, or a true-colour file of
// three frames tiling the screen for 24.
GifTestFile randomFile(std::mt19937& rng, int bits, uint32_t w, uint32_t h) {
    GifTestFile file;
    file.width = w;
    file.height = h;
    std::vector<uint32_t> used;
    if (bits < 24) {
        static const size_t sizes[3][3] = {{2, 2, 2}, {4, 8, 16}, {32, 128, 256}};
        size_t colours = sizes[bits == 1 ? 0 : bits == 4 ? 1 : 2][rng() % 3];
        std::vector<uint32_t> table = distinctColours(rng, colours, &used);
        GifTestFrame f = randomFrame(rng, w, h, colours);
        if (rng() % 2)
            file.global = table;
        else
            f.local = table;
        file.frames.push_back(f);
        return file;
    }
    uint32_t w0 = 1 + rng() % (w - 1), h0 = 1 + rng() % (h - 1);
    const uint32_t rects[3][4] = {{0, 0, w0, h0}, {w0, 0, w - w0, h}, {0, h0, w0, h - h0}};
    for (int i = 0; i < 3; i++) {
        size_t colours = size_t(2) << (rng() % 8);
        GifTestFrame f = randomFrame(rng, rects[i][2], rects[i][3], colours);
        f.left = rects[i][0];
        f.top = rects[i][1];
        f.local = distinctColours(rng, colours, &used);
        if (i < 2) f.trans = -1; // only the last frame's transparency counts
        file.frames.push_back(f);
    }
    return file;
}

TEST(GifIcon, ReadAndWrittenLikeTheReferenceReader) {
    const char* env = getenv("HV_SEED");
    const uint32_t seed = env ? uint32_t(strtoul(env, nullptr, 10)) : std::random_device{}();
    printf("seed %u (HV_SEED repeats it)\n", seed);
    std::mt19937 rng(seed);
    TempDir dir;
    const int depths[4] = {1, 4, 8, 24};
    const int kFiles = 48;
    std::vector<std::string> ours(kFiles);
    std::vector<GifTestFrame> last(kFiles); // of true-colour files
    std::string gifArgs, icoArgs;
    for (int i = 0; i < kFiles; i++) {
        int bits = depths[i % 4];
        uint32_t w = i < 4 ? 255 : i < 8 ? 1 + (bits == 24) : 2 + rng() % 254;
        uint32_t h = i % 3 == 0 ? 2 + rng() % 6 : 2 + rng() % 254;
        GifTestFile file = randomFile(rng, bits, w, h);
        std::string gif = dir.path + "/" + std::to_string(i) + ".gif";
        std::string ico = dir.path + "/" + std::to_string(i) + ".ico";
        writeFile(gif, gifEncode(file));
        CxImage img(gif, CXIMAGE_FORMAT_GIF);
        ASSERT_TRUE(img.IsValid()) << "seed " << seed << " file " << i << ": "
                                   << img.GetLastError();
        ASSERT_EQ(uint32_t(bits), img.GetBpp()) << "seed " << seed << " file " << i;
        ASSERT_TRUE(img.Save(ico, CXIMAGE_FORMAT_ICO)) << img.GetLastError();
        ours[i] = rgbaOf(img);
        // A true-colour file: the reference's coalesced screen gives the
        // colours, its last frame alone the transparent pixels.
        gifArgs += bits == 24 ? " '(' " + gif + " -coalesce -delete 0--2 ')' " + gif + "[2]"
                              : " " + gif + "[0]";
        last[i] = file.frames.back();
        icoArgs += " " + ico;
    }
    const std::string gifRef = normalised(runConvert(gifArgs));
    const std::string icoRef = normalised(runConvert(icoArgs));
    size_t at = 0;
    size_t gifAt = 0;
    for (int i = 0; i < kFiles; i++) {
        std::string ref = gifRef.substr(gifAt, ours[i].size());
        gifAt += ours[i].size();
        if (depths[i % 4] == 24) {
            const GifTestFrame& f = last[i];
            const size_t screenW = ours[i].size() / 4 / (f.top + f.height);
            for (uint32_t y = 0; y < f.height; y++)
                for (uint32_t x = 0; x < f.width; x++, gifAt += 4)
                    if (gifAt + 3 < gifRef.size() && gifRef[gifAt + 3] == 0)
                        ref.replace(((f.top + y) * screenW + f.left + x) * 4, 4, 4, '\0');
        }
        ASSERT_EQ(ours[i], ref)
            << "seed " << seed << " GIF file " << i << " at " << depths[i % 4] << " bits";
        ASSERT_EQ(ours[i], icoRef.substr(at, ours[i].size()))
            << "seed " << seed << " icon file " << i << " at " << depths[i % 4] << " bits";
        at += ours[i].size();
    }
    EXPECT_EQ(gifAt, gifRef.size());
    EXPECT_EQ(at, icoRef.size());
}

} // namespace
