#!/usr/bin/env python3
"""A scripted Halvanet server: the server's end of the client's V-AIP SOAP
channel, strict about the bytes the client sends.

Wire (both directions): a header block of CR LF lines, the start line first
("POST /quorvellan/soap HTTP:/1.1" for a request, "HTTP/1.1 200 OK" for a
response or fault), "Name: value" headers with "Message-Id" ("0" when none)
and, from the client, "SO-Id" (the connection cookie) before it; then
"Content-Length:" bytes of SOAP 1.1 envelope in UTF-8. The client greets
every connection with ns1:init (connectioncookie, port, clientcapabilities
as "cap" items "name=value", an empty "devices" array).

Every event goes to a timed transcript (stdout, and --transcript). A
scenario that sees anything it did not expect ends with exit code 1.

Scenarios:
  demo       signs the client in (ns1:userinfo), launches the X application
             "awtwindow" and, once the client shows it, the character
             application "character" of application servers it runs itself
             (fake_appserver.py) and holds the session, logging whatever the
             client sends, until the client leaves.
  orders     signs in and launches --apps back to back (see
             scenario_orders), then holds the session.
  cycles     signs in and runs --cycles launch cycles of the X application
             and the character application (see scenario_cycles).
  local      signs in and launches --probe (a local program, placement 6)
             with the argument --probe-out: requires the answer status
             true under the request's id; then a program that does not
             exist: status false; each local launch then ends at once, so
             one ns1:applicationsEnded follows each answer; with
             --dialog-seen, a request that waits (no session) until that
             file exists, its cancel, and a wait for --dialog-gone; then completes the browser launch "r1"
             that a helper which runs applications announced, and "r2" of
             a helper that hosts them (the client connects it itself).
  launch     as demo, then waits for the file --close-file, which also ends
             the application; requires exactly one ns1:applicationsEnded.
  session    the client's whole session life: getState, a fault while a
             request is waiting, a drop and the reconnect, ns1:security to
             a second port, then that listener closes for good.
  tls        as demo, over TLS with --cert/--key (the test PKI).
  tlslaunch  signs in (without TLS), then launches the X application twice
             over TLS to "localhost" with --cert/--key: each must connect;
             then holds the session.
  autologin  two starts of the client. The first is made to connect by a
             helper with the connection cookie "HLP-1": it is signed in,
             gets ns1:automaticLogin (token --login-token, client id "7:9"
             and a "Default" profile: integrated mode, automatic login, the
             last proxy, the URL of the web side), and is signed out. The second
             comes through the web service with --cookie: signed in, it
             gets the X application of "demo", and is signed out once
             --logout-when exists.
  io         signs in, asks for the "io" and "smartcard" capabilities
             (the smart-card service record, SCARD and COM5 must be
             announced), then doIO to an application server playing the IO
             request service's serial scenario on COM5 (--client-tty is the
             client's end of the line), then a connection dropped midway and
             one after it, and one the next doIO replaces while it is open;
             then signs the client out.
  devices    signs in; the capabilities must report an audio format record
             and the fixed drive T: (--cdm-root, which cdm_peer.py checks
             through doCdm); ns1:startCdm must list T:; then doAudio plays
             1 s of 440 Hz (io_peer.py); then signs the client out.
  nocdm      "EnableCDM" 0: no drive in the capabilities nor in
             ns1:startCdm, ns1:doCdm answered "Client.CDM.Failed".
  print      signs in, asks for the print capabilities (the printer items
             must come in the devices element's "print"), sends a print job
             and doprint to an application server playing the print service
             (deflated pages); while the first job prints, two more print
             jobs (printstate must then be "printing"); each must be
             requested at the end of the one before; then printstate must be
             "ready"; then signs the client out.
  printmore  signs in, asks for the print capabilities; sends a job and a
             doprint to a closed port, then a second job, which must then
             be answered and print; while it prints, a job of another print
             service (answered at the second's end, then doprint to a second
             application server); one copy each; then printstate must be
             "ready"; then signs the client out.
  webtop     signs in; then, for each --update-when FILE=PROFILES in turn,
             waits for FILE and sends ns1:profileUpdate with PROFILES; then
             waits for --logout-when and signs the client out.
  scard      signs in, asks for the smart-card and device capabilities
             (the service record "1;32;1;5;0;" and the device
             "32;32;1;5;0;2;0;1;SCARD;" must be offered), then ns1:doSCard to
             an application server playing the smart-card server
             (scard_peer.py on the client's stand-in PC/SC service, driven
             through --scard-control; --scard-minimal when that service
             lacks its optional entry points); then signs the client out.
  cardlogin  signs in and launches an X application whose server is
             --app-port (laip_peer.py's "card" dialog), then holds.
  slowlink   writes every request one byte at a time, each CR alone; signs
             in, getState three times (each answered), then a drop that
             must be reconnected.
  stall      signs in, then floods getState (--flood of them) and reads
             nothing: the client must close that connection and reconnect
             within its write time-out; signs out once --logout-when exists.
With --logout the demo signs the client out again (ns1:logout).

With --web-port-file the same server also runs its web side (the session
web service of halvanet_web.py, its POSTs into --web-transcript): by
default startSession and restartSession hand out a session whose protocol
engine is this server (cookie "IC-1"), and startDRX hands out --cookie as
the connection cookie; --web-script OP=ANSWER replaces an operation's
answer.
Options --split N sends every packet in pieces of N bytes; --batch sends
two packets in one write where a scenario sends two in a row.
"""

import argparse
import os
import re
import socket
import ssl
import sys
import threading
import time
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402
import fake_appserver  # noqa: E402
import halvanet_web  # noqa: E402

ENV = "http://schemas.xmlsoap.org/soap/envelope/"
NS1 = "urn:quorvellan-serveroutpost"
REQUEST_LINE = b"POST /quorvellan/soap HTTP:/1.1"
RESPONSE_LINE = b"HTTP/1.1 200 OK"
MAX_PACKET = 0x80000


class ProtocolError(Exception):
    pass


class Transcript:
    def __init__(self, path):
        self.start = time.time()
        self.file = open(path, "a") if path else None
        self.lock = threading.Lock()
        self.raw = False

    def __call__(self, text):
        line = "[%7.3f] %s" % (time.time() - self.start, text)
        with self.lock:
            print(line, flush=True)
            if self.file:
                self.file.write(line + "\n")
                self.file.flush()


