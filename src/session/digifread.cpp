/* The GIF reader of the image object. The file comes from the web server:
 * every read is checked, sides are bounded before anything is allocated, and
 * the code stream is decoded against a table that can never be indexed out
 * of range. */
#include "session/diximage.h"

#include <string.h>

namespace {

const char kWrongFormat[] = "Decode: Unknown or wrong format";
const char kNotIcon[] = "Can't save this image as icon";
const int kMaxCodes = 4096;

/* Byte reads with a sticky end: after the first short read every read gives
 * nothing. `last` is the byte read last, which decides whether the next one
 * may start a block. */
struct GifStream {
    CImageFile* f;
    bool ended = false;
    int last = 0;

    int byte() {
        if (ended) return -1;
        int c = f->GetC();
        if (c == EOF) {
            ended = true;
            return -1;
        }
        last = c;
        return c;
    }
    bool bytes(uint8_t* out, size_t n) {
        for (size_t i = 0; i < n; i++) {
            int c = byte();
            if (c < 0) return false;
            out[i] = static_cast<uint8_t>(c);
        }
        return true;
    }
    uint32_t u16() {
        uint8_t b[2] = {0, 0};
        bytes(b, 2);
        return b[0] | (b[1] << 8u);
    }
    /* Skips sub-blocks up to the empty one; false at the end of the file. */
    bool skipSubBlocks() {
        for (;;) {
            int n = byte();
            if (n < 0) return false;
            if (n == 0) return true;
            for (int i = 0; i < n; i++)
                if (byte() < 0) return false;
        }
    }
};

struct ColourTable {
    uint8_t rgb[256 * 3];
    uint32_t entries = 0;
};

bool readTable(GifStream& s, uint32_t flags, ColourTable* table) {
    table->entries = 2u << (flags & 7);
    return s.bytes(table->rgb, table->entries * 3);
}

struct Descriptor {
    uint32_t left, top, width, height, flags;
};

bool readDescriptor(GifStream& s, Descriptor* d) {
    uint8_t b[9];
    if (!s.bytes(b, 9)) return false;
    d->left = b[0] | (b[1] << 8u);
    d->top = b[2] | (b[3] << 8u);
    d->width = b[4] | (b[5] << 8u);
    d->height = b[6] | (b[7] << 8u);
    d->flags = b[8];
    return true;
}

/* Codes of the compressed stream, least significant bit first, read across
 * sub-blocks. */
struct CodeReader {
    GifStream& s;
    uint32_t left = 0;       /* bytes left in the current sub-block */
    bool terminated = false; /* the empty sub-block was read */
    uint32_t bits = 0, count = 0;

    explicit CodeReader(GifStream& stream) : s(stream) {}

    /* A code of `width` bits; -1 at the end of the file, -2 at the block
     * terminator. */
    int code(uint32_t width) {
        while (count < width) {
            if (terminated) return -2;
            if (left == 0) {
                int n = s.byte();
                if (n < 0) return -1;
                if (n == 0) {
                    terminated = true;
                    return -2;
                }
                left = static_cast<uint32_t>(n);
            }
            int c = s.byte();
            if (c < 0) return -1;
            left--;
            bits |= static_cast<uint32_t>(c) << count;
            count += 8;
        }
        int v = static_cast<int>(bits & ((1u << width) - 1));
        bits >>= width;
        count -= width;
        return v;
    }
    /* Skips what is left of the image's sub-blocks. */
    bool finish() {
        if (terminated) return true;
        while (left > 0) {
            if (s.byte() < 0) return false;
            left--;
        }
        return s.skipSubBlocks();
    }
};

/* Receives pixel indexes in stream order and places them on rows counted
 * from the top, in interlaced order when asked. */
struct RowWalker {
    uint32_t width, height;
    bool interlaced;
    uint32_t x = 0, y = 0, pass = 0;
    uint64_t done = 0, total;

    RowWalker(uint32_t w, uint32_t h, bool il)
        : width(w), height(h), interlaced(il), total(uint64_t(w) * h) {}

