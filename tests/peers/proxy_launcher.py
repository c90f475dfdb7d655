#!/usr/bin/env python3
"""Starts one proxy (tinyproxy, microsocks, dante) or a small target on a free
loopback port with its own configuration in a private folder, reports the
port through a file, and stops it again, by the process id it started, when
the test deletes that file or the lifetime runs out. System instances of the
same programs are never touched.

Kinds:
  tinyproxy  [--user U --password P] [--connect-port N]
  microsocks [--user U --password P]
  dante      [--block-port N]   (a `socks block` rule for that target port)
  echo       a target that echoes what it receives
  closed     a port on which nothing listens
  web        http.server over the files of --root; under TLS with --cert
             and --key (the certificate file may carry the chain), and with
             --tls-once only its first connection is served
  endless    answers every request with a status line and one endless line
  source     answers every request with --bytes bytes of body, then closes
"""
import argparse
import functools
import http.server
import os
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import threading
import time
from peerlib import publish_port, running


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_listening(port, child, seconds=30.0):
    """Whether the program started listens on port: the port was free when
    chosen, but another process may bind it before the program does, which
    then ends, and a connection would reach the other one."""
    end = time.time() + seconds
    while time.time() < end:
        if child is not None and child.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.5).close()
            return child is None or child.poll() is None
        except OSError:
            time.sleep(0.05)
    return False


def stop(child):
    if child is not None and child.poll() is None:
        child.send_signal(signal.SIGTERM)
        try:
            child.wait(5)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()


def echo_server(port):
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(64)

    def serve(conn):
        with conn:
            while True:
                try:
                    data = conn.recv(65536)
                except OSError:
                    return
                if not data:
                    return
                conn.sendall(data)

    def accept():
        while True:
            conn, _ = srv.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def log_error(self, *args):
        pass


class QuietServer(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass


class TlsServer(QuietServer):
    """Pages under TLS. With once, only the first connection whose handshake
    succeeds is served: every later one is closed before its handshake."""

    def setup_tls(self, cert, key, once):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(cert, key)
        self.once = once
        self.served = 0

    def get_request(self):
        conn, addr = self.socket.accept()
        if self.once and self.served:
            conn.close()
            raise OSError("only one connection is served")
        conn.settimeout(10)
        conn = self.context.wrap_socket(conn, server_side=True)
        self.served += 1
        return conn, addr


def web_server(port, root, cert=None, key=None, once=False):
    handler = functools.partial(QuietHandler, directory=root)
    if cert:
        srv = TlsServer(("127.0.0.1", port), handler)
        srv.setup_tls(cert, key, once)
    else:
        srv = QuietServer(("127.0.0.1", port), handler)
    threading.Thread(target=srv.serve_forever, daemon=True).start()


def endless_server(port):
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(16)

    def serve(conn):
        with conn:
            try:
                conn.recv(65536)
                conn.sendall(b"HTTP/1.0 200 OK\r\n\r\nAsadPort=")
                block = b"7" * 65536
                while True:
                    conn.sendall(block)
            except OSError:
                return

    def accept():
        while True:
            conn, _ = srv.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()


def source_server(port, total):
    srv = socket.socket()
    srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    srv.bind(("127.0.0.1", port))
    srv.listen(16)
    block = b"\x5a" * (1 << 20)

    def serve(conn):
        with conn:
            try:
                head = b""
                while b"\r\n\r\n" not in head:
                    chunk = conn.recv(4096)
                    if not chunk:
                        return
                    head += chunk
                conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % total)
                left = total
                while left > 0:
                    n = min(left, len(block))
                    conn.sendall(block[:n])
                    left -= n
            except OSError:
                return

    def accept():
        while True:
            conn, _ = srv.accept()
            threading.Thread(target=serve, args=(conn,), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()


def start(kind, args, folder, port):
    devnull = subprocess.DEVNULL
    if kind == "tinyproxy":
        conf = os.path.join(folder, "tinyproxy.conf")
        lines = [
            "Port %d" % port,
            "Listen 127.0.0.1",
            "Timeout 120",
            "MaxClients 100",
            "Allow 127.0.0.1",
            "LogLevel Critical",
            "DisableViaHeader Yes",
            'PidFile "%s"' % os.path.join(folder, "tinyproxy.pid"),
        ]
        if os.geteuid() == 0:
            lines += ["User nobody", "Group nogroup"]
        if args.user:
            lines.append("BasicAuth %s %s" % (args.user, args.password))
        if args.connect_port:
            lines.append("ConnectPort %d" % args.connect_port)
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        return subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdin=devnull,
                                stdout=devnull, stderr=devnull)
    if kind == "microsocks":
        cmd = ["microsocks", "-i", "127.0.0.1", "-p", str(port)]
        if args.user:
            cmd += ["-u", args.user, "-P", args.password]
        return subprocess.Popen(cmd, stdin=devnull, stdout=devnull, stderr=devnull)
    if kind == "dante":
        conf = os.path.join(folder, "danted.conf")
        rules = ["logoutput: /dev/null",
                 "internal: 127.0.0.1 port = %d" % port,
                 "external: 127.0.0.1",
                 "clientmethod: none",
                 "socksmethod: none"]
        if os.geteuid() == 0:
            rules += ["user.privileged: root", "user.unprivileged: nobody"]
        rules.append("client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }")
        if args.block_port:
            rules.append("socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 port = %d }"
                         % args.block_port)
        rules.append("socks pass { from: 0.0.0.0/0 to: 0.0.0.0/0 }")
        with open(conf, "w") as f:
            f.write("\n".join(rules) + "\n")
        return subprocess.Popen(["danted", "-f", conf, "-p", os.path.join(folder, "danted.pid"),
                                 "-N", "1"], stdin=devnull, stdout=devnull, stderr=devnull)
    if kind == "echo":
        echo_server(port)
        return None
    if kind == "closed":
        return None
    if kind == "web":
        web_server(port, args.root, args.cert, args.key, args.tls_once)
        return None
    if kind == "endless":
        endless_server(port)
        return None
    if kind == "source":
        source_server(port, args.bytes)
        return None
    raise SystemExit("unknown kind " + kind)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("kind")
    p.add_argument("--port-file", required=True)
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--connect-port", type=int)
    p.add_argument("--block-port", type=int)
    p.add_argument("--root")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--tls-once", action="store_true")
    p.add_argument("--bytes", type=int, default=1 << 28)
    p.add_argument("--lifetime", type=float, default=120)
    args = p.parse_args()
    folder = tempfile.mkdtemp(prefix="hv_proxy_")
    os.chmod(folder, 0o755)
    child = None
    try:
        # A port taken by another process between its choice and the bind
        # makes the program end (or the bind here fail): another port then.
        for _ in range(5):
            port = free_port()
            try:
                child = start(args.kind, args, folder, port)
            except OSError:
                continue
            if args.kind == "closed" or wait_listening(port, child):
                break
            stop(child)
            child = None
        else:
            port = 0
        publish_port(args.port_file, port)
        end = time.time() + args.lifetime
        while running(args.port_file, end):
            if child is not None and child.poll() is not None:
                break
            time.sleep(0.1)
    finally:
        stop(child)
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
