#!/usr/bin/python3
"""The server side of drive mapping (channel type 12, file requests of kind 1)
against a client that sees the folder ROOT as BASE (a path on a fixed drive
of its own, such as "Z:\\tmp\\x"): the drive list, hostile
paths (each refused with 13, the folder unchanged), a file made, written,
read, listed, renamed and deleted, then a file and a directory search left
open when the connection ends.

usage: cdm_peer.py --root ROOT --base BASE --port-file F --result-file R [--lifetime S]
"""
import argparse
import os
import socket
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402
from io_peer import IOServer, ProtocolError, KIND_FILE  # noqa: E402

# Under BASE, or on its drive but not in the "X:\\..." form.
HOSTILE = ["\\nul", "\\x\\nul.txt", "\\com1", "\\Con .txt", "\\a.txt:s", "\\lpt1.log"]
ELSEWHERE = ["\\\\.\\C:", "\\\\?\\unix\\tmp\\x", "\\\\127.0.0.1\\c$\\x", "rel.txt",
             "\\rooted.txt", "Q:\\unlisted"]


def P(text):
    b = text.encode("utf-8")
    return struct.pack("<I", len(b)) + b


class Files:
    def __init__(self, srv):
        self.srv, self.stream = srv, 3

    def reply(self, code, payload):
        """The whole reply: (code, body after the header)."""
        self.srv.send_request(self.stream, KIND_FILE, code, payload)
        while True:
            t, flags, stream, data = self.srv.read_frame()
            if t == 7:
                return struct.unpack_from("<I", data, 12)[0], data[20:]

    def status(self, code, payload):
        c, body = self.reply(code, payload)
        return struct.unpack_from("<I", body, 0)[0] if c == 200 else ("code", c)


def tree(root):
    out = {}
    for d, dirs, files in os.walk(root):
        for n in dirs + files:
            p = os.path.join(d, n)
            out[os.path.relpath(p, root)] = os.path.getsize(p) if os.path.isfile(p) else -1
    return out


def scenario(conn, root, base):
    srv = IOServer(conn)
    srv.handshake()
    f = Files(srv)
    problems = []

    def want(what, got, expected):
        if got != expected:
            problems.append("%s: %r, want %r" % (what, got, expected))
            sys.stderr.write(problems[-1] + "\n")

    code, body = f.reply(0, b"")
    want("list drives code", code, 100)
    at = 0
    for _ in range(3):
        n = struct.unpack_from("<I", body, at)[0]
        at += 4 + n
    count = body[at]
    at += 4
    drives = []
    for _ in range(count):
        kind = struct.unpack_from("<H", body, at)[0]
        n = struct.unpack_from("<I", body, at + 4)[0]
        drives.append((kind, body[at + 8:at + 8 + n].decode()))
        at += 8 + n
    if (1, base[:3]) not in drives:
        problems.append("%s not listed as a fixed drive: %r" % (base[:3], drives))

    before = tree(root)
    for h in [base + h for h in HOSTILE] + ELSEWHERE + [base[:2] + "rel.txt"]:
        for code, payload in [(11, P(h) + struct.pack("<II", 0x42, 0)), (1, P(h) + b"\0" * 4),
                              (2, P(h)), (7, P(h) + b"\0" * 4), (15, P(h)),
                              (18, P(base + "\\keep.txt") + P(h))]:
            want("request %d on %r" % (code, h), f.status(code, payload), 13)
    want("tree after hostile paths", tree(root), before)

    want("mkdir", f.status(7, P(base.replace("\\", "/") + "/sub") + b"\0" * 4), 0)
    want("mkdir again", f.status(7, P(base.replace("\\", "/") + "/sub") + b"\0" * 4), 17)
    code, body = f.reply(11, P(base + "/sub/f.txt") + struct.pack("<II", 0x42, 0))
    want("open code", code, 111)
    slot = struct.unpack_from("<I", body, 0)[0]
    code, body = f.reply(14, struct.pack("<II", slot, 11) + b"hello world")
    want("write", (code, body), (114, struct.pack("<I", 11)))
    code, body = f.reply(16, struct.pack("<IqI", slot, -5, 2))
    want("seek from the end", (code, body), (116, struct.pack("<Q", 6)))
    code, body = f.reply(13, struct.pack("<II", slot, 100))
    want("read", (code, body), (113, struct.pack("<I", 5) + b"world"))
    want("close", f.status(12, struct.pack("<I", slot)), 0)
    want("tree with the file", tree(root).get(os.path.join("sub", "f.txt")), 11)
    code, body = f.reply(1, P(base + "\\sub\\f.txt") + b"\0" * 4)
    st = os.stat(os.path.join(root, "sub", "f.txt"))
    want("stat size and mtime", (code, struct.unpack_from("<Q", body, 0)[0],
                                 struct.unpack_from("<q", body, 24)[0]), (101, 11, int(st.st_mtime)))
    code, body = f.reply(2, P(base + "\\sub"))
    dslot = struct.unpack_from("<I", body, 0)[0]
    code, body = f.reply(3, struct.pack("<II", dslot, 50))
    names, at = [], 8
    for _ in range(struct.unpack_from("<I", body, 4)[0]):
        n = struct.unpack_from("<I", body, at + 44)[0]
        names.append(body[at + 48:at + 48 + n].decode())
        at += 48 + n
    want("listing", sorted(x for x in names if x not in (".", "..")), ["f.txt"])
    want("close dir", f.status(6, struct.pack("<I", dslot)), 0)
    want("rename", f.status(18, P(base + "\\sub\\f.txt") + P(base + "\\sub\\g.txt")), 0)
    want("renamed on disk", sorted(os.listdir(os.path.join(root, "sub"))), ["g.txt"])
    want("delete", f.status(15, P(base + "\\sub\\g.txt")), 0)
    want("rmdir", f.status(8, P(base + "\\sub")), 0)
    want("tree at the end", tree(root), before)

    # Left open: the client must let go of them when the channel goes.
    code, body = f.reply(11, P(base + "\\held.txt") + struct.pack("<II", 0x42, 0))
    want("open held", code, 111)
    code, body = f.reply(2, P(base))
    dslot = struct.unpack_from("<I", body, 0)[0]
    f.reply(3, struct.pack("<II", dslot, 1))
    return problems


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--base", required=True)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--result-file", required=True)
    ap.add_argument("--lifetime", type=float, default=120)
    a = ap.parse_args(argv[1:])
    srv = peerlib.listen_local(1)

    def handle(conn):
        conn.settimeout(60)
        try:
            problems = scenario(conn, a.root, a.base)
        except (ProtocolError, OSError, struct.error, zlib.error, IndexError) as e:
            problems = ["%s: %s" % (type(e).__name__, e)]
        with open(a.result_file, "w") as out:
            out.write("ok\n" if not problems else "\n".join(problems) + "\n")
        conn.shutdown(socket.SHUT_RDWR)
        conn.close()
        os.unlink(a.port_file)

    peerlib.serve_connections(srv, a.port_file, a.lifetime, handle, threaded=False)


if __name__ == "__main__":
    main(sys.argv)
