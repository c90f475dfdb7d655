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

std::string runConvert(const std::string& args) {
    std::string out;
    FILE* p = popen(("/usr/bin/convert " + args + " -depth 8 rgba:- 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    for (size_t i = 0; i + 3 < out.size(); i += 4) // colour of transparent pixels: 0
        if (out[i + 3] == 0) out.replace(i, 3, 3, '\0');
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

GifTestFrame randomFrame(std::mt19937& rng, uint32_t w, uint32_t h, size_t colours) {
    GifTestFrame f;
    f.width = w;
    f.height = h;
    // Runs of one colour, so strings grow long and the table fills.
    f.pixels.resize(size_t(w) * h);
    for (size_t i = 0; i < f.pixels.size(); i++)
        f.pixels[i] = i == 0 || rng() % 4 == 0 ? uint8_t(rng() % colours) : f.pixels[i - 1];
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
        size_t colours = bits == 1   ? 2
                         : bits == 4 ? size_t(4) << rng() % 3
                                     : size_t(32) << rng() % 4;
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
    std::vector<GifTestFile> files(kFiles);
    std::string gifArgs, icoArgs;
    for (int i = 0; i < kFiles; i++) {
        int bits = depths[i % 4];
        uint32_t w = i < 4 ? 255 : i < 8 ? 1 + (bits == 24) : 2 + rng() % 254;
        // Short heights have empty interlace passes.
        uint32_t h = (bits < 24 ? 1 : 2) + rng() % (i % 3 == 0 ? 7 : 254);
        files[i] = randomFile(rng, bits, w, h);
        const std::string name = dir.path + "/" + std::to_string(i);
        writeFile(name + ".gif", gifEncode(files[i]));
        CxImage img(name + ".gif", CXIMAGE_FORMAT_GIF);
        ASSERT_TRUE(img.IsValid())
            << "seed " << seed << " file " << i << ": " << img.GetLastError();
        ASSERT_EQ(uint32_t(bits), img.GetBpp()) << "seed " << seed << " file " << i;
        ASSERT_TRUE(img.Save(name + ".ico", CXIMAGE_FORMAT_ICO)) << img.GetLastError();
        ours[i] = rgbaOf(img);
        icoArgs += " " + name + ".ico";
        // The reference reads each tile of a true-colour file alone: some
        // readers lose the frames after one whose end code sits alone in
        // its last sub-block.
        for (size_t k = 0; k < files[i].frames.size(); k++) {
            GifTestFile tile = files[i];
            tile.frames = {files[i].frames[k]};
            tile.width = tile.frames[0].width;
            tile.height = tile.frames[0].height;
            tile.frames[0].left = tile.frames[0].top = 0;
            const std::string tileName = name + "." + std::to_string(k) + ".gif";
            writeFile(tileName, gifEncode(tile));
            gifArgs += " " + tileName;
        }
    }
    const std::string gifRef = (runConvert(gifArgs));
    const std::string icoRef = (runConvert(icoArgs));
    size_t gifAt = 0, icoAt = 0;
    for (int i = 0; i < kFiles; i++) {
        std::string ref(ours[i].size(), '\0');
        for (const GifTestFrame& f : files[i].frames)
            for (uint32_t y = 0; y < f.height; y++, gifAt += f.width * 4)
                ref.replace(((f.top + y) * files[i].width + f.left) * 4, f.width * 4,
                            gifRef.substr(std::min(gifAt, gifRef.size()), f.width * 4));
        ASSERT_EQ(ours[i], ref) << "seed " << seed << " GIF file " << i << " at " << depths[i % 4]
                                << " bits";
        ASSERT_EQ(ours[i], icoRef.substr(icoAt, ours[i].size()))
            << "seed " << seed << " icon file " << i << " at " << depths[i % 4] << " bits";
        icoAt += ours[i].size();
    }
    EXPECT_EQ(gifAt, gifRef.size());
    EXPECT_EQ(icoAt, icoRef.size());
}

// A one-frame file of `w` x `h` over `table` (global) with given pixels.
std::string oneFrame(uint32_t w, uint32_t h, const std::vector<uint32_t>& table,
                     const std::vector<uint8_t>& px, int trans = -1) {
    GifTestFile file;
    file.width = w;
    file.height = h;
    file.global = table;
    GifTestFrame f;
    f.width = w;
    f.height = h;
    f.pixels = px;
    f.trans = trans;
    file.frames.push_back(f);
    return gifEncode(file);
}

std::vector<uint32_t> greys(size_t n) {
    std::vector<uint32_t> t;
    for (size_t i = 0; i < n; i++)
        t.push_back(uint32_t(i * 0x010101));
    return t;
}

// A 32x32 file of 16 colours: a 4-bit icon of 766 bytes whose palette has
// all 16 entries while colours used stays 0. (The fuzz target checks the
// layout of every icon it writes; the seeded loop, the depth of each table
// size.)
TEST(GifIcon, SixteenColoursMakeA766ByteIcon) {
    std::vector<uint8_t> px(32 * 32);
    for (size_t i = 0; i < px.size(); i++)
        px[i] = uint8_t(i % 16);
    CxImage img;
    ASSERT_TRUE(decodeBytes(img, oneFrame(32, 32, greys(16), px)));
    std::string ico = iconBytes(img);
    ASSERT_EQ(766u, ico.size());
    EXPECT_EQ(32u | 32u << 8 | 16u << 16, le(ico, 6, 4)); // sides, colour count
    EXPECT_EQ(4u << 16, le(ico, 10, 4));                  // planes 0, bit count
    EXPECT_EQ(744u, le(ico, 14, 4));
    EXPECT_EQ(0u, le(ico, 54, 4)); // colours used
}

// Windows draws an icon as AND mask, then XOR colour: whatever is masked
// must carry colour 0. The mask compares colours, so a second entry of the
// transparent colour is masked too, and a transparent index beyond the
// palette stands for white.
TEST(GifIcon, MaskedColoursAreWrittenAsZero) {
    struct Row {
        const char* name;
        std::vector<uint32_t> table;
        int trans;
        std::vector<uint8_t> px;
        std::vector<uint32_t> palette; // as written, first entries
        std::vector<bool> masked;
    } rows[] = {
        {"duplicate of the transparent colour",
         {0x112233, 0x445566, 0x778899, 0x445566},
         1,
         {0, 1, 2, 3},
         {0x112233, 0, 0x778899, 0, 0xFFFFFF},
         {false, true, false, true}},
        {"index beyond the palette means white",
         {0x112233, 0xFFFFFF, 0x778899, 0x010203},
         200,
         {0, 1, 2, 3},
         {0x112233, 0, 0x778899, 0x010203, 0},
         {false, true, false, false}},
        {"no transparency: black fill",
         {0x112233, 0xFFFFFF, 0x778899, 0x010203},
         -1,
         {0, 1, 2, 3},
         {0x112233, 0xFFFFFF, 0x778899, 0x010203, 0},
         {false, false, false, false}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CxImage img;
        ASSERT_TRUE(decodeBytes(img, oneFrame(4, 1, r.table, r.px, r.trans)));
        std::string ico = iconBytes(img);
        for (size_t i = 0; i < r.palette.size(); i++)
            EXPECT_EQ(r.palette[i], le(ico, 62 + i * 4, 4)) << "entry " << i;
        uint8_t mask = uint8_t(ico[ico.size() - 4]);
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(r.masked[x], bool(mask & (0x80 >> x))) << "pixel " << x;
    }
    // A true-colour picture: masked pixels are written black.
    GifTestFile file;
    file.width = 3;
    file.height = 2;
    for (uint32_t i = 0; i < 2; i++) {
        GifTestFrame f;
        f.left = f.top = i;
        f.width = 2;
        f.local = {i ? 0x999999u : 0x123456u, 0xABCDEF};
        f.pixels = {uint8_t(i), 1};
        f.trans = int(i);
        file.frames.push_back(f);
    }
    CxImage img;
    ASSERT_TRUE(decodeBytes(img, gifEncode(file)));
    ASSERT_EQ(24u, img.GetBpp());
    std::string ico = iconBytes(img);
    // Bottom row first: (0,1) black uncovered, (1,1) (2,1) masked; top row:
    // (0,0), then (1,0) of the first frame's second colour, masked too.
    EXPECT_EQ(std::string("\0\0\0\0\0\0\0\0\0\0\0\0", 12), ico.substr(62, 12));
    EXPECT_EQ(std::string("\x56\x34\x12\0\0\0\0\0\0\0\0\0", 12), ico.substr(74, 12));
    EXPECT_EQ(0x60, uint8_t(ico[86]));
    EXPECT_EQ(0x40, uint8_t(ico[90]));
}

// Code streams of a 4x2 image over four colours (clear 4, end 5, codes of
// 3 bits at first), written by hand.
TEST(GifDecode, CodeStreams) {
    using Codes = std::vector<std::pair<int, int>>;
    auto data = [](int minSize, const Codes& codes, bool terminator = true) {
        return std::string(1, char(minSize)) + gifSubBlocks(gifPackCodes(codes), 255, terminator);
    };
    struct Row {
        const char* name;
        std::string data;
        bool ok;
        std::vector<uint8_t> px; // top row first
        size_t colours = 4;
    } rows[] = {
        {"an end code early leaves the rest 0",
         data(2, {{4, 3}, {1, 3}, {2, 3}, {5, 3}}),
         true,
         {1, 2, 0, 0, 0, 0, 0, 0}},
        {"the terminator early leaves the rest 0",
         data(2, {{4, 3}, {1, 3}, {2, 3}}),
         true,
         {1, 2, 0, 0, 0, 0, 0, 0}},
        {"the file ending before the last pixel fails",
         data(2, {{4, 3}, {1, 3}, {2, 3}}, false),
         false,
         {}},
        {"a code beyond the next free one fails", data(2, {{4, 3}, {1, 3}, {7, 3}}), false, {}},
        {"the first code after a clear is a literal",
         data(2, {{4, 3}, {1, 3}, {2, 3}, {4, 3}, {6, 3}}),
         false,
         {}},
        {"a code equal to the next free one repeats the last string's first byte",
         data(2, {{4, 3}, {2, 3}, {6, 3}, {7, 3}, {3, 4}, {8, 4}, {5, 4}}),
         true,
         {2, 2, 2, 2, 2, 2, 3, 2}},
        {"a clear restarts the table and widths",
         data(2, {{4, 3}, {1, 3}, {1, 3}, {4, 3}, {3, 3}, {6, 3}, {5, 3}}),
         true,
         {1, 1, 3, 3, 3, 0, 0, 0}},
        {"codes after the last pixel are passed over",
         data(2, {{4, 3}, {3, 3}, {6, 3}, {7, 3}, {8, 4}, {1, 4}, {1, 4}, {1, 4}}),
         true,
         {3, 3, 3, 3, 3, 3, 3, 3}},
        {"an index too wide for the depth keeps its low bits",
         data(2, {{4, 3}, {3, 3}, {2, 3}}),
         true,
         {1, 0, 0, 0, 0, 0, 0, 0},
         2},
        {"a minimum code size of 1 fails", data(1, {{2, 2}, {1, 2}}), false, {}},
        {"a minimum code size of 10 fails", data(10, {{1024, 11}, {1, 11}}), false, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        GifTestFile file;
        file.width = 4;
        file.height = 2;
        file.global = greys(r.colours);
        file.trailer = r.ok;
        GifTestFrame f;
        f.width = 4;
        f.height = 2;
        f.data = r.data;
        file.frames.push_back(f);
        CxImage img;
        ASSERT_EQ(r.ok, decodeBytes(img, gifEncode(file)));
        std::vector<uint8_t> px;
        for (size_t i = 0; i < r.px.size(); i++)
            px.push_back(uint8_t(img.GetPixelIndex(int(i % 4), int(1 - i / 4))));
        EXPECT_EQ(r.px, px);
    }
}

// Frames, sides and block structure: what is refused, what is counted.
TEST(GifDecode, FramesAndSides) {
    auto frame = [](uint32_t left, uint32_t top, uint32_t w, uint32_t h) {
        GifTestFrame f;
        f.left = left;
        f.top = top;
        f.width = w;
        f.height = h;
        f.pixels.assign(size_t(w) * h, 1);
        return f;
    };
    const char* notIcon = "Can't save this image as icon";
    struct Row {
        const char* name;
        GifTestFile file;
        int select;
        const char* error; // null: read
        uint32_t w = 0, h = 0, bpp = 0;
        int frames = 0;
    } rows[] = {
        // 65535 x 21846 x 24 bits wraps to a small size in 32 bits.
        {"a true-colour screen larger than an icon is refused before it is sized",
         {65535, 21846, {}, {frame(0, 0, 1, 1), frame(1, 1, 1, 1)}},
         0,
         notIcon},
        {"a frame wider than an icon is refused",
         {256, 1, greys(2), {frame(0, 0, 256, 1)}},
         0,
         notIcon},
        {"a frame taller than an icon is refused",
         {1, 300, greys(2), {frame(0, 0, 1, 300)}},
         0,
         notIcon},
        {"the largest icon is read",
         {255, 255, greys(2), {frame(0, 0, 255, 255)}},
         0,
         nullptr,
         255,
         255,
         1,
         1},
        {"a frame beyond the screen is counted but cannot be selected",
         {4, 4, greys(4), {frame(2, 2, 4, 4), frame(0, 0, 2, 3)}},
         0,
         ""},
        {"the frame after it is read",
         {4, 4, greys(4), {frame(2, 2, 4, 4), frame(0, 0, 2, 3)}},
         1,
         nullptr,
         2,
         3,
         4,
         2},
        {"a frame past the last is refused", {4, 4, greys(4), {frame(0, 0, 1, 1)}}, 1, ""},
        {"a frame without any table has a black palette",
         {3, 1, {}, {frame(0, 0, 3, 1)}},
         0,
         nullptr,
         3,
         1,
         8,
         1},
        {"several frames with a global table are not true colour",
         {4, 4, greys(16), {frame(0, 0, 1, 1), frame(0, 0, 4, 4)}},
         1,
         nullptr,
         4,
         4,
         4,
         2},
        {"a first frame as wide as the screen is not true colour",
         {4, 4, {}, {frame(0, 0, 4, 1), frame(0, 0, 4, 4)}},
         0,
         nullptr,
         4,
         1,
         8,
         2},
        {"several frames without a table, the first smaller, are one picture",
         {4, 4, {}, {frame(0, 0, 3, 3), frame(3, 3, 1, 1)}},
         0,
         nullptr,
         4,
         4,
         24,
         2},
    };
    for (Row& r : rows) {
        SCOPED_TRACE(r.name);
        CxImage img;
        bool ok = decodeBytes(img, gifEncode(r.file), r.select);
        ASSERT_EQ(r.error == nullptr, ok) << img.GetLastError();
        if (r.error && r.error[0]) EXPECT_STREQ(r.error, img.GetLastError());
        if (!ok) continue;
        EXPECT_EQ(r.frames, img.GetNumFrames());
        EXPECT_EQ(std::vector<uint32_t>({r.w, r.h, r.bpp}),
                  std::vector<uint32_t>(
                      {uint32_t(img.GetWidth()), uint32_t(img.GetHeight()), img.GetBpp()}));
        for (uint32_t i = 0; i < img.GetPaletteSize() && r.file.global.empty(); i++) {
            CxRGBQuad c = img.GetPaletteColor(i);
            EXPECT_EQ(0, c.red | c.green | c.blue) << "entry " << i;
        }
    }
    // A block starts only at the start of the stream or after a zero byte:
    // "\x01," is passed over, the comment after a zero byte is read.
    GifTestFile file{2, 1, greys(2), {frame(0, 0, 2, 1)}, false};
    CxImage img;
    ASSERT_TRUE(
        decodeBytes(img, gifEncode(file) + std::string("\x01,\x05\x05\0!\xFE\x01x\0;", 11)));
    EXPECT_EQ(1, img.GetNumFrames());
    EXPECT_STREQ("x", img.GetComment());
}

// Loading retries with any reader and keeps the first attempt's error;
// saving writes icons only.
TEST(GifIcon, LoadAndSaveByPath) {
    TempDir dir;
    const std::string good = dir.path + "/good.gif", wide = dir.path + "/wide.gif",
                      text = dir.path + "/text.gif", ico = dir.path + "/a.ico";
    writeFile(good, oneFrame(2, 2, greys(2), {0, 1, 1, 0}));
    writeFile(wide, oneFrame(256, 1, greys(2), std::vector<uint8_t>(256, 1)));
    writeFile(text, "<html>not found</html>");
    struct Row {
        const std::string& path;
        uint32_t format;
        const char* error;
    } rows[] = {
        {good, CXIMAGE_FORMAT_GIF, nullptr},
        {good, CXIMAGE_FORMAT_ICO, nullptr}, // read by the second attempt
        {text, CXIMAGE_FORMAT_GIF, "Decode: Unknown or wrong format"},
        {text, CXIMAGE_FORMAT_UNKNOWN, "Decode: Unknown or wrong format"},
        {wide, CXIMAGE_FORMAT_GIF, "Can't save this image as icon"},
        {wide, CXIMAGE_FORMAT_ICO, "Decode: Unknown or wrong format"},
        {dir.path + "/missing.gif", CXIMAGE_FORMAT_GIF, "null file handler"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path + " format " + std::to_string(r.format));
        CxImage img(r.path, r.format);
        EXPECT_EQ(r.error == nullptr, img.IsValid());
        EXPECT_STREQ(r.error ? r.error : "", img.GetLastError());
    }
    CxImage img(good, CXIMAGE_FORMAT_GIF);
    EXPECT_FALSE(img.Save(ico, CXIMAGE_FORMAT_GIF));
    EXPECT_STREQ("Encode: Unknown format", img.GetLastError());
    CxImage empty;
    EXPECT_FALSE(empty.Save(ico, CXIMAGE_FORMAT_ICO));
    EXPECT_STREQ("null image!!!", empty.GetLastError());
    EXPECT_NE(0, access(ico.c_str(), F_OK));
}

// A file layer that fails its n-th write.
class FailingFile : public CImageFile {
  public:
    FailingFile(FILE* stream, int n) : CImageFile(stream), m_left(n) {}
    size_t Write(const void* buffer, size_t size, size_t count) override {
        return --m_left == 0 ? 0 : CImageFile::Write(buffer, size, count);
    }

  private:
    int m_left;
};

// An icon that cannot be written whole leaves neither an icon nor a
// temporary, and an older icon stays as it was.
TEST(GifIcon, FailedWriteLeavesNoIcon) {
    TempDir dir;
    const std::string ico = dir.path + "/a.ico", old = dir.path + "/old.ico";
    writeFile(old, "old");
    CxImage img;
    ASSERT_TRUE(decodeBytes(img, oneFrame(3, 4, greys(4), std::vector<uint8_t>(12, 2), 2)));
    struct Job {
        CxImage* img;
        int n;
    };
    for (int n = 1; n <= 7; n++) {
        Job job{&img, n};
        auto write = [](CImageFile* file, void* context) {
            Job* j = static_cast<Job*>(context);
            FailingFile failing(file->Stream(), j->n);
            return j->img->Encode(&failing, CXIMAGE_FORMAT_ICO);
        };
        for (const std::string& path : {ico, old}) {
            bool whole = n == 7; // header, four rows and mask: six writes
            EXPECT_EQ(whole, diImageFileReplace(path, write, &job)) << "write " << n;
            std::string after;
            std::ifstream(path, std::ios::binary) >> after;
            if (!whole) EXPECT_EQ(path == old ? "old" : "", after) << "write " << n;
        }
        remove(ico.c_str());
    }
    EXPECT_EQ(0, system(("test $(ls '" + dir.path + "' | wc -l) = 1").c_str()));
}

} // namespace
