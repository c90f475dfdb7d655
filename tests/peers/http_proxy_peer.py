#!/usr/bin/env python3
"""A scripted HTTP proxy for the CONNECT exchange (HTTP/1.0, RFC 7235 Basic).

Scenarios (--scenario):
  ntlm    every CONNECT gets 407 with only a "Proxy-Authenticate: NTLM" challenge
  split   200 sent in small pieces with pauses, then the tunnel echoes
  multi   407 with a Negotiate and a Basic challenge (realm "peer"), the reply
          split across pieces; a CONNECT with "Proxy-Authorization: Basic" of
          --user:--password gets 200 and an echoing tunnel
  silent  reads the request and never answers
  record  appends each request's header block to --log (for checking what
          the client sends); a CONNECT gets 200 and an echoing tunnel, any
          other request a short server-information page
The port goes to --port-file; the peer ends when that file is deleted or the
lifetime runs out.
"""
import argparse
import base64
import time
from peerlib import listen_local, serve_connections


def read_head(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    return data


def echo(conn):
    while True:
        try:
            data = conn.recv(65536)
        except OSError:
            return
        if not data:
            return
        conn.sendall(data)


def send_pieces(conn, data, size=7, pause=0.05):
    for i in range(0, len(data), size):
        conn.sendall(data[i:i + size])
        time.sleep(pause)


def serve(conn, args):
    with conn:
        head = read_head(conn)
        if head is None:
            return
        if args.log:
            with open(args.log, "ab") as f:
                f.write(head)
        if args.scenario == "ntlm":
            conn.sendall(b"HTTP/1.0 407 Proxy Authentication Required\r\n"
                         b"Proxy-Authenticate: NTLM\r\n\r\n")
        elif args.scenario == "split":
            send_pieces(conn, b"HTTP/1.0 200 Connection established\r\nProxy-agent: peer\r\n\r\n")
            echo(conn)
        elif args.scenario == "multi":
            want = b"Proxy-Authorization: Basic " + base64.b64encode(
                ("%s:%s" % (args.user, args.password)).encode())
            if want in head:
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
                echo(conn)
            else:
                send_pieces(conn, b"HTTP/1.0 407 Proxy Authentication Required\r\n"
                            b"Proxy-Authenticate: Negotiate\r\n"
                            b"Proxy-Authenticate: Basic realm=\"peer\"\r\n\r\n", size=11)
        elif args.scenario == "silent":
            time.sleep(args.lifetime)
        elif args.scenario == "record":
            if head.startswith(b"CONNECT "):
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
                echo(conn)
            else:
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nAsadPort=4321\n")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--scenario", required=True)
    p.add_argument("--port-file", required=True)
    p.add_argument("--user", default="")
    p.add_argument("--password", default="")
    p.add_argument("--log")
    p.add_argument("--lifetime", type=float, default=60)
    args = p.parse_args()
    serve_connections(listen_local(16), args.port_file, args.lifetime,
                      lambda conn: serve(conn, args))


if __name__ == "__main__":
    main()
