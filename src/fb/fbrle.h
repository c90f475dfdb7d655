/* The interleaved run-length image decoder: the order stream of compressed
 * images (compression 3 of image put) decoded straight into a pixel buffer.
 *
 * Row placement: the stream's first row lands at `dst` and each further row
 * one stride on; a negative stride starts (height - 1) * |stride| past `dst`
 * and walks down. Bytes between a row's pixels and the next row are never
 * written. Nothing outside the stream is read and nothing past the image's
 * last row is written. */
#ifndef HV_FBRLE_H
#define HV_FBRLE_H

#include "didep.h"

enum : int32_t {
    FB_RLE_OK = 0,
    FB_RLE_BAD_DEPTH = -1, /* source depth not 8, 16 or 24 */
    FB_RLE_BAD_DEST = -2,  /* destination pixel size or size does not fit */
    FB_RLE_BAD_ORDER = -3, /* order code 0xFB, 0xFC or 0xFF; pixels written so far stay */
};

/* Per pixel size: 8-bit images into 1-byte pixels, 16 into 2, 24 into 3 and
 * 24 into 4 (fourth byte 0 from stream colours). Width, height and length
 * use their low 16 bits. The caller guarantees that the destination holds
 * height rows of |stride| >= width * pixel size bytes. Returns 0 or -3. */
int32_t fbDecodeRLE8(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                     uint8_t* dst, int32_t stride);
int32_t fbDecodeRLE16(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                      uint8_t* dst, int32_t stride);
int32_t fbDecodeRLE24(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                      uint8_t* dst, int32_t stride);
int32_t fbDecodeRLE24To32(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                          uint8_t* dst, int32_t stride);

/* Picks the decoder by source depth (8, 16, 24) and destination depth (8,
 * 16, 24 = 3 bytes, 32 = 4 bytes). `dstRows` is the number of rows the
 * destination buffer holds (callers pass the drawable's height). Results:
 * 0 decoded (also for a zero width or height, nothing written), -1 unknown
 * source depth, -2 a destination pixel size that differs from the image's,
 * or an image taller than `dstRows` or wider than one row of the stride
 * (nothing written), -3 unknown order code. */
int32_t fbDecodeInterleavedRLE(uint32_t width, uint32_t height, const uint8_t* data,
                               uint32_t length, uint8_t srcDepth, uint8_t* dst, int32_t stride,
                               uint8_t dstDepth, uint32_t dstRows);
/* The image puts' entry: passes every argument to fbDecodeInterleavedRLE. */
int32_t fbRLEDecompress(uint32_t width, uint32_t height, const uint8_t* data, uint32_t length,
                        uint8_t srcDepth, uint8_t* dst, int32_t stride, uint8_t dstDepth,
                        uint32_t dstRows);

#endif
