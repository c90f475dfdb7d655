#!/usr/bin/env python3
"""A fake T-AIP (terminal) server: message builders, blocks, a strict
decoder of client messages and the acknowledgement check.

Framing, both directions: type u8, payload length u16 little-endian,
payload. A compressed block is type 0x80 whose length counts a u16
uncompressed size and the zlib data after it; its data inflates into
ordinary messages, one of which may span blocks. Two block styles: one zlib
stream sync-flushed at the end of every block ("zsync"), or a whole stream
per block ("zblock").

The client acknowledges (message 44) every 4096 bytes of handled server
messages (header included, types below 54 that have a handler), counted
after inflating; blocks' own heads do not count. `Session.barrier` sends a
ping and checks the acknowledgements that arrived before its pong.

Importable (fake_appserver.py hands it a connection), or run:
  gen --out DIR        writes a small corpus of server streams for the fuzzer
  serve SCENARIO --port-file F --result-file R [--lifetime S]
      harness: the display scenario of the Wine harness (see scenario_harness)
      dump:    --mb N --style plain|zsync: 80-column lines with scrolls, then
               a ping barrier; writes "ok SECONDS" to R
Importable: serve_app plays the demo's character application.
"""
import argparse
import hashlib
import os
import random
import socket
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402

# Server message types that the client handles (and so counts).
HANDLED = {5, 6, 16, 17, 19, 22, 24, 30, 31, 32, 33, 34, 35, 40, 41, 42, 43, 46, 48, 50, 51}

# Character set 2, as (first code, value, step) ranges.
_SET2_RANGES = [
    (0, 0x20, 0), (33, 0x2D, 0), (38, 0x263A, 1), (40, 0x2660, 0), (41, 0x2663, 0),
    (42, 0x2665, 1), (44, 0x20, 0), (46, 0x25E6, 0), (47, 0x25D8, 0), (48, 0x2640, 0),
    (49, 0x2642, 0), (50, 0x266A, 1), (52, 0x263C, 0), (53, 0x25BA, 0), (54, 0x25C4, 0),
    (55, 0x2195, 0), (56, 0x25BC, 0), (57, 0x25B2, 0), (58, 0x203C, 0), (59, 0x20, 0),
    (62, 0x21A8, 0), (63, 0x2190, 1), (67, 0x20, 0), (68, 0x221F, 0), (69, 0x2194, 0),
    (70, 0x20, 0), (102, 0x2400, 1), (110, 0x2409, 1), (127, 0x2408, 0), (128, 0x241A, 1),
    (134, 0x20, 0), (139, 0x20AC, 0), (140, 0x02D8, 0), (141, 0x0141, 0), (142, 0x013D, 0),
    (143, 0x015A, 0), (144, 0x0160, 0), (145, 0x015E, 0), (146, 0x0164, 0), (147, 0x0179, 0),
    (148, 0x017D, 0), (149, 0x017B, 0), (150, 0x0105, 0), (151, 0x20, 0), (152, 0x0142, 0),
    (153, 0x013E, 0), (154, 0x015B, 0), (155, 0x02C7, 0), (156, 0x0161, 0), (157, 0x015F, 0),
    (158, 0x0165, 0), (159, 0x017A, 0), (160, 0x02DD, 0), (161, 0x017E, 0), (162, 0x017C, 0),
    (163, 0x0154, 0), (164, 0x0102, 0), (165, 0x0139, 0), (166, 0x0106, 0), (167, 0x010C, 0),
    (168, 0x0118, 0), (169, 0x011A, 0), (170, 0x010E, 0), (171, 0x0143, 0), (172, 0x0147, 0),
    (173, 0x0158, 0), (174, 0x016E, 0), (175, 0x0162, 0), (176, 0x0155, 0), (177, 0x013A, 0),
    (178, 0x0107, 0), (179, 0x0119, 0), (180, 0x011B, 0), (181, 0x010F, 0), (182, 0x0144, 0),
    (183, 0x0148, 0), (184, 0x0159, 0), (185, 0x016F, 0), (186, 0x0163, 0), (187, 0x02D9, 0),
    (188, 0x0103, 1), (190, 0x0150, 1), (192, 0x20, 0), (235, 0x0170, 1), (237, 0x20, 0),
    (243, 0x00A2, 0), (244, 0x00A5, 0), (245, 0x00BF, 0), (246, 0x00A1, 0), (247, 0x00BD, 0),
    (248, 0x00BC, 0), (249, 0x20, 0),
]


def _set2():
    table = []
    for code in range(256):
        first, value, step = [r for r in _SET2_RANGES if r[0] <= code][-1]
        table.append(value + step * (code - first))
    return table