class Packet:
    """One packet as received: start line, headers in order, body, and the
    SOAP reading of the body."""

    def __init__(self, start, headers, body):
        self.start, self.headers, self.body = start, headers, body
        self.kind, self.method, self.params, self.fault = None, None, {}, None
        self.caps = {}
        self.returned = []  # the reply elements inside "return"

    def header(self, name):
        for n, v in self.headers:
            if n == name:
                return v
        return None

    def describe(self):
        if self.kind == "fault":
            return "fault %s" % (self.fault,)
        items = " ".join("%s=%r" % kv for kv in sorted(self.params.items()))
        return "%s %s id=%s %s" % (self.kind, self.method,
                                   self.header("Message-Id"), items)


def local(tag):
    return tag.rsplit("}", 1)[-1]


def parse_soap(p):
    try:
        root = ET.fromstring(p.body)
    except ET.ParseError as e:
        raise ProtocolError("body is no XML: %s" % e)
    if root.tag != "{%s}Envelope" % ENV:
        raise ProtocolError("no SOAP envelope: %s" % root.tag)
    body = root.find("{%s}Body" % ENV)
    if body is None or len(body) == 0:
        raise ProtocolError("empty SOAP body")
    method = body[0]
    if method.tag == "{%s}Fault" % ENV:
        p.kind = "fault"
        p.fault = (method.findtext("faultcode"), method.findtext("faultstring"))
        return
    p.method = local(method.tag)
    if method.tag != "{%s}%s" % (NS1, p.method):
        raise ProtocolError("method outside the outpost namespace: %s" % method.tag)
    p.kind = "response" if p.method.endswith("Response") else "request"
    for child in method:
        name = local(child.tag)
        if name == "return":
            # The return element holds the reply element, as markup or as
            # escaped text.
            inner = list(child)
            if not inner and (child.text or "").strip():
                # Typed items inside name their types with the envelope's
                # xsi and xsd prefixes, which the text itself does not bind.
                wrapped = ('<w xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
                           'xmlns:xsd="http://www.w3.org/2001/XMLSchema">%s</w>' % child.text)
                try:
                    inner = list(ET.fromstring(wrapped))
                except ET.ParseError as e:
                    raise ProtocolError("return text is no XML: %s" % e)
            p.returned = inner  # the reply elements, for scenarios that read deeper
            for ret in inner:
                for value in ret:
                    p.params[local(value.tag)] = value.text or ""
            continue
        items = list(child)
        if items:
            p.params[name] = [i.text or "" for i in items]
            if name == "clientcapabilities":
                for cap in p.params[name]:
                    k, _, v = cap.partition("=")
                    p.caps[k] = v
        else:
            p.params[name] = child.text or ""


class Conn:
    """One client connection: strict reads, framed writes."""

    def __init__(self, sock, log, split=0):
        self.sock, self.log, self.split = sock, log, split
        self.buf = b""
        self.sent_ids = 0

    def _fill(self, deadline):
        left = deadline - time.time()
        if left <= 0:
            raise socket.timeout()
        self.sock.settimeout(left)
        chunk = self.sock.recv(65536)
        if not chunk:
            raise EOFError()
        self.buf += chunk

    def read_packet(self, timeout=20):
        deadline = time.time() + timeout
        while b"\r\n\r\n" not in self.buf:
            if len(self.buf) > MAX_PACKET:
                raise ProtocolError("header block never ends")
            self._fill(deadline)
        head, _, rest = self.buf.partition(b"\r\n\r\n")
        lines = head.split(b"\r\n")
        if any(b"\n" in l or b"\r" in l for l in lines):
            raise ProtocolError("line ends other than CR LF")
        start = lines[0]
        if start not in (REQUEST_LINE, RESPONSE_LINE):
            raise ProtocolError("start line %r" % start)
        headers = []
        for line in lines[1:]:
            name, colon, value = line.partition(b": ")
            if not colon or not name:
                raise ProtocolError("header line %r" % line)
            headers.append((name.decode("ascii"), value.decode("utf-8")))
        lengths = [v for n, v in headers if n == "Content-Length"]
        if len(lengths) != 1 or not lengths[0].isdigit():
            raise ProtocolError("Content-Length %r" % lengths)
        n = int(lengths[0])
        while len(rest) < n:
            self._fill(deadline)
            rest = self.buf.partition(b"\r\n\r\n")[2]
        body = rest[:n]
        self.buf = rest[n:]
        p = Packet(start, headers, body)
        names = [h for h, _ in headers]
        if "Message-Id" not in names:
            raise ProtocolError("no Message-Id")
        if start == REQUEST_LINE and names.index("SO-Id") > names.index("Message-Id"):
            raise ProtocolError("SO-Id after Message-Id")
        if self.log.raw:
            self.log("raw %r" % (self.buf[:0] + head + b"\r\n\r\n" + body))
        parse_soap(p)
        if (start == REQUEST_LINE) != (p.kind == "request"):
            raise ProtocolError("%s under start line %r" % (p.kind, start))
        self.log("recv %s" % p.describe())
        return p

    def frame(self, start, body, message_id):
        head = [start, b"Content-Type: text/xml",
                b"Message-Id: " + str(message_id).encode(),
                b"Content-Length: " + str(len(body)).encode()]
        return b"\r\n".join(head) + b"\r\n\r\n" + body

    def send_raw(self, data):
        if self.split:
            for i in range(0, len(data), self.split):
                self.sock.sendall(data[i:i + self.split])
                time.sleep(0.02)
        else:
            self.sock.sendall(data)

    def request_bytes(self, method, params, message_id):
        self.log("send request %s id=%s %s" % (method, message_id, params))
        return self.frame(REQUEST_LINE, envelope(request_xml(method, params)),
                          message_id)

    def request(self, method, params=(), message_id=None):
        if message_id is None:
            self.sent_ids += 1
            message_id = self.sent_ids
        self.send_raw(self.request_bytes(method, params, message_id))
        return str(message_id)

    def fault_bytes(self, code, string, message_id=0):
        self.log("send fault %s %r" % (code, string))
        body = ("<SOAP-ENV:Fault><faultcode>%s</faultcode><faultstring>%s"
                "</faultstring></SOAP-ENV:Fault>" % (xml_text(code), xml_text(string)))
        return self.frame(RESPONSE_LINE, envelope(body), message_id)

    def next_id(self):
        self.sent_ids += 1
        return str(self.sent_ids)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


