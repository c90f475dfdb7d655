"""Multi-window scenario of the fake X-AIP server ("serve multi").

A session in multi-window mode (session flag 0x2) on a 640x480 screen at
depth 24 with three top-level windows: 1 and 2 with caption and borders
(style 0x1C), 3 an override window (no decoration). Window 1 gets a title, an icon title, size hints
(minimum 100x80, maximum 400x300) and a 16x16 icon; window 2 a title.
All three are shown, then window 2 is put directly below window 1, and
ping 1 marks the end of that part.

The client's user then acts on the frames; the server waits (30 s) for
what the protocol says each action sends:
  - window 1 moved by a drag: message 35 for window 1, after the delay;
  - window 2 minimised and restored: 34 (2, 5, 1), then 34 (2, 5, 0);
  - window 2 closed by its user: 34 (2, 2, 2);
  - window 2 brought in front of window 1: 36 for window 2.
Then a pointer grab on window 1 begins (request 60, flags 3) with ping 2,
ends (flags 2) with ping 3, all windows are destroyed and ping 4 ends the
session. Required besides: 38 for each window, 38 of window 3 without
borders, and every ping answered.
"""
import struct


def icon_pixels():
    """16x16 at depth 24: rows of 3-byte pixels, a red cross on blue."""
    out = bytearray()
    for y in range(16):
        for x in range(16):
            out += bytes((0, 0, 255) if x in (7, 8) or y in (7, 8) else (255, 0, 0))
    return bytes(out)


def requests(P):
    m = [(48, struct.pack("<HHHHBH", 0x2, 0, 640, 480, 24, 0))]
    m += [P._win(1, 20, 30, 200, 150, style=0x1C), P._win(2, 260, 40, 160, 120, style=0x1C),
          P._win(3, 100, 300, 80, 40, style=0)]
    m += [(53, bytes([1]) + P.u16(5) + b"first"), (56, bytes([1]) + P.u16(2) + b"fi"),
          (53, bytes([2]) + P.u16(6) + b"second"),
          (55, struct.pack("<BHHHH", 1, 100, 80, 400, 300)),
          (54, bytes([1]) + P.u16(16) + P.u16(16) + bytes([24, 0]) + icon_pixels())]
    m += [(17, bytes([i, 1])) for i in (1, 2, 3)]
    m.append((65, bytes([1, 1, 2])))
    m.append((50, P.u16(1)))
    return m


def after(lines, start, prefix):
    return any(line.startswith(prefix) for line in lines[start:])


def scenario(P, c, conn, args):
    conn.sendall(P.stream_plain(requests(P)))
    problems = []
    if not c.wait(lambda: 1 in c.pings, 30):
        return ["ping 1 not answered"], c
    start = len(c.lines)
    wanted = ["35 1 ", "34 2 5 1", "34 2 5 0", "34 2 2 2", "36 2 "]
    c.wait(lambda: all(after(c.lines, start, w) for w in wanted), 30)
    for w in wanted:
        if not after(c.lines, start, w):
            problems.append("no '%s' after the user's actions" % w.strip())
    minimised = [i for i, line in enumerate(c.lines) if line.startswith("34 2 5 1")]
    restored = [i for i, line in enumerate(c.lines) if line.startswith("34 2 5 0")]
    if minimised and restored and restored[-1] < minimised[0]:
        problems.append("restored before minimised")
    for ping, flags in ((2, 3), (3, 2)):
        conn.sendall(P.frame(60, bytes([1, flags])) + P.frame(50, P.u16(ping)))
        if not c.wait(lambda: ping in c.pings, 20):
            problems.append("ping %d not answered" % ping)
        # The client looks at the grab before the next step.
        c.wait(lambda: False, 0.5)
    conn.sendall(b"".join(P.frame(16, bytes([i])) for i in (1, 2, 3)) + P.frame(50, P.u16(4)))
    if not c.wait(lambda: 4 in c.pings, 20):
        problems.append("ping 4 not answered")
    created = [line.split() for line in c.lines if line.startswith("38 ")]
    if sorted(int(f[1]) for f in created) != [1, 2, 3]:
        problems.append("38 for windows %s" % [f[1] for f in created])
    for f in created:
        if f[1] == "3" and f[2:] != ["0", "0", "0", "0"]:
            problems.append("override window with borders %s" % f[2:])
    c.wait(lambda: False, 0.2)
    return problems, c
