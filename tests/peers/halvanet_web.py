#!/usr/bin/env python3
"""The web side of the fake Halvanet server: the session web service at
/axis/HVNWS.jws over http, or https with a certificate of the test PKI.

Every POST is parsed strictly (request line, head, SOAP 1.1 envelope, the
operation's parameters in order) into a transcript entry; what is wrong
with it goes into the entry's "errors". The answer per operation is
scripted:

  doc:TEXT               the response with TEXT as its return value
  fault11:PREFIX:CODE    a SOAP 1.1 fault, envelope prefix PREFIX, code CODE
                         (CODE|TEXT: with TEXT as its fault string)
  fault12:PREFIX:CODE    a SOAP 1.2 fault (Code/Value), likewise
  status:N               an empty answer with HTTP status N
  html:N                 an HTML page with status N
  gzip                   the response, gzip-compressed, marked as such
  short                  the head promises more body than is sent, then close
  oversize               a response of 17 MiB
  stall                  the request is read, nothing is answered

An unscripted operation gets doc: with the empty text.

A GET without an HTTP version ("GET /hvn/resources/images/icons/NAME \r\n\r\n")
is an icon download; it is recorded as {"op": "GET", "path": ...} and
answered, as scripted with --script GET=ANSWER, by:

  gif                    the bare GIF file of the name, then close (default):
                         16x16, the top half in the colour the name's first
                         six hex digits give ("cc2211.gif"; else 2060c0),
                         the bottom half transparent
  stall                  nothing, the connection held open
  reset                  the first bytes of the GIF, then a connection reset
  endless                GIF bytes without end (until the client leaves) With --no-accept
the peer listens but never accepts, and fills its queue first, so that a
client's connect waits without an answer.

Importable (WebSide, serve) for the full fake server; alone:

  halvanet_web.py --port-file F [--lifetime S] [--transcript F]
                  [--cert C --key K] [--script OP=ANSWER]... [--no-accept]

The transcript is one JSON object a line, appended as each POST is read.
"""
import argparse
import gzip
import json
import os
import socket
import ssl
import sys
import threading
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peerlib import listen_local, publish_port, running, serve_connections  # noqa: E402

ENV11 = "http://schemas.xmlsoap.org/soap/envelope/"
ENC11 = "http://schemas.xmlsoap.org/soap/encoding/"
XSI = "http://www.w3.org/2001/XMLSchema-instance"
XSD = "http://www.w3.org/2001/XMLSchema"
SERVICE = "http://DefaultNamespace"
PATH = "/axis/HVNWS.jws"

# The operations and their parameters in order ("?" marks a boolean).
OPERATIONS = {
    "search": ["sessionCookie"],
    "modifySession": ["sessionCookie", "attrName", "attrValue"],
    "getSessionCookie": ["sessionToken"],
    "startSession": ["clientId", "?join"],
    "restartSession": ["clientId", "reconnectToken"],
    "setDRXConfiguration": ["sessionCookie"],
    "startDRX": ["sessionCookie"],
    "authenticateSession": ["sessionCookie", "username", "password"],
    "endSession": ["sessionCookie"],
    "lookupPrefs": ["sessionCookie"],
    "searchWebtopContent": ["sessionCookie"],
    "searchWebtopContentHierarchy": ["sessionCookie"],
    "registerDRXEventListener": ["sessionCookie", "eventName"],
    "resumeSession": ["sessionCookie", "emulatorSessionId"],
    "suspendSession": ["sessionCookie", "emulatorSessionId"],
    "getSessionToken": ["sessionCookie"],
    "startEmulatorSession": ["sessionCookie", "applicationName"],
    "endEmulatorSession": ["sessionCookie", "emulatorSessionId"],
    "getWebtop": ["sessionCookie", "?isHierarchical", "?lookupSessions"],
}

HEAD_LIMIT = 64 * 1024
BODY_LIMIT = 1 << 20


def xml_text(s):
    return (s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;"))


def envelope(body, prefix="SOAP-ENV", ns=ENV11):
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<%s:Envelope xmlns:%s="%s" xmlns:xsi="%s" xmlns:xsd="%s" xmlns:ns1="%s">'
            '<%s:Body>%s</%s:Body></%s:Envelope>'
            % (prefix, prefix, ns, XSI, XSD, SERVICE, prefix, body, prefix, prefix))


