#!/usr/bin/env python3
"""A server for the login-dialog frames ("LAIP"): after the client's launch
request (message 1) it plays one scenario and records what the client sent,
one JSON object a line, in --log (passwords unscrambled).

Frame: "LAIP", u32 total length, u16 type, u16 payload length, payload;
little-endian; a text is a u32 length and UTF-8 bytes. Scrambled passwords:
the UTF-8 bytes of the text sent are read as characters, each XORed with the
low byte of "kelp.mint.stroll"[i % 16], and the bytes read as UTF-8.

Scenarios (--scenario):
  auth      status text, credentials request (3), answer 2 checked against
            --user/--password: end 0 then the bytes "OWN", or end 5
  domain    request 20 (with domain), answer 21 checked the same way
  question  a yes/no question (9, id 7) batched with a status; the answer
            (8) is recorded; then end 44
  timeout   a timed wait of one second (5, mode 0); expects the close (7)
  hostile   a frame whose text runs past its payload, an unknown type, a
            split status frame, then end 0
  card      a general dialog description (23) offering the smart card,
            which was the last method, and the password with --user as
            the default user; the answer (21) is recorded; then end 5
"""
import argparse
import json
import struct
import time
from peerlib import listen_local, serve_connections

KEY = b"kelp.mint.stroll"


def text(s):
    b = s.encode("utf-8") if isinstance(s, str) else s
    return struct.pack("<I", len(b)) + b


def frame(t, payload):
    return b"LAIP" + struct.pack("<IHH", len(payload) + 12, t, len(payload)) + payload


class Reader:
    def __init__(self, data):
        self.d, self.p = data, 0

    def take(self, n):
        if self.p + n > len(self.d):
            raise ValueError("short")
        b = self.d[self.p:self.p + n]
        self.p += n
        return b

    def u8(self):
        return self.take(1)[0]

    def u16(self):
        return struct.unpack("<H", self.take(2))[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def text(self):
        return self.take(self.u32()).decode("utf-8")


def unscramble(s):
    raw = bytes(ord(c) for c in s)
    plain = bytes(b ^ KEY[i % 16] for i, b in enumerate(raw))
    return plain.decode("utf-8")


def recv_frame(conn, timeout=20):
    conn.settimeout(timeout)
    data = b""
    while len(data) < 12:
        chunk = conn.recv(12 - len(data))
        if not chunk:
            return None, None
        data += chunk
    t, n = struct.unpack("<HH", data[8:12])
    payload = b""
    while len(payload) < n:
        chunk = conn.recv(n - len(payload))
        if not chunk:
            return None, None
        payload += chunk
    return t, payload


def record(log, obj):
    if log:
        with open(log, "a") as f:
            f.write(json.dumps(obj) + "\n")


def decode(t, payload):
    r = Reader(payload)
    if t == 1:
        a, b = r.u8(), r.u8()
        t1 = r.text()
        v = r.u32()
        t2 = r.text()
        size = r.u32()
        block = r.take(size)
        t3 = r.text()
        t4 = r.text()
        return {"type": 1, "a": a, "b": b, "host": t3, "block": block.split(b"\0")[0].decode()}
    if t == 2:
        kind = r.u16()
        user = r.text()
        pw = unscramble(r.text())
        save = r.u8()
        pw2 = r.text()
        return {"type": 2, "kind": kind, "user": user, "password": pw, "save": save, "new": pw2}
    if t == 21 and len(payload) == 27 and payload[:2] == b"\0\x80":
        # The smart-card answer: fixed bytes, the method, a zero, one data byte.
        method, zero, n = struct.unpack_from("<HHH", payload, 20)
        return {"type": 21, "method": method, "zero": zero, "count": n, "pref": payload[26],
                "padding": payload[2:20].hex()}
    if t == 21:
        kind = r.u16()
        user = r.text()
        pw = unscramble(r.text())
        save = r.u8()
        pw2 = unscramble(r.text())
        domain = r.text()
        return {"type": 21, "kind": kind, "user": user, "password": pw, "new": pw2,
                "domain": domain}
    if t == 8:
        return {"type": 8, "id": r.u16(), "answer": r.u8()}
    return {"type": t, "length": len(payload)}


def end(code, message=""):
    return frame(6, struct.pack("<H", code) + text(message))


def play(conn, args):
    t, payload = recv_frame(conn)
    if t != 1:
        return
    record(args.log, decode(t, payload))
    s = args.scenario
    if s in ("auth", "domain"):
        conn.sendall(frame(4, b"\0" + text("Checking credentials")))
        if s == "auth":
            conn.sendall(frame(3, struct.pack("<H", 1) + text("srv") + text(args.user) + b"\1"))
        else:
            conn.sendall(frame(20, struct.pack("<H", 1) + text("srv") + text(args.user) + b"\1\1"
                               + text("DOM")))
        t, payload = recv_frame(conn, 60)
        if t is None:
            return
        got = decode(t, payload)
        record(args.log, got)
        if got.get("user") == args.user and got.get("password") == args.password:
            conn.sendall(end(0) + b"OWN")
        else:
            conn.sendall(end(5, "wrong"))
    elif s == "question":
        conn.sendall(frame(4, b"\0" + text("Asking")) + frame(9, struct.pack("<H", 7) + text("Sure?")))
        t, payload = recv_frame(conn, 60)
        if t is not None:
            record(args.log, decode(t, payload))
        conn.sendall(end(44, "eval"))
    elif s == "timeout":
        conn.sendall(frame(5, struct.pack("<HH", 1, 0) + b"\0" * 4 + text("Waiting") + text("")))
        t, payload = recv_frame(conn, 30)
        if t is not None:
            record(args.log, decode(t, payload))
    elif s == "card":
        # Authentication (value 1), save mode 0; asks user and password,
        # default user given, method choice; last method 1 and one field:
        # id 1, kind 1, one byte, the preference 0.
        flags = 0x1000 | 0x100 | 0x04 | 0x02 | 0x01
        conn.sendall(frame(23, struct.pack("<HBH", 1, 0, flags) + text("srv") + text(args.user) +
                           struct.pack("<HH", 1, 1) + b"\0\0" + struct.pack("<HHHB", 1, 1, 1, 0)))
        t, payload = recv_frame(conn, 60)
        if t is not None:
            record(args.log, decode(t, payload))
        conn.sendall(end(5, "recorded"))
    elif s == "hostile":
        conn.sendall(frame(4, b"\0" + struct.pack("<I", 9999) + b"short"))
        conn.sendall(frame(30, b"zz"))
        status = frame(4, b"\0" + text("Split"))
        for i in range(len(status)):
            conn.sendall(status[i:i + 1])
            time.sleep(0.01)
        conn.sendall(end(0) + b"OWN")
    time.sleep(1)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scenario", required=True)
    p.add_argument("--port-file", required=True)
    p.add_argument("--user", default="alice")
    p.add_argument("--password", default="")
    p.add_argument("--log")
    p.add_argument("--lifetime", type=float, default=60)
    args = p.parse_args()

    def handle(conn):
        with conn:
            try:
                play(conn, args)
            except (OSError, ValueError) as e:
                record(args.log, {"error": str(e)})

    serve_connections(listen_local(4), args.port_file, args.lifetime, handle, threaded=False)


if __name__ == "__main__":
    main()
