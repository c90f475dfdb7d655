#!/usr/bin/env python3
"""An application server for launches: the client connects its engine
channel, sends the login-dialog connect request (message 1), and after the
end of the exchange (result 0) the connection carries the application's own
protocol, played by an importable peer.

Message 1, checked byte for byte: "LAIP", u32 total length, u16 type 1, u16
payload length; payload u8 0, u8 2, text session id, u32 0, text owner,
u32 64, 64 bytes (the cookie's UTF-8 bytes, zero-filled), text external DNS
name, text peer DNS name, u32 0. A text is a u32 length and UTF-8 bytes.
A mismatch is logged and the connection closed without an answer.

Applications (--app):
  awtwindow  an X application (xaip_peer.py): one window at depth 24 (the
             constructor's size, 160x120) with coloured fills (from its
             "at"), sent in the same write as the end of the exchange; every
             key the user types is logged as its X-AIP message ("23 code
             char" press, "24 ..." release); it runs until the file
             --close-file appears (or the constructor's stop() holds), then
             closes the connection (the client sees the session suspended).
  character  a character application (taip_peer.serve_app): a coloured
             banner, a box in slot 1 and a prompt that echoes typed lines.
Both log "application shown" when the client activates the application,
which it does as it shows the application's frame.
With a non-zero result the exchange ends with that code (the client's
launch fails) and no application runs; hold() delays the end of the
exchange until it holds; with ask it only opens the login dialog and logs
how the client ended it ("login dialog closed (message 7)" for a cancel).
  print      the print service (paip_peer.py's "print" scenario) for the
             job named by the constructor's job (or the jobs of a list, with
             options["during"] run before the first one's end, and
             options["copies"] copies); logs
             "hello pt=TYPE" (the client hello's printer type) and
             "print RESULT".
  io         the IO request service on the constructor's io {"device",
             "client_tty", "steps"}, one step a connection; logs
             "io STEP RESULT".
  cdm        drive mapping (cdm_peer.py's scenario) on the folder
             options["root"] that the client sees as options["base"];
             logs "cdm RESULT".
  audio      audio output: io_peer.py plays 1 s of 440 Hz in four
             buffers; logs "audio RESULT".

With an SSL context (tls) every connection is TLS.
Events go one a line to --log. Importable: AppServer(...).start() runs the
listener on a thread (fake_halvanet.py's demo does so).
"""
import argparse
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402


def text(s):
    b = s.encode("utf-8")
    return struct.pack("<I", len(b)) + b


def laip_frame(t, payload):
    return b"LAIP" + struct.pack("<IHH", len(payload) + 12, t, len(payload)) + payload


def connect_request(session, owner, cookie, host, peer):
    block = cookie.encode("utf-8").ljust(64, b"\0")
    payload = (b"\x00\x02" + text(session) + struct.pack("<I", 0) + text(owner) +
               struct.pack("<I", 64) + block + text(host) + text(peer) + struct.pack("<I", 0))
    return laip_frame(1, payload)


def end_of_exchange(code):
    return laip_frame(6, struct.pack("<H", code) + text(""))


def read_frame(conn, timeout=20):
    conn.settimeout(timeout)
    head = peerlib.read_exact(conn, 12)
    if head is None:
        return None
    n = struct.unpack("<H", head[10:12])[0]
    body = peerlib.read_exact(conn, n)
    return None if body is None else head + body


def login_dialog_end(conn, timeout=60):
    """How the client ended the login dialog, as a line for the log: its
    answer, or its close (message 7) once the user cancelled. A cancel
    opens the application's own protocol before that close (the X
    channel's hello: u8 type, u16 length, body), so messages that are not
    LAIP frames are skipped."""
    conn.settimeout(timeout)
    try:
        while True:
            head = peerlib.read_exact(conn, 3)
            if head is None:
                break
            if head != b"LAI":
                if peerlib.read_exact(conn, struct.unpack("<BH", head)[1]) is None:
                    break
                continue
            rest = peerlib.read_exact(conn, 9)  # "P", total length, type, payload length
            body = rest and peerlib.read_exact(conn, struct.unpack("<H", rest[7:9])[0])
            if body is None or rest[:1] != b"P":
                break
            mtype = struct.unpack("<H", rest[5:7])[0]
            return "login dialog %s (message %d)" % ("closed" if mtype == 7 else "answered", mtype)
    except OSError as e:
        return "login dialog: no close (%s)" % e
    return "login dialog: no close before the connection ended"


def awtwindow(conn, log, stop):
    """The picture went out with the end of the exchange."""
    import xaip_peer
    c = xaip_peer.Client(conn)
    seen = 0
    while not c.closed and not stop():
        c.poll(0.1)
        for line in c.lines[seen:]:
            if line.split()[0] in ("23", "24"):
                log("key " + line)
            elif line == "11" and "11" not in c.lines[:seen]:
                log("application shown")
        seen = len(c.lines)
    log("application closing" if not c.closed else "client closed the application")


def character(conn, log, stop):
    import taip_peer
    taip_peer.serve_app(taip_peer.Session(conn), log, stop=stop)


def printjob(conn, log, job="", options=None):
    import paip_peer
    options = options or {}
    result, report = paip_peer.run(conn, argparse.Namespace(
        scenario="print", job=job, during=options.get("during"), copies=options.get("copies")))
    log("hello " + "".join(l for l in report.split("\n") if l.startswith("pt=")))
    log("print " + result)


