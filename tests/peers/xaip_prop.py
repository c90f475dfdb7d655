"""Property scenarios of the fake X-AIP server (xaip_peer.py serve prop-...).

prop-plugins: a single-window session, then "qvl_call_client_cmd" commands
that initialise the plug-in library plug_std.dll under two instance names,
call it with escaped arguments and without any, terminate one instance, and
ask for a library by a UNC name and by a name that exists nowhere the client
may load from; then ping 5. The client must answer every command with
"qvl_call_client_reply" on an empty window text, in order: 0, 0, 1002, -1,
0, 1, 1.
"""

import struct

import xaip_peer as xp

COMMANDS = [
    (b"INITIALIZE keep plug_std.dll", b"0"),
    (b"INITIALIZE a plug_std.dll", b"0"),
    (b"CALL a x+y %e9%41", b"1002"),
    (b"CALL a", b"-1"),
    (b"TERMINATE a", b"0"),
    (b"INITIALIZE u \\\\127.0.0.1\\share\\plug_std.dll", b"1"),
    (b"INITIALIZE p plug_planted.dll", b"1"),
]


def replies(c):
    out = []
    for line in c.lines:
        parts = line.split()
        if parts[0] != "17" or len(parts) != 4:
            continue
        window, name, value = (b"" if p == "-" else bytes.fromhex(p) for p in parts[1:])
        if name == b"qvl_call_client_reply":
            out.append((window, value))
    return out


def scenario(name, c, conn, args):
    if name != "prop-plugins":
        return ["unknown scenario " + name], c
    msgs = [(48, struct.pack("<HHHHBH", 0, 0, 320, 240, 24, 0))]
    msgs += [xp._prop(1, b"qvl_call_client_cmd", cmd) for cmd, _ in COMMANDS]
    msgs.append((50, xp.u16(5)))
    conn.sendall(xp.stream_plain(msgs))
    c.wait(lambda: 5 in c.pings and len(replies(c)) >= len(COMMANDS), 30)
    got = replies(c)
    want = [(b"", value) for _, value in COMMANDS]
    return ([] if got == want else ["replies %s, wanted %s" % (got, want)]), c
