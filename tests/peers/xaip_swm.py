"""Seamless sessions for the fake X-AIP server: a session in seamless mode
(UTF-8 titles) with a main window, a transient owned by it, a window kept
off the taskbar and an override window, all mapped. The client then keeps
the connection until it has looked at its windows; the server requires the
client's answers to the session start and its notice for the server's
seamless information.

swm-wm: the same windows with the server's frame metrics and the main
window's styles; the server then plays its window manager (see
window_manager) until the client goes, and requires both window notices
of every window.

swm-cycles (--count N): a seamless session, then N times a window created,
mapped and destroyed, then window 2 created and mapped (the client's mark
of the end) and ping 9; the client closes once it answered."""

import struct
import time

# Session flags: multi-window (0x2) and UTF-8 titles (0x80); flags 2:
# seamless (0x1).
FLAGS, FLAGS2 = 0x2 | 0x80, 0x1

TITLES = {1: "Größe ✓ main", 2: "Größe ✓ transient", 3: "Größe ✓ tool"}


def _win(i, x, y, w, h, style, owner_mode=0, owner=0, frame_flags=0):
    return (15, struct.pack("<BhhHHBBBBI", i, x, y, w, h, style, owner_mode, owner, 0,
                            frame_flags))


def _title(i, text):
    b = text.encode("utf-8")
    return (53, bytes([i]) + struct.pack("<H", len(b)) + b)


def script():
    """(requests, client message types the server requires)."""
    m = [(48, struct.pack("<HHHHBH", FLAGS, 0, 640, 480, 24, FLAGS2))]
    deco = 4 | 8 | 16 | 32 | 64
    m += [_win(1, 100, 100, 300, 200, deco), _win(2, 150, 150, 200, 120, deco, 0, 1),
          _win(3, 420, 100, 150, 100, deco, 0, 0, 2), _win(4, 200, 350, 120, 60, 0)]
    m += [_title(i, t) for i, t in TITLES.items()]
    m += [(17, bytes([i, 1])) for i in (1, 2, 3, 4)]
    m.append((50, struct.pack("<H", 7)))
    return m, [29, 39]


def scenario(name, conn, args, peer):
    """Runs a seamless scenario; peer is the xaip_peer module."""
    c = peer.Client(conn)
    if name == "swm-wm":
        return scenario_wm(conn, c, peer), c
    if name == "swm-cycles":
        return scenario_cycles(conn, c, peer, int(args.get("--count", "200"))), c
    if name != "swm-windows":
        return ["unknown scenario " + name], c
    msgs, required = script()
    conn.sendall(peer.stream_plain(msgs))
    c.wait(lambda: 7 in c.pings, 30)
    problems = [] if 7 in c.pings else ["the ping was not answered"]
    problems += peer.check_session(c, required)
    swm = peer.hexs(b"qvl-swm-")
    notices = [l for l in c.lines if l.startswith("39 ") and swm in l]
    # The session start asks for "qvl-swm-serverinfo".
    if not notices:
        problems.append("no seamless property notice")
    # The client closes once it has looked at its windows.
    c.wait(lambda: False, 60)
    return problems, c


# The scripted window manager of "swm-wm": the server's frame metrics and
# the main window's styles (caption, sizing border, system menu, minimise
# and maximise boxes), as a window manager on the server would give them.
SERVERINFO = b"4,4,20,18,16"
MAIN_STYLES = b"%d,0,0" % (0x00C00000 | 0x00040000 | 0x00080000 | 0x00020000 | 0x00010000)


def _fields(line):
    """A property line "17 window name value" as three byte strings."""
    parts = line.split()
    return tuple(b"" if p == "-" else bytes.fromhex(p) for p in parts[1:4])


def notices_missing(lines, peer):
    """Window notices the engine owes: "qvl-swm-windowinfo" and
    "qvl-swm-focusinfo" once each for every window created."""
    seen = [tuple(l.split()[1:3]) for l in lines if l.startswith("39 ")]
    problems = []
    for i in (1, 2, 3, 4):
        for name in (b"qvl-swm-windowinfo", b"qvl-swm-focusinfo"):
            n = seen.count((peer.hexs(str(i).encode()), peer.hexs(name)))
            if n != 1:
                problems.append("%d notices of %s for window %d" % (n, name.decode(), i))
    return problems


