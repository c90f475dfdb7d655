/* The clipboard's portable half: the names of the Windows clipboard
 * formats as servers know them, and the data forms exchanged with the
 * servers. Windows' 8-bit text is code page 1252 with CR LF line ends and a
 * terminator; a server's is ISO 8859-15 (the euro at 0xA4) with LF line ends
 * and none. UTF-16 texts go as units in memory order. */
#ifndef HV_DICLIP_H
#define HV_DICLIP_H

#include "di.h"

#include <stddef.h>
#include <stdint.h>

enum : uint32_t {
    DI_CF_TEXT = 1,
    DI_CF_BITMAP = 2,
    DI_CF_METAFILEPICT = 3,
    DI_CF_OEMTEXT = 7,
    DI_CF_PALETTE = 9,
    DI_CF_UNICODETEXT = 13,
};

/* The table's name of a predefined format (1-16), or none. */
const char* diClipFormatName(uint32_t format);
/* The predefined format of a name (exact, case-sensitive), or 0. */
uint32_t diClipFormatByName(const DiChar* name, uint32_t length);

/* True for the formats whose contents name local files or shell objects
 * (file lists, file names, shell item lists, file descriptors and their
 * contents): offered to the desktop, a paste in the file manager would copy
 * files from paths the server chose. Names compare as Windows compares
 * registered format names, without regard to ASCII case. */
bool diClipNamesLocalFiles(const DiChar* name, uint32_t length);

/* A converted block, allocated with malloc (none when empty or when memory
 * ran out: `ok` tells which). */
struct DiClipBytes {
    uint8_t* data;
    size_t length;
    bool ok;
};

/* 8-bit text taken from the local clipboard (up to its terminator, or all
 * n bytes): CR dropped before LF, 0x80 made 0xA4. */
DiClipBytes diClipTextFromLocal(const uint8_t* text, size_t n);
/* 8-bit server text put on the local clipboard: 0xA4 made 0x80, a lone LF
 * or CR made CR LF, one terminating zero. */
DiClipBytes diClipTextToLocal(const uint8_t* text, size_t n);
/* UTF-16 text (n bytes) taken from the local clipboard: up to the first
 * zero unit, CR dropped before LF; whole units only. */
DiClipBytes diClipUnicodeFromLocal(const uint8_t* text, size_t n);
/* UTF-16 server text (n bytes; an odd last byte is dropped) put on the
 * local clipboard: LF not preceded by CR made CR LF, two zero bytes. */
DiClipBytes diClipUnicodeToLocal(const uint8_t* text, size_t n);

/* A server's metafile picture: 12 bytes (mapping mode, x and y extent,
 * u32 each) and the metafile's bits. The bits reach the system only when
 * they form a metafile that can be played within them: at least a header
 * (18 bytes), an even size, type 1 (memory), version 0x100 or 0x300,
 * header size 9 words, a size in words that fits, and records of 3 words
 * or more that stay inside that size. */
struct DiClipMetafile {
    int32_t mappingMode, xExt, yExt;
    const uint8_t* bits;
    size_t length;
};
bool diClipMetafileFromServer(const uint8_t* data, size_t n, DiClipMetafile* out);
/* A local metafile picture for the server: the 12 bytes, the bits and four
 * zero bytes (the length is the bits plus 16). */
DiClipBytes diClipMetafileToServer(int32_t mappingMode, int32_t xExt, int32_t yExt,
                                   const uint8_t* bits, size_t n);

/* A server's palette: 4 bytes per entry, the first 4 (version and count)
 * replaced; (n / 4 - 1) entries of 4 bytes follow. False below two entries'
 * worth (no entry) or above 65535 entries. */
bool diClipPaletteFromServer(const uint8_t* data, size_t n, const uint8_t** entries,
                             uint32_t* count);
/* A local palette for the server: version 0x300, the count (u16 each),
 * then the entries (4 bytes each). */
DiClipBytes diClipPaletteToServer(const uint8_t* entries, uint32_t count);

/* Clipboard text for a terminal paste (n units): up to the first zero
 * unit, CR dropped before LF, at most `limit` units taken (a pair of
 * surrogates is never cut). */
DiClipBytes diClipTerminalText(const char16_t* text, size_t n, size_t limit);

#endif