def response(op, text):
    return envelope('<ns1:%sResponse><%sReturn xsi:type="xsd:string">%s</%sReturn>'
                    '</ns1:%sResponse>' % (op, op, xml_text(text), op, op))


def fault11(prefix, code, text="scripted fault"):
    return envelope('<%s:Fault><faultcode>%s:%s</faultcode><faultstring>%s'
                    '</faultstring></%s:Fault>' % (prefix, prefix, code, xml_text(text), prefix),
                    prefix)


def fault12(prefix, code):
    p = prefix
    return envelope('<%s:Fault><%s:Code><%s:Value>%s:%s</%s:Value></%s:Code><%s:Reason>'
                    '<%s:Text xml:lang="en">scripted fault</%s:Text></%s:Reason></%s:Fault>'
                    % (p, p, p, p, code, p, p, p, p, p, p, p), p,
                    "http://www.w3.org/2003/05/soap-envelope")


class Request:
    """A POST as read off the wire, checked against the request form."""

    def __init__(self):
        self.line = ""
        self.head = {}
        self.body = b""
        self.op = None
        self.params = {}
        self.order = []
        self.errors = []

    def entry(self):
        return {"line": self.line, "head": self.head, "op": self.op, "params": self.params,
                "order": self.order, "errors": self.errors}


