/* Pixel colours and cursor and icon bitmaps of the X display, as plain
 * bytes: the Windows side hands the results to GDI. Every size that comes
 * from the server is multiplied in 64 bits and capped before allocation;
 * a refused size gives -1 and leaves the outputs empty. Colours are
 * 0x00BBGGRR. Monochrome planes are what Windows expects: rows padded to 16
 * bits, top row first, the leftmost pixel in the most significant bit. */
#ifndef HV_DIXBITS_H
#define HV_DIXBITS_H

#include "fb/fb.h"

#include <cstddef>
#include <cstdint>
#include <vector>

/* Largest cursor or icon, in pixels (a 1024 x 1024 image). */
enum : uint32_t { DI_XBITS_MAX_PIXELS = 1u << 20 };

/* Exact expansion of a 5-6-5 pixel: each channel's top bits repeated. */
uint32_t diXColorFrom565(uint32_t pixel);
/* A 24-bit pixel, red in bits 16-23. */
uint32_t diXColorFrom888(uint32_t pixel);
/* Index into the 4096-entry pixel-colour cache: the top 4 bits of each
 * channel, red highest. Depths other than 16, 24 and 32 give 0. */
uint32_t diXColorCacheIndex(uint32_t depth, uint32_t pixel);
/* The colour of a pixel when it can be known without asking the screen:
 * depth 8 reads cell (pixel & 0xFF) of `cells` (256 colours); 16, 24 and 32
 * in dither mode expand the pixel; depths below 8 or above 32 give 0.
 * Returns 1 with *color set, or 0 when the screen must be asked. */
int diXPixelColorLocal(uint32_t depth, uint32_t pixel, int dither, const uint32_t* cells,
                       uint32_t* color);

/* Bytes per row of a monochrome plane of `width` pixels. */
uint32_t diXMonoStride(uint32_t width);

/* The AND and XOR planes of a 1-bit cursor of the system size. `mask` and
 * `source` each hold `height` rows of (width + 7) / 8 bytes, leftmost pixel
 * in the most significant bit; `length` is the bytes available in each.
 * Pixels outside the cursor or the system size stay transparent (AND 1,
 * XOR 0); a shown pixel has AND 0 and XOR = not source. */
int diXCursorPlanes(const uint8_t* mask, const uint8_t* source, size_t length, uint32_t width,
                    uint32_t height, uint32_t sysWidth, uint32_t sysHeight,
                    std::vector<uint8_t>* andPlane, std::vector<uint8_t>* xorPlane);

/* A 32-bit cursor: `pixels` (count of them, top row first, ARGB) become the
 * rows of a bottom-up DIB, and the mask a monochrome plane with a bit set
 * where the pixel is transparent (alpha 0). */
int diXArgbCursorBits(const uint32_t* pixels, size_t count, uint32_t width, uint32_t height,
                      std::vector<uint32_t>* bottomUp, std::vector<uint8_t>* mask);

/* A window icon's AND plane of width x height: transparent where the depth-1
 * `mask` is clear or has no pixel, opaque everywhere without a mask. */
int diXIconAndMask(const FbBuffer* mask, uint32_t width, uint32_t height,
                   std::vector<uint8_t>* andPlane);
/* The colour plane of a depth-1 icon image: set where the mask (or no mask)
 * shows the pixel and the image bit is clear. */
int diXIconMonoColor(const FbBuffer* image, const FbBuffer* mask, std::vector<uint8_t>* plane);
/* A copy of a depth 8, 16 or 24 icon image in its own layout with the pixels
 * the mask hides set to 0 (mask rows matched from the top). */
int diXIconMaskedColor(const FbBuffer* image, const FbBuffer* mask, std::vector<uint8_t>* bits);

#endif