    void advance() {
        done++;
        if (++x < width) return;
        x = 0;
        if (!interlaced) {
            y++;
            return;
        }
        static const uint32_t start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        y += step[pass];
        /* A short image has empty passes: skip them. */
        while (y >= height && pass < 3) {
            pass++;
            y = start[pass];
        }
    }
};

/* Decodes one image's code stream into `indexes` (width x height, top row
 * first). An end code or terminator before the last pixel leaves the rest 0;
 * the end of the file before it, a code beyond the next free one and a first
 * code that is no literal fail. */
bool decodeCodes(GifStream& s, uint32_t width, uint32_t height, bool interlaced,
                 std::vector<uint8_t>* indexes) {
    int minSize = s.byte();
    if (minSize < 2 || minSize > 9) return false;
    const int clear = 1 << minSize, end = clear + 1;
    uint16_t prefix[kMaxCodes];
    uint8_t suffix[kMaxCodes], first[kMaxCodes];
    uint8_t stack[kMaxCodes + 1];
    for (int i = 0; i < clear; i++) {
        prefix[i] = 0;
        suffix[i] = first[i] = static_cast<uint8_t>(i);
    }
    int next = clear + 2, prev = -1;
    uint32_t codeWidth = static_cast<uint32_t>(minSize) + 1;
    indexes->assign(static_cast<size_t>(width) * height, 0);
    RowWalker rows(width, height, interlaced);
    CodeReader reader(s);
    while (rows.done < rows.total) {
        int code = reader.code(codeWidth);
        if (code == -1) return false;
        if (code == -2 || code == end) return reader.finish();
        if (code == clear) {
            next = clear + 2;
            codeWidth = static_cast<uint32_t>(minSize) + 1;
            prev = -1;
            continue;
        }
        int depth = 0, cur;
        if (prev < 0) {
            if (code >= clear) return false;
            stack[depth++] = static_cast<uint8_t>(code);
        } else {
            if (code > next || (code == next && next >= kMaxCodes)) return false;
            if (code == next) {
                /* The string being defined: the previous one plus its own
                 * first byte. */
                stack[depth++] = first[prev];
                cur = prev;
            } else {
                cur = code;
            }
            while (cur >= clear) {
                stack[depth++] = suffix[cur];
                cur = prefix[cur];
            }
            stack[depth++] = static_cast<uint8_t>(cur);
            if (next < kMaxCodes) {
                prefix[next] = static_cast<uint16_t>(prev);
                suffix[next] = static_cast<uint8_t>(cur);
                first[next] = first[prev];
                next++;
                if (next == (1 << codeWidth) && codeWidth < 12) codeWidth++;
            }
        }
        while (depth > 0 && rows.done < rows.total && rows.y < height) {
            (*indexes)[static_cast<size_t>(rows.y) * width + rows.x] = stack[--depth];
            rows.advance();
        }
        prev = code;
    }
    return reader.finish();
}

/* What a graphic control extension says about the next image. */
struct Control {
    int32_t transIndex = -1;
};

/* A frame's pixels, read and checked. */
struct Frame {
    Descriptor d;
    ColourTable table;
    bool hasTable = false;
    std::vector<uint8_t> indexes;
};

class GifReader {
  public:
    GifReader(CxImage* image, CImageFile* file) : m_img(image), m_s{file} {}
    bool read();

  private:
    enum Mode { COUNT, FRAME, COMPOSITE };
    bool header();
    bool walk(Mode mode);
    bool extension(Control* control);
    bool image(Mode mode, Control* control, int32_t index, bool* stop);
    bool readFrame(Frame* frame);
    bool skipFrame(const Descriptor& d);
    bool makeFrameImage(const Frame& frame, int32_t transIndex);
    void palette(const Frame& frame, int32_t transIndex, CxRGBQuad* out, uint32_t entries) const;