def window_manager(conn, c, peer, seconds):
    """Answers the client as the server's window manager would until the
    client goes: a frame the user moved or sized (message 35) is configured
    where the user put it; a "61728" restore request is answered with a show;
    a press and release of the left button on a frame's left border (no
    motion between) is a drag of that border, answered with the configure
    it asked for. Returns the problems seen."""
    problems = []
    done, pressed = 0, None
    geometry = {}
    end = time.time() + seconds

    def configure(w, x, y, width, height):
        geometry[w] = (x, y, width, height)
        conn.sendall(peer.stream_plain(
            [(18, struct.pack("<BhhHHBH", w, x, y, width, height, 0, 0))]))

    while not c.closed and time.time() < end:
        c.poll(0.05)
        for line in c.lines[done:]:
            f = line.split()
            if f[0] == "17":
                window, name, value = _fields(line)
                if name == b"qvl-swm-syscommand" and value == b"61728":
                    conn.sendall(peer.stream_plain([(17, bytes([int(window), 1]))]))
            elif f[0] == "35":
                configure(*map(int, [f[1]] + f[6:10]))
            elif f[0] == "3" and f[2] == "1":
                pressed = f
            elif f[0] == "5" and pressed:
                problems.append("motion during a border drag: " + line)
            elif f[0] == "4" and pressed:
                w, px, dx = int(pressed[1]), int(pressed[3]), int(f[3]) - int(pressed[3])
                pressed = None
                if w not in geometry:
                    problems.append("a drag on a window never placed")
                    continue
                x, y, width, height = geometry[w]
                if dx and x <= px < x + 4:
                    configure(w, x + dx, y, width - dx, height)
        done = len(c.lines)
    return problems


def _masked_icon(i):
    """A 16 by 16 icon with a mask: a red square on a cut-out ring."""
    image = b"\0\0\xff\0" * 256
    mask = b"\x3c\x00\x7e\x00" * 8
    return (67, bytes([i, 2]) + struct.pack("<HHBBH", 16, 16, 24, 0, len(image)) + image +
            struct.pack("<HHBH", 16, 16, 0, len(mask)) + mask)


def scenario_wm(conn, c, peer):
    msgs, _ = script()
    # The main window is drawn whole by the server: no decoration of its
    # own, so its border is the server's.
    msgs[1] = _win(1, 100, 100, 300, 200, 2)
    msgs.append(_masked_icon(1))
    # The server's clipboard holds text.
    name = b"STRING"
    msgs.append((63, struct.pack("<HI", 1, 7) + struct.pack("<h", len(name)) + name + b"\0"))
    msgs.insert(1, peer._prop(1, b"qvl-swm-serverinfo", SERVERINFO))
    msgs.append(peer._prop(1, b"qvl-swm-windowinfo", MAIN_STYLES, b"1"))
    conn.sendall(peer.stream_plain(msgs))
    c.wait(lambda: 7 in c.pings, 30)
    problems = [] if 7 in c.pings else ["the ping was not answered"]
    problems += peer.check_session(c, [29, 39])
    problems += window_manager(conn, c, peer, 240)
    return problems + notices_missing(c.lines, peer)


def scenario_cycles(conn, c, peer, count):
    msgs = [(48, struct.pack("<HHHHBH", FLAGS, 0, 640, 480, 24, FLAGS2))]
    for _ in range(count):
        msgs += [_win(1, 100, 100, 300, 200, 2), (17, bytes([1, 1])), (16, bytes([1]))]
    msgs += [_win(2, 100, 100, 300, 200, 2), (17, bytes([2, 1])), (50, struct.pack("<H", 9))]
    conn.sendall(peer.stream_plain(msgs))
    c.wait(lambda: 9 in c.pings, 120)
    problems = [] if 9 in c.pings else ["the ping was not answered"]
    c.wait(lambda: False, 120)
    return problems
