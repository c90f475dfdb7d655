#!/usr/bin/env python3
"""A local helper program talking to the client's listener (the port in the
client's port file): HTTP-framed SOAP requests ("POST", headers, then
Content-Length bytes of envelope), answered on the same connection.

Connections are made through --relay, a Windows program of the tests run
under Wine (so that the client sees a program of its own user at the
other end), which relays this script's bytes; without it, or for the step
"native", they are this process's own sockets.

Steps (--steps, comma-separated, in order; each on a connection of its own
unless it is "init"/"ready", which share the helper's lasting connection):
  native          helperInit from this process itself, which is no program
                  of the client's user: the connection must be closed
                  without an answer.
  foreign-host    helperInit with "Host: evil.example"
  foreign-origin  helperInit with "Origin: https://evil.example"
  two-hosts       helperInit with "Host: 127.0.0.1" twice
      each must be answered "HTTP/1.1 403 Forbidden" with Content-Length 0
      and the connection closed.
  init            helperInit (--helper-id, --inplace, server and port from
                  --server-port, the web page's --connection-cookie and
                  the browser's --proxy HOST:PORT:TYPE when given, no
                  Host, no Origin), kept open
  ready           helperLaunchReady (helperrequestid --request-id, window
                  --window) on the kept connection
Then the helper reads what the client sends it until --lifetime ends, and
logs each packet's first line and SOAP method to --log.
"""
import argparse
import atexit
import os
import re
import select
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402

NS1 = "urn:quorvellan-serveroutpost"


def packet(method, params, headers=""):
    body = ('<?xml version="1.0" encoding="UTF-8"?><SOAP-ENV:Envelope '
            'xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/" '
            'xmlns:xsi="http://www.w3.org/1999/XMLSchema-instance" '
            'xmlns:xsd="http://www.w3.org/1999/XMLSchema"><SOAP-ENV:Body>'
            '<ns1:%s xmlns:ns1="%s">' % (method, NS1))
    for name, value in params:
        kind = "xsd:int" if isinstance(value, int) else "xsd:string"
        body += '<%s xsi:type="%s">%s</%s>' % (name, kind, value, name)
    body += "</ns1:%s></SOAP-ENV:Body></SOAP-ENV:Envelope>" % method
    b = body.encode()
    return (("POST / HTTP/1.1\r\n%sMessage-Id: 1\r\nContent-Length: %d\r\n\r\n"
             % (headers, len(b))).encode() + b)


class Relay:
    """A connection made by the relay program: what is sent goes to its
    standard input, what the client answers comes from its standard output,
    which ends when the client closes the connection."""

    def __init__(self, exe, port):
        self.proc = subprocess.Popen(["wine", exe, str(port)], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.timeout = None
        atexit.register(self.close)
        # Like a socket's connect, this returns once the relay is connected.
        ready, _, _ = select.select([self.proc.stderr], [], [], 60)
        if not ready or b"connected" not in self.proc.stderr.readline():
            raise OSError("the relay did not connect")

    def sendall(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def settimeout(self, seconds):
        self.timeout = seconds

    def recv(self, size):
        ready, _, _ = select.select([self.proc.stdout], [], [], self.timeout)
        if not ready:
            raise socket.timeout()
        return os.read(self.proc.stdout.fileno(), size)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def connect(relay, port):
    if relay:
        return Relay(relay, port)
    return socket.create_connection(("127.0.0.1", port))


def read_all(conn, seconds):
    conn.settimeout(seconds)
    data = b""
    try:
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                return data, True
            data += chunk
    except socket.timeout:
        return data, False
    except ConnectionResetError:
        return data, True


HOSTILE = {"foreign-host": "Host: evil.example\r\n",
           "foreign-origin": "Origin: https://evil.example\r\n",
           "two-hosts": "Host: 127.0.0.1\r\nHost: 127.0.0.1\r\n"}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client-port-file", required=True)
    ap.add_argument("--steps", required=True)
    ap.add_argument("--server-port", type=int, default=0)
    ap.add_argument("--helper-id", default="h1")
    ap.add_argument("--inplace", default="runs")
    ap.add_argument("--request-id", default="r1")
    ap.add_argument("--window", type=int, default=0)
    ap.add_argument("--connection-cookie")
    ap.add_argument("--proxy")
    ap.add_argument("--relay", help="the relay program (a Windows executable)")
    ap.add_argument("--hold", type=float, default=0,
                    help="seconds the lasting connection stays silent after it is made")
    ap.add_argument("--log", required=True)
    ap.add_argument("--lifetime", type=float, default=30)
    args = ap.parse_args()
    # Stopped by the test: the relays end with this script.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))

    def log(line):
        with open(args.log, "a") as f:
            f.write(line + "\n")

    for _ in range(300):
        if os.path.exists(args.client_port_file) and open(args.client_port_file).read().strip():
            break
        time.sleep(0.1)
    port = int(open(args.client_port_file).read().strip())
    kept = None
    evil = [("helperid", "evil"), ("server", "127.0.0.1"), ("port", args.server_port),
            ("proxyserver", "evil")]
    for step in args.steps.split(","):
        if step in HOSTILE:
            c = connect(args.relay, port)
            c.sendall(packet("helperInit", evil, HOSTILE[step]))
            data, closed = read_all(c, 10)
            ok = (data == b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n" and closed)
            log("%s %s %r" % (step, "refused" if ok else "NOT REFUSED", data[:60]))
            c.close()
        elif step == "native":
            c = connect(None, port)
            try:
                c.sendall(packet("helperInit", evil))
            except OSError:
                pass
            data, closed = read_all(c, 10)
            log("%s %s %r" % (step, "refused" if closed and not data else "NOT REFUSED", data[:60]))
            c.close()
        elif step == "init":
            kept = connect(args.relay, port)
            time.sleep(args.hold)
            params = [("helperid", args.helper_id), ("server", "127.0.0.1"),
                      ("port", args.server_port)]
            if args.inplace:
                params.append(("inplace", args.inplace))
            if args.connection_cookie:
                params.append(("connectioncookie", args.connection_cookie))
            if args.proxy:
                host, port, kind = args.proxy.split(":")
                params += [("proxyserver", host), ("proxyport", int(port)), ("proxytype", kind)]
            kept.sendall(packet("helperInit", params))
            log("init sent")
        elif step == "ready":
            kept.sendall(packet("helperLaunchReady", [("helperrequestid", args.request_id),
                                                      ("window", args.window)]))
            log("ready sent")
    end_at = time.time() + args.lifetime
    buf = b""
    while kept and time.time() < end_at:
        data, closed = read_all(kept, 0.2)
        buf += data
        for m in re.finditer(rb"<ns1:(\w+)", data):
            log("recv " + m.group(1).decode())
        if closed:
            break
    if kept:
        kept.close()


if __name__ == "__main__":
    main()