def ioserial(conn, log, options):
    """The IO request service on the device options["device"], whose client
    end of the line is options["client_tty"]: each connection plays the next
    of options["steps"] ("echo": io_peer.py's serial scenario; "drop",
    "reopen": a connection dropped midway and the next one; "held": a
    connection the client must close when the next one replaces it, which
    logs "io held ok" once set up and "io held-end RESULT" at its end); logs
    "io STEP ok" or "io STEP FAILED: ..."."""
    import io_peer
    import zlib
    step = options["steps"].pop(0)
    try:
        if step == "held":
            problems = io_peer.held(conn, options["device"], lambda: log("io held ok"))
            step = "held-end"
        elif step == "echo":
            problems = io_peer.serial_echo(conn, options["device"], options["client_tty"])
        else:
            problems = {"drop": io_peer.drop_midway, "reopen": io_peer.reopen}[step](
                conn, options["device"])
    except (io_peer.ProtocolError, zlib.error, OSError) as e:
        problems = ["%s: %s" % (type(e).__name__, e)]
    log("io %s " % step + ("ok" if not problems else "FAILED: " + "; ".join(problems)))


def device_result(log, name, run):
    import io_peer
    try:
        problems = run()
    except (io_peer.ProtocolError, OSError, struct.error, IndexError) as e:
        problems = ["%s: %s" % (type(e).__name__, e)]
    log(name + " " + ("ok" if not problems else "; ".join(problems)))


def drives(conn, log, options):
    import cdm_peer
    device_result(log, "cdm",
                  lambda: cdm_peer.scenario(conn, options["root"], options["base"], 1, 0,
                                            options.get("texts")))


def audio(conn, log, options):
    import io_peer
    device_result(log, "audio", lambda: io_peer.play_tone(conn))


APPS = {"awtwindow": awtwindow, "character": character, "print": printjob}
# Device services: they take the constructor's options instead of a file.
DEVICE_APPS = {"cdm": drives, "audio": audio}


class AppServer:
    def __init__(self, log, session, owner, cookie, host, peer="", app="awtwindow",
                 close_file=None, job="", io=None, options=None, size=(160, 120), at=(0, 0),
                 result=0, stop=None, hold=None, tls=None, ask=False):
        self.log, self.app, self.close_file, self.job = log, app, close_file, job
        self.tls = tls  # an ssl.SSLContext: connections are TLS first
        self.size, self.at, self.result, self.hold = size, at, result, hold
        self.ask, self.asked = ask, threading.Event()  # the credentials request went out
        self.stop = lambda: bool(close_file and os.path.exists(close_file)) or bool(stop and stop())
        self.io = io  # the IO request service's options (app "io")
        self.options = options or {}
        self.expected = connect_request(session, owner, cookie, host, peer)
        self.listener = peerlib.listen_local(4)
        self.listener.settimeout(0.2)
        self.port = self.listener.getsockname()[1]
        self.stopped = False
        self.connected = threading.Event()  # a connect request as expected came
        self.shown = threading.Event()  # the client activated the application
        self.ended = threading.Event()  # its connection is closed

    def app_log(self, line):
        if line == "application shown":
            self.shown.set()
        self.log(line)

    def handle(self, conn):
        if self.tls:
            try:
                conn.settimeout(60)  # the client's user answers its warnings
                conn = self.tls.wrap_socket(conn, server_side=True)
            except OSError as e:
                self.log("TLS handshake failed: %s" % e)
                return
        with conn:
            got = read_frame(conn)
            if got != self.expected:
                self.log("FAILED: connect request %r, expected %r" % (got, self.expected))
                return
            self.log("connect request as expected")
            self.connected.set()
            end_at = time.time() + 60
            while self.hold and not self.hold() and time.time() < end_at:
                time.sleep(0.05)
            if self.ask:
                conn.sendall(laip_frame(3, struct.pack("<H", 1) + text("srv") + text("demo") + b"\1"))
                self.asked.set()
                self.log(login_dialog_end(conn))
                return
            opening = end_of_exchange(self.result)
            if self.result:
                conn.sendall(opening)
                self.log("application refused")
                return
            if self.app == "awtwindow":
                import xaip_peer  # the picture, without the final ping
                opening += xaip_peer.stream_plain(
                    xaip_peer.picture_script(24, self.size, self.at)[:-1])
            conn.sendall(opening)
            try:
                if self.app == "print":
                    printjob(conn, self.log, self.job, self.options)
                elif self.app == "io":
                    ioserial(conn, self.log, self.io)
                elif self.app in DEVICE_APPS:
                    DEVICE_APPS[self.app](conn, self.log, self.options)
                else:
                    APPS[self.app](conn, self.app_log, self.stop)
            except (OSError, ValueError, struct.error) as e:
                self.log("application ended: %s" % e)
        self.ended.set()
        self.log("application connection closed")

    def serve(self):
        while not self.stopped:
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.log("application server: accepted")
            threading.Thread(target=self.handle, args=(conn,), daemon=True).start()

    def start(self):
        threading.Thread(target=self.serve, daemon=True).start()
        return self


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--log")
    ap.add_argument("--app", default="awtwindow", choices=sorted(APPS))
    ap.add_argument("--session", default="s1")
    ap.add_argument("--owner", default="demo")
    ap.add_argument("--cookie", default="c1")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--peer", default="")
    ap.add_argument("--close-file")
    ap.add_argument("--lifetime", type=float, default=120)
    args = ap.parse_args()
    lock = threading.Lock()

    def log(line):
        with lock:
            print(line, flush=True)
            if args.log:
                with open(args.log, "a") as f:
                    f.write(line + "\n")

    srv = AppServer(log, args.session, args.owner, args.cookie, args.host, args.peer, args.app,
                    args.close_file).start()
    peerlib.publish_port(args.port_file, srv.port)
    end_at = time.time() + args.lifetime
    while peerlib.running(args.port_file, end_at):
        time.sleep(0.1)
    srv.stopped = True


if __name__ == "__main__":
    main()
