#!/usr/bin/env python3
"""A scripted AIP peer for socket and channel tests.

Listens on 127.0.0.1 on a port the system chooses, writes that port (as
decimal text) to the file given by --port-file, serves one connection with
the chosen scenario and ends by itself (at the latest after --lifetime s).

AIP framing: one type byte, a 16-bit little-endian payload length n, then n
payload bytes. Generated payloads describe themselves so that the receiver
can check them without knowing the sender's random choices: a message with
sequence number s has type s % 256, and payload byte j is (s + j) % 256,
except that payloads of 4 bytes or more start with s as a 32-bit
little-endian number.

Scenarios:
  stream   --count N --seed S: N messages of random sizes (0-65535) sent in
           random chunkings with occasional short stalls, then a close.
  pair     two messages in one segment, then one message a byte at a time,
           then a close.
  oversize a header announcing --size bytes and that many bytes, then waits.
  midclose --count N whole messages, then half of one, then a close.
  noread   accepts and never reads until --hold seconds have passed.
  blast    --count N messages of --size bytes as fast as possible, then a
           close (for throughput figures).
  sink     reads and discards messages until the client closes, then writes
           the number of messages and bytes received to --result-file;
           with --delay S it starts reading only after S seconds.
"""
import argparse
import random
import socket
import struct
import sys
import time
from peerlib import listen_published, read_exact


PATTERN = bytes(i % 256 for i in range(65536 + 256))


def payload(seq, size):
    body = PATTERN[seq % 256:seq % 256 + size]
    if size >= 4:
        body = struct.pack("<I", seq & 0xFFFFFFFF) + body[4:]
    return body


def frame(seq, size):
    return struct.pack("<BH", seq % 256, size) + payload(seq, size)


def send_chunked(conn, data, rng, stall):
    at = 0
    while at < len(data):
        n = rng.choice((1, 2, 3, 7, 100, 1500, 4096, 65536, 200000))
        conn.sendall(data[at:at + n])
        at += n
        if stall and rng.random() < 0.002:
            time.sleep(0.005)




def serve(conn, args):
    rng = random.Random(args.seed)
    if args.scenario == "stream":
        batch = bytearray()
        for seq in range(args.count):
            size = rng.choice((0, 1, 3, 4, rng.randrange(0, 65536), rng.randrange(0, 300)))
            batch += frame(seq, size)
            if len(batch) > 1 << 20:
                send_chunked(conn, bytes(batch), rng, True)
                batch = bytearray()
        send_chunked(conn, bytes(batch), rng, True)
    elif args.scenario == "pair":
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        conn.sendall(frame(0, 5) + frame(1, 10))
        time.sleep(0.05)
        for b in frame(2, 20):
            conn.sendall(bytes([b]))
            time.sleep(0.002)
    elif args.scenario == "oversize":
        conn.sendall(struct.pack("<BH", 7, args.size) + bytes(args.size))
        conn.settimeout(args.lifetime)
        try:
            conn.recv(1)
        except OSError:
            pass
    elif args.scenario == "midclose":
        conn.sendall(b"".join(frame(seq, 1000) for seq in range(args.count)))
        conn.sendall(frame(args.count, 1000)[:500])
        time.sleep(0.05)
    elif args.scenario == "noread":
        time.sleep(args.hold)
    elif args.scenario == "blast":
        one = frame(1, args.size)
        batch = one * max(1, (1 << 20) // len(one))
        per = len(batch) // len(one)
        sent = 0
        while sent + per <= args.count:
            conn.sendall(batch)
            sent += per
        conn.sendall(one * (args.count - sent))
    elif args.scenario == "sink":
        time.sleep(args.delay)
        count = total = 0
        conn.settimeout(args.lifetime)
        while True:
            head = read_exact(conn, 3)
            if head is None:
                break
            n = struct.unpack("<H", head[1:])[0]
            if read_exact(conn, n) is None:
                break
            count += 1
            total += n + 3
        with open(args.result_file, "w") as f:
            f.write("%d %d\n" % (count, total))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("scenario")
    p.add_argument("--port-file", required=True)
    p.add_argument("--result-file", default="/dev/null")
    p.add_argument("--count", type=int, default=100)
    p.add_argument("--size", type=int, default=100)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--hold", type=float, default=5.0)
    p.add_argument("--delay", type=float, default=0.0)
    p.add_argument("--rcvbuf", type=int, default=0)
    p.add_argument("--lifetime", type=float, default=60.0)
    args = p.parse_args()

    srv = listen_published(args.port_file, 1, args.lifetime, args.rcvbuf)
    try:
        conn, _ = srv.accept()
    except OSError:
        return 1
    conn.settimeout(args.lifetime)
    try:
        serve(conn, args)
    except OSError:
        pass
    finally:
        conn.close()
        srv.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
