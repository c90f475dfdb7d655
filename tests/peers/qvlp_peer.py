#!/usr/bin/env python3
"""The tunnel end: each connection starts with one 512-byte block holding
"QVLP:<host>:<port>:" and zero bytes; the peer connects to that target and
relays both ways. Nothing is answered. With --cert and --key the listening
side speaks TLS (ssl module). Requests are appended to --log when given.
The port goes to --port-file; the peer ends when the file is deleted or the
lifetime runs out."""
import argparse
import socket
import ssl
import threading
from peerlib import listen_local, read_exact, serve_connections




def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    for s in (src, dst):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def serve(conn, args):
    block = read_exact(conn, 512)
    if block is None or not block.startswith(b"QVLP:"):
        conn.close()
        return
    text = block.split(b"\0", 1)[0].decode("latin-1")
    if args.log:
        with open(args.log, "a") as f:
            f.write(text + "\n")
    parts = text.split(":")
    if len(parts) != 4 or parts[3] != "":
        conn.close()
        return
    try:
        target = socket.create_connection((parts[1], int(parts[2])))
    except (OSError, ValueError):
        conn.close()
        return
    threading.Thread(target=pump, args=(conn, target), daemon=True).start()
    pump(target, conn)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--log")
    p.add_argument("--lifetime", type=float, default=60)
    args = p.parse_args()
    context = None
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)

    def wrap(conn):
        if not context:
            return conn
        try:
            return context.wrap_socket(conn, server_side=True)
        except (OSError, ssl.SSLError):
            conn.close()
            return None

    serve_connections(listen_local(16), args.port_file, args.lifetime,
                      lambda conn: serve(conn, args), wrap=wrap)


if __name__ == "__main__":
    main()