SET2 = _set2()

DEFAULT_PALETTE = [0x000000, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00,
                   0xFFFFFF, 0x7F7F7F, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080,
                   0x808000, 0xC0C0C0, 0xC0C0C0, 0x7F7F7F]


def frame(t, payload=b""):
    return struct.pack("<BH", t, len(payload)) + payload


def text(s):
    b = s.encode("latin-1")
    return struct.pack("<h", len(b)) + b


def start(rows, cols, font_setting="", size=10, fixed=0, flags=None, keepalive=None,
          caret=(12, 16)):
    p = b"\0\0\0\0" + bytes([rows, cols]) + text("") + bytes(caret) + struct.pack("<h", 0)
    p += text(font_setting) + struct.pack("<h", size) + bytes([fixed]) + text("") + text("")
    if flags is not None:
        p += struct.pack("<h", flags)
        if keepalive is not None:
            p += struct.pack("<h", keepalive)
    return frame(6, p)


def write8(col, row, data):
    return frame(42, bytes([col, row]) + data)


def write16(col, row, s):
    return frame(50, bytes([col, row]) + s.encode("utf-16-le"))


def scroll(dx, dy, left, top, right, bottom):
    return frame(32, struct.pack("<bbBBBB", dx, dy, left, top, right, bottom))


def erase(left, top, right, bottom):
    return frame(41, bytes([left, top, right, bottom]))


def rendition(flags):
    return frame(31, struct.pack("<HH", flags & 0xFFFF, flags >> 16))


def colours(fg=None, bg=None):
    out = b""
    if fg is not None:
        out += frame(19, bytes([fg]))
    if bg is not None:
        out += frame(17, bytes([bg]))
    return out


def glyph(slot, code, width8, rows):
    return frame(30, bytes([slot, code, width8, len(rows)]) + bytes(rows))


def counted(stream):
    """Bytes of a plain stream that the client counts for acknowledgement."""
    n, i = 0, 0
    while i + 3 <= len(stream):
        t, ln = stream[i], struct.unpack_from("<H", stream, i + 1)[0]
        if t in HANDLED:
            n += ln + 3
        i += ln + 3
    return n


def blocks(plain, style, rng, sizes=(1, 5, 100, 3000, 20000), z=None):
    """The plain stream in compressed blocks cut at random places. In the
    zsync style the stream goes on across calls when `z` is given."""
    out = bytearray()
    if style == "zsync" and z is None:
        z = zlib.compressobj()
    elif style != "zsync":
        z = None
    i = 0
    while i < len(plain):
        n = min(len(plain) - i, rng.choice(sizes), 60000)
        piece = plain[i:i + n]
        i += n
        data = z.compress(piece) + z.flush(zlib.Z_SYNC_FLUSH) if z else zlib.compress(piece)
        out += frame(0x80, struct.pack("<H", len(piece)) + data)
    return bytes(out)


# Client messages: type -> exact payload length (None: checked by decode).
_CLIENT = {2: 0, 3: 2, 4: None, 7: 0, 9: 5, 10: 0, 15: 5, 44: 0, 45: 0, 49: None, 52: 0, 53: 0}


def decode(t, p):
    """One client message as a tuple; ValueError when it breaks the format."""
    if t not in _CLIENT:
        raise ValueError("unknown client message %d" % t)
    want = _CLIENT[t]
    if want is not None and len(p) != want:
        raise ValueError("message %d has %d bytes" % (t, len(p)))
    if t == 3 and p != b"\0\0":
        raise ValueError("close carries %r" % p)
    if t in (9, 15):
        ch, key, mods = struct.unpack("<HHB", p)
        return (t, ch, key, mods)
    if t == 4:
        hello = struct.unpack_from("<H", p, 0)[0]
        la = struct.unpack_from("<H", p, 2)[0]
        a = p[4:4 + la]
        lb = struct.unpack_from("<H", p, 4 + la)[0]
        b = p[6 + la:6 + la + lb]
        if len(p) != la + lb + 10:
            raise ValueError("hello length %d for texts %d and %d" % (len(p), la, lb))
        cls, hello2 = struct.unpack_from("<HH", p, 6 + la + lb)
        return (4, hello, a.decode("latin-1"), b.decode("latin-1"), cls, hello2)
    if t == 49:
        n = struct.unpack_from("<H", p, 0)[0]
        if len(p) != 2 + 2 * n:
            raise ValueError("paste of %d characters in %d bytes" % (n, len(p)))
        return (49, p[2:].decode("utf-16-le", "surrogatepass"))
    return (t,)


