#!/usr/bin/env python3
"""A fake X-AIP server: request encoders, client-message decoders, streams.

Framing, both directions: type u8, payload length u16 little-endian, payload.
A compressed block is a message of type 0x80 whose payload is the
uncompressed size u16 and zlib data; the data inflates into ordinary
messages, and one message may be split across blocks. Two block styles: a
zlib stream per block ("zblock"), or one stream sync-flushed at the end of
each block ("zsync"). A message of type 43 (sync) is answered with message 19;
request 50 (ping) with message 31 echoing its value.

Requests and the operations the client records for them share a one-line text
form: the operation name, then its decoded values; integers in decimal, bytes
as lowercase hex ("-" when empty), texts as hex of their UTF-16 units.

Modes:
  gen --seed S --out PREFIX [--count N] [--hostile 1]
      writes a seeded run of every request type (with --hostile 1, some of
      them cut short or announcing a text longer than they carry, which the
      client skips): PREFIX.plain, PREFIX.zblock,
      PREFIX.zsync (the same requests with syncs, as plain messages and in
      both block styles), PREFIX.txt (the transcript) and PREFIX.meta (the
      X-AIP bytes the client must acknowledge, the number of syncs and the
      ping values).
  decode FILE
      decodes a file of client messages strictly (exact lengths), re-encodes
      each one and requires the same bytes; prints one line per message.
      Exit status 1 on the first message that does not decode.
  serve SCENARIO --port-file F --result-file R [--seed S --style STYLE]
      listens on 127.0.0.1 (port written to F), serves one client and writes
      "ok" or what went wrong, then the decoded client messages, to R.
      run:      the seeded run (--style plain, zblock or zsync; --hostile 1
                as for gen) in random
                chunkings with stalls, then ping 65535 as the barrier; checks
                the sync and ping answers and that the acknowledged total
                equals the X-AIP bytes sent. The transcript goes to R.txt.
      acks:     for a client with display flag 0x2: one at-once
                acknowledgement, then none until a counter passes 262144
                bytes; request 42 with bit 2 brings one at-once
                acknowledgement back.
      oversize: a message with a payload of 16382 bytes; waits for the close.
      midclose: three whole messages and half of one, then closes.
      decode:   reads client messages until the client closes.
      session:  a whole X session for the engine: multi-window owner trees
                created, shown, configured, restacked and destroyed with
                exposures pending, drawing, every resource's lifetime,
                properties, a sync and the probe, then ping 7; requires
                29, the 39s, 38, 36, 17, 19, 20 and 31, then the client's
                focus (27, 9) and frame geometry (34, 35). --bytes-file B
                keeps the requests sent.
      picture-D: a single-window screen at depth D (8, 16 or 24) with fills,
                an outline, a glyph and a 64x64 image, then ping 3.
      multi:    multi-window frames and what their user does (xaip_multi.py).
      badids:   reused, twice-freed, wrong-kind, unknown and out-of-table
                ids, then ping 9; the client must answer 31.
  script --name NAME --out FILE [--seed S] [--count N]
      writes the requests of a session scenario as plain messages; "busy"
      (and "busy-" with one of rect10, rect100, copywinwin100, ftext,
      putimage10, scattered) is N drawing requests in 16 windows.

Choice for the connect message: the colormap kind is one byte.
"""
import os
import random
import socket
import struct
import sys
import time
import zlib


def frame(mtype, payload):
    return struct.pack("<BH", mtype, len(payload)) + payload


def hexs(b):
    return b.hex() if b else "-"


def text16(s):
    if not s:
        return "-"
    units = s.encode("utf-16-le")
    return "".join("%04x" % struct.unpack_from("<H", units, i)[0] for i in range(0, len(units), 2))


def latin(b):
    return text16(b.decode("latin-1"))


def i16(v):
    return struct.pack("<h", v)


def u16(v):
    return struct.pack("<H", v)


def u32(v):
    return struct.pack("<I", v)


