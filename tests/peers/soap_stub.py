#!/usr/bin/env python3
"""A SOAP web-service stub over HTTPS (ssl + http.server) on 127.0.0.1 and
a port the system chooses, written to --port-file. Every POST gets a
response that echoes the text of the request's <text> element:

  <ns:pingResponse xmlns:ns="urn:hv-echo"><reply>TEXT</reply></ns:pingResponse>

It ends after answering --count requests (default 1) or after --lifetime
seconds.

Usage: soap_stub.py --port-file F --cert C --key K [--chain I] [--count N]
                    [--lifetime S]
"""
import argparse
import http.server
import os
import re
import ssl
import sys
import threading
import time


LOCK = threading.Lock()
DONE = threading.Event()
ANSWERED = 0
COUNT = 1


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(min(length, 1 << 20)).decode("utf-8", "replace")
        m = re.search(r"<text>(.*?)</text>", body, re.S)
        text = m.group(1) if m else ""
        reply = ('<?xml version="1.0" encoding="UTF-8"?>'
                 '<SOAP-ENV:Envelope xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/"'
                 ' xmlns:ns="urn:hv-echo"><SOAP-ENV:Body><ns:pingResponse>'
                 '<reply>' + text + '</reply></ns:pingResponse></SOAP-ENV:Body>'
                 '</SOAP-ENV:Envelope>').encode()
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Content-Length", str(len(reply)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(reply)
        self.wfile.flush()
        with LOCK:
            global ANSWERED
            ANSWERED += 1
            if ANSWERED >= COUNT:
                DONE.set()

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # refused handshakes are part of the tests


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--chain", default=None)
    p.add_argument("--lifetime", type=float, default=60)
    p.add_argument("--count", type=int, default=1)
    args = p.parse_args()
    global COUNT
    COUNT = args.count
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if args.chain:
        with open(args.cert) as a, open(args.chain) as b:
            both = a.read() + b.read()
        path = args.port_file + ".chain.pem"
        with open(path, "w") as f:
            f.write(both)
        ctx.load_cert_chain(path, args.key)
        os.remove(path)
    else:
        ctx.load_cert_chain(args.cert, args.key)
    httpd = Server(("127.0.0.1", 0), Handler)
    httpd.socket = ctx.wrap_socket(httpd.socket, server_side=True)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % httpd.server_address[1])
    os.replace(tmp, args.port_file)
    threading.Thread(target=httpd.serve_forever, daemon=True).start()
    DONE.wait(args.lifetime)
    time.sleep(0.2)  # let the last reply go out
    return 0


if __name__ == "__main__":
    sys.exit(main())