class Session:
    """One client connection: sends server messages, reads client ones."""

    def __init__(self, conn):
        self.conn = conn
        self.counted = 0
        self.acks = 0
        self.received = []  # decoded client messages other than 44
        self.z = zlib.compressobj()  # the one zsync stream of the connection

    def send_blocks(self, plain, style, rng, sizes=(1, 5, 100, 3000, 20000)):
        self.send(blocks(plain, style, rng, sizes, self.z), plain)

    def send(self, data, plain=None):
        """Sends bytes; `plain` is their uncompressed form when they are blocks."""
        self.counted += counted(plain if plain is not None else data)
        self.conn.sendall(data)

    def read(self, timeout=30):
        self.conn.settimeout(timeout)
        head = peerlib.read_exact(self.conn, 3)
        if head is None:
            return None
        t, ln = head[0], struct.unpack("<H", head[1:])[0]
        p = peerlib.read_exact(self.conn, ln) if ln else b""
        if p is None:
            raise ValueError("client message cut short")
        m = decode(t, p)
        if t == 44:
            self.acks += 1
        else:
            self.received.append(m)
        return m

    def wait_for(self, pred, what, timeout=30):
        end = time.time() + timeout
        while time.time() < end:
            try:
                m = self.read(max(0.1, end - time.time()))
            except socket.timeout:
                break
            if m is None:
                raise ValueError("client closed while waiting for %s" % what)
            if m[0] != 44 and pred(m):
                return m
        raise ValueError("timed out waiting for %s" % what)

    def barrier(self):
        """Ping; at the pong the client must have acknowledged every 4096
        counted bytes before the ping."""
        before = self.counted
        self.send(frame(51))
        self.wait_for(lambda m: m[0] == 52, "the pong")
        if self.acks != before // 4096:
            raise ValueError("acks %d for %d counted bytes" % (self.acks, before))


def dump_lines(total, rows=25, cols=80):
    """80-column lines at the bottom row, each followed by a scroll of the
    whole screen and the cursor's move, until `total` bytes."""
    out = bytearray()
    i = 0
    while len(out) < total:
        line = ("%08d " % i).encode() + bytes(48 + (i + k) % 64 for k in range(cols - 9))
        out += write8(0, rows - 1, line) + scroll(0, -1, 0, 1, cols, rows) + \
            frame(34, bytes([0, rows - 1]))
        i += 1
    return bytes(out)


def scenario_harness(s, args):
    """The Wine harness's session; each step waits for the client's go-ahead
    (a key release of F12 from the harness) where pixels are read."""
    hello = s.wait_for(lambda m: m[0] == 4, "the hello")
    # Hello value 1, the platform and the system version of the client
    # description, character-set class 2 (no 8-bit code page), hello value 1.
    if hello != (4, 1, "Win32", "6.1", 2, 1):
        raise ValueError("hello %r" % (hello,))
    s.send(start(25, 80, font_setting="TermFace", flags=0, keepalive=1))
    screen = colours(fg=1, bg=7) + erase(0, 0, 80, 25) + write8(0, 0, b"Red") + rendition(1) + colours(fg=12) + \
        write8(4, 0, b"Bold") + rendition(64) + write8(9, 0, b"Rev") + rendition(0) + \
        colours(fg=0, bg=7)
    box = frame(24, b"\1") + write8(0, 14, bytes([218, 196, 191])) + \
        write8(0, 15, bytes([179, 32, 179])) + write8(0, 16, bytes([192, 196, 217])) + \
        frame(24, b"\0")
    g = glyph(3, 65, 1, [0xFF, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0xFF]) + frame(24, b"\3") + \
        write8(20, 14, b"A") + frame(24, b"\0")
    wide = frame(16, bytes([2, 12])) + write8(0, 12, b"WIDE")
    rows = b"".join(write8(0, y, ("row%d" % y).encode()) for y in range(5, 10))
    plain = screen + box + g + wide + rows + scroll(0, -2, 0, 5, 80, 10)
    if args.style == "plain":
        s.send(plain)
    else:
        s.send_blocks(plain, args.style, random.Random(5), (7, 50, 200))
    s.barrier()
    s.wait_for(lambda m: m[0] == 15 and m[2] == 123, "F12: the screen was read", 120)
    # Keys typed by the harness, each press then release.
    s.wait_for(lambda m: m[0] == 15 and m[2] == 122, "F11: the keys are done")
    keys = [m for m in s.received if m[0] in (9, 15) and m[2] not in (122, 123)]
    peerlib.write_whole(args.result_file + ".keys", "".join("%d %d %d %d\n" % m for m in keys))
    # One second keep-alives.
    s.received.clear()
    s.wait_for(lambda m: m[0] == 45, "a keep-alive", timeout=5)
    s.wait_for(lambda m: m[0] == 45, "a second keep-alive", timeout=5)
    # A megabyte with acks checked at the barrier.
    big = dump_lines(1 << 20)
    s.send_blocks(big, "zsync", random.Random(1))
    s.barrier()
    s.send(frame(5, bytes([args.status])))
    return "ok"


