/* The image object, its file wrapper and the icon writer (portable). */
#include "session/diximage.h"

#include "ui/dibutil.h"

#include <string.h>

/* ---- CImageFile ---- */

CImageFile::~CImageFile() {
    Close();
}

bool CImageFile::Open(const std::string& path, const char* mode) {
    Close();
    m_fp = diImageFileOpen(path, mode);
    m_owns = m_fp != nullptr;
    return m_fp != nullptr;
}

bool CImageFile::Close() {
    bool ok = true;
    if (m_fp && m_owns) ok = fclose(m_fp) == 0;
    m_fp = nullptr;
    m_owns = false;
    return ok;
}

size_t CImageFile::Write(const void* buffer, size_t size, size_t count) {
    return m_fp ? fwrite(buffer, size, count, m_fp) : 0;
}

bool CImageFile::Seek(long offset, int origin) {
    return m_fp && fseek(m_fp, offset, origin) == 0;
}

long CImageFile::Tell() {
    return m_fp ? ftell(m_fp) : 0;
}

int CImageFile::GetC() {
    return m_fp ? getc(m_fp) : EOF;
}

/* ---- CxImage ---- */

namespace {

const char kNullFile[] = "null file handler";
const char kNullImage[] = "null image!!!";
const char kUnknownEncode[] = "Encode: Unknown format";
const char kUnknownDecode[] = "Decode: Unknown or wrong format";
const char kNotIcon[] = "Can't save this image as icon";

bool sameColour(CxRGBQuad a, CxRGBQuad b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

/* 96 dots per inch in pixels per metre. */
const int32_t kDefaultResolution = static_cast<int32_t>(96 * 39.37007874015748 + 0.5);

} // namespace

CxImage::CxImage(const std::string& path, uint32_t format) {
    Load(path, format);
}

void CxImage::Clear() {
    m_head = CxBitmapHeader{};
    m_palette.clear();
    m_rows.clear();
    m_rowBytes = 0;
}

void CxImage::SetError(const char* text) {
    snprintf(m_lastError, sizeof m_lastError, "%s", text);
}

void CxImage::SetComment(const uint8_t* bytes, size_t n) {
    if (n >= sizeof m_comment) n = sizeof m_comment - 1;
    memcpy(m_comment, bytes, n);
    m_comment[n] = 0;
}

uint8_t* CxImage::Create(int64_t width, int64_t height, uint32_t bits, uint32_t format) {
    (void)format;
    Clear();
    if (width <= 0 || height <= 0) {
        SetError("CxImage::Create : width and height must be greater than zero");
        return nullptr;
    }
    uint32_t depth = diDIBDepthFor(bits);
    /* In 64 bits: a 32-bit product lets a huge image pass as a small one. */
    uint64_t budget = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * depth / 256;
    uint64_t bytes = diDIBImageBytes(depth, width, height);
    if (budget > 256000000 || bytes == 0) {
        SetError("CXIMAGE_MAX_MEMORY exceeded");
        return nullptr;
    }
    uint32_t entries = depth <= 8 ? 1u << depth : 0;
    m_rowBytes = static_cast<uint32_t>(bytes / static_cast<uint64_t>(height));
    m_palette.assign(entries, CxRGBQuad{});
    m_rows.assign(static_cast<size_t>(bytes), 0);
    m_head.size = 40;
    m_head.width = static_cast<int32_t>(width);
    m_head.height = static_cast<int32_t>(height);
    m_head.planes = 1;
    m_head.bitCount = static_cast<uint16_t>(depth);
    m_head.compression = 0;
    m_head.sizeImage = static_cast<uint32_t>(bytes);
    m_head.xPelsPerMeter = m_head.yPelsPerMeter = kDefaultResolution;
    m_head.clrUsed = entries;
    m_head.clrImportant = 0;
    return m_rows.data();
}

CxRGBQuad CxImage::GetPaletteColor(uint32_t index) const {
    return index < m_palette.size() ? m_palette[index] : CxRGBQuad{};
}

void CxImage::SetPaletteColor(uint32_t index, CxRGBQuad colour) {
    if (index < m_palette.size()) m_palette[index] = colour;
}

uint32_t CxImage::GetPixelIndex(int32_t x, int32_t y) const {
    if (m_rows.empty() || m_head.bitCount > 8 || x < 0 || y < 0 || x >= m_head.width ||
        y >= m_head.height)
        return 0;
    const uint8_t* row = &m_rows[static_cast<size_t>(y) * m_rowBytes];
    uint32_t bpp = m_head.bitCount;
    uint32_t bit = static_cast<uint32_t>(x) * bpp;
    uint32_t shift = 8 - bpp - bit % 8;
    return (row[bit / 8] >> shift) & ((1u << bpp) - 1);
}

void CxImage::SetPixelIndex(int32_t x, int32_t y, uint32_t index) {
    if (m_rows.empty() || m_head.bitCount > 8 || x < 0 || y < 0 || x >= m_head.width ||
        y >= m_head.height)
        return;
    uint8_t* row = &m_rows[static_cast<size_t>(y) * m_rowBytes];
    uint32_t bpp = m_head.bitCount;
    uint32_t mask = (1u << bpp) - 1;
    uint32_t bit = static_cast<uint32_t>(x) * bpp;
    uint32_t shift = 8 - bpp - bit % 8;
    uint8_t& b = row[bit / 8];
    b = static_cast<uint8_t>((b & ~(mask << shift)) | ((index & mask) << shift));
}

CxRGBQuad CxImage::GetPixelColor(int32_t x, int32_t y) const {
    if (m_rows.empty() || x < 0 || y < 0 || x >= m_head.width || y >= m_head.height)
        return CxRGBQuad{};
    if (m_head.bitCount <= 8) return GetPaletteColor(GetPixelIndex(x, y));
    const uint8_t* p = &m_rows[static_cast<size_t>(y) * m_rowBytes + static_cast<size_t>(x) * 3];
    return CxRGBQuad{p[0], p[1], p[2], 0};
}

void CxImage::SetPixelColor(int32_t x, int32_t y, CxRGBQuad c) {
    if (m_rows.empty() || m_head.bitCount <= 8 || x < 0 || y < 0 || x >= m_head.width ||
        y >= m_head.height)
        return;
    uint8_t* p = &m_rows[static_cast<size_t>(y) * m_rowBytes + static_cast<size_t>(x) * 3];
    p[0] = c.blue;
    p[1] = c.green;
    p[2] = c.red;
}

CxRGBQuad CxImage::GetTransColor() const {
    if (m_head.bitCount > 8 || m_transIndex < 0) return m_background;
    if (static_cast<uint32_t>(m_transIndex) >= m_palette.size()) return CxRGBQuad{255, 255, 255, 0};
    return m_palette[static_cast<uint32_t>(m_transIndex)];
}

bool CxImage::Decode(CImageFile* file, uint32_t format) {
    if (!file || !file->Stream()) {
        SetError(kNullFile);
        return false;
    }
    if (format == CXIMAGE_FORMAT_GIF || format == CXIMAGE_FORMAT_UNKNOWN) {
        SetError("");
        if (diGifDecode(this, file)) return true;
        if (!m_lastError[0]) SetError(kUnknownDecode);
        Clear();
        return false;
    }
    SetError(kUnknownDecode);
    return false;
}

bool CxImage::Load(const std::string& path, uint32_t format) {
    CImageFile file;
    if (!file.Open(path, "rb")) {
        SetError(kNullFile);
        return false;
    }
    if (Decode(&file, format)) return true;
    if (format == CXIMAGE_FORMAT_UNKNOWN) return false;
    std::string firstError = m_lastError;
    if (file.Open(path, "rb") && Decode(&file, CXIMAGE_FORMAT_UNKNOWN)) return true;
    SetError(firstError.c_str());
    return false;
}

bool CxImage::Encode(CImageFile* file, uint32_t format) {
    if (format != CXIMAGE_FORMAT_ICO) {
        SetError(kUnknownEncode);
        return false;
    }
    return EncodeIcon(file);
}

bool CxImage::Save(const std::string& path, uint32_t format) {
    if (format != CXIMAGE_FORMAT_ICO) {
        SetError(kUnknownEncode);
        return false;
    }
    struct Job {
        CxImage* image;
        uint32_t format;
    } job{this, format};
    auto write = [](CImageFile* file, void* context) {
        Job* j = static_cast<Job*>(context);
        return j->image->Encode(file, j->format);
    };
    if (diImageFileReplace(path, write, &job)) return true;
    if (!m_lastError[0]) SetError(kNullFile);
    return false;
}

/* ---- icon writer ---- */

namespace {

/* Collects little-endian fields and hands them to the file in one write. */
struct IconBytes {
    std::vector<uint8_t> b;
    void u8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
    void u16(uint32_t v) {
        u8(v);
        u8(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v);
        u16(v >> 16);
    }
    bool flush(CImageFile* file) {
        bool ok = b.empty() || file->Write(b.data(), 1, b.size()) == b.size();
        b.clear();
        return ok;
    }
};

} // namespace

bool CxImage::EncodeIcon(CImageFile* file) {
    m_lastError[0] = 0;
    if (!file || !file->Stream()) {
        SetError(kNullFile);
        return false;
    }
    if (m_rows.empty()) {
        SetError(kNullImage);
        return false;
    }
    if (m_head.width > CXIMAGE_MAX_ICON_SIDE || m_head.height > CXIMAGE_MAX_ICON_SIDE) {
        SetError(kNotIcon);
        return false;
    }
    const uint32_t depth = m_head.bitCount;
    if (depth <= 8 && m_palette.empty()) return false;
    const uint32_t width = static_cast<uint32_t>(m_head.width);
    const uint32_t height = static_cast<uint32_t>(m_head.height);
    const uint32_t entries = static_cast<uint32_t>(m_palette.size());
    const uint32_t maskRow = (width + 31) / 32 * 4;
    const bool masked = m_transIndex >= 0;
    const CxRGBQuad trans = GetTransColor();

    IconBytes out;
    out.u16(0);
    out.u16(1);
    out.u16(1);
    out.u8(width);
    out.u8(height);
    out.u8(entries & 0xFF);
    out.u8(0);
    out.u16(0);
    out.u16(depth);
    out.u32(m_head.sizeImage + entries * 4 + 40 + maskRow * height);
    out.u32(22);
    out.u32(40);
    out.u32(width);
    out.u32(height * 2);
    out.u16(1);
    out.u16(depth);
    out.u32(0);
    out.u32(m_head.sizeImage);
    for (int i = 0; i < 4; i++)
        out.u32(0);
    /* The shell draws an icon as AND mask, then XOR colour: a masked pixel
     * must carry colour 0 or it tints whatever lies behind it. The mask marks
     * colours, so every entry of the transparent colour is masked. */
    for (const CxRGBQuad& c : m_palette) {
        bool clear = masked && sameColour(c, trans);
        out.u8(clear ? 0 : c.blue);
        out.u8(clear ? 0 : c.green);
        out.u8(clear ? 0 : c.red);
        out.u8(clear ? 0 : c.reserved);
    }
    if (!out.flush(file)) return false;

    std::vector<uint8_t> row(m_rowBytes);
    std::vector<uint8_t> maskBits(static_cast<size_t>(maskRow) * height, 0);
    for (uint32_t y = 0; y < height; y++) {
        memcpy(row.data(), &m_rows[static_cast<size_t>(y) * m_rowBytes], m_rowBytes);
        for (uint32_t x = 0; masked && x < width; x++) {
            if (!sameColour(GetPixelColor(int32_t(x), int32_t(y)), trans)) continue;
            maskBits[static_cast<size_t>(y) * maskRow + x / 8] |=
                static_cast<uint8_t>(0x80 >> (x % 8));
            if (depth > 8) memset(&row[x * 3], 0, 3);
        }
        if (file->Write(row.data(), 1, row.size()) != row.size()) return false;
    }
    return file->Write(maskBits.data(), 1, maskBits.size()) == maskBits.size();
}

/* ---- replacing a file ---- */

bool diImageFileReplace(const std::string& path, bool (*write)(CImageFile* file, void* context),
                        void* context) {
    std::string tmp = diImageFileTempName(path);
    CImageFile file;
    if (!file.Open(tmp, "wb")) return false;
    /* After a power cut the icon is the old one or the whole new one. */
    bool ok = write(&file, context) && diImageFileSync(file.Stream());
    ok = file.Close() && ok;
    if (ok && diImageFileRename(tmp, path)) return true;
    diImageFileRemove(tmp);
    return false;
}
