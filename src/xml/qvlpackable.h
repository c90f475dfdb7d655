/* The pack buffer every XML, SOAP and HTTP object writes itself into, and
 * the packable interface. One buffer carries the output encoding and the
 * markup mode for a whole write. */
#ifndef HV_QVLPACKABLE_H
#define HV_QVLPACKABLE_H

#include "di.h"

/* Output encodings. */
enum { QVL_ENC_ANSI7 = 0, QVL_ENC_ANSI = 1, QVL_ENC_UTF8 = 2, QVL_ENC_UTF16 = 3 };
/* Markup modes: text only; markup as escaped character data; markup as is. */
enum { QVL_MODE_TEXT = 0, QVL_MODE_ESCAPED = 1, QVL_MODE_MARKUP = 2 };

class CQVLPackBuffer {
  public:
    uint8_t* data;
    uint32_t length;
    uint32_t capacity;
    int mode;
    int encoding;
    /* Set when a write was dropped for lack of memory (or past the ceiling):
     * the bytes are then incomplete and must not be used as a document. */
    bool failed;

    /* Past this size a write fails like an allocation failure. */
    static const uint32_t kMaxSize = 256u << 20;

    CQVLPackBuffer(int encoding, int mode);
    ~CQVLPackBuffer() { Free(); }
    CQVLPackBuffer(const CQVLPackBuffer&) = delete;
    CQVLPackBuffer& operator=(const CQVLPackBuffer&) = delete;

    /* Makes room for `needed` bytes in all; false (and `failed` set) when
     * out of memory, with the buffer unchanged. */
    bool Reserve(uint64_t needed);
    void AppendBytes(const void* bytes, uint32_t n);
    void Append(const CQVLPackBuffer* other);
    void WriteChar(int enc, DiChar c);
    void WriteString(int enc, const DiChar* text);
    void WriteAscii(int enc, const char* text);
    void WriteQuoted(int enc, const DiChar* value);
    void WriteInt(int enc, int32_t value);
    /* Appends a NUL of the encoding's width (two bytes for UTF-16); false
     * when that or an earlier write failed. */
    bool Terminate();
    /* Gives up the bytes to the caller (malloc block) and empties the
     * buffer. */
    uint8_t* Detach();
    void Free();

  private:
    void WriteEscapableByte(int enc, uint8_t b);
    void WriteUtf8(const DiChar* units, size_t n);
};

class IQVLPackable {
  public:
    virtual void Pack(CQVLPackBuffer* buffer) = 0;
    virtual ~IQVLPackable() {}
};

#endif
