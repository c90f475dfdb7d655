#!/usr/bin/python3
"""The server side of drive mapping (channel type 12, file requests of kind 1)
against a client that sees the folder ROOT as BASE (a path on a fixed drive
of its own, such as "Z:\\tmp\\x"): the drive list, hostile
paths (each refused with 13, the folder unchanged), a file made, written,
read, listed, renamed and deleted, OPS seeded operations compared with what
Python's os sees in the folder, then a file and a directory search left
open when the connection ends.

usage: cdm_peer.py --root ROOT --base BASE [--seed N --ops N] --port-file F --result-file R [--lifetime S]
"""
import argparse
import os
import random
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


NAMES = ["a", "b", "c.txt", "d", "d/x", "d/y", "d/x/z", "e"]


def random_ops(f, root, base, seed, count):
    """Seeded operations, each predicted from the folder as Python's os sees
    it and checked against the reply and the folder afterwards."""
    rnd = random.Random(seed)
    problems = []

    def win(name):
        return base + "\\" + name.replace("/", "\\")

    def kind(name):
        p = os.path.join(root, name)
        return "dir" if os.path.isdir(p) else "file" if os.path.isfile(p) else None

    def parent_ok(name):
        parent = os.path.dirname(name)
        return not parent or kind(parent) == "dir"

    def contents(path):
        with open(path, "rb") as fh:
            return fh.read()

    for i in range(count):
        op = rnd.choice(["mkdir", "stat", "write", "read", "delete", "rename", "truncate",
                         "list", "rmdir"])
        name = rnd.choice(NAMES)
        path = os.path.join(root, name)
        k = kind(name)
        missing = 2 if not parent_ok(name) or k is None else None
        what = "%d %s %s" % (i, op, name)
        expect = None  # the file's contents afterwards, when it is checked
        if op == "mkdir":
            want = 17 if k else 0 if parent_ok(name) else 13
            got = f.status(7, P(win(name)) + b"\0" * 4)
        elif op == "rmdir":
            if k == "file":
                continue
            want = missing or (17 if os.listdir(path) else 0)
            got = f.status(8, P(win(name)))
        elif op == "stat":
            code, body = f.reply(1, P(win(name)) + b"\0" * 4)
            if missing:
                want, got = missing, struct.unpack_from("<I", body, 0)[0]
            else:
                st = os.stat(path)
                want = (101, 0 if k == "dir" else st.st_size, 16 if k == "dir" else 0,
                        int(st.st_mtime))
                got = (code, struct.unpack_from("<Q", body, 0)[0] if k == "file" else 0,
                       struct.unpack_from("<I", body, 8)[0], struct.unpack_from("<q", body, 24)[0])
        elif op == "truncate":
            n = rnd.randrange(0, 3000)
            want = 21 if k == "dir" else missing or 0
            if k == "file":
                old = contents(path)
                expect = old[:n] + b"\0" * max(0, n - len(old))
            got = f.status(20, P(win(name)) + struct.pack("<Iq", 0, n))
        elif op in ("write", "read"):
            if k == "dir":
                want = 21
                got = f.status(11, P(win(name)) + struct.pack("<II", 0x42, 0))
            else:
                flags = rnd.choice([0x42, 0x242, 0x442]) if op == "write" else 0
                code, body = f.reply(11, P(win(name)) + struct.pack("<II", flags, 0))
                if code != 111:
                    want = (2 if not parent_ok(name) else "opened") if op == "write" else missing
                    got = struct.unpack_from("<I", body, 0)[0]
                else:
                    slot = struct.unpack_from("<I", body, 0)[0]
                    old = b"" if flags & 0x200 else contents(path)
                    at = rnd.randrange(0, len(old) + 1)
                    f.reply(16, struct.pack("<IqI", slot, at, 0))
                    if op == "write":
                        data = bytes(rnd.randrange(256) for _ in range(rnd.randrange(0, 2000)))
                        got = f.reply(14, struct.pack("<II", slot, len(data)) + data)
                        want = (114, struct.pack("<I", len(data)))
                        expect = old + data if flags & 0x400 else old[:at] + data + old[at + len(data):]
                    else:
                        got = f.reply(13, struct.pack("<II", slot, 70000))
                        want = (113, struct.pack("<I", len(old) - at) + old[at:])
                    f.status(12, struct.pack("<I", slot))
        elif op == "delete":
            want = missing or (13 if k == "dir" else 0)
            got = f.status(15, P(win(name)))
        elif op == "rename":
            to = rnd.choice(NAMES)
            if to == name or to.startswith(name + "/"):
                continue
            want = missing or (17 if kind(to) else 0 if parent_ok(to) else 2)
            got = f.status(18, P(win(name)) + P(win(to)))
        else:  # list
            if k != "dir":
                continue
            code, body = f.reply(2, P(win(name)))
            slot = struct.unpack_from("<I", body, 0)[0]
            names, end = [], 0
            while not end:
                code, body = f.reply(3, struct.pack("<II", slot, rnd.randrange(1, 4)))
                end, n = struct.unpack_from("<II", body, 0)
                at = 8
                for _ in range(n):
                    ln = struct.unpack_from("<I", body, at + 44)[0]
                    names.append(body[at + 48:at + 48 + ln].decode())
                    at += 48 + ln
            f.status(6, struct.pack("<I", slot))
            want = sorted(os.listdir(path))
            got = sorted(x for x in names if x not in (".", ".."))
        if want != got:
            problems.append("%s: %r, want %r" % (what, got, want))
        elif expect is not None and contents(path) != expect:
            problems.append("%s: contents differ" % what)
        if len(problems) > 10:
            break
    sys.stderr.write("cdm_peer: %d seeded operations, %d problems\n" % (count, len(problems)))
    return problems


def scenario(conn, root, base, seed, ops, texts=None):
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
    at, got = 0, []
    for _ in range(3):
        n = struct.unpack_from("<I", body, at)[0]
        got.append(body[at + 4:at + 4 + n].decode())
        at += 4 + n
    if texts is not None:
        want("the drive list's session texts", got, texts)
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

    if ops:
        problems += random_ops(f, root, base, seed, ops)

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
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--ops", type=int, default=0)
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--result-file", required=True)
    ap.add_argument("--lifetime", type=float, default=120)
    a = ap.parse_args(argv[1:])
    srv = peerlib.listen_local(1)

    def handle(conn):
        conn.settimeout(60)
        try:
            problems = scenario(conn, a.root, a.base, a.seed, a.ops)
        except (ProtocolError, OSError, struct.error, zlib.error, IndexError) as e:
            problems = ["%s: %s" % (type(e).__name__, e)]
        peerlib.write_whole(a.result_file, "ok\n" if not problems else "\n".join(problems) + "\n")
        conn.shutdown(socket.SHUT_RDWR)
        conn.close()
        os.unlink(a.port_file)

    peerlib.serve_connections(srv, a.port_file, a.lifetime, handle, threaded=False)


if __name__ == "__main__":
    main(sys.argv)
