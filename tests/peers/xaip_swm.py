"""Seamless sessions for the fake X-AIP server: a session in seamless mode
(UTF-8 titles) with a main window, a transient owned by it, a window kept
off the taskbar and an override window, all mapped. The client then keeps
the connection until it has looked at its windows; the server requires the
client's answers to the session start and its notice for the server's
seamless information."""

import struct

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