class Requests:
    """Encoders of every request, each returning (type, payload, op line or
    None). State the client keeps between requests (the frame value, the
    server name and owner block) is tracked here too."""

    def __init__(self, rng):
        self.r = rng
        self.frame_value = 0
        self.server_name = ""
        self.owner_block = b""

    def s16(self):
        return self.r.choice((-32768, -1, 0, 1, 32767, self.r.randrange(-32768, 32768)))

    def z16(self):
        return self.r.choice((0, 1, 32768, 65535, self.r.randrange(65536)))

    def blob(self, n=None):
        n = self.r.randrange(0, 40) if n is None else n
        return self.r.randbytes(n)

    def name_bytes(self):
        return bytes(self.r.randrange(1, 256) for _ in range(self.r.randrange(0, 12)))

    def put_image(self):
        x, y, w, h = self.s16(), self.s16(), self.s16(), self.s16()
        depth, comp = self.r.randrange(256), self.r.randrange(3)
        # Up to the largest payload the client assembles (16381 bytes).
        data = self.blob(self.r.choice((0, 7, 40, 3000, 16371)))
        p = i16(x) + i16(y) + i16(w) + i16(h) + bytes([depth, comp]) + data
        return 2, p, "PutImage %d %d %d %d %d %d %s" % (x, y, w, h, depth, comp, hexs(data))

    def store_colors(self):
        n = self.r.randrange(0, 6)
        e = self.blob(4 * n)
        return 3, i16(n) + e, "StoreColors %d %s" % (n, hexs(e))

    def lists(self, mtype, name, fields, sizes):
        n = self.r.choice((0, -3, self.r.randrange(1, 8)))
        p, vals = i16(n), []
        for _ in range(max(n, 0)):
            for f in range(fields):
                if f in sizes:
                    v = self.z16()
                    p += u16(v)
                else:
                    v = self.s16()
                    p += i16(v)
                vals.append(v)
        return mtype, p, " ".join([name, str(max(n, 0))] + [str(v) for v in vals])

    def fill_polygon(self):
        shape = self.r.randrange(3)
        t, p, line = self.lists(11, "FillPolygon", 2, ())
        return 11, bytes([shape]) + p, line.replace("FillPolygon", "FillPolygon %d" % shape, 1)

    def copy(self, mtype):
        dx, dy, w, h = self.s16(), self.s16(), self.z16(), self.z16()
        kind, sx, sy = self.r.randrange(3), self.s16(), self.s16()
        sid = self.r.randrange(65536)
        long_id = self.r.random() < 0.5
        p = i16(dx) + i16(dy) + u16(w) + u16(h) + bytes([kind, sid & 255]) + i16(sx) + i16(sy)
        if mtype == 47:
            mask = self.r.randrange(1 << 32)
            p += u32(mask)
        if long_id:
            p += bytes([sid >> 8])
        else:
            sid &= 255
        line = "%s %d %d %d %d %d %d %d %d" % ("CopyArea" if mtype == 12 else "CopyPlane",
                                               kind, sid, sx, sy, dx, dy, w, h)
        if mtype == 47:
            line += " %d" % mask
        return mtype, p, line

    def create_window(self):
        wid, x, y, w, h = self.r.randrange(256), self.s16(), self.s16(), self.z16(), self.z16()
        style, mode, owner = self.r.randrange(65536), self.r.randrange(256), self.r.randrange(256)
        frame_flags = self.r.randrange(1 << 32)
        p = bytes([wid]) + i16(x) + i16(y) + u16(w) + u16(h) + bytes([style & 255, mode, owner])
        if self.r.random() < 0.5:
            p += bytes([style >> 8]) + u32(frame_flags)
        else:
            style &= 255
            frame_flags = 0
        return 15, p, "CreateWindow %d %d %d %d %d %d %d %d %d" % (
            wid, x, y, w, h, style, mode, owner, frame_flags)

    def configure_window(self):
        wid, x, y, w, h = self.r.randrange(256), self.s16(), self.s16(), self.z16(), self.z16()
        p = bytes([wid]) + i16(x) + i16(y) + u16(w) + u16(h)
        if self.r.random() < 0.6:
            self.frame_value = self.r.randrange(65536)
            p += b"\x00" + u16(self.frame_value)
        return 18, p, "ConfigureWindow %d %d %d %d %d %d" % (wid, x, y, w, h, self.frame_value)

    def byte_req(self, mtype, name):
        v = self.r.randrange(256)
        return mtype, bytes([v]), "%s %d" % (name, v)

    def pixel(self, mtype, name):
        n = self.r.randrange(1, 4)
        b = self.blob(n)
        return mtype, b, "%s %d" % (name, int.from_bytes(b, "little"))

    def pixmap_id(self, mtype, name):
        if self.r.random() < 0.5:
            v = self.r.randrange(256)
            return mtype, bytes([v]), "%s %d" % (name, v)
        v = self.r.randrange(65536)
        return mtype, u16(v), "%s %d" % (name, v)

    def set_drawable(self):
        kind, did = self.r.randrange(2), self.r.randrange(65536)
        if self.r.random() < 0.5:
            did &= 255
            return 19, bytes([kind, did]), "SetDrawable %d %d" % (kind, did)
        return 19, bytes([kind]) + u16(did), "SetDrawable %d %d" % (kind, did)

    def text8(self, mtype, name):
        x, y, g = self.s16(), self.s16(), self.blob(self.r.randrange(0, 20))
        return mtype, i16(x) + i16(y) + i16(len(g)) + g, "%s %d %d %d %s" % (
            name, x, y, len(g), hexs(g))

    def server_init(self):
        flags, delay, w, h = self.r.randrange(65536), self.r.randrange(65536), self.z16(), self.z16()
        depth, flags2 = self.r.choice((8, 16, 24)), self.r.randrange(65536)
        p = u16(flags) + u16(delay) + u16(w) + u16(h) + bytes([depth]) + u16(flags2) + b"\0\0"
        name = self.r.choice(("xsrv-1", "h\u00e9te \u6f22", "a\U0001F600b", ""))
        nb = name.encode("utf-8")
        p += i16(len(nb)) + nb
        self.server_name = name
        block = self.blob(self.r.randrange(0, 9))
        p += u16(len(block)) + block
        self.owner_block = block
        return 48, p, "StartSession %d %d %d %d %d %d %s %s" % (
            flags, delay, w, h, depth, flags2, text16(self.server_name), hexs(self.owner_block))

    def counted_text(self, mtype, name):
        b = self.name_bytes()
        return mtype, i16(len(b)) + b, "%s %s" % (name, latin(b))

    def title(self, mtype, name):
        wid, b = self.r.randrange(256), self.name_bytes()
        return mtype, bytes([wid]) + u16(len(b)) + b, "%s %d %s" % (name, wid, latin(b))

    def clipboard(self):
        flags = self.r.randrange(8)
        p, total, nm = bytes([flags]), 0, b""
        if flags & 1:
            total = self.r.randrange(1 << 32)
            nm = self.name_bytes()
            p += u32(total) + i16(len(nm)) + nm
        data = self.blob()
        p += i16(len(data)) + data
        return 52, p, "ClipboardData %d %d 0 0 0 %s %s" % (flags, total, latin(nm), hexs(data))

    def icon(self):
        wid, w, h, depth, comp, data = (self.r.randrange(256), self.z16(), self.z16(),
                                        self.r.randrange(256), self.r.randrange(3), self.blob())
        p = bytes([wid]) + u16(w) + u16(h) + bytes([depth, comp]) + data
        return 54, p, "SetWindowIconImage %d %d %d %d %d %s nomask" % (wid, w, h, depth, comp,
                                                                      hexs(data))

    def icon_masked(self):
        wid, w, h, depth, comp, data = (self.r.randrange(256), self.z16(), self.z16(),
                                        self.r.randrange(256), self.r.randrange(3), self.blob())
        masked = self.r.random() < 0.5
        flags = (0x2 if masked else 0) | (self.r.randrange(256) & ~0x2)
        p = bytes([wid, flags]) + u16(w) + u16(h) + bytes([depth, comp]) + u16(len(data)) + data
        line = "SetWindowIconImage %d %d %d %d %d %s" % (wid, w, h, depth, comp, hexs(data))
        if masked:
            mw, mh, mc, md = self.z16(), self.z16(), self.r.randrange(3), self.blob()
            p += u16(mw) + u16(mh) + bytes([mc]) + u16(len(md)) + md
            line += " %d %d 1 %d %s" % (mw, mh, mc, hexs(md))
        else:
            line += " nomask"
        return 67, p, line

    def sub_image(self):
        x, y, w, h, rows, first, step = [self.s16() for _ in range(7)]
        depth, comp, data = self.r.randrange(256), self.r.randrange(3), self.blob()
        p = b"".join(i16(v) for v in (x, y, w, h, rows, first, step)) + bytes([depth, comp]) + data
        return 58, p, "PutSubImage %d %d %d %d %d %d %d %d %d %s" % (
            x, y, rows, first, step, w, h, depth, comp, hexs(data))

    def property(self):
        op = self.r.randrange(2)
        w, n, v = self.name_bytes(), self.name_bytes(), self.name_bytes()
        p = b"\0\0" + bytes([op]) + i16(len(w)) + w + i16(len(n)) + n + i16(len(v)) + v
        return 59, p, "PropertyChanged %d %s %s %s" % (op, latin(w), latin(n), latin(v))

    def cursor(self):
        cid, w, h, depth, hx, hy = [self.r.randrange(0, 40) for _ in range(6)]
        fg, bg = self.r.randrange(1 << 24), self.r.randrange(1 << 24)
        n = h * ((w + 7) // 8)
        mask, src = self.blob(n), self.blob(n)
        p = bytes([cid, w, h, depth, hx, hy]) + fg.to_bytes(3, "little") + \
            bg.to_bytes(3, "little") + mask + src
        return 61, p, "CreateCursor %d %d %d %d %d %d %d %d %s %s" % (
            cid, w, h, depth, hx, hy, fg, bg, hexs(mask), hexs(src))

    def targets(self):
        n = self.r.randrange(0, 4)
        p, parts = i16(n), []
        for _ in range(n):
            fid, nm = self.r.randrange(1 << 32), self.name_bytes()
            p += u32(fid) + i16(len(nm)) + nm
            parts += [str(fid), hexs(nm)]
        flag = -1
        if self.r.random() < 0.5:
            flag = self.r.randrange(256)
            p += bytes([flag])
        return 63, p, " ".join(["SelectionTargets", str(n), str(n)] + parts + [str(flag)])

    def color_cursor(self):
        cid, w, h = self.r.randrange(1 << 32), self.r.randrange(0, 5), self.r.randrange(0, 5)
        hx, hy = self.r.randrange(1 << 32), self.r.randrange(1 << 32)
        px = self.blob(w * h * 4)
        p = u32(cid) + u32(w) + u32(h) + u32(hx) + u32(hy) + px
        return 70, p, "CreateColorCursor %d %d %d %d %d %s" % (cid, w, h, hx, hy, hexs(px))

    def every(self):
        """One encoder per request type; ping and sync are handled by run()."""
        r = self.r
        return [
            self.put_image, self.store_colors,
            lambda: (4, b"", "Bell"),
            lambda: (lambda k, c: (5, i16(k) + i16(c), "SessionStatus %d %d" % (k, c)))(
                self.s16(), self.s16()),
            lambda: self.lists(7, "PolyLine", 2, ()),
            lambda: self.lists(8, "PolySegment", 4, ()),
            lambda: self.lists(9, "PolyRectangle", 4, (2, 3)),
            lambda: self.lists(10, "PolyFillRectangle", 4, (2, 3)),
            self.fill_polygon, lambda: self.copy(12),
            lambda: self.byte_req(14, "SetStandardCursor"), self.create_window,
            lambda: self.byte_req(16, "DestroyWindow"),
            lambda: (lambda i, m: (17, bytes([i, m]), "ShowWindow %d %d" % (i, m)))(
                r.randrange(256), r.randrange(3)),
            self.configure_window, self.set_drawable,
            lambda: self.pixel(20, "SetForeground"), lambda: self.pixel(21, "SetBackground"),
            lambda: self.byte_req(22, "SetFunction"), lambda: self.pixmap_id(23, "SetTile"),
            lambda: self.pixmap_id(24, "SetStipple"),
            lambda: (lambda x, y: (25, i16(x) + i16(y), "SetTSOrigin %d %d" % (x, y)))(
                self.s16(), self.s16()),
            lambda: self.byte_req(26, "SetFillStyle"),
            lambda: (lambda i, w, h, d: (27, bytes([i & 255]) + u16(w) + u16(h) + bytes([d, i >> 8]),
                                         "CreatePixmap %d %d %d %d" % (i, w, h, d)))(
                r.randrange(65536), self.z16(), self.z16(), r.randrange(256)),
            lambda: self.pixmap_id(28, "FreePixmap"), lambda: self.byte_req(29, "SetGCField6"),
            lambda: self.byte_req(30, "SetFont"),
            lambda: (lambda m: (31, u32(m), "SetPlaneMask %d" % m))(r.randrange(1 << 32)),
            lambda: self.text8(34, "PolyText8"), lambda: self.text8(35, "ImageText8"),
            lambda: self.byte_req(36, "OpenFont"), lambda: self.byte_req(37, "CloseFont"),
            lambda: (lambda f, g, w, h, a, b, c: (
                38, bytes([f, g]) + u16(w) + u16(h) + i16(a) + i16(b) + i16(c),
                "DefineGlyph %d %d %d %d %d %d %d" % (f, g, w, h, a, b, c)))(
                r.randrange(256), r.randrange(256), self.z16(), self.z16(), self.s16(), self.s16(),
                self.s16()),
            lambda: (lambda g, x, y, w, h, c, data: (
                39, bytes([g]) + i16(x) + i16(y) + i16(w) + i16(h) + bytes([c]) + data,
                "PutGlyphBits %d %d %d %d %d 1 %d %s" % (g, x, y, w, h, c, hexs(data))))(
                r.randrange(256), self.s16(), self.s16(), self.s16(), self.s16(), r.randrange(3),
                self.blob()),
            lambda: (lambda f, g: (40, bytes([f, g]), "FreeGlyph %d %d" % (f, g)))(
                r.randrange(256), r.randrange(256)),
            lambda: (41, self.lists(9, "x", 4, (2, 3))[1], None),
            lambda: (lambda f: (42, bytes([f]), "SetGCMode %d" % (f & 3)))(r.randrange(256)),
            lambda: (45, self.blob(r.randrange(3)), "MeasureDrawing"),
            lambda: self.copy(47), self.server_init,
            lambda: self.counted_text(49, "ShowStatusText"),
            lambda: (51, self.blob(r.randrange(3)), None),
            self.clipboard, lambda: self.title(53, "SetWindowTitle"), self.icon,
            lambda: (lambda i, a, b, c, d: (55, bytes([i]) + u16(a) + u16(b) + u16(c) + u16(d),
                                            "SetSizeHints %d %d %d %d %d" % (i, a, b, c, d)))(
                r.randrange(256), self.z16(), self.z16(), self.z16(), self.z16()),
            lambda: self.title(56, "SetIconTitle"), lambda: self.byte_req(57, "UpdateWindow"),
            self.sub_image, self.property,
            lambda: (lambda i, f: (60, bytes([i, f]), "SetPointerGrab %d %d" % (i, f)))(
                r.randrange(256), r.randrange(256)),
            self.cursor, lambda: self.byte_req(62, "SetCursor"), self.targets,
            lambda: self.counted_text(64, "RequestSelection"),
            lambda: (lambda i, m, s: (65, bytes([i, m, s]), "RestackWindow %d %d %d" % (i, m, s)))(
                r.randrange(256), r.randrange(3), r.randrange(256)),
            self.icon_masked, self.color_cursor,
            # Types without a handler, and beyond the table: skipped, still counted.
            lambda: (r.choice((0, 1, 6, 13, 32, 44, 66, 71, 99, 127, 200)), self.blob(), None),
        ]


# The fixed fields of each request: a shorter payload is skipped by the
# client (it still counts as consumed).
FIXED = {2: 10, 3: 2, 5: 4, 7: 2, 8: 2, 9: 2, 10: 2, 11: 3, 12: 14, 14: 1, 15: 12, 16: 1,
         17: 2, 18: 9, 19: 2, 20: 1, 21: 1, 22: 1, 23: 1, 24: 1, 25: 4, 26: 1, 27: 7, 28: 1,
         29: 1, 30: 1, 31: 4, 34: 6, 35: 6, 36: 1, 37: 1, 38: 12, 39: 10, 40: 2, 42: 1, 47: 18,
         48: 4, 49: 2, 50: 2, 52: 3, 53: 3, 54: 7, 55: 9, 56: 3, 57: 1, 58: 16, 59: 9, 60: 2,
         61: 12, 62: 1, 63: 2, 64: 2, 65: 3, 67: 10, 70: 20}


def hostile(rng, t, p, line):
    """A short or damaged variant of a request, or None to keep it: cut
    below its fixed fields, or (for requests that carry a length) with one
    more byte announced than present. Either way the client skips it."""
    roll = rng.random()
    if roll < 0.1 and FIXED.get(t, 0) > 0:
        return t, p[:rng.randrange(FIXED[t])], None
    if roll < 0.2 and t in (49, 64) and p:
        return t, p[:-1] if len(p) > 2 else i16(5), None
    return None


def run(seed, count, hostile_too=False):
    """A seeded run: returns (messages, transcript lines, syncs, ping values)
    where messages are (type, payload) in order, syncs included."""
    rng = random.Random(seed)
    reqs = Requests(rng)
    encoders = reqs.every()
    msgs, lines, syncs, pings = [], [], 0, []
    order = list(range(len(encoders))) * max(1, count // len(encoders))
    rng.shuffle(order)
    for k in order:
        t, p, line = encoders[k]()
        if hostile_too and t not in (48, 18):  # these change what later lines show
            variant = hostile(rng, t, p, line)
            if variant:
                t, p, line = variant
        msgs.append((t, p))
        if line is not None:
            lines.append(line)
        roll = rng.random()
        if roll < 0.05:
            v = rng.randrange(65535)  # 65535 is the closing barrier
            msgs.append((50, u16(v)))
            pings.append(v)
        elif roll < 0.08:
            msgs.append((43, b"" if rng.random() < 0.5 else rng.randbytes(rng.randrange(1, 9))))
            syncs += 1
    return msgs, lines, syncs, pings


def xaip_bytes(msgs):
    """Bytes the client acknowledges: everything but syncs."""
    return sum(3 + len(p) for t, p in msgs if t != 43)


def stream_plain(msgs):
    return b"".join(frame(t, p) for t, p in msgs)


def stream_blocks(msgs, rng, style):
    """Ordinary messages go in blocks cut at random places (a message may span
    two blocks); syncs stay outside, at message boundaries."""
    out, pending = bytearray(), bytearray()
    z = zlib.compressobj() if style == "zsync" else None

    def flush_pending():
        nonlocal pending
        while pending:
            n = min(len(pending), rng.choice((1, 5, 100, 3000, 20000, 65535)))
            piece, pending = bytes(pending[:n]), pending[n:]
            if style == "zsync":
                data = z.compress(piece) + z.flush(zlib.Z_SYNC_FLUSH)
            else:
                data = zlib.compress(piece)
            out.extend(frame(0x80, u16(len(piece)) + data))

    for t, p in msgs:
        if t == 43:
            flush_pending()
            out.extend(frame(t, p))
        else:
            pending.extend(frame(t, p))
    flush_pending()
    return bytes(out)


# Client messages: decoders. Each returns (line, payload re-encoded).
def take_text(p, at):
    n = struct.unpack_from("<H", p, at)[0]
    if at + 2 + n > len(p):
        raise ValueError("text past the end")
    return p[at + 2:at + 2 + n], at + 2 + n


def decode_message(t, p):
    fixed = {3: "<BBHH", 4: "<BBHH", 30: "<BBHH", 5: "<BHH", 9: "<H", 16: "<I", 19: "<I",
             23: "<HH", 24: "<HH", 27: "<B", 28: "<B", 29: "<IHHHHH", 31: "<H", 34: "<BBB",
             36: "<Bb", 38: "<BHHHH", 40: "<BHHHH"}
    if t in (11, 12, 13):
        if p:
            raise ValueError("non-empty")
        return "%d" % t, b""
    if t in fixed:
        fmt = fixed[t]
        if struct.calcsize(fmt) != len(p):
            raise ValueError("length %d" % len(p))
        vals = struct.unpack(fmt, p)
        if t == 19 and vals[0] != 0:
            raise ValueError("sync reply not 0")
        if t == 29 and vals[1:] != (256, 1024, 16, 256, 32):
            raise ValueError("table sizes")
        return "%d %s" % (t, " ".join(str(v) for v in vals)), struct.pack(fmt, *vals)
    if t == 35:
        if len(p) not in (17, 27):
            raise ValueError("length %d" % len(p))
        vals = struct.unpack("<B8H" if len(p) == 17 else "<B13H", p)
        return "35 " + " ".join(str(v) for v in vals), \
            struct.pack("<B8H" if len(p) == 17 else "<B13H", *vals)
    if t == 20:
        if len(p) not in (8, 16):
            raise ValueError("timings length")
        vals = struct.unpack("<%dI" % (len(p) // 4), p)
        return "20 " + " ".join(map(str, vals)), struct.pack("<%dI" % len(vals), *vals)
    if t in (17, 39):
        w, at = take_text(p, 0)
        n, at = take_text(p, at)
        if t == 39:
            if p[at:] != b"\0\1":
                raise ValueError("tail")
            return "39 %s %s" % (hexs(w), hexs(n)), u16(len(w)) + w + u16(len(n)) + n + b"\0\1"
        if p[at:at + 1] != b"\0":
            raise ValueError("operation")
        v, at = take_text(p, at + 1)
        if at != len(p):
            raise ValueError("trailing bytes")
        return "17 %s %s %s" % (hexs(w), hexs(n), hexs(v)), \
            u16(len(w)) + w + u16(len(n)) + n + b"\0" + u16(len(v)) + v
    if t == 32:
        flags, at = p[0], 1
        line, enc = "32 %d" % flags, bytes([flags])
        if flags & 1:
            total = struct.unpack_from("<I", p, at)[0]
            at += 4
            line += " %d" % total
            enc += u32(total)
            # The format id is present when the display has the extended
            # clipboard: told apart by the lengths that follow.
            rest_plain = len(p) - at
            name_len = struct.unpack_from("<H", p, at)[0]
            if at + 2 + name_len + 2 > len(p) or \
                    at + 2 + name_len + 2 + struct.unpack_from("<H", p, at + 2 + name_len)[0] != len(p):
                fid = struct.unpack_from("<I", p, at)[0]
                at += 4
                line += " id=%d" % fid
                enc += u32(fid)
            del rest_plain
            nm, at = take_text(p, at)
            line += " " + hexs(nm)
            enc += u16(len(nm)) + nm
        data, at = take_text(p, at)
        if at != len(p):
            raise ValueError("trailing bytes")
        return line + " %d %s" % (len(data), hexs(data)), enc + u16(len(data)) + data
    if t == 41:
        fid = struct.unpack_from("<I", p, 0)[0]
        nm, at = take_text(p, 4)
        rid = struct.unpack_from("<I", p, at)[0]
        blk, at = take_text(p, at + 4)
        if p[at:] != b"\0\0":
            raise ValueError("tail")
        if len(p) != 14 + len(nm) + len(blk):
            raise ValueError("length")
        return "41 %d %s %d %s" % (fid, hexs(nm), rid, hexs(blk)), \
            u32(fid) + u16(len(nm)) + nm + u32(rid) + u16(len(blk)) + blk + b"\0\0"
    if t == 42:
        count, at, names = struct.unpack_from("<H", p, 0)[0], 2, []
        for _ in range(count):
            nm, at = take_text(p, at)
            names.append(nm)
        blk, at = take_text(p, at)
        if at != len(p):
            raise ValueError("trailing bytes")
        return "42 %d %s %s" % (count, " ".join(hexs(n) for n in names), hexs(blk)), \
            u16(count) + b"".join(u16(len(n)) + n for n in names) + u16(len(blk)) + blk
    if t == 44:
        line, enc, at = decode_keyboard(p, 0)
        if at != len(p):
            raise ValueError("trailing bytes")
        return "44 " + line, enc
    if t == 10:
        return decode_hello(p)
    raise ValueError("unknown client message %d" % t)


def decode_keyboard(p, at):
    flags = p[at]
    loc, at = take_text(p, at + 1)
    parts, enc = ["kb %d %s" % (flags, hexs(loc))], bytes([flags]) + u16(len(loc)) + loc
    if flags & 4:
        ime, at = take_text(p, at)
        parts.append("ime " + hexs(ime))
        enc += u16(len(ime)) + ime
    if flags & 16:
        lay, at = take_text(p, at)
        parts.append("layout " + hexs(lay))
        enc += u16(len(lay)) + lay
    return " ".join(parts), enc, at


def decode_hello(p):
    at = 0
    head = struct.unpack_from("<HB", p, at)
    if head[0] != 13:
        raise ValueError("hello version")
    at += 3
    texts = []
    for _ in range(2):
        t, at = take_text(p, at)
        texts.append(t)
    zeros = struct.unpack_from("<II", p, at)
    at += 8
    cmap = p[at]
    at += 1
    feat, w, h = struct.unpack_from("<HHH", p, at)
    at += 6
    if p[at:at + 4] != bytes([4, 3, 1, 153]):
        raise ValueError("fixed bytes")
    at += 4
    for _ in range(3):
        t, at = take_text(p, at)
        texts.append(t)
    blocks, zero = p[at], p[at + 1]
    at += 2
    if zero != 0 or zeros != (0, 0):
        raise ValueError("zero fields")
    parts = ["10 %d %s cmap=%d feat=%d %dx%d blocks=%d" % (
        head[1], " ".join(hexs(t) for t in texts), cmap, feat, w, h, blocks)]
    enc = struct.pack("<HB", *head)
    for t in texts[:2]:
        enc += u16(len(t)) + t
    enc += struct.pack("<II", *zeros) + bytes([cmap]) + struct.pack("<HHH", feat, w, h) + \
        bytes([4, 3, 1, 153])
    for t in texts[2:]:
        enc += u16(len(t)) + t
    enc += bytes([blocks, 0])
    if blocks & 0x10:
        os_ = struct.unpack_from("<HHH", p, at)
        at += 6
        parts.append("os %d %d %d" % os_)
        enc += struct.pack("<HHH", *os_)
    if blocks & 0x01:
        tzf = p[at]
        bias = struct.unpack_from("<i", p, at + 1)[0]
        std, at = take_text(p, at + 5)
        parts.append("tz %d %d %s" % (tzf, bias, std.decode("utf-8").encode("unicode_escape")
                                      .decode("ascii") or "-"))
        enc += bytes([tzf]) + struct.pack("<i", bias) + u16(len(std)) + std
        if tzf & 1:
            dbias = struct.unpack_from("<i", p, at)[0]
            dl, at = take_text(p, at + 4)
            parts.append("dl %d %s" % (dbias, dl.decode("utf-8").encode("unicode_escape")
                                       .decode("ascii") or "-"))
            enc += struct.pack("<i", dbias) + u16(len(dl)) + dl
            if tzf & 2:
                dates = struct.unpack_from("<12H", p, at)
                at += 24
                parts.append("std " + ",".join(map(str, dates[:6])))
                parts.append("dst " + ",".join(map(str, dates[6:])))
                enc += struct.pack("<12H", *dates)
    if blocks & 0x20:
        line, kenc, at = decode_keyboard(p, at)
        parts.append(line)
        enc += kenc
    eflags = struct.unpack_from("<I", p, at)[0]
    at += 4
    enc += u32(eflags)
    parts.append("flags %d" % eflags)
    if at != len(p):
        raise ValueError("trailing bytes in hello")
    return " ".join(parts), enc


def decode_stream(data):
    at, lines = 0, []
    while at < len(data):
        if len(data) - at < 3:
            raise ValueError("cut message head")
        t, n = struct.unpack_from("<BH", data, at)
        p = data[at + 3:at + 3 + n]
        if len(p) != n:
            raise ValueError("cut message")
        line, enc = decode_message(t, p)
        if enc != p:
            raise ValueError("type %d re-encodes differently" % t)
        lines.append(line)
        at += 3 + n
    return lines


class Client:
    """The server's side of one connection: reads and decodes client
    messages strictly, counting acknowledgements, sync and ping answers."""

    def __init__(self, conn):
        self.conn = conn
        self.buf = b""
        self.acked = 0
        self.acks = []
        self.syncs = 0
        self.pings = []
        self.lines = []
        self.closed = False

    def poll(self, timeout):
        self.conn.settimeout(timeout)
        try:
            data = self.conn.recv(65536)
        except socket.timeout:
            return False
        except OSError:
            data = b""
        if not data:
            self.closed = True
            return False
        self.buf += data
        while len(self.buf) >= 3:
            t, n = struct.unpack_from("<BH", self.buf, 0)
            if len(self.buf) < 3 + n:
                break
            p = self.buf[3:3 + n]
            self.buf = self.buf[3 + n:]
            line, enc = decode_message(t, p)
            if enc != p:
                raise ValueError("type %d re-encodes differently" % t)
            self.lines.append(line)
            if t == 16:
                v = struct.unpack("<I", p)[0]
                self.acked += v
                self.acks.append(v)
            elif t == 19:
                self.syncs += 1
            elif t == 31:
                self.pings.append(struct.unpack("<H", p)[0])
        return True

    def wait(self, done, seconds):
        end = time.time() + seconds
        while not done() and not self.closed and time.time() < end:
            self.poll(max(0.01, end - time.time()))
        return done()


def send_chunked(conn, data, rng):
    at = 0
    while at < len(data):
        n = rng.choice((1, 2, 3, 5, 100, 1500, 4096, 30000))
        conn.sendall(data[at:at + n])
        at += n
        if rng.random() < 0.01:
            time.sleep(0.003)



# Whole sessions for the X engine: request lists, and the client messages
# the server requires of them.

def _win(i, x, y, w, h, style=2, mode=0, owner=0):
    return (15, struct.pack("<BhhHHBBBBI", i, x, y, w, h, style, mode, owner, 0, 0))


def _fill(*r):
    return (10, i16(len(r) // 4) + struct.pack("<" + "hhHH" * (len(r) // 4), *r))


def _prop(op, name, value, window=b""):
    return (59, b"\0\0" + bytes([op]) + i16(len(window)) + window + i16(len(name)) + name +
            i16(len(value)) + value)


def session_script(name, seed=1, count=200000):
    """(requests, client message types the server requires)."""
    rng = random.Random(seed)
    m = [(48, struct.pack("<HHHHBH", 0x2, 0, 320, 240, 24, 0))]
    if name == "session":
        # An owner tree: 2 owned by 1 (owner disabled while shown), 3 modal.
        m += [_win(1, 0, 0, 200, 150), _win(2, 40, 30, 120, 90, 2, 1, 1),
              _win(3, 150, 100, 100, 80, 2, 2, 1), _win(4, 10, 160, 300, 70)]
        m += [(17, bytes([i, 1])) for i in (1, 2, 3, 4)]
        m += [(18, struct.pack("<BhhHH", 4, 12, 150, 300, 80)),
              (65, bytes([2, 1, 1])), (65, bytes([4, 0, 0]))]
        # Drawing in the shared buffer: exposures stay pending over the
        # destroys below.
        for _ in range(40):
            m.append((20, bytes([rng.randrange(256) for _ in range(3)])))
            m.append(_fill(rng.randrange(-20, 320), rng.randrange(-20, 240),
                           rng.randrange(1, 80), rng.randrange(1, 80)))
            m.append((7, i16(2) + struct.pack("<hhhh", rng.randrange(320), rng.randrange(240),
                                                rng.randrange(320), rng.randrange(240))))
        # Every resource's lifetime.
        m += [(27, struct.pack("<BHHBB", 3, 40, 30, 24, 0)), (19, b"\x01\x03\x00"),
              _fill(0, 0, 40, 30), (19, b"\x00\x00\x00"),
              (12, struct.pack("<hhHHBBhhB", 50, 50, 40, 30, 1, 3, 0, 0, 0)),
              (23, b"\x03"), (26, b"\x01"), _fill(100, 100, 50, 50), (26, b"\x00"),
              (28, b"\x03"),
              (36, b"\x02"), (38, struct.pack("<BBHHhhh", 2, 65, 8, 8, 0, 8, 9)),
              (30, b"\x02"), (39, struct.pack("<BhhhhB", 65, 0, 0, 8, 8, 0) + b"\x5a" * 8),
              (34, struct.pack("<hhh", 20, 40, 3) + b"AAA"), (40, b"\x02\x41"), (37, b"\x02"),
              (61, bytes([5, 8, 8, 1, 0, 0]) + b"\xff\xff\xff\0\0\0" + b"\x0f" * 16),
              (62, b"\x05"), (14, b"\x02"),
              (70, struct.pack("<IIIII", 6, 2, 2, 1, 1) + b"\xff" * 16), (62, b"\x06"),
              (3, i16(2) + bytes([10, 1, 2, 3, 3, 4, 5, 6])),
              (53, b"\x01" + u16(5) + b"title"), (55, struct.pack("<BHHHH", 1, 10, 10, 400, 300)),
              _prop(1, b"qvl-cwm-oldtransient", b"True"),
              _prop(1, b"qvl_call_client_cmd", b"CALL inst"),
              (43, b""), (45, b""),
              (17, bytes([3, 0])), (16, b"\x02"), (16, b"\x03")]
        m.append((50, u16(7)))
        return m, [29, 39, 38, 36, 17, 19, 20, 31]
    if name == "badids":
        m += [_win(1, 0, 0, 100, 100), _win(1, 5, 5, 50, 50), _win(0, 0, 0, 10, 10),
              (16, b"\x00"), (16, b"\x09"), (16, b"\x01"), (16, b"\x01"),
              (27, struct.pack("<BHHBB", 7, 10, 10, 24, 0)),
              (27, struct.pack("<BHHBB", 7, 20, 20, 24, 0)),
              (27, struct.pack("<BHHBB", 0, 10, 10, 24, 4)),  # id 1024
              (28, u16(7)), (28, u16(7)), (28, u16(1023)),
              (19, b"\x00\x07\x00"), (19, b"\x01\x01\x00"), _fill(0, 0, 5, 5),
              (12, struct.pack("<hhHHBBhhBB", 0, 0, 5, 5, 1, 200, 0, 0, 3, 0)),
              (36, b"\x10"), (37, b"\x05"), (40, b"\x05\x05"), (38, struct.pack("<BBHHhhh", 9, 1, 8, 8, 0, 0, 0)),
              (61, bytes([40, 8, 8, 1, 0, 0]) + b"\0" * 6 + b"\x0f" * 16), (62, b"\x1f"),
              (70, struct.pack("<IIIII", 0x10000005, 1, 1, 0, 0) + b"\0" * 4),
              (17, b"\x09\x01"), (18, struct.pack("<BhhHH", 200, 0, 0, 10, 10)),
              (65, b"\x01\x01\x63"), (48, struct.pack("<HHHHBH", 0, 0, 100, 100, 8, 0))]
        m.append((50, u16(9)))
        return m, [29, 39, 31]
    if name.startswith("picture-"):
        return picture_script(int(name[8:])), [29, 31]
    if name == "busy" or name.startswith("busy-"):
        return busy_script(name[5:] if name.startswith("busy-") else "", seed, count), [31]
    raise ValueError("unknown script " + name)


def busy_script(only, seed, count=200000):
    """A busy multi-window session at depth 24: 16 windows, then `count`
    drawing requests mixing the primitives rect10, rect100, copywinwin100,
    ftext and putimage10 (or only the one named), foreground changes
    between them. "scattered" gives requests of 2000 scattered 1 x 1
    rectangles. Alone, rect10 and rect100 send their rectangles in the
    batches x11perf sends on one window (1000 and 36 a request), so that
    their rates compare with its rectangles per second."""
    rng = random.Random(seed)
    m = [(48, struct.pack("<HHHHBH", 0x2, 0, 1280, 1024, 24, 0))]
    for i in range(16):
        m.append(_win(i + 1, (i % 4) * 320, (i // 4) * 256, 320, 256))
        m.append((17, bytes([i + 1, 1])))
    m += [(36, b"\x01"), (30, b"\x01")]
    for g in range(32, 127):
        m.append((38, struct.pack("<BBHHhhh", 1, g, 6, 13, 0, 10, 6)))
        m.append((39, struct.pack("<BhhhhB", g, 0, 0, 6, 13, 0) +
                  bytes(rng.randrange(256) for _ in range(13))))
    image = bytes(rng.randrange(256) for _ in range(10 * 32))
    text = bytes(rng.randrange(32, 127) for _ in range(80))
    kinds = [only] if only else ["rect10", "rect100", "copywinwin100", "ftext", "putimage10"]
    batch = {"rect10": 1000, "rect100": 36}.get(only, 1)
    for n in range(count):
        k = kinds[n % len(kinds)]
        x, y = rng.randrange(0, 1180), rng.randrange(0, 924)
        if n % 50 == 0:
            m.append((20, bytes([rng.randrange(256) for _ in range(3)])))
        if k in ("rect10", "rect100"):
            side = 10 if k == "rect10" else 100
            r = [x, y, side, side]
            for _ in range(batch - 1):
                r += [rng.randrange(0, 1280 - side), rng.randrange(0, 1024 - side), side, side]
            m.append(_fill(*r))
        elif k == "copywinwin100":
            m.append((12, struct.pack("<hhHHBBhhB", x, y, 100, 100, 0, 0,
                                      rng.randrange(0, 1180), rng.randrange(0, 924), 0)))
        elif k == "ftext":
            m.append((34, struct.pack("<hhh", x % 800, y + 13, 80) + text))
        elif k == "putimage10":
            m.append((2, struct.pack("<hhhhBB", x, y, 10, 10, 24, 0) + image))
        elif k == "scattered":
            r = []
            for _ in range(2000):
                r += [rng.randrange(0, 1279), rng.randrange(0, 1023), 1, 1]
            m.append(_fill(*r))
    m.append((50, u16(1)))
    return m


# Depth 8: the fills' colours take cells 0-4, the image cells 16-255.
PICTURE_CELLS = [(255, 255, 255), (255, 0, 0), (0, 0, 255), (0, 255, 0), (0, 0, 0)]


def picture_cell(i):
    """The colour of image cell i (16-255) of a depth-8 picture."""
    return ((i * 5) & 255, (i * 11) & 255, (i * 17) & 255)


def picture_pixel(depth, r, g, b):
    """The pixel of an 8-bit-per-channel colour at depth 16 (5-6-5) or 24;
    at depth 8 the cell of a fill colour."""
    if depth == 8:
        return PICTURE_CELLS.index((r, g, b))
    if depth == 16:
        return (r >> 3) << 11 | (g >> 2) << 5 | b >> 3
    return r << 16 | g << 8 | b


def picture_image(depth):
    """The 64x64 image of the picture: raw rows, pixels little-endian; at
    depth 8 cell 16 + (3x + 7y) mod 240."""
    out = bytearray()
    for y in range(64):
        for x in range(64):
            if depth == 8:
                out.append(16 + (3 * x + 7 * y) % 240)
                continue
            v = picture_pixel(depth, (x * 4) & 255, (y * 4) & 255, ((x + y) * 2) & 255)
            out += v.to_bytes(3 if depth == 24 else 2, "little")
    return bytes(out)


def picture_script(depth, size=(160, 120), at=(0, 0)):
    """A single-window screen of `size` (160x120) at the given depth: the bell,
    a white background and, from `at`, a red and a blue fill, a green outline, one
    8x8 glyph and the 64x64 image at (90, 50), then ping 3."""
    px = lambda r, g, b: picture_pixel(depth, r, g, b).to_bytes(4, "little")[:3]
    (w, h), (x, y) = size, at
    m = [(48, struct.pack("<HHHHBH", 0, 0, w, h, depth, 0)), (4, b""), (19, b"\x00\x00\x00"),
         (20, px(255, 255, 255)), _fill(0, 0, w, h),
         (20, px(255, 0, 0)), _fill(x + 5, y + 5, 40, 30),
         (20, px(0, 0, 255)), _fill(x + 50, y + 5, 30, 40),
         (20, px(0, 255, 0)), (9, i16(1) + struct.pack("<hhHH", x + 5, y + 60, 40, 30)),
         (36, b"\x02"), (38, struct.pack("<BBHHhhh", 2, 65, 8, 8, 0, 8, 9)), (30, b"\x02"),
         (39, struct.pack("<BhhhhB", 65, 0, 0, 8, 8, 0) + b"\x5a" * 8),
         (20, px(0, 0, 0)), (34, struct.pack("<hhh", x + 60, y + 100, 1) + b"A"),
         (2, struct.pack("<hhhhBB", x + 90, y + 50, 64, 64, depth, 0) + picture_image(depth))]
    if depth == 8:
        cells = list(enumerate(PICTURE_CELLS)) + [(i, picture_cell(i)) for i in range(16, 256)]
        entries = b"".join(bytes([i, r, g, b]) for i, (r, g, b) in cells)
        m.insert(1, (3, i16(len(cells)) + entries))
    m.append((50, u16(3)))
    return m


def check_session(c, required):
    """Every required message type was sent (a sync is answered as soon as
    it is read, so answers may come before earlier requests ran)."""
    problems = []
    seen = [int(line.split()[0]) for line in c.lines]
    for t in required:
        if t not in seen:
            problems.append("message %d missing" % t)
    if 39 in required and seen.count(39) < 7:
        problems.append("%d property notices" % seen.count(39))
    if 29 in seen and 39 in seen and seen.index(39) < seen.index(29):
        problems.append("property notices before 29")
    return problems


def scenario(name, conn, args):
    if name.startswith("swm-"):
        import xaip_swm
        return xaip_swm.scenario(name, conn, args, sys.modules[__name__])
    c = Client(conn)
    if name.startswith("clip-"):  # the clipboard's scenarios: tests/peers/xaip_clip.py
        return __import__("xaip_clip").scenario(name, c, conn, args)
    rng = random.Random(args.get("--seed", "1"))
    if name == "run":
        seed = int(args.get("--seed", "1"))
        msgs, lines, syncs, pings = run(seed, int(args.get("--count", "300")),
                                        args.get("--hostile", "0") == "1")
        msgs.append((50, u16(65535)))
        style = args.get("--style", "plain")
        data = stream_plain(msgs) if style == "plain" else stream_blocks(msgs, rng, style)
        with open(args["--result-file"] + ".txt", "w") as f:
            f.write("\n".join(lines) + "\n")
        send_chunked(conn, data, rng)
        want = xaip_bytes(msgs)
        c.wait(lambda: 65535 in c.pings and c.acked >= want, 30)
        problems = []
        if c.syncs != syncs:
            problems.append("%d sync answers, %d syncs" % (c.syncs, syncs))
        if c.pings != pings + [65535]:
            problems.append("ping answers %s" % c.pings[:10])
        if c.acked != want:
            problems.append("acknowledged %d of %d bytes" % (c.acked, want))
        return problems, c
    if name == "acks":
        conn.sendall(frame(4, b""))
        c.wait(lambda: c.acks, 10)
        problems = [] if c.acks == [3] else ["first acks %s" % c.acks]
        # With the ping, 262144 bytes: not past the threshold.
        conn.sendall(frame(2, bytes(16381)) * 15 + frame(2, bytes(16376)))
        conn.sendall(frame(50, u16(1)))
        c.wait(lambda: 1 in c.pings, 10)
        c.wait(lambda: False, 0.3)
        if c.acks != [3]:
            problems.append("acknowledged before the threshold: %s" % c.acks)
        conn.sendall(frame(4, b""))
        c.wait(lambda: len(c.acks) > 1, 10)
        # One counter passed the threshold and was acknowledged whole.
        if len(c.acks) != 2 or c.acks[1] <= 262144:
            problems.append("threshold acks %s" % c.acks)
        conn.sendall(frame(42, b"\x04"))
        c.wait(lambda: len(c.acks) > 2, 10)
        c.wait(lambda: False, 0.3)
        if len(c.acks) != 3 or c.acks[2] < 4 or sum(c.acks) != 3 + 262144 + 3 + 4:
            problems.append("acks after 42: %s" % c.acks)
        return problems, c
    if name == "oversize":
        conn.sendall(frame(4, b"") + frame(2, bytes(16382)))
        c.wait(lambda: False, 20)
        return ([] if c.closed else ["the client did not close"]), c
    if name == "midclose":
        conn.sendall(frame(4, b"") * 3 + frame(2, bytes(100))[:50])
        return [], c
    if name in ("session", "badids") or name.startswith("picture-"):
        msgs, required = session_script(name, int(args.get("--seed", "1")))
        data = stream_plain(msgs)
        if "--bytes-file" in args:
            with open(args["--bytes-file"], "wb") as f:
                f.write(data)
        send_chunked(conn, data, rng)
        ping = struct.unpack("<H", msgs[-1][1])[0]
        c.wait(lambda: ping in c.pings, 30)
        problems = check_session(c, required)
        if name == "session":
            # The client then reports focus and a frame moved by its user:
            # 27 and 9, 34 with 36, and 35 once the size-move delay passed.
            c.wait(lambda: any(l.startswith("35 ") for l in c.lines), 10)
            problems += check_session(c, [27, 9, 34, 35])
        c.wait(lambda: False, 0.2)
        return problems, c
    if name == "decode":
        c.wait(lambda: False, 30)
        return ([] if c.closed else ["the client did not close"]), c
    if name.startswith("prop-"): return __import__("xaip_prop").scenario(name, c, conn, args)
    if name == "multi":
        import xaip_multi  # multi-window frames, see that module
        return xaip_multi.scenario(sys.modules[__name__], c, conn, args)
    return ["unknown scenario " + name], c


def serve(name, args):
    srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    srv.bind(("127.0.0.1", 0))
    srv.listen(1)
    srv.settimeout(60)
    tmp = args["--port-file"] + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % srv.getsockname()[1])
    os.replace(tmp, args["--port-file"])
    try:
        conn, _ = srv.accept()
    except OSError:
        return 1
    try:
        problems, c = scenario(name, conn, args)
    except (ValueError, struct.error, IndexError) as e:
        problems, c = ["bad client message: %s" % e], None
    finally:
        conn.close()
        srv.close()
    # Written whole, then renamed: the client waits for the name.
    with open(args["--result-file"] + ".tmp", "w") as f:
        f.write("ok\n" if not problems else "".join(p + "\n" for p in problems))
        for line in (c.lines if c else []):
            if not line.startswith("16 "):
                f.write(line + "\n")
    os.replace(args["--result-file"] + ".tmp", args["--result-file"])
    return 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "serve":
        return serve(argv[2], dict(zip(argv[3::2], argv[4::2])))
    if len(argv) >= 2 and argv[1] == "gen":
        args = dict(zip(argv[2::2], argv[3::2]))
        seed, out = int(args["--seed"]), args["--out"]
        count = int(args.get("--count", "400"))
        msgs, lines, syncs, pings = run(seed, count, args.get("--hostile", "0") == "1")
        rng = random.Random(seed + 1)
        with open(out + ".plain", "wb") as f:
            f.write(stream_plain(msgs))
        with open(out + ".zblock", "wb") as f:
            f.write(stream_blocks(msgs, rng, "zblock"))
        with open(out + ".zsync", "wb") as f:
            f.write(stream_blocks(msgs, rng, "zsync"))
        with open(out + ".txt", "w") as f:
            f.write("\n".join(lines) + "\n")
        with open(out + ".meta", "w") as f:
            f.write("%d %d %d %s\n" % (xaip_bytes(msgs), syncs, len(pings),
                                       " ".join(map(str, pings))))
        return 0
    if len(argv) >= 2 and argv[1] == "script":
        args = dict(zip(argv[2::2], argv[3::2]))
        msgs, _ = session_script(args["--name"], int(args.get("--seed", "1")),
                                 int(args.get("--count", "200000")))
        with open(args["--out"], "wb") as f:
            f.write(stream_plain(msgs))
        return 0
    if len(argv) == 3 and argv[1] == "decode":
        with open(argv[2], "rb") as f:
            data = f.read()
        try:
            for line in decode_stream(data):
                print(line)
        except (ValueError, struct.error, IndexError, UnicodeDecodeError) as e:
            print("BAD %s" % e)
            return 1
        return 0
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