    CxImage* m_img;
    GifStream m_s;
    long m_blocksAt = 0;
    uint32_t m_screenW = 0, m_screenH = 0;
    ColourTable m_global;
    bool m_hasGlobal = false;
    int32_t m_frames = 0;
    Descriptor m_firstImage{};
    bool m_done = false;
    bool m_composite = false;
    int32_t m_compositeTrans = -1;
    CxRGBQuad m_compositeColour{};
};

bool GifReader::header() {
    uint8_t h[13];
    if (!m_s.bytes(h, 13) || memcmp(h, "GIF8", 4) != 0) return false;
    m_screenW = h[6] | (h[7] << 8u);
    m_screenH = h[8] | (h[9] << 8u);
    if (h[10] & 0x80) {
        if (!readTable(m_s, h[10], &m_global)) return false;
        m_hasGlobal = true;
    }
    m_blocksAt = m_s.f->Tell();
    return m_blocksAt > 0;
}

bool GifReader::extension(Control* control) {
    int label = m_s.byte();
    if (label < 0) return false;
    if (label != 0xF9 && label != 0xFE && label != 0xFF) return m_s.skipSubBlocks();
    /* The first sub-block carries what these extensions say. */
    int n = m_s.byte();
    if (n < 0) return false;
    if (label == 0xFF && n != 11) {
        m_done = true;
        return true;
    }
    if (n == 0) return true;
    uint8_t b[255];
    if (!m_s.bytes(b, static_cast<size_t>(n))) return false;
    if (label == 0xF9 && n >= 4) {
        /* Flags, delay, transparent index. */
        control->transIndex = (b[0] & 1) ? b[3] : -1;
        m_img->SetDisposalMethod((b[0] >> 2) & 7);
        m_img->SetFrameDelay(b[1] | (b[2] << 8u));
    } else if (label == 0xFE) {
        m_img->SetComment(b, static_cast<size_t>(n));
    } else if (label == 0xFF) {
        int m = m_s.byte();
        if (m < 0) return false;
        if (m == 0) return true;
        if (!m_s.bytes(b, static_cast<size_t>(m))) return false;
        if (m > 2) m_img->SetLoops(b[1] | (b[2] << 8u));
    }
    return m_s.skipSubBlocks();
}

bool GifReader::skipFrame(const Descriptor& d) {
    if (d.flags & 0x80) {
        ColourTable local;
        if (!readTable(m_s, d.flags, &local)) return false;
    }
    if (m_s.byte() < 0) return false;
    return m_s.skipSubBlocks();
}

bool GifReader::readFrame(Frame* frame) {
    if (frame->d.flags & 0x80) {
        if (!readTable(m_s, frame->d.flags, &frame->table)) return false;
        frame->hasTable = true;
    } else if (m_hasGlobal) {
        frame->table = m_global;
        frame->hasTable = true;
    }
    return decodeCodes(m_s, frame->d.width, frame->d.height, (frame->d.flags & 0x40) != 0,
                       &frame->indexes);
}

/* The palette of a frame: its table, then white when a transparent index is
 * set or black otherwise, always a whole 2^depth entries so that a reader
 * of the icon that takes 2^depth entries finds the pixels where they are.
 * Without any table the palette is black. */
void GifReader::palette(const Frame& frame, int32_t transIndex, CxRGBQuad* out,
                        uint32_t entries) const {
    const uint8_t fill = transIndex >= 0 ? 255 : 0;
    for (uint32_t i = 0; i < entries; i++) {
        if (frame.hasTable && i < frame.table.entries)
            out[i] = CxRGBQuad{frame.table.rgb[i * 3 + 2], frame.table.rgb[i * 3 + 1],
                               frame.table.rgb[i * 3], 0};
        else if (frame.hasTable)
            out[i] = CxRGBQuad{fill, fill, fill, 0};
        else
            out[i] = CxRGBQuad{};
    }
}

uint32_t depthForTable(const Frame& frame) {
    uint32_t n = frame.hasTable ? frame.table.entries : 256;
    return n <= 2 ? 1 : n <= 16 ? 4 : 8;
}

bool GifReader::makeFrameImage(const Frame& frame, int32_t transIndex) {
    uint32_t depth = depthForTable(frame);
    if (!m_img->Create(frame.d.width, frame.d.height, depth, CXIMAGE_FORMAT_GIF)) return false;
    CxRGBQuad pal[256];
    palette(frame, transIndex, pal, 1u << depth);
    for (uint32_t i = 0; i < (1u << depth); i++)
        m_img->SetPaletteColor(i, pal[i]);
    m_img->SetTransIndex(transIndex);
    /* SetPixelIndex keeps the low bits of an index too wide for the depth. */
    for (uint32_t y = 0; y < frame.d.height; y++)
        for (uint32_t x = 0; x < frame.d.width; x++)
            m_img->SetPixelIndex(int32_t(x), int32_t(frame.d.height - 1 - y),
                                 frame.indexes[size_t(y) * frame.d.width + x]);
    return true;
}

bool GifReader::image(Mode mode, Control* control, int32_t index, bool* stop) {
    Frame frame;
    if (!readDescriptor(m_s, &frame.d)) return false;
    const Descriptor& d = frame.d;
    const int32_t transIndex = control->transIndex;
    control->transIndex = -1;
    const bool outside = d.left + d.width > m_screenW || d.top + d.height > m_screenH;
    if (mode == COUNT) {
        if (m_frames == 0) m_firstImage = d;
        m_frames++;
        return skipFrame(d);
    }
    if (mode == FRAME && index != m_img->GetFrame()) return skipFrame(d);
    if (outside) {
        if (mode == FRAME) return false; /* the selected frame was skipped */
        return skipFrame(d);
    }
    if (mode == FRAME) {
        /* Only icons are made from GIF files: refuse a larger side before
         * anything is sized from it. */
        if (d.width > CXIMAGE_MAX_ICON_SIDE || d.height > CXIMAGE_MAX_ICON_SIDE) {
            m_img->SetError(kNotIcon);
            return false;
        }
        if (d.width == 0 || d.height == 0)
            return m_img->Create(d.width, d.height, 8, CXIMAGE_FORMAT_GIF) != nullptr;
        if (!readFrame(&frame) || !makeFrameImage(frame, transIndex)) return false;
        *stop = true;
        return true;
    }
    /* Composite: frames drawn whole at their place, rows from the top. */
    if (d.width == 0 || d.height == 0) return skipFrame(d);
    if (!readFrame(&frame)) return false;
    CxRGBQuad pal[256];
    uint32_t entries = 1u << depthForTable(frame);
    palette(frame, transIndex, pal, entries);
    uint32_t mask = entries - 1;
    for (uint32_t y = 0; y < d.height; y++)
        for (uint32_t x = 0; x < d.width; x++)
            m_img->SetPixelColor(int32_t(d.left + x), int32_t(m_screenH - 1 - (d.top + y)),
                                 pal[frame.indexes[size_t(y) * d.width + x] & mask]);
    m_compositeTrans = transIndex;
    if (transIndex >= 0)
        m_compositeColour =
            uint32_t(transIndex) < entries ? pal[transIndex] : CxRGBQuad{255, 255, 255, 0};
    return true;
}

/* Walks the block stream. A block starts only at the beginning of the
 * stream or after a zero byte; other bytes are passed over. */
bool GifReader::walk(Mode mode) {
    if (!m_s.f->Seek(m_blocksAt, SEEK_SET)) return false;
    m_s.ended = false;
    m_s.last = 0;
    m_done = false;
    Control control;
    int32_t index = 0;
    bool atStart = true, stop = false;
    while (!m_done && !stop) {
        bool mayStart = atStart || m_s.last == 0;
        int c = m_s.byte();
        if (c < 0) break;
        atStart = false;
        if (!mayStart) continue;
        if (c == ';') break;
        if (c == '!') {
            if (!extension(&control)) break;
        } else if (c == ',') {
            if (!image(mode, &control, index, &stop)) {
                if (mode != COUNT) return false;
                break;
            }
            index++;
        }
    }
    if (mode == FRAME) return stop;
    if (mode == COMPOSITE) return index == m_frames;
    return true;
}

bool GifReader::read() {
    if (!header() || !walk(COUNT)) return false;
    m_img->SetNumFrames(m_frames);
    if (m_img->GetFrame() < 0 || m_img->GetFrame() >= m_frames) return false;
    m_composite = !m_hasGlobal && m_frames > 1 && m_firstImage.width < m_screenW &&
                  m_firstImage.height < m_screenH;
    if (!m_composite) return walk(FRAME);
    if (m_screenW > CXIMAGE_MAX_ICON_SIDE || m_screenH > CXIMAGE_MAX_ICON_SIDE) {
        m_img->SetError(kNotIcon);
        return false;
    }
    if (!m_img->Create(m_screenW, m_screenH, 24, CXIMAGE_FORMAT_GIF) || !walk(COMPOSITE))
        return false;
    /* Every pixel of the last frame's transparent colour is transparent. */
    if (m_compositeTrans >= 0) {
        m_img->SetTransIndex(0);
        m_img->SetBackground(m_compositeColour);
    } else {
        m_img->SetTransIndex(-1);
    }
    return true;
}

} // namespace

bool diGifDecode(CxImage* image, CImageFile* file) {
    GifReader reader(image, file);
    if (reader.read()) return true;
    if (!image->GetLastError()[0]) image->SetError(kWrongFormat);
    return false;
}
