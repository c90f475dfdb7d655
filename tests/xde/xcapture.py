#!/usr/bin/python3
"""Reads a rectangle of the X screen's root window as the X server holds
it (python3-xlib, ZPixmap) and writes it as a binary PPM and a PNG.

usage: xcapture.py X Y WIDTH HEIGHT OUT_PREFIX
Writes OUT_PREFIX.ppm (P6, 8-bit channels) and OUT_PREFIX.png; the first
line of OUT_PREFIX.txt is the root depth. Palette screens are read through
the default colormap's colours (QueryColors), so both kinds of screen give
the colours the user sees."""
import struct
import sys
import zlib

from Xlib import X, display


def png(path, w, h, rgb):
    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\0" + rgb[y * w * 3:(y + 1) * w * 3] for y in range(h))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b""))


def main(argv):
    x, y, w, h = (int(v) for v in argv[1:5])
    out = argv[5]
    d = display.Display()
    screen = d.screen()
    root = screen.root
    image = root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF)
    data = image.data if isinstance(image.data, bytes) else bytes(image.data, "latin-1")
    depth = image.depth
    fmt = [f for f in d.display.info.pixmap_formats if f.depth == depth][0]
    bpp = fmt.bits_per_pixel
    pad = fmt.scanline_pad
    stride = ((w * bpp + pad - 1) // pad) * (pad // 8)
    rgb = bytearray()
    if depth <= 8:
        colours = screen.default_colormap.query_colors(list(range(1 << depth)))
        table = [(c.red >> 8, c.green >> 8, c.blue >> 8) for c in colours]
        for row in range(h):
            for col in range(w):
                rgb += bytes(table[data[row * stride + col * bpp // 8]])
    else:
        visual = [v for dp in screen.allowed_depths if dp.depth == depth for v in dp.visuals
                  if v.visual_id == screen.root_visual][0]
        masks = (visual.red_mask, visual.green_mask, visual.blue_mask)
        shifts = [(m & -m).bit_length() - 1 for m in masks]
        widths = [bin(m).count("1") for m in masks]
        nbytes = bpp // 8
        for row in range(h):
            base = row * stride
            for col in range(w):
                o = base + col * nbytes
                v = int.from_bytes(data[o:o + nbytes], "little")
                for m, s, n in zip(masks, shifts, widths):
                    c = (v & m) >> s
                    # Channels narrower than 8 bits widen by their top bits.
                    rgb.append((c << (8 - n) | c >> (2 * n - 8)) & 255 if n < 8 else c >> (n - 8))
    with open(out + ".ppm", "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(rgb))
    png(out + ".png", w, h, bytes(rgb))
    with open(out + ".txt", "w") as f:
        f.write("%d\n" % screen.root_depth)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
