#!/usr/bin/env python3
"""A scripted SOCKS 5 proxy (RFC 1928, user name and password of RFC 1929)
whose replies arrive in pieces; after a successful CONNECT the tunnel
echoes what it receives instead of reaching the target.

Scenarios (--scenario):
  split   no authentication; every reply sent one byte at a time, the bound
          address of type 3 (a name), then an echoing tunnel
  auth    user name and password (--user/--password) checked, replies split
  gssapi  selects method 1 (not supported by the client)
The port goes to --port-file; the peer ends when the file is deleted or the
lifetime runs out.
"""
import argparse
import time
from peerlib import listen_local, read_exact, serve_connections


def need(conn, n):
    """Exactly n bytes; the conversation ends when the client stops early."""
    data = read_exact(conn, n)
    if data is None:
        raise EOFError
    return data


def send_split(conn, data):
    for i in range(len(data)):
        conn.sendall(data[i:i + 1])
        time.sleep(0.01)


def serve(conn, args):
    with conn:
        try:
            ver, count = need(conn, 2)
            methods = need(conn, count)
            if args.scenario == "gssapi":
                send_split(conn, b"\x05\x01")
                return
            if args.scenario == "auth":
                if 2 not in methods:
                    send_split(conn, b"\x05\xff")
                    return
                send_split(conn, b"\x05\x02")
                need(conn, 1)
                user = need(conn, need(conn, 1)[0]).decode("latin-1")
                password = need(conn, need(conn, 1)[0]).decode("latin-1")
                ok = user == args.user and password == args.password
                send_split(conn, b"\x01\x00" if ok else b"\x01\x01")
                if not ok:
                    return
            else:
                send_split(conn, b"\x05\x00")
            head = need(conn, 4)
            if head[3] == 3:
                need(conn, need(conn, 1)[0])
            elif head[3] == 1:
                need(conn, 4)
            need(conn, 2)
            name = b"bound.example"
            send_split(conn, b"\x05\x00\x00\x03" + bytes([len(name)]) + name + b"\x04\x38")
            while True:
                data = conn.recv(65536)
                if not data:
                    return
                conn.sendall(data)
        except (EOFError, OSError):
            return


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scenario", required=True)
    p.add_argument("--port-file", required=True)
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--lifetime", type=float, default=60)
    args = p.parse_args()
    serve_connections(listen_local(16), args.port_file, args.lifetime,
                      lambda conn: serve(conn, args))


if __name__ == "__main__":
    main()