def gif_file(width, height, palette, pixels, transparent=None):
    """A GIF89a file of one image: palette a list of (r, g, b) (padded to a
    power of two), pixels the row-major indexes; LZW as the format has it."""
    depth = max(1, (len(palette) - 1).bit_length())
    palette = list(palette) + [(0, 0, 0)] * ((1 << depth) - len(palette))
    out = bytearray(b"GIF89a")
    out += bytes([width & 255, width >> 8, height & 255, height >> 8, 0x80 | (depth - 1), 0, 0])
    for rgb in palette:
        out += bytes(rgb)
    if transparent is not None:
        out += bytes([0x21, 0xF9, 4, 1, 0, 0, transparent, 0])
    out += bytes([0x2C, 0, 0, 0, 0, width & 255, width >> 8, height & 255, height >> 8, 0])
    min_size = max(2, depth)
    clear, end = 1 << min_size, (1 << min_size) + 1
    codes, bits, nbits = bytearray(), 0, 0

    def emit(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            codes.append(bits & 255)
            bits >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    free, width_now = end + 1, min_size + 1
    emit(clear, width_now)
    prefix = ()
    for p in pixels:
        word = prefix + (p,)
        if word in table:
            prefix = word
            continue
        emit(table[prefix], width_now)
        if free < 4096:
            table[word] = free
            free += 1
            if free > (1 << width_now) and width_now < 12:
                width_now += 1
        else:
            emit(clear, width_now)
            table = {(i,): i for i in range(clear)}
            free, width_now = end + 1, min_size + 1
        prefix = (p,)
    if prefix:
        emit(table[prefix], width_now)
    emit(end, width_now)
    if nbits:
        codes.append(bits & 255)
    out.append(min_size)
    for i in range(0, len(codes), 255):
        block = codes[i:i + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3B"
    return bytes(out)


def icon_gif(name):
    """The icon of a name: the top half in the name's colour, the rest
    transparent."""
    hexpart = name.split("/")[-1][:6]
    try:
        rgb = bytes.fromhex(hexpart) if len(hexpart) == 6 else bytes.fromhex("2060c0")
    except ValueError:
        rgb = bytes.fromhex("2060c0")
    return gif_file(16, 16, [tuple(rgb), (255, 255, 255), (0, 0, 0)], [0] * 128 + [1] * 128,
                    transparent=1)


def read_request(conn):
    """One request from conn, or None when the connection ends first."""
    data = b""
    while b"\r\n\r\n" not in data:
        if len(data) > HEAD_LIMIT:
            return None
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    req = Request()
    lines = head.decode("latin-1").split("\r\n")
    req.line = lines[0]
    if req.line.startswith("GET "):
        # An icon download: no version, no head, nothing after the blank line.
        req.op = "GET"
        parts = req.line.split(" ")
        req.params = {"path": parts[1] if len(parts) > 1 else ""}
        if len(parts) != 3 or parts[2] != "" or len(lines) != 1 or rest:
            req.errors.append("icon request %r" % data)
        return req
    for line in lines[1:]:
        key, sep, value = line.partition(": ")
        if not sep:
            req.errors.append("bad header line %r" % line)
            continue
        if key in req.head:
            req.errors.append("header %s twice" % key)
        req.head[key] = value
    try:
        length = int(req.head.get("Content-Length", ""))
    except ValueError:
        req.errors.append("no Content-Length")
        length = len(rest)
    length = min(length, BODY_LIMIT)
    while len(rest) < length:
        chunk = conn.recv(length - len(rest))
        if not chunk:
            req.errors.append("body cut short")
            break
        rest += chunk
    if len(rest) > length:
        req.errors.append("bytes after the body")
    req.body = rest[:length]
    check(req)
    return req


def check(req):
    """The strict reading: what the client must send."""
    parts = req.line.split(" ")
    if len(parts) != 3 or parts[0] != "POST" or parts[2] != "HTTP/1.1":
        req.errors.append("request line %r" % req.line)
    elif parts[1] != PATH:
        req.errors.append("path %r" % parts[1])
    for key, want in (("Content-Type", "text/xml; charset=utf-8"), ("Connection", "close"),
                      ("SOAPAction", '""'), ("User-Agent", "gSOAP/2.7")):
        if req.head.get(key) != want:
            req.errors.append("%s %r" % (key, req.head.get(key)))
    if "Host" not in req.head:
        req.errors.append("no Host")
    if not req.body.startswith(b'<?xml version="1.0" encoding="UTF-8"?>\n'):
        req.errors.append("declaration")
    try:
        root = ET.fromstring(req.body)
    except ET.ParseError as e:
        req.errors.append("XML: %s" % e)
        return
    if root.tag != "{%s}Envelope" % ENV11 or len(root) != 1:
        req.errors.append("envelope %s with %d children" % (root.tag, len(root)))
        return
    body = root[0]
    if body.tag != "{%s}Body" % ENV11 or body.get("{%s}encodingStyle" % ENV11) != ENC11:
        req.errors.append("body %s" % body.tag)
        return
    ids = {}
    elems = list(body)
    for e in elems[1:]:
        if e.tag != "id" or "id" not in e.attrib:
            req.errors.append("extra body element %s" % e.tag)
            continue
        ids["#" + e.get("id")] = e.text or ""
    if not elems or not elems[0].tag.startswith("{%s}" % SERVICE):
        req.errors.append("no request element in the service namespace")
        return
    call = elems[0]
    req.op = call.tag.split("}", 1)[1]
    names = OPERATIONS.get(req.op)
    if names is None:
        req.errors.append("unknown operation %s" % req.op)
        return
    expected = [n.lstrip("?") for n in names]
    for child in call:
        name = child.tag
        req.order.append(name)
        if name not in expected:
            req.errors.append("unknown parameter %s" % name)
            continue
        if "{%s}type" % XSI in child.attrib:
            req.errors.append("xsi:type on %s" % name)
        if "href" in child.attrib:
            if child.get("href") not in ids:
                req.errors.append("dangling href on %s" % name)
            req.params[name] = ids.get(child.get("href"))
        else:
            req.params[name] = child.text or ""
        if "?" + name in names and req.params[name] not in ("true", "false"):
            req.errors.append("boolean %s %r" % (name, req.params[name]))
    if [n for n in expected if n in req.order] != req.order:
        req.errors.append("parameters out of order: %s" % req.order)


def http_reply(status, body, ctype="text/xml; charset=utf-8", extra=""):
    reason = {200: "OK", 400: "Bad Request", 404: "Not Found", 407: "Proxy Authentication Required",
              500: "Internal Server Error"}.get(status, "Status")
    return (("HTTP/1.1 %d %s\r\nContent-Type: %s\r\n%sContent-Length: %d\r\n"
             "Connection: close\r\n\r\n" % (status, reason, ctype, extra, len(body))).encode()
            + body)


class WebSide:
    """The scripted web service; handle(conn) serves one connection."""

    def __init__(self, transcript=None):
        self.transcript = transcript
        self.answers = {}
        self.lock = threading.Lock()
        self.stalled = []

    def script(self, op, answer):
        self.answers[op] = answer

    def record(self, req):
        if not self.transcript:
            return
        with self.lock, open(self.transcript, "a") as f:
            f.write(json.dumps(req.entry()) + "\n")

    def answer_icon(self, conn, req):
        kind = self.answers.get("GET", "gif")
        path = req.params.get("path", "")
        gif = icon_gif(path)
        if kind == "gif":
            conn.sendall(gif)
            return True
        if kind == "reset":
            conn.sendall(gif[:10])
            time.sleep(0.2)
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            return True
        if kind == "endless":
            conn.sendall(gif[:13])
            chunk = b"\x00" * 65536
            try:
                while True:
                    conn.sendall(chunk)
            except (OSError, ssl.SSLError):
                return True
        return False

    def answer(self, req):
        """The bytes to send, or None to stall."""
        op = req.op or "?"
        kind, _, arg = self.answers.get(op, "doc:").partition(":")
        if kind == "doc":
            return http_reply(200, response(op, arg).encode())
        if kind in ("fault11", "fault12"):
            prefix, _, code = arg.partition(":")
            if kind == "fault11" and "|" in code:
                code, _, text = code.partition("|")
                return http_reply(500, fault11(prefix, code, text).encode())
            make = fault11 if kind == "fault11" else fault12
            return http_reply(500, make(prefix, code).encode())
        if kind == "status":
            return http_reply(int(arg), b"")
        if kind == "html":
            return http_reply(int(arg or 200), b"<html><body><h1>Welcome</h1></body></html>",
                              "text/html")
        if kind == "gzip":
            return http_reply(200, gzip.compress(response(op, "packed").encode()),
                              extra="Content-Encoding: gzip\r\n")
        if kind == "short":
            whole = http_reply(200, response(op, "cut").encode())
            return whole[:len(whole) - 40]
        if kind == "oversize":
            return http_reply(200, response(op, "x" * (17 << 20)).encode())
        return None

    def handle(self, conn):
        try:
            req = read_request(conn)
            if req is None:
                return
            self.record(req)
            if req.op == "GET":
                if not self.answer_icon(conn, req):
                    self.stalled.append(conn)
                    return
                conn.close()
                return
            reply = self.answer(req)
            if reply is None:
                # Held open until the client gives up; the peer's end
                # closes it.
                self.stalled.append(conn)
                return
            conn.sendall(reply)
        except (OSError, ssl.SSLError):
            pass
        try:
            conn.close()
        except OSError:
            pass


def tls_wrapper(cert, key):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)

    def wrap(conn):
        conn.settimeout(20)
        try:
            tls = ctx.wrap_socket(conn, server_side=True)
        except (OSError, ssl.SSLError):
            # A refused certificate ends the handshake: nothing is served.
            conn.close()
            return None
        tls.settimeout(None)
        return tls
    return wrap


def serve(side, port_file, lifetime, cert=None, key=None):
    srv = listen_local(16)
    wrap = tls_wrapper(cert, key) if cert else None
    serve_connections(srv, port_file, lifetime, side.handle, threaded=True, wrap=wrap)


def hold_unaccepted(port_file, lifetime):
    srv = listen_local(0)
    port = srv.getsockname()[1]
    fillers = []
    for _ in range(4):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", port))
        fillers.append(c)
    time.sleep(0.5)
    publish_port(port_file, port)
    end_at = time.time() + lifetime
    while running(port_file, end_at):
        time.sleep(0.1)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port-file", required=True)
    p.add_argument("--lifetime", type=float, default=120)
    p.add_argument("--transcript")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--script", action="append", default=[])
    p.add_argument("--no-accept", action="store_true")
    args = p.parse_args()
    if args.no_accept:
        return hold_unaccepted(args.port_file, args.lifetime)
    side = WebSide(args.transcript)
    for s in args.script:
        op, _, answer = s.partition("=")
        side.script(op, answer)
    serve(side, args.port_file, args.lifetime, args.cert, args.key)


if __name__ == "__main__":
    main()