def scenario_dump(s, args):
    s.wait_for(lambda m: m[0] == 4, "the hello")
    s.send(start(25, 80, flags=0, keepalive=0))
    s.barrier()
    data = dump_lines(args.mb << 20)
    wire = data
    if args.style != "plain":
        wire = blocks(data, "zsync", random.Random(2), (16000,), s.z)
    t0 = time.time()  # the stream is ready: only the transfer is timed
    s.send(wire, data)
    s.barrier()
    took = time.time() - t0
    s.send(frame(5, b"\0"))
    return "ok %.3f" % took


# The character application's screen: a coloured banner, a box drawn with
# slot 1 (code page 437 line characters), two lines of text and a prompt.
APP_ROWS, APP_COLS = 25, 80
PROMPT_ROW, ECHO_ROW, HELD_ROW = 6, 7, 20
TEXT_LINES = {10: b"alpha beta", 11: b"gamma delta"}
KEY_LEFT, KEY_RIGHT, KEY_INSERT, KEY_DELETE = 37, 39, 0x9B, 0x7F


def app_screen():
    banner = colours(fg=7, bg=4) + erase(0, 0, APP_COLS, 1) + \
        write8(2, 0, b"Halvanet character application") + colours(fg=0, bg=7)
    box = frame(24, b"\1") + write8(40, 2, bytes([218] + [196] * 10 + [191])) + \
        write8(40, 3, bytes([179] + [32] * 10 + [179])) + \
        write8(40, 4, bytes([192] + [196] * 10 + [217])) + frame(24, b"\0") + \
        write8(42, 3, b"slot one")
    lines = b"".join(write8(0, row, t) for row, t in sorted(TEXT_LINES.items()))
    return colours(fg=0, bg=7) + erase(0, 0, APP_COLS, APP_ROWS) + banner + box + lines + \
        prompt(b"")


def prompt(line, cursor=None):
    """The prompt row showing the line, the cursor after it (or at `cursor`)."""
    at = len(line) if cursor is None else cursor
    return erase(0, PROMPT_ROW, APP_COLS, PROMPT_ROW + 1) + write8(0, PROMPT_ROW, b"> " + line) + \
        frame(34, bytes([2 + at, PROMPT_ROW]))


class LineEditor:
    """The prompt's line: characters overwrite, or push the rest right after
    Insert; Delete takes the character at the cursor; Left and Right move."""

    def __init__(self):
        self.line, self.cursor, self.inserting = bytearray(), 0, False

    def key(self, ch, key):
        """A key press; returns the finished line at Enter, else None."""
        if key == KEY_LEFT:
            self.cursor = max(0, self.cursor - 1)
        elif key == KEY_RIGHT:
            self.cursor = min(len(self.line), self.cursor + 1)
        elif key == KEY_INSERT:
            self.inserting = not self.inserting
        elif key == KEY_DELETE:
            del self.line[self.cursor:self.cursor + 1]
        elif ch == 13:
            done, self.line, self.cursor = bytes(self.line), bytearray(), 0
            return done
        elif ch == 8 and self.cursor:
            self.cursor -= 1
            del self.line[self.cursor]
        elif 32 <= ch < 127 and len(self.line) < APP_COLS - 3:
            if self.inserting or self.cursor == len(self.line):
                self.line.insert(self.cursor, ch)
            else:
                self.line[self.cursor] = ch
            self.cursor += 1
        return None


def units(text):
    """UTF-16 code units of a text (a pair counts two)."""
    return text.encode("utf-16-le", "surrogatepass")


def paste_rules_kept(pieces):
    """Each piece has at most 80 units and no LF before its end; one that
    ends early ends with LF, or lacks only the pair that starts the next;
    no piece ends inside a surrogate pair."""
    for i, p in enumerate(pieces):
        u = units(p)
        n, last = len(u) // 2, struct.unpack_from("<H", u, len(u) - 2)[0] if u else 0
        if not n or n > 80 or "\n" in p[:-1] or 0xD800 <= last <= 0xDBFF:
            return False
        early = i < len(pieces) - 1 and n < 80 and not p.endswith("\n")
        if early and not (n == 79 and ord(pieces[i + 1][0]) > 0xFFFF):
            return False
    return True


