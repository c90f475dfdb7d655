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

#endif
