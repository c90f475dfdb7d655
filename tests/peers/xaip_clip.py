"""Clipboard scenarios of the fake X-AIP server (tests/peers/xaip_peer.py
hands every scenario named clip-* to scenario() below).

Each starts a session (request 48) with the server name --name (default
"srv"), owner block --block and session flags 2 --flags2 (4: the extended
clipboard), then:
  clip-serve:  announces one format --format (STRING or UNICODE; request 63)
               and answers every request for it (message 41) with the text of
               --text-file (UTF-8) as request-52 chunks: STRING as ISO 8859-15
               (the euro is 0xA4), UNICODE as UTF-16LE. Until the client
               closes; fine when at least one request came.
  clip-local:  waits for message 42 listing --format, requires a focus-in
               (27) after it, then asks for it (request 64) and requires the
               text of --text-file back as message-32 chunks (flags 1 on the
               first, 2 on the last, at most 16384 bytes each).
  clip-owner:  after the first key press (23) announces "STRING" and answers
               message 41 with the text, chunk flag 4 and the requester as
               the owner id; fine when the requester's block is --peer-block.
  clip-asker:  waits for 42 with "STRING" and the block --peer-block, asks
               for it and requires the text back as chunks with flag 4.
  clip-quiet:  fine when no 42 arrives before the client closes.
  clip-drop:   announces "STRING" and closes the connection at the first
               key press.
"""

import struct

CHUNK = 16000


def _frame(t, p):
    return struct.pack("<BH", t, len(p)) + p


def _text16(b):
    return struct.pack("<h", len(b)) + b


def _encode(text, fmt):
    return text.encode("iso8859-15") if fmt == "STRING" else text.encode("utf-16-le")


def _session(conn, args):
    name = args.get("--name", "srv").encode("utf-8")
    block = args.get("--block", "").encode("latin-1")
    flags2 = int(args.get("--flags2", "0"))
    p = struct.pack("<HHHHBH", 0, 0, 64, 48, 24, flags2) + b"\0\0"
    p += _text16(name) + struct.pack("<H", len(block)) + block
    conn.sendall(_frame(48, p))
    return flags2


def _announce(conn, fmt, fid=7):
    b = fmt.encode("latin-1")
    conn.sendall(_frame(63, struct.pack("<H", 1) + struct.pack("<I", fid) + _text16(b) + b"\0"))


def _send_data(conn, data, fmt, ids, flags=0):
    """Request-52 chunks: ids is None without the extended clipboard, else
    (format id, owner id)."""
    at, first = 0, True
    while first or at < len(data):
        piece = data[at:at + CHUNK]
        f = flags | (1 if first else 0) | (2 if at + CHUNK >= len(data) else 0)
        p = bytes([f])
        if first:
            p += struct.pack("<I", len(data))
            if ids is not None:
                p += struct.pack("<II", *ids)
            p += _text16(fmt.encode("latin-1"))
        p += _text16(piece)
        conn.sendall(_frame(52, p))
        at += CHUNK
        first = False


def _seen(c, start, prefix):
    return [l for l in c.lines[start:] if l.startswith(prefix)]


def _chunks(lines):
    """(flags of each message 32, the data joined) of decoded lines."""
    flags, data = [], b""
    for l in lines:
        parts = l.split(" ")
        flags.append(int(parts[1]))
        data += bytes.fromhex(parts[-1]) if parts[-1] != "-" else b""
    return flags, data


def _complete(c, start):
    lines = _seen(c, start, "32 ")
    return lines and int(lines[-1].split(" ")[1]) & 2


def _check_chunks(flags, data, want, pass_on):
    problems = []
    if data != want:
        problems.append("data of %d bytes, wanted %d" % (len(data), len(want)))
    if not flags or not flags[0] & 1 or not flags[-1] & 2:
        problems.append("chunk flags %s" % flags[:4])
    if pass_on and any(not f & 4 for f in flags):
        problems.append("chunks without flag 4: %s" % flags[:4])
    if not pass_on and any(f & 4 for f in flags):
        problems.append("chunks with flag 4")
    return problems


def scenario(name, c, conn, args):
    text = ""
    if "--text-file" in args:
        with open(args["--text-file"], encoding="utf-8", newline="") as f:
            text = f.read()
    fmt = args.get("--format", "STRING")
    ext = _session(conn, args) & 4
    if name == "clip-serve":
        _announce(conn, fmt)
        served = 0
        while not c.closed:
            c.poll(0.2)
            for _ in _seen(c, 0, "41 ")[served:]:
                _send_data(conn, _encode(text, fmt), fmt, (7, 0) if ext else None)
                served += 1
        return ([] if served else ["no request for the data"]), c
    if name == "clip-local":
        want = fmt.encode("latin-1").hex()
        c.wait(lambda: any(want in l.split(" ")[2:] for l in _seen(c, 0, "42 ")), 30)
        announced = [i for i, l in enumerate(c.lines) if l.startswith("42 ") and want in l]
        if not announced:
            return ["no 42 with %s: %s" % (fmt, _seen(c, 0, "42 ")[:3])], c
        problems = []
        if not any(l.startswith("27 ") for l in c.lines[announced[0]:]):
            c.wait(lambda: any(l.startswith("27 ") for l in c.lines[announced[0]:]), 5)
            if not any(l.startswith("27 ") for l in c.lines[announced[0]:]):
                problems.append("42 came without the focus-in after it")
        start = len(c.lines)
        conn.sendall(_frame(64, _text16(fmt.encode("latin-1"))))
        c.wait(lambda: _complete(c, start), 60)
        flags, data = _chunks(_seen(c, start, "32 "))
        problems += _check_chunks(flags, data, _encode(text, fmt), False)
        if any(len(l.split(" ")[-1]) > 2 * 16384 for l in _seen(c, start, "32 ")):
            problems.append("a chunk above 16384 bytes")
        return problems, c
    if name == "clip-owner":
        c.wait(lambda: _seen(c, 0, "23 "), 60)
        _announce(conn, "STRING", 31)
        c.wait(lambda: _seen(c, 0, "41 "), 60)
        asks = _seen(c, 0, "41 ")
        if not asks:
            return ["no request came"], c
        _, fid, nm, rid, blk = asks[0].split(" ")
        _send_data(conn, _encode(text, "STRING"), "STRING", (int(fid), int(rid)), 4)
        c.wait(lambda: False, 1)
        want_blk = args.get("--peer-block", "").encode("latin-1").hex() or "-"
        if blk != want_blk or int(rid) == 0:
            return ["request names %s %s" % (rid, blk)], c
        return [], c
    if name == "clip-asker":
        blk = args.get("--peer-block", "").encode("latin-1").hex()
        c.wait(lambda: any(l.endswith(" " + blk) for l in _seen(c, 0, "42 ")), 60)
        if not _seen(c, 0, "42 "):
            return ["no 42 came"], c
        start = len(c.lines)
        conn.sendall(_frame(64, _text16(b"STRING")))
        c.wait(lambda: _complete(c, start), 60)
        flags, data = _chunks(_seen(c, start, "32 "))
        return _check_chunks(flags, data, _encode(text, "STRING"), True), c
    if name == "clip-quiet":
        c.wait(lambda: False, 120)
        return (["42 came: %s" % _seen(c, 0, "42 ")[:1]] if _seen(c, 0, "42 ") else []), c
    if name == "clip-drop":
        _announce(conn, "STRING")
        c.wait(lambda: _seen(c, 0, "23 "), 60)
        return [], c
    return ["unknown scenario " + name], c