def serve_app(s, log=print, stop=None, lifetime=3600):
    """The character application on a session whose hello is still to come:
    typed lines are echoed in red below the prompt; the first hold (7) gets
    one line of output at once; pasted text is gathered between 7 and 2.
    Events go to log(line): "line TEXT", "held" (output sent while the
    client held it), "paste PIECES LONGEST BRACKETED RULES-KEPT SHA256"
    (the digest of the joined text in UTF-8). Runs until the client
    closes, stop() holds or the lifetime ends."""
    s.wait_for(lambda m: m[0] == 4, "the hello")
    s.send(start(APP_ROWS, APP_COLS, font_setting="TermFace", flags=0, keepalive=0))
    s.send(app_screen())
    log("application shown")
    editor, held, pieces, bracketed, holding = LineEditor(), False, [], False, False
    end = time.time() + lifetime
    while time.time() < end and not (stop and stop()):
        try:
            m = s.read(0.2)
        except socket.timeout:
            continue
        if m is None:
            break
        if m[0] == 9:
            done = editor.key(m[1], m[2])
            if done is not None:
                s.send(erase(0, ECHO_ROW, APP_COLS, ECHO_ROW + 1) + colours(fg=1) +
                       write8(0, ECHO_ROW, done) + colours(fg=0))
                log("line " + done.decode("latin-1"))
            s.send(prompt(bytes(editor.line), editor.cursor))
        elif m[0] == 7:
            holding = True
            if not held:
                held = True
                s.send(write8(0, HELD_ROW, b"output while held"))
                log("held")
        elif m[0] == 49:
            bracketed = bracketed or holding
            pieces.append(m[1])
        elif m[0] == 2:
            holding = False
            if pieces:
                digest = hashlib.sha256("".join(pieces).encode("utf-8", "surrogatepass"))
                log("paste %d %d %d %d %s" % (len(pieces), max(len(units(p)) // 2 for p in pieces),
                                              int(bracketed), int(paste_rules_kept(pieces)),
                                              digest.hexdigest()))
                pieces, bracketed = [], False
    return "ok"


def serve(args):
    srv = peerlib.listen_local(1)
    peerlib.publish_port(args.port_file, srv.getsockname()[1])
    srv.settimeout(args.lifetime)
    try:
        conn, _ = srv.accept()
    except socket.timeout:
        return
    s = Session(conn)
    try:
        result = {"harness": scenario_harness, "dump": scenario_dump}[args.scenario](s, args)
    except (ValueError, OSError) as e:
        result = "error: %s" % e
    peerlib.write_whole(args.result_file, result + "\n")
    try:
        while s.read(5) is not None:
            pass
    except (ValueError, OSError):
        pass
    conn.close()


def gen(out):
    os.makedirs(out, exist_ok=True)
    base = start(25, 80) + colours(fg=2, bg=4) + write8(0, 0, b"hi") + rendition(0x4D) + \
        write16(2, 1, "\u2500x") + scroll(-1, 1, 2, 2, 40, 10) + erase(0, 0, 80, 3) + \
        glyph(1, 200, 3, [1, 2, 3, 4]) + frame(16, b"\x01\x05") + frame(48, b"\x03\x10\x20\x30") + \
        frame(33, b"\x02\x0e\0\0") + frame(22, b"\x0a\x28") + frame(51) + frame(5, b"\0")
    rng = random.Random(3)
    samples = {
        "plain": base,
        "zsync": blocks(base, "zsync", rng, (9, 40)),
        "zblock": blocks(base, "zblock", rng, (9, 40)),
        "lines": dump_lines(3000),
        "short": frame(6, b"\0\0\0\0\x05") + frame(30, b"\1") + frame(43, b"\xff\xff"),
    }
    for name, data in samples.items():
        for flags in (0, 0x21):
            with open(os.path.join(out, "%s-%d" % (name, flags)), "wb") as f:
                f.write(bytes([flags, 7]) + data)


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="mode", required=True)
    g = sub.add_parser("gen")
    g.add_argument("--out", required=True)
    sv = sub.add_parser("serve")
    sv.add_argument("scenario")
    sv.add_argument("--port-file", required=True)
    sv.add_argument("--result-file", required=True)
    sv.add_argument("--lifetime", type=float, default=120)
    sv.add_argument("--style", default="plain")
    sv.add_argument("--status", type=int, default=0)
    sv.add_argument("--mb", type=int, default=30)
    args = ap.parse_args()
    if args.mode == "gen":
        gen(args.out)
    else:
        serve(args)


if __name__ == "__main__":
    main()
