#!/usr/bin/env python3
"""TLS peers for the client's TLS tests, on 127.0.0.1 and a port the system
chooses, written (as decimal text) to the file given by --port-file.

  tls_peer.py --port-file F [--lifetime S] s_server ARG...
      Runs `openssl s_server ARG...` listening on the chosen port and stops
      it when it ends by itself (-naccept) or the lifetime is over.

  tls_peer.py --port-file F [--lifetime S] echo --cert C --key K [--count N]
      Serves N connections (default 1) one after the other: sends back
      every byte received until the client stops sending, then closes the
      connection without a close notice (as plain HTTPS servers often do).

  tls_peer.py --port-file F [--lifetime S] greet --cert C --key K --records N,...
      Accepts one connection, TLS 1.2 at most (the server's Finished is the
      last handshake message), and speaks first: records of the sizes
      named, byte i of them all 'a' + i % 26, go out in the same send as the
      server's Finished. Then waits for the client to close.

  tls_peer.py --port-file F [--lifetime S] silent [--hold S]
      Accepts one connection and says nothing until the client closes it
      or S seconds have passed.

  tls_peer.py make-pki DIR
      Makes the test PKI (make_pki.py) into DIR.
"""
import argparse
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time

from peerlib import listen_published, publish_port


def run_s_server(args, extra):
    cmd = ["openssl", "s_server", "-accept", "127.0.0.1:0", "-ign_eof"] + extra
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, cwd=args.cwd)
    deadline = time.time() + args.lifetime
    port = None

    def drain():
        nonlocal port
        for line in proc.stdout:
            m = re.match(rb"ACCEPT 127\.0\.0\.1:(\d+)", line)
            if m and port is None:
                port = int(m.group(1))
                publish_port(args.port_file, port)

    t = threading.Thread(target=drain, daemon=True)
    t.start()
    while proc.poll() is None and time.time() < deadline:
        time.sleep(0.05)
    if proc.poll() is None:
        proc.kill()
        proc.wait()
    return 0 if port else 1


def run_silent(args):
    ls = listen_published(args.port_file, 1, args.lifetime)
    try:
        conn, _ = ls.accept()
    except OSError:
        return 1
    conn.settimeout(args.hold)
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass
    conn.close()
    return 0


def run_echo(args):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(args.cert, args.key)
    ls = listen_published(args.port_file, 4, args.lifetime)
    for _ in range(args.count):
        try:
            raw, _ = ls.accept()
        except OSError:
            return 1
        raw.settimeout(args.lifetime)
        try:
            conn = ctx.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError):
            raw.close()
            continue
        try:
            while True:
                data = conn.recv(65536)
                if not data:
                    break
                conn.sendall(data)
                if args.until and data.endswith(args.until.encode()):
                    break
        except (ssl.SSLError, OSError):
            pass
        # No close notice: closing without unwrap() sends none.
        conn.close()
    return 0


def run_greet(args):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.maximum_version = ssl.TLSVersion.TLSv1_2
    ctx.load_cert_chain(args.cert, args.key)
    ls = listen_published(args.port_file, 1, args.lifetime)
    try:
        raw, _ = ls.accept()
    except OSError:
        return 1
    raw.settimeout(args.lifetime)
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ctx.wrap_bio(incoming, outgoing, server_side=True)
    words = bytes(ord("a") + i % 26 for i in range(sum(args.records)))
    try:
        while True:
            try:
                tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                raw.sendall(outgoing.read())
                data = raw.recv(65536)
                if not data:
                    return 1
                incoming.write(data)
        at = 0
        for size in args.records:
            tls.write(words[at:at + size])
            at += size
        raw.sendall(outgoing.read())
        while raw.recv(65536):
            pass
    except (ssl.SSLError, OSError):
        return 1
    finally:
        raw.close()
    return 0


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "make-pki":
        here = os.path.dirname(os.path.abspath(__file__))
        return subprocess.call([sys.executable, os.path.join(here, "make_pki.py"), sys.argv[2]])
    # Everything after "s_server" belongs to openssl.
    argv = sys.argv[1:]
    rest = []
    if "s_server" in argv:
        at = argv.index("s_server")
        argv, rest = argv[:at + 1], argv[at + 1:]
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--lifetime", type=float, default=60)
    p.add_argument("--cwd", default=None)
    sub = p.add_subparsers(dest="mode", required=True)
    sub.add_parser("s_server")
    e = sub.add_parser("echo")
    e.add_argument("--cert", required=True)
    e.add_argument("--key", required=True)
    e.add_argument("--count", type=int, default=1)
    e.add_argument("--until", default="")
    g = sub.add_parser("greet")
    g.add_argument("--cert", required=True)
    g.add_argument("--key", required=True)
    g.add_argument("--records", type=lambda t: [int(n) for n in t.split(",")], required=True)
    q = sub.add_parser("silent")
    q.add_argument("--hold", type=float, default=10)
    args = p.parse_args(argv)
    if args.mode == "greet":
        return run_greet(args)
    if args.mode == "silent":
        return run_silent(args)
    if args.mode == "s_server":
        return run_s_server(args, rest)
    return run_echo(args)


if __name__ == "__main__":
    sys.exit(main())
