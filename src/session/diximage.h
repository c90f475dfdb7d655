/* In-memory images for the Start-menu icons: a GIF file from the web server
 * is read into a `CxImage` and written out as a one-image icon file. The GIF
 * bytes come from the server, so every size is bounded before anything is
 * allocated: only icons are made, and an icon side is at most 255. */
#ifndef HV_DIXIMAGE_H
#define HV_DIXIMAGE_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

/* Format codes of `Load`, `Save`, `Decode` and `Encode`. */
enum : uint32_t {
    CXIMAGE_FORMAT_UNKNOWN = 0, /* any reader that fits */
    CXIMAGE_FORMAT_GIF = 1,
    CXIMAGE_FORMAT_ICO = 2,
};

/* Largest side of an image this module reads or writes. */
#define CXIMAGE_MAX_ICON_SIDE 255

/* A stream of the runtime library. Every operation of a wrapper without a
 * stream fails or gives 0. Operations are virtual so that a wrapper can be
 * layered over another one. */
class CImageFile {
  public:
    CImageFile() = default;
    /* `owns`: the stream is closed with the wrapper. */
    explicit CImageFile(FILE* stream, bool owns = false) : m_fp(stream), m_owns(owns) {}
    virtual ~CImageFile();
    CImageFile(const CImageFile&) = delete;
    CImageFile& operator=(const CImageFile&) = delete;

    /* Opens `path` (UTF-8) with a C `mode`; false when it cannot be opened. */
    bool Open(const std::string& path, const char* mode);
    /* Closes an owned stream: false when buffered bytes could not be
     * written. */
    bool Close();

    virtual size_t Write(const void* buffer, size_t size, size_t count);
    virtual bool Seek(long offset, int origin);
    virtual long Tell();
    /* The next byte, or EOF. */
    virtual int GetC();
    FILE* Stream() const { return m_fp; }

  private:
    FILE* m_fp = nullptr;
    bool m_owns = false;
};

/* Four bytes of a palette entry, in file order. */
struct CxRGBQuad {
    uint8_t blue, green, red, reserved;
};

/* The bitmap header of the pixel block, as a device-independent bitmap has
 * it (little-endian where it reaches a file). */
struct CxBitmapHeader {
    uint32_t size;
    int32_t width, height;
    uint16_t planes, bitCount;
    uint32_t compression, sizeImage;
    int32_t xPelsPerMeter, yPelsPerMeter;
    uint32_t clrUsed, clrImportant;
};

class CxImage {
  public:
    CxImage() = default;
    /* An empty image, then `Load` (path, format). */
    CxImage(const std::string& path, uint32_t format);

    /* Reads a file: with the given format, then once more with any reader;
     * when both fail the first attempt's error text stays. */
    bool Load(const std::string& path, uint32_t format);
    /* Writes the image (only icons) under a temporary name beside `path`
     * and renames it over `path` once every byte is written: a failed save
     * leaves `path` as it was and no temporary. */
    bool Save(const std::string& path, uint32_t format);
    /* Reads or writes through an open file. */
    bool Decode(CImageFile* file, uint32_t format);
    bool Encode(CImageFile* file, uint32_t format);

    /* A zeroed pixel block of width x height at `bits` rounded up to 1, 4, 8
     * or 24; null (with the error text) when it cannot be made. */
    uint8_t* Create(int64_t width, int64_t height, uint32_t bits, uint32_t format);
    bool IsValid() const { return !m_rows.empty(); }

    int32_t GetWidth() const { return m_head.width; }
    int32_t GetHeight() const { return m_head.height; }
    uint32_t GetBpp() const { return m_head.bitCount; }
    uint32_t GetPaletteSize() const { return static_cast<uint32_t>(m_palette.size()); }

    CxRGBQuad GetPaletteColor(uint32_t index) const;
    void SetPaletteColor(uint32_t index, CxRGBQuad colour);
    /* Pixels are counted from the bottom row, as stored. */
    uint32_t GetPixelIndex(int32_t x, int32_t y) const;
    CxRGBQuad GetPixelColor(int32_t x, int32_t y) const;
    void SetPixelIndex(int32_t x, int32_t y, uint32_t index);
    /* At 24 bits only. */
    void SetPixelColor(int32_t x, int32_t y, CxRGBQuad colour);

    int32_t GetTransIndex() const { return m_transIndex; }
    void SetTransIndex(int32_t index) { m_transIndex = index; }
    /* The palette entry of the transparent index (white when the index lies
     * beyond the palette), or the background colour at 24 bits. */
    CxRGBQuad GetTransColor() const;
    void SetBackground(CxRGBQuad colour) { m_background = colour; }

    const char* GetLastError() const { return m_lastError; }
    void SetError(const char* text);
    int32_t GetNumFrames() const { return m_numFrames; }
    void SetNumFrames(int32_t n) { m_numFrames = n; }
    int32_t GetFrame() const { return m_frame; }
    void SetFrame(int32_t n) { m_frame = n; }
    void SetFrameDelay(uint32_t delay) { m_delay = delay; }
    void SetDisposalMethod(uint32_t d) { m_disposal = d; }
    void SetLoops(int32_t loops) { m_loops = loops; }
    const char* GetComment() const { return m_comment; }
    void SetComment(const uint8_t* bytes, size_t n);

  private:
    void Clear();
    bool EncodeIcon(CImageFile* file);

    CxBitmapHeader m_head{};
    std::vector<CxRGBQuad> m_palette;
    std::vector<uint8_t> m_rows;
    uint32_t m_rowBytes = 0;
    int32_t m_transIndex = -1;
    CxRGBQuad m_background{};
    char m_lastError[256] = "";
    int32_t m_numFrames = 0;
    int32_t m_frame = 0;
    uint32_t m_delay = 0;
    uint32_t m_disposal = 0;
    int32_t m_loops = 0;
    char m_comment[256] = "";
};

/* The GIF reader behind `Decode`: the selected frame, or one 24-bit picture
 * of every frame for a true-colour file. */
bool diGifDecode(CxImage* image, CImageFile* file);

/* Files of the platform, paths in UTF-8: opening, and the temporary beside a
 * path that `Save` renames over it. */
FILE* diImageFileOpen(const std::string& path, const char* mode);
std::string diImageFileTempName(const std::string& path);
/* Puts what was written to the stream on the disk. */
bool diImageFileSync(FILE* stream);
/* Replaces `to`, the rename on the disk once it returns. */
bool diImageFileRename(const std::string& from, const std::string& to);
void diImageFileRemove(const std::string& path);

/* Writes a file through `write` under a temporary name and renames it over
 * `path` when `write` succeeded and the file closed cleanly; otherwise the
 * temporary is deleted and `path` is left as it was. */
bool diImageFileReplace(const std::string& path, bool (*write)(CImageFile* file, void* context),
                        void* context);

#endif