def xml_text(s):
    return (s.replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;").replace('"', "&quot;"))


def request_xml(method, params):
    out = ['<ns1:%s xmlns:ns1="%s" SOAP-ENV:encodingStyle='
           '"http://schemas.xmlsoap.org/soap/encoding/">' % (method, NS1)]
    for name, value in params:
        kind = "xsd:int" if isinstance(value, int) else "xsd:string"
        out.append('<%s xsi:type="%s">%s</%s>' % (name, kind, xml_text(str(value)), name))
    out.append("</ns1:%s>" % method)
    return "".join(out)


def envelope(inner):
    return ('<?xml version="1.0" encoding="UTF-8"?>'
            '<SOAP-ENV:Envelope xmlns:SOAP-ENV="%s" '
            'xmlns:xsi="http://www.w3.org/1999/XMLSchema-instance" '
            'xmlns:xsd="http://www.w3.org/1999/XMLSchema">'
            '<SOAP-ENV:Body>%s</SOAP-ENV:Body></SOAP-ENV:Envelope>'
            % (ENV, inner)).encode("utf-8")


class Server:
    def __init__(self, args, log):
        self.args, self.log = args, log
        self.listener = peerlib.listen_local(4)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.tls = None
        if args.cert:
            self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            self.tls.load_cert_chain(args.cert, args.key)

    def accept(self, timeout=30, listener=None):
        listener = listener or self.listener
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                sock, _ = listener.accept()
            except socket.timeout:
                continue
            if self.tls:
                sock.settimeout(20)
                sock = self.tls.wrap_socket(sock, server_side=True)
            port = listener.getsockname()[1]
            self.log("accept on port %d" % port)
            return Conn(sock, self.log, self.args.split)
        raise ProtocolError("no connection within %d s" % timeout)


def expect(cond, what):
    if not cond:
        raise ProtocolError("expected " + what)


def expect_init(c, cookie, reconnecting=False):
    p = c.read_packet()
    expect(p.kind == "request" and p.method == "init", "ns1:init")
    expect(p.header("SO-Id") == cookie, "SO-Id %r, got %r" % (cookie, p.header("SO-Id")))
    expect(p.header("Message-Id") == "0", "Message-Id 0")
    expect(p.params.get("connectioncookie") == cookie, "connectioncookie")
    expect(p.params.get("port", "").isdigit(), "a port")
    expect(p.params.get("devices") in ([], ""), "an empty devices array")
    expect(p.caps.get("soapclientversion") == "4.31.953", "soapclientversion")
    expect((p.caps.get("reconnecting") == "true") == reconnecting,
           "reconnecting %s" % reconnecting)
    return p


def expect_reply(c, message_id, method, timeout=20):
    p = c.read_packet(timeout)
    expect(p.kind == "response" and p.method == method, method)
    expect(p.header("Message-Id") == message_id, "Message-Id %s" % message_id)
    return p


def sign_in(c):
    c.request("userinfo", [("shortname", "demo"), ("fullname", "Demo User"),
                           ("locale", "en"), ("server", "127.0.0.1")])


def hold(c, end_at, done=lambda: False):
    """Logs what the client sends until it leaves, done() holds or time
    runs out."""
    while time.time() < end_at and not done():
        try:
            c.read_packet(timeout=max(0.1, min(1.0, end_at - time.time())))
        except socket.timeout:
            continue
        except (EOFError, OSError):
            c.log("client closed the connection")
            return


# Application kinds: object class and display size.
APP_KINDS = {"awtwindow": ("mrkqvlxapplication", (160, 120)),
             "character": ("mrkqvlcharacterapplication", (640, 400))}


def launch(c, args, kind, name=None, session="s1", cookie="c1", host="127.0.0.1", **options):
    """Runs an application server of that kind ("refused": an X application
    whose server ends the exchange with code 1) and asks the client to show
    its application (named "cn=" + name) in a window of its own, connecting
    to host (over TLS when options hold an SSL context "tls")."""
    app = "awtwindow" if kind in ("refused", "asking") else kind
    objectclass, size = APP_KINDS[app]
    size = options.setdefault("size", size)
    if kind == "refused":
        options["result"] = 1
    options["ask"] = kind == "asking"
    server = fake_appserver.AppServer(c.log, session, "demo", cookie, host, app=app,
                                      close_file=args.close_file, **options).start()
    security = [("mrkqvlsessionsecurity", "ssl")] if options.get("tls") else []
    mid = c.request("requestLaunch", [
        ("objectclass", objectclass), ("mrkqvlapplicationplacement", "awtwindow"),
        ("mrkqvlsessionappname", "cn=" + (name or kind)), ("mrkqvlsessionid", session),
        ("mrkqvlsessionowner", "demo"), ("mrkqvlsessioncookie", cookie),
        ("mrkqvlsessionexternaldnsname", host), ("mrkqvlsessionport", server.port),
        ("mrkqvlsessionwidth", size[0]), ("mrkqvlsessionheight", size[1])] + security)
    expect_reply(c, mid, "requestLaunchResponse")
    return server


def launch_x(c, args):
    return launch(c, args, "awtwindow")


def scenario_demo(srv, args):
    c = srv.accept(timeout=args.lifetime)
    expect_init(c, args.cookie)
    sign_in(c)
    if args.logging:
        c.request("setState", [("logging", args.logging)])
    if args.devices:
        # Every capability: the client starts its device channels.
        mid = c.request("clientCapabilities", [("all", "")])
        expect_reply(c, mid, "clientCapabilitiesResponse")
    if args.token:
        # A token the client must never write where other programs read:
        # as a request of its own and inside a page address.
        c.request("token", [("connectiontoken", args.token)])
        c.request("webserver", [("url", "http://127.0.0.1/w?connectiontoken=" + args.token),
                                ("frame", "f")])
    if args.restart:
        # The client restarts the session itself: a fault would come before
        # the reply below.
        c.request("restartEvent", [("connectiontoken", args.restart)])
    mid = c.request("getState", [("reconnect", "")])
    expect_reply(c, mid, "getStateResponse")
    if args.logout:
        c.request("logout")
        hold(c, time.time() + 30)
        return
    c.log("session held; the client is signed in")
    if args.logout_when:
        end_at = time.time() + args.lifetime
        while time.time() < end_at and not os.path.exists(args.logout_when):
            if args.burst and args.burst_when and os.path.exists(args.burst_when):
                # Requests the client does not know: each one it logs twice
                # at the packet level (received, unsupported), none answered.
                os.remove(args.burst_when)
                c.send_raw(b"".join(c.request_bytes("hvBurst", [], 100000 + i)
                                    for i in range(args.burst)))
                c.log("burst of %d requests sent" % args.burst)
            if args.trigger and args.trigger_when and os.path.exists(args.trigger_when):
                os.remove(args.trigger_when)
                c.request("triggeruicomponent", [("component", args.trigger)])
            try:
                c.read_packet(timeout=0.2)
            except socket.timeout:
                continue
            except (EOFError, OSError):
                c.log("client closed the connection")
                return
        c.request("logout")
        hold(c, time.time() + 30)
        return
    # Both frames open at the screen's corner, the one shown last on top:
    # the character application comes second, and the X application's
    # screen is wider than the character frame and draws its picture where
    # that frame leaves it uncovered.
    x = launch(c, args, "awtwindow", size=(880, 160), at=(690, 8))
    hold(c, time.time() + 60, x.shown.is_set)
    launch(c, args, "character", session="s3", cookie="c3")
    hold(c, time.time() + args.lifetime)


def scenario_orders(srv, args):
    """Launches --apps one right after the other (names numbered by
    position), then holds the session. With --first-closes the first
    application ends once the second's connect request came, and the
    second's exchange ends only after that. A first application "asking"
    asks for credentials, and the next launch comes while that is open."""
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    c.request("setState", [("logging", "logging_all")])
    apps = []
    for i, kind in enumerate(args.apps.split(","), 1):
        options = {}
        if apps and apps[0].ask:
            apps[0].asked.wait(60)
            time.sleep(1)  # the login dialog is up
        if args.first_closes and i == 1:
            options["stop"] = lambda: len(apps) > 1 and apps[1].connected.is_set()
        elif args.first_closes and i == 2:
            options["hold"] = apps[0].ended.is_set
        apps.append(launch(c, args, kind, "%s%d" % (kind, i), "s%d" % i, "c%d" % i, **options))
    hold(c, time.time() + args.lifetime)


def scenario_cycles(srv, args):
    """Each cycle launches the X application, and once it shows the character
    application, so that the X frame is the active one as that starts. The X
    application then ends (with --x-stays, once the client closes it); the
    character application must stay connected 1 s past that, and ends once
    --close-file exists (at once without one). Every cycle must end with ns1:applicationsEnded, no fault,
    and none may take 20 s longer than the median one (a client that hangs)."""
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    c.request("setState", [("logging", "logging_all")])
    took = []
    for i in range(1, args.cycles + 1):
        started = time.time()
        apps, done = [], []
        x_stop = lambda: not args.x_stays and len(apps) > 1 and apps[1].shown.is_set()
        apps.append(launch(c, args, "awtwindow", "awtwindow%d" % i, "x%d" % i, "cx%d" % i,
                           stop=x_stop))
        hold(c, time.time() + 30, apps[0].shown.is_set)
        expect(apps[0].shown.is_set(), "awtwindow%d shown (launch accepted)" % i)
        apps.append(launch(c, args, "character", "character%d" % i, "t%d" % i, "ct%d" % i,
                           stop=None if args.close_file else lambda: bool(done)))
        hold(c, time.time() + 30, apps[1].shown.is_set)
        hold(c, time.time() + 30, apps[0].ended.is_set)
        hold(c, time.time() + 1, apps[1].ended.is_set)
        expect(not apps[1].ended.is_set(), "character%d connected past the X end" % i)
        done.append(1)
        p, end_at = None, time.time() + 90
        while not (p and p.kind == "request" and p.method == "applicationsEnded"):
            try:
                p = c.read_packet(timeout=max(0.1, end_at - time.time()))
            except socket.timeout:
                raise ProtocolError("no ns1:applicationsEnded in cycle %d" % i)
            expect(p.kind != "fault", "no fault, got %s" % (p.fault,))
        took.append(time.time() - started)
        c.log("cycle %d took %.1f s" % (i, took[-1]))
    median, slowest = sorted(took)[len(took) // 2], max(took)
    c.log("cycles: median %.1f s, slowest %.1f s (cycle %d)"
          % (median, slowest, took.index(slowest) + 1))
    expect(slowest < median + 20, "no cycle 20 s over the median")


def scenario_launch(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    c.request("setState", [("logging", "logging_all")])  # the launch states are info
    launch_x(c, args)
    while not os.path.exists(args.close_file):
        time.sleep(0.1)
    ended = 0
    end_at = time.time() + 30
    while time.time() < end_at:
        try:
            p = c.read_packet(timeout=max(0.1, min(1.0, end_at - time.time())))
        except socket.timeout:
            continue
        if p.kind == "request" and p.method == "applicationsEnded":
            ended += 1
            end_at = min(end_at, time.time() + 2)  # a second one would come at once
    expect(ended == 1, "one ns1:applicationsEnded, got %d" % ended)


def scenario_flood(srv, args):
    """Once --flood-when exists, --flood launch requests, each with a new
    message id and too few parameters to start, in batches; every one is
    answered, with a reply while the client has room and a fault after."""
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    while not os.path.exists(args.flood_when):
        time.sleep(0.1)
    answers = {"response": 0, "fault": 0}
    for first in range(0, args.flood, 100):
        ids = range(first + 1000, min(first + 100, args.flood) + 1000)
        c.send_raw(b"".join(c.request_bytes("requestLaunch", [
            ("mrkqvlapplicationplacement", "awtwindow"), ("mrkqvlsessionappname", "cn=flood"),
            ("mrkqvlshowlaunchdialogafter", 600)], i) for i in ids))
        for _ in ids:
            p = c.read_packet()
            expect(p.kind in answers, "a reply or a fault, got %s" % p.describe())
            answers[p.kind] += 1
    c.log("flood answered: %(response)d replies, %(fault)d faults" % answers)
    hold(c, time.time() + args.lifetime)


def scenario_session(srv, args):
    c = srv.accept()
    connected = time.time()
    expect_init(c, args.cookie)
    sign_in(c)
    c.request("setState", [("reconnectattempts", 2)])
    c.request("setState", [("reconnectwait", 1)])
    mid = c.request("getState", [("reconnect", "")])
    p = expect_reply(c, mid, "getStateResponse")
    expect(p.params.get("value") == "always", "reconnect always")
    # A fault opens a box on the client; the request after it waits until
    # the box is dismissed, then is answered without being asked again.
    mid = c.next_id()
    data = [c.fault_bytes("Client.Test", "scripted fault"),
            c.request_bytes("getState", [("reconnectattempts", "")], mid)]
    if args.batch:
        c.send_raw(b"".join(data))
    else:
        for d in data:
            c.send_raw(d)
    c.log("waiting for the box to be dismissed")
    p = expect_reply(c, mid, "getStateResponse", timeout=60)
    expect(p.params.get("value") == "2", "2 attempts")
    # A drop later than 2 s after connecting is reconnected at once.
    time.sleep(max(0.0, connected + 3 - time.time()))
    c.log("drop")
    c.close()
    c = srv.accept()
    expect_init(c, args.cookie, reconnecting=True)
    # A security change moves the client to another port and cookie.
    second = peerlib.listen_local(4)
    second.settimeout(0.2)
    port2 = second.getsockname()[1]
    c.request("security", [("securitylevel", "none"), ("server", "127.0.0.1"),
                           ("connectioncookie", "second"), ("port", port2)])
    c2 = srv.accept(listener=second)
    expect_init(c2, "second", reconnecting=True)
    c.close()
    # The second server goes away for good: the client tries twice, then
    # tells the user and ends.
    c2.log("closing the second listener")
    second.close()
    c2.close()
    srv.listener.close()
    c2.log("done")


def scenario_tls(srv, args):
    scenario_demo(srv, args)


def scenario_tlslaunch(srv, args):
    tls, srv.tls = srv.tls, None  # the certificate is the applications'
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    for session in ("s1", "s2"):
        app = launch(c, args, "awtwindow", session=session, host="localhost", tls=tls)
        hold(c, time.time() + 60, app.connected.is_set)
        expect(app.connected.is_set(), "the connect request of " + session)
    hold(c, time.time() + args.lifetime)


def wait_file(path, seconds):
    end_at = time.time() + seconds
    while time.time() < end_at and not os.path.exists(path):
        time.sleep(0.1)
    return os.path.exists(path)


def scenario_local(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    for program, status in ((args.probe, "true"), (args.probe + ".missing", "false")):
        mid = c.request("requestLaunch", [
            ("mrkqvlapplicationplacement", "mrkqvltrylocalwindowsapplication"),
            ("locallaunchcommand", program), ("locallauncharguments", args.probe_out)])
        p = expect_reply(c, mid, "requestLaunchResponse", timeout=30)
        expect(p.params.get("status") == status, "status %s, got %r" % (status, p.params))
        expect(p.params.get("transactionid") == mid, "transactionid %s" % mid)
        # Nothing follows a local program once it ran: the launch ends, and
        # with it the client's last application.
        p = c.read_packet(30)
        expect(p.kind == "request" and p.method == "applicationsEnded",
               "applicationsEnded after the local launch, got %s %s" % (p.kind, p.method))
    if args.dialog_seen:
        # A request still waiting for its session shows its launch dialog at
        # once; cancelling the request takes the dialog away.
        mid = c.request("requestLaunch", [
            ("objectclass", "mrkqvlxapplication"), ("mrkqvlapplicationplacement", "awtwindow"),
            ("mrkqvlsessionappname", "cn=waiting")])
        expect_reply(c, mid, "requestLaunchResponse")
        expect(wait_file(args.dialog_seen, 60), "the waiting request's dialog was not seen")
        c.request("cancelLaunch", [("transactionid", mid)])
        expect(wait_file(args.dialog_gone, 60), "the cancelled request's dialog stayed")
    # The helper (fake_helper.py, "runs") announced request r1: the launch
    # is completed here and handed to it.
    c.request("requestLaunch", [
        ("objectclass", "mrkqvlxapplication"), ("mrkqvlapplicationplacement", "mainbrowser"),
        ("mrkqvlsessionid", "s9"), ("mrkqvlsessioncookie", "c9"),
        ("mrkqvlsessionexternaldnsname", "127.0.0.1"), ("mrkqvlsessionport", 9)],
        message_id="r1")
    expect_reply(c, "r1", "requestLaunchResponse")
    # A helper that hosts applications announced r2 with its window: the
    # client connects to the application server itself, and may scale the
    # application's display.
    app = fake_appserver.AppServer(c.log, "s2", "", "c2", "127.0.0.1").start()
    c.request("requestLaunch", [
        ("objectclass", "mrkqvlxapplication"), ("mrkqvlapplicationplacement", "mainbrowser"),
        ("mrkqvlscalable", "true"),
        ("mrkqvlsessionid", "s2"), ("mrkqvlsessioncookie", "c2"),
        ("mrkqvlsessionexternaldnsname", "127.0.0.1"), ("mrkqvlsessionport", app.port)],
        message_id="r2")
    expect_reply(c, "r2", "requestLaunchResponse")
    expect(app.connected.wait(30), "the hosted launch's connect request")
    hold(c, time.time() + 2)


def scenario_print(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("clientCapabilities", [("print", "")])
    p = expect_reply(c, mid, "clientCapabilitiesResponse")
    printers = [local(x.tag) for r in getattr(p, "returned", []) for d in r
                if local(d.tag) == "devices" for e in d if local(e.tag) == "print" for x in e]
    c.log("devices/print %r" % printers)
    expect("printername" in printers and "multipleprinters" in printers,
           "the printer items in devices/print")
    jobs = ["http://127.0.0.1/printing/_service/job%d" % n for n in (1, 2, 3)]
    results = []
    first_printing, first_may_end = threading.Event(), threading.Event()

    def during_first():
        first_printing.set()
        first_may_end.wait(60)

    app = fake_appserver.AppServer(lambda line: (results.append(line), c.log(line)), "s9",
                                   "demo", "c9", "127.0.0.1", app="print", job=jobs,
                                   options={"during": during_first}).start()
    mid = c.request("print", [("jobname", jobs[0])])
    p = expect_reply(c, mid, "printResponse")
    c.request("doprint", [("mrkqvlsessionid", "s9"), ("mrkqvlsessionowner", "demo"),
                          ("mrkqvlsessioncookie", "c9"),
                          ("mrkqvlsessionexternaldnsname", "127.0.0.1"),
                          ("mrkqvlsessionport", app.port)])
    # The next jobs wait in the client's queue without an answer; the
    # state's answer comes after both are handled.
    expect(first_printing.wait(60), "the first job printing")
    for job in jobs[1:]:
        c.request("print", [("jobname", job)])
    mid = c.request("getState", [("printstate", "")])
    p = expect_reply(c, mid, "getStateResponse")
    first_may_end.set()
    expect(p.params.get("value") == "printing",
           "printstate printing, got %r" % p.params.get("value"))
    end_at = time.time() + 60
    while time.time() < end_at and not any(r.startswith("print ") for r in results):
        time.sleep(0.1)
    expect("print ok" in results, "the print service's result: %r" % results)
    # A PostScript driver (every queue of Wine's printer driver) says so.
    expect("hello pt=PostScript" in results, "the client hello's type: %r" % results)
    mid = c.request("getState", [("printstate", "")])
    p = expect_reply(c, mid, "getStateResponse")
    expect(p.params.get("value") == "ready", "printstate ready, got %r" % p.params.get("value"))
    c.log("print done")
    c.request("logout")
    hold(c, time.time() + 30)


def scenario_printmore(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("clientCapabilities", [("print", "")])
    expect_reply(c, mid, "clientCapabilitiesResponse")
    jobs = ["http://127.0.0.1/printing/_service/lost", "http://127.0.0.1/printing/_service/job2",
            "http://localhost/printing/_service/job3"]
    results = []
    printing, may_end = threading.Event(), threading.Event()

    def during():
        printing.set()
        may_end.wait(60)

    def service(session, job, options):
        return fake_appserver.AppServer(lambda line: (results.append(line), c.log(line)),
                                        session, "demo", "c9", "127.0.0.1", app="print", job=job,
                                        options=dict(options, copies=1)).start()

    def doprint(session, port):
        c.request("doprint", [("mrkqvlsessionid", session), ("mrkqvlsessionowner", "demo"),
                              ("mrkqvlsessioncookie", "c9"),
                              ("mrkqvlsessionexternaldnsname", "127.0.0.1"),
                              ("mrkqvlsessionport", port)])

    expect_reply(c, c.request("print", [("jobname", jobs[0])]), "printResponse")
    second = c.request("print", [("jobname", jobs[1])])
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    closed_port = closed.getsockname()[1]
    closed.close()
    doprint("s8", closed_port)
    # The first job's connection fails: the second is answered.
    expect_reply(c, second, "printResponse", timeout=60)
    doprint("s9", service("s9", jobs[1], {"during": during}).port)
    expect(printing.wait(60), "the second job printing")
    third = c.request("print", [("jobname", jobs[2])])
    expect_reply(c, c.request("getState", [("printstate", "")]), "getStateResponse")
    may_end.set()
    expect_reply(c, third, "printResponse", timeout=60)
    doprint("s10", service("s10", jobs[2], {}).port)
    end_at = time.time() + 60
    while time.time() < end_at and len([r for r in results if r.startswith("print ")]) < 2:
        time.sleep(0.1)
    expect(results.count("print ok") == 2, "the print services' results: %r" % results)
    p = expect_reply(c, c.request("getState", [("printstate", "")]), "getStateResponse")
    expect(p.params.get("value") == "ready", "printstate ready, got %r" % p.params.get("value"))
    c.log("print done")
    c.request("logout")
    hold(c, time.time() + 30)


def read_when_written(path, seconds):
    """The file's text once it holds some (a port file written by another
    process)."""
    end_at = time.time() + seconds
    while time.time() < end_at:
        if path and os.path.exists(path) and open(path).read().strip():
            return open(path).read().strip()
        time.sleep(0.1)
    raise ProtocolError("no %s within %d s" % (path, seconds))


def scenario_autologin(srv, args):
    c = srv.accept(timeout=args.lifetime)
    expect_init(c, "HLP-1")
    sign_in(c)
    web = read_when_written(args.web_port_file, 10)
    profiles = ('<profile name="Default"><url>http://127.0.0.1:%s/hvn/</url>'
                '<mode>integrated</mode><autologin>true</autologin><proxy>browser</proxy>'
                '</profile>' % web)
    c.request("automaticLogin", [("token", args.login_token), ("drxclientid", "7:9"),
                                 ("profiles", profiles)])
    c.request("logout")
    hold(c, time.time() + 30)
    c = srv.accept(timeout=args.lifetime)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("getState", [("reconnect", "")])
    expect_reply(c, mid, "getStateResponse")
    launch_x(c, args)
    end_at = time.time() + args.lifetime
    while not (args.logout_when and os.path.exists(args.logout_when)):
        expect(time.time() < end_at, "the file %s" % args.logout_when)
        try:
            c.read_packet(timeout=0.2)
        except socket.timeout:
            continue
    c.request("logout")
    hold(c, time.time() + 30)


def scenario_webtop(srv, args):
    c = srv.accept(timeout=args.lifetime)
    expect_init(c, args.cookie)
    sign_in(c)
    end_at = time.time() + args.lifetime

    def wait_for(path):
        while not os.path.exists(path):
            expect(time.time() < end_at, "the file %s" % path)
            try:
                c.read_packet(timeout=0.2)
            except socket.timeout:
                continue

    for update in args.update_when:
        path, _, profiles = update.partition("=")
        wait_for(path)
        c.request("profileUpdate", [("profiles", profiles)])
        c.log("profileUpdate sent")
    if args.logout_when:
        wait_for(args.logout_when)
    c.request("logout")
    hold(c, time.time() + 30)


def scenario_scard(srv, args):
    import scard_peer
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("clientCapabilities", [("smartcard", ""), ("io", "")])
    p = expect_reply(c, mid, "clientCapabilitiesResponse")
    body = p.body.decode("utf-8")
    for element, item in (("smartcard", "1;32;1;5;0;=128"),
                          ("io", "32;32;1;5;0;2;0;1;SCARD;=512")):
        tag = "&lt;%s&gt;&lt;attribute&gt;%s&lt;/attribute&gt;" % (element, item)
        expect(tag in body, "%s in %s" % (tag, body))
    opts = scard_peer.options(["--control", args.scard_control] +
                              (["--minimal"] if args.scard_minimal else []))
    results = []
    fake_appserver.APPS["scard"] = lambda conn, log, close_file: results.append(
        scard_peer.run(conn, opts))
    app = fake_appserver.AppServer(c.log, "s8", "demo", "c8", "127.0.0.1", app="scard").start()
    c.request("doSCard", [("mrkqvlsessionid", "s8"), ("mrkqvlsessionowner", "demo"),
                          ("mrkqvlsessioncookie", "c8"),
                          ("mrkqvlsessionexternaldnsname", "127.0.0.1"),
                          ("mrkqvlsessionport", app.port)])
    end_at = time.time() + 90
    while time.time() < end_at and not results:
        time.sleep(0.1)
    expect(results == [[]], "the smart-card server's result: %r" % results)
    c.log("scard done")
    c.request("logout")
    hold(c, time.time() + 30)


def device_service(c, method, app, options, extra=()):
    """Starts an application server playing a device service, sends the
    request (with the extra parameters) that connects the client's channel
    to it and waits for its result line."""
    results = []
    srv = fake_appserver.AppServer(lambda line: (results.append(line), c.log(line)), "s7",
                                   "demo", "c7", "127.0.0.1", app=app, options=options).start()
    c.request(method, [("mrkqvlsessionid", "s7"), ("mrkqvlsessionowner", "demo"),
                       ("mrkqvlsessioncookie", "c7"),
                       ("mrkqvlsessionexternaldnsname", "127.0.0.1"),
                       ("mrkqvlsessionport", srv.port)] + list(extra))
    end_at = time.time() + 60
    while time.time() < end_at and not any(r.startswith(app + " ") for r in results):
        try:
            p = c.read_packet(timeout=0.2)
            expect(p.kind != "fault", "%s answered %r" % (method, p.fault))
        except socket.timeout:
            pass
    expect(app + " ok" in results, "the %s service's result: %r" % (app, results))
    srv.stopped = True


def scenario_devices(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("clientCapabilities", [("audio", ""), ("cdm", "")])
    p = expect_reply(c, mid, "clientCapabilitiesResponse", timeout=60)
    devices = {local(e.tag): [a.text or "" for a in e]
               for r in getattr(p, "returned", []) for d in r if local(d.tag) == "devices"
               for e in d}
    c.log("devices %r" % devices)
    # A PCM format the device prefers, as "tag,channels,rate,bits,1;".
    expect(any(re.match(r"1,[12],\d+,(8|16),1;.*=64$", a) for a in devices.get("audio", [])),
           "an audio format record")
    expect("T:\\=1" in devices.get("cdm", []), "T: as a fixed drive")
    mid = c.request("startCdm")
    p = expect_reply(c, mid, "startCdmResponse")
    listed = [(d.get("letter"), d.get("type")) for r in getattr(p, "returned", []) for d in r]
    c.log("startCdm drives %r" % listed)
    expect(("T:\\", "1") in listed, "startCdm lists T: as fixed")
    # The drive list answers the webtop session name, owner and common name
    # of the request.
    device_service(c, "doCdm", "cdm", {"root": args.cdm_root, "base": "T:\\share",
                                       "texts": ["Webtop 7", "demo", "Files"]},
                   [("mrkqvlwebtopsessionname", "Webtop 7"), ("cn", "Files")])
    device_service(c, "doAudio", "audio", {})
    c.log("devices done")
    c.request("logout")
    hold(c, time.time() + 30)


def scenario_nocdm(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("clientCapabilities", [("cdm", "")])
    p = expect_reply(c, mid, "clientCapabilitiesResponse", timeout=60)
    drives = [e for r in p.returned for d in r for e in d if local(e.tag) == "cdm" and len(e)]
    mid = c.request("startCdm")
    p = expect_reply(c, mid, "startCdmResponse")
    expect(drives == [] and not any(len(r) for r in p.returned), "no drive offered")
    c.request("doCdm", [("mrkqvlsessionexternaldnsname", "127.0.0.1"), ("mrkqvlsessionport", 9)])
    p = c.read_packet(timeout=20)
    expect(p.kind == "fault" and p.fault[0] == "Client.CDM.Failed", "doCdm refused: %r" % p)
    c.log("nocdm done")
    c.request("logout")
    hold(c, time.time() + 30)


# What a client with the smart-card service and "SerialPorts" = "COM5=COM5"
# announces, by element.
IO_DEVICES = {"smartcard": ["1;32;1;5;0;=128"],
              "io": ["32;32;1;5;0;2;0;1;SCARD;=512", "1;32;1;5;0;2;0;2;COM5;=512"]}


def device_attributes(p):
    """{element: [attribute texts]} of the reply's "devices" element."""
    found = {}
    for ret in p.returned:
        for devices in ret:
            if local(devices.tag) == "devices":
                for el in devices:
                    found[local(el.tag)] = [a.text or "" for a in el if local(a.tag) == "attribute"]
    return found


def scenario_io(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("clientCapabilities", [("io", ""), ("smartcard", "")])
    p = expect_reply(c, mid, "clientCapabilitiesResponse")
    got = device_attributes(p)
    expect(got == IO_DEVICES, "devices %r, got %r" % (IO_DEVICES, got))
    # The device is addressed by its index in the announcement.
    com5 = int(IO_DEVICES["io"][1].split(";")[7])
    results = []
    steps = ["echo", "drop", "reopen", "held", "reopen"]
    app = fake_appserver.AppServer(lambda line: (results.append(line), c.log(line)), "s8",
                                   "demo", "c8", "127.0.0.1", app="io",
                                   io={"device": com5, "client_tty": args.client_tty,
                                       "steps": list(steps)}).start()
    # The same device channel serves every doIO: after the serial echo, a
    # connection dropped midway, or one still open when the next doIO comes,
    # must leave nothing to the next one.
    def outcomes(step):
        return [r for r in results if r.startswith("io %s " % step)]

    for i, step in enumerate(steps):
        c.request("doIO", [("mrkqvlsessionid", "s8"), ("mrkqvlsessionowner", "demo"),
                           ("mrkqvlsessioncookie", "c8"),
                           ("mrkqvlsessionexternaldnsname", "127.0.0.1"),
                           ("mrkqvlsessionport", app.port)])
        end_at = time.time() + 120
        while time.time() < end_at and len(outcomes(step)) < steps[:i + 1].count(step):
            try:
                c.read_packet(timeout=0.2)  # a fault would show here
            except socket.timeout:
                continue
        expect(outcomes(step)[-1:] == ["io %s ok" % step],
               "the IO request service's result: %r" % results)
    end_at = time.time() + 40
    while time.time() < end_at and not outcomes("held-end"):
        time.sleep(0.1)
    expect(outcomes("held-end") == ["io held-end ok"],
           "the replaced connection's end: %r" % results)
    c.log("io done")
    c.request("logout")
    hold(c, time.time() + 30)


def scenario_cardlogin(srv, args):
    c = srv.accept(timeout=60)
    expect_init(c, args.cookie)
    sign_in(c)
    mid = c.request("requestLaunch", [
        ("objectclass", "mrkqvlxapplication"), ("mrkqvlapplicationplacement", "awtwindow"),
        ("mrkqvlsessionappname", "cn=awtwindow"), ("mrkqvlsessionid", "s5"),
        ("mrkqvlsessionowner", "demo"), ("mrkqvlsessioncookie", "c5"),
        ("mrkqvlsessionexternaldnsname", "127.0.0.1"), ("mrkqvlsessionport", args.app_port),
        ("mrkqvlsessionwidth", 160), ("mrkqvlsessionheight", 120)])
    expect_reply(c, mid, "requestLaunchResponse")
    hold(c, time.time() + args.lifetime)


SCENARIOS = {"demo": scenario_demo, "orders": scenario_orders, "autologin": scenario_autologin, "webtop": scenario_webtop, "session": scenario_session, "tls": scenario_tls,
             "tlslaunch": scenario_tlslaunch,
             "launch": scenario_launch, "local": scenario_local, "print": scenario_print,
             "printmore": scenario_printmore,
             "scard": scenario_scard, "cardlogin": scenario_cardlogin, "io": scenario_io,
             "devices": scenario_devices, "flood": scenario_flood, "nocdm": scenario_nocdm}
SCENARIOS["cycles"] = scenario_cycles


def scenario_slowlink(srv, args):
    """A slow link: every request reaches the client one byte per write, and
    each CR is read alone before the byte after it."""
    c = srv.accept(timeout=60)
    connected = time.time()
    expect_init(c, args.cookie)
    c.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def bytewise(data):
        for i in range(len(data)):
            c.sock.sendall(data[i:i + 1])
            if data[i] == 13:
                time.sleep(0.1)
    c.send_raw = bytewise
    sign_in(c)
    ids = [c.request("getState", [(name, "")])
           for name in ("reconnect", "reconnectwait", "reconnectattempts")]
    for mid in ids:
        expect_reply(c, mid, "getStateResponse")
    # Only a signed-in user (the full name of ns1:userinfo) is reconnected.
    time.sleep(max(0.0, connected + 3 - time.time()))
    c.log("drop")
    c.close()
    c = srv.accept()
    expect_init(c, args.cookie, reconnecting=True)
    c.request("logout")
    hold(c, time.time() + 30)


def scenario_stall(srv, args):
    """A server that stops reading: requests flow while nothing is read, so
    the client's replies pile up until its writes wait. The client must give
    that connection up within its write time-out and connect again."""
    c = srv.accept(timeout=60)
    connected = time.time()
    expect_init(c, args.cookie)
    sign_in(c)
    expect_reply(c, c.request("getState", [("reconnect", "")]), "getStateResponse")
    c.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    body = envelope(request_xml("getState", [("reconnectattempts", "")]))
    state = {}

    def flood():
        c.sock.settimeout(5)
        try:
            for i in range(args.flood):
                c.sock.sendall(c.frame(REQUEST_LINE, body, 1000 + i))
            c.log("all %d requests sent: the client never stopped reading" % args.flood)
        except socket.timeout:
            state["stalled"] = time.time()
            c.log("the client stopped reading after request %d" % i)
            c.sock.settimeout(None)
            try:
                while c.sock.send(b" "):  # until the client closes
                    time.sleep(0.2)
            except OSError:
                c.log("the stalled connection was closed by the client")
        except OSError as e:
            c.log("flood ended: %s" % e)
    threading.Thread(target=flood, daemon=True).start()
    c2 = srv.accept(timeout=max(90.0, connected + 90 - time.time()))
    expect("stalled" in state, "a stall before the client connected again")
    c2.log("reconnected %.1f s after the stall" % (time.time() - state["stalled"]))
    expect_init(c2, args.cookie, reconnecting=True)
    expect_reply(c2, c2.request("getState", [("reconnect", "")]), "getStateResponse")
    c2.log("session goes on")
    if args.logout_when:
        wait_file(args.logout_when, 60)
    c2.request("logout")
    hold(c2, time.time() + 30)


SCENARIOS.update(slowlink=scenario_slowlink, stall=scenario_stall)


def start_web_side(args, engine_port):
    side = halvanet_web.WebSide(args.web_transcript)
    session = ('doc:<obj name="session"><attr name="mrkqvlsessioncookie">IC-1</attr>'
               '<obj name="connectionattributes"><attr name="server">127.0.0.1</attr>'
               '<attr name="port">%d</attr><attr name="firewalltraversal">false</attr>'
               '<attr name="security">none</attr></obj></obj>' % engine_port)
    side.script("startSession", session)
    side.script("restartSession", session)
    side.script("startDRX", 'doc:<obj name="configuration"><attr name="connectioncookie">%s'
                '</attr></obj>' % args.cookie)
    for s in args.web_script:
        op, _, answer = s.partition("=")
        side.script(op, answer)
    t = threading.Thread(target=halvanet_web.serve,
                         args=(side, args.web_port_file, args.lifetime), daemon=True)
    t.start()
    return t


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scenario", default="demo", choices=sorted(SCENARIOS))
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--cookie", default="demo")
    ap.add_argument("--transcript")
    ap.add_argument("--lifetime", type=float, default=600)
    ap.add_argument("--split", type=int, default=0)
    ap.add_argument("--batch", action="store_true")
    ap.add_argument("--logout", action="store_true", help="demo: sign out at once")
    ap.add_argument("--logout-when", help="demo: sign out once this file exists")
    ap.add_argument("--update-when", action="append", default=[],
                    help="webtop: FILE=PROFILES, a profileUpdate once FILE exists")
    ap.add_argument("--logging", help="demo: set the client's log level by this word")
    ap.add_argument("--burst", type=int, default=0,
                    help="demo: send this many unknown requests at once...")
    ap.add_argument("--burst-when", help="...whenever this file appears (it is removed)")
    ap.add_argument("--flood", type=int, default=10000,
                    help="flood: this many launch requests...")
    ap.add_argument("--flood-when", help="...once this file exists")
    ap.add_argument("--devices", action="store_true",
                    help="demo: ask for every capability, so device channels start")
    ap.add_argument("--trigger", help="demo: trigger this UI component...")
    ap.add_argument("--trigger-when", help="...whenever this file appears (it is removed)")
    ap.add_argument("--token", help="demo: send this connection token (ns1:token, a page)")
    ap.add_argument("--restart", help="demo: ns1:restartEvent with this token, unanswered")
    ap.add_argument("--raw", action="store_true", help="log every packet's bytes")
    ap.add_argument("--close-file", help="its appearance ends the X application")
    ap.add_argument("--apps", default="awtwindow,character",
                    help="orders: the kinds launched (awtwindow, character, refused)")
    ap.add_argument("--first-closes", action="store_true", help="orders: see the scenario")
    ap.add_argument("--cycles", type=int, default=1, help="cycles: how many")
    ap.add_argument("--x-stays", action="store_true", help="cycles: see the scenario")
    ap.add_argument("--probe", help="the local program's Windows path")
    ap.add_argument("--probe-out", help="the file it writes, as a Windows path")
    ap.add_argument("--client-tty", help="io: the client's end of the serial line")
    ap.add_argument("--dialog-seen", help="local: a waiting request, cancelled once this "
                    "file exists; then waits for --dialog-gone")
    ap.add_argument("--dialog-gone", help="local: see --dialog-seen")
    ap.add_argument("--cdm-root", help="devices: the folder the client sees under T:\\share")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--web-port-file")
    ap.add_argument("--web-transcript")
    ap.add_argument("--web-script", action="append", default=[])
    ap.add_argument("--scard-control", help="scard: the stand-in PC/SC service's folder")
    ap.add_argument("--scard-minimal", action="store_true")
    ap.add_argument("--app-port", type=int, help="cardlogin: the application server's port")
    ap.add_argument("--login-token", default="tok-1", help="autologin: the token handed out")
    args = ap.parse_args()
    log = Transcript(args.transcript)
    log.raw = args.raw
    srv = Server(args, log)
    peerlib.publish_port(args.port_file, srv.port)
    log("listening on port %d (%s)" % (srv.port, args.scenario))
    web = start_web_side(args, srv.port) if args.web_port_file else None
    try:
        SCENARIOS[args.scenario](srv, args)
    except (ProtocolError, EOFError, socket.timeout, OSError) as e:
        log("FAILED: %s: %s" % (type(e).__name__, e))
        return 1
    log("scenario %s passed" % args.scenario)
    if web:
        # The client still calls the web service on its way out: the web
        # side serves until its port file is removed or its time is up.
        web.join()
    return 0


if __name__ == "__main__":
    sys.exit(main())
