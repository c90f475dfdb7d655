#!/usr/bin/python3
"""The server side of the IO request channel (channel types 12, 15, 16):
framing, the hello exchange, session messages, requests split over several
data messages (deflated per message or as one continuing stream) and the
client's replies, deflated or not. Device requests are I-AIP at level 2.

Importable: IOServer(conn) speaks the channel on an accepted connection;
serial_echo(conn, ...) is the serial scenario, play_tone(conn) plays a tone
on an audio channel. As a program:

usage: io_peer.py serial-echo --port-file F --result-file R --device N
                  --client-tty PATH [--deflate message|stream] [--lifetime S]
       io_peer.py replies|echo --port-file F [--lifetime S]

replies: on every connection the hello, then replies are read (inflated
when deflated) until one whose CompletionId is 0xFFFFFFFF; then the
connection is closed. echo: every byte of a connection is sent back.
serial_rate(conn, ...) measures reads from a serial line paced by the peer.
"""
import argparse
import os
import socket
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402

KIND_FILE, KIND_AUDIO, KIND_DEVICE = 1, 0x10, 0x20
FLAG_ACK, FLAG_COMPRESSED, FLAG_STREAM = 1, 2, 4
STATUS_UNSUCCESSFUL = 0xC0000001
CLIENT_HELLO = bytes([5]) + struct.pack("<I", 431953) + bytes([1])


class ProtocolError(Exception):
    pass


class IOServer:
    def __init__(self, conn, deflate="message"):
        self.conn = conn
        self.deflate = deflate
        self.stream_z = zlib.compressobj(3)
        self.replies = []          # (stream, status, body) not yet taken
        self.compressed_replies = 0
        self.others = []           # frames that are not replies

    # Framing.
    def send_frame(self, mtype, data=b"", stream=0, flags=0, raw_len=None):
        flags |= FLAG_STREAM if stream else 0
        rest = data if raw_len is None else struct.pack("<H", raw_len) + data
        if raw_len is not None:
            flags |= FLAG_COMPRESSED
        self.conn.sendall(bytes([mtype]) + struct.pack("<HBHH", len(rest) + 5, flags, 0, stream)
                          + rest)

    def read_frame(self):
        head = peerlib.read_exact(self.conn, 3)
        if head is None:
            raise ProtocolError("the client closed the connection")
        n = struct.unpack_from("<H", head, 1)[0]
        body = peerlib.read_exact(self.conn, n)
        if body is None or n < 5:
            raise ProtocolError("short frame")
        flags, _, stream = struct.unpack_from("<BHH", body, 0)
        data = body[5:]
        if flags & FLAG_COMPRESSED:
            raw = struct.unpack_from("<H", data, 0)[0]
            data = zlib.decompress(data[2:])
            if len(data) != raw:
                raise ProtocolError("inflated %d bytes, announced %d" % (len(data), raw))
        return head[0], flags, stream if flags & FLAG_STREAM else 0, data

    def expect(self, mtype):
        t, flags, stream, data = self.read_frame()
        if t != mtype:
            raise ProtocolError("expected message %d, got %d" % (mtype, t))
        return flags, stream, data

    # Hello and sessions.
    def handshake(self, threshold=256, keepalive=0):
        self.expect(5)
        self.send_frame(3, bytes([13]) + struct.pack("<IBII", 9, 1, threshold, keepalive),
                        flags=FLAG_ACK)
        _, _, data = self.expect(3)
        if data != CLIENT_HELLO:
            raise ProtocolError("client hello %r" % data)
        self.expect(1)

    def session(self, sid, open_it=True):
        self.send_frame(9 if open_it else 10, b"", stream=sid)

    # Requests.
    def send_request(self, stream, kind, code, payload, fragments=1, compress=False, sent=None):
        """Sends the request in `fragments` data messages (only the first
        `sent` of them when given)."""
        whole = struct.pack("<IIIII", len(payload) + 20, kind, 0, code, 0) + payload
        step = -(-len(whole) // fragments)
        for at in range(0, len(whole) if sent is None else step * sent, step):
            part = whole[at:at + step]
            if not compress:
                self.send_frame(7, part, stream)
            elif self.deflate == "stream":
                z = self.stream_z.compress(part) + self.stream_z.flush(zlib.Z_SYNC_FLUSH)
                self.send_frame(7, z, stream, raw_len=len(part))
            else:
                self.send_frame(7, zlib.compress(part, 3), stream, raw_len=len(part))

    def pump(self):
        """Reads one frame; replies are kept for take_reply."""
        t, flags, stream, data = self.read_frame()
        if t != 7:
            self.others.append(t)
            return
        if len(data) < 20 or struct.unpack_from("<I", data, 0)[0] != len(data):
            raise ProtocolError("reply length does not match its frame")
        if flags & FLAG_COMPRESSED:
            self.compressed_replies += 1
        if os.environ.get("IO_PEER_DEBUG"):
            note("reply id %d status %#x, %d bytes" % (struct.unpack_from("<I", data, 20)[0],
                                                     struct.unpack_from("<I", data, 16)[0], len(data)))
        self.replies.append((stream, struct.unpack_from("<I", data, 16)[0], data[20:]))

    def take_reply(self, completion_id=None):
        """The next reply (of that CompletionId when given): (status, body)."""
        while True:
            for i, (_, status, body) in enumerate(self.replies):
                if completion_id is None or struct.unpack_from("<I", body, 0)[0] == completion_id:
                    del self.replies[i]
                    return status, body
            self.pump()


class Device:
    """I-AIP requests of one device on one session."""
    def __init__(self, srv, device, session):
        self.srv, self.device, self.session, self.next_id = srv, device, session, 100

    def send(self, file_id, major, params, fragments=1, compress=False, sent=None):
        self.next_id += 1
        body = struct.pack("<IIIII", self.device, file_id, self.next_id, major, 0) + params
        self.srv.send_request(self.session, KIND_DEVICE, 0, body, fragments, compress, sent)
        return self.next_id

    def call(self, file_id, major, params):
        status, body = self.srv.take_reply(self.send(file_id, major, params))
        return status, body

    def create(self):
        status, body = self.call(0, 0, bytes(28) + struct.pack("<I", 0))
        return status, struct.unpack_from("<I", body, 8)[0] if status == 0 else 0

    def control(self, file_id, fn, data=b"", out_len=0):
        params = struct.pack("<III", out_len, len(data), 0x1B0000 | fn << 2) + bytes(20) + data
        status, body = self.call(file_id, 14, params)
        if status != 0:
            raise ProtocolError("control %d answered %#x" % (fn, status))
        n = struct.unpack_from("<I", body, 8)[0]
        return body[12:12 + n]

    def read(self, file_id, length):
        return self.send(file_id, 3, struct.pack("<IQ", length, 0))

    def write(self, file_id, data, fragments, compress, sent=None):
        return self.send(file_id, 4, struct.pack("<IQ", len(data), 0) + bytes(20) + data,
                         fragments, compress, sent)


def note(text):
    """Progress on standard error, for the log of a failing run."""
    print("io_peer: " + text, file=sys.stderr, flush=True)


def serial_echo(conn, device, client_tty, deflate="message"):
    """Opens session 1, creates the port, sets 115200 8N2 with RTS/CTS,
    echoes 64 KB through the serial peer, then closes the session while a
    read waits. Returns a list of problems (empty when all held)."""
    import serial_peer
    problems = []
    srv = IOServer(conn, deflate)
    srv.handshake()
    note("hello exchanged")
    srv.session(1)
    dev = Device(srv, device, 1)
    status, fid = dev.create()
    if status != 0:
        return ["create answered %#x" % status]
    note("port created")
    dev.control(fid, 1, struct.pack("<I", 115200))
    dev.control(fid, 3, bytes([2, 0, 8]))                       # 2 stop bits, no parity, 8 bits
    dev.control(fid, 25, struct.pack("<IIII", 0x09, 0x80, 2048, 512))  # DTR on, CTS and RTS handshake
    # Reads return at once with what has arrived.
    dev.control(fid, 7, struct.pack("<IIIII", 0xFFFFFFFF, 0, 0, 0, 0))
    if struct.unpack("<I", dev.control(fid, 20, out_len=4))[0] != 115200:
        problems.append("baud rate not kept")
    seen = serial_peer.client_termios(client_tty)
    want = {"speed": 115200, "cstopb": True, "crtscts": True, "ixon": False, "ixoff": False}
    note("line settings %r" % seen)
    if seen != want:
        problems.append("termios %r, want %r" % (seen, want))

    note("line set")
    data = bytes((i * 31 + i // 509) & 0xFF for i in range(65536))
    write_id = dev.write(fid, data, fragments=3, compress=True)
    echoed = b""
    read_id = dev.read(fid, 65536)  # more than a reply can carry: the client caps it
    wrote = False
    while len(echoed) < len(data) or not wrote:
        srv.pump()
        for stream, status, body in list(srv.replies):
            cid = struct.unpack_from("<I", body, 0)[0]
            srv.replies.remove((stream, status, body))
            if cid == write_id:
                wrote = True
                if status != 0 or struct.unpack_from("<I", body, 8)[0] != len(data):
                    problems.append("write answered %#x" % status)
            elif cid == read_id:
                n = struct.unpack_from("<I", body, 8)[0]
                if status != 0 or n > 61432:
                    problems.append("read answered %#x with %d bytes" % (status, n))
                    return problems
                echoed += body[12:12 + n]
                if len(echoed) < len(data):
                    read_id = dev.read(fid, 65536)
    note("echoed %d bytes" % len(echoed))
    if echoed != data:
        problems.append("echo differs (%d bytes back)" % len(echoed))
    if srv.compressed_replies == 0:
        problems.append("no reply came deflated")

    # A read that waits for ever, then the session ends under it.
    dev.control(fid, 7, bytes(20))
    pending = dev.read(fid, 16)
    srv.session(1, open_it=False)
    srv.session(1)
    for _ in range(200):
        status, fid2 = dev.create()
        if status != STATUS_UNSUCCESSFUL:
            break
        # The old port is released by its worker's completion: try again.
    if status != 0:
        problems.append("create after the session end answered %#x" % status)
    if any(struct.unpack_from("<I", b, 0)[0] == pending for _, _, b in srv.replies):
        problems.append("the cancelled read was answered")
    dev.call(fid2, 2, b"\x00")  # a request is never shorter than 21 bytes
    srv.session(1, open_it=False)
    return problems


def drop_midway(conn, device):
    """Leaves session 1 open with the port created, a read waiting, the
    first of three fragments of a write sent and the request deflate stream
    running, then drops the connection."""
    srv = IOServer(conn, "stream")
    srv.handshake()
    srv.session(1)
    dev = Device(srv, device, 1)
    status, fid = dev.create()
    if status != 0:
        return ["create answered %#x" % status]
    dev.control(fid, 7, bytes(20))  # reads wait for ever
    dev.read(fid, 16)
    dev.write(fid, bytes(3000), fragments=3, compress=True, sent=1)
    return []


def reopen(conn, device):
    """After a dropped connection: the same session id and CompletionIds
    again, the port created anew, a deflated write in two fragments and its
    echo read back whole."""
    srv = IOServer(conn, "stream")
    srv.handshake()
    note("reconnected: hello exchanged")
    srv.session(1)
    dev = Device(srv, device, 1)
    for _ in range(200):
        status, fid = dev.create()
        if status != STATUS_UNSUCCESSFUL:
            break
        # The old port is released by its worker's completion: try again.
    if status != 0:
        return ["create after the drop answered %#x" % status]
    note("port created again")
    dev.control(fid, 7, struct.pack("<IIIII", 0xFFFFFFFF, 0, 0, 0, 0))
    data = bytes(range(256)) * 8
    status, body = srv.take_reply(dev.write(fid, data, fragments=2, compress=True))
    if status != 0 or struct.unpack_from("<I", body, 8)[0] != len(data):
        return ["write after the drop answered %#x" % status]
    got = b""
    for _ in range(2000):
        if len(got) >= len(data):
            break
        status, body = srv.take_reply(dev.read(fid, 4096))
        if status != 0:
            return ["read after the drop answered %#x" % status]
        got += body[12:12 + struct.unpack_from("<I", body, 8)[0]]
    srv.session(1, open_it=False)
    return [] if got == data else ["echo after the drop: %d bytes, differ" % len(got)]


def held(conn, device, ready):
    """Leaves session 1 open with the port created and a read waiting,
    calls ready(), then waits for the client to close the connection (as it
    must when the next service request replaces it)."""
    srv = IOServer(conn)
    srv.handshake()
    srv.session(1)
    dev = Device(srv, device, 1)
    status, fid = dev.create()
    if status != 0:
        return ["create answered %#x" % status]
    dev.control(fid, 7, bytes(20))  # reads wait for ever
    dev.read(fid, 16)
    ready()
    conn.settimeout(30)
    try:
        while conn.recv(65536):
            pass
    except socket.timeout:
        return ["the client kept the replaced connection open"]
    return []


def sink_replies(conn):
    """Takes replies until the last (CompletionId 0xFFFFFFFF)."""
    srv = IOServer(conn)
    srv.handshake()
    while True:
        t, _, _, data = srv.read_frame()
        if t == 7 and len(data) >= 24 and struct.unpack_from("<I", data, 20)[0] == 0xFFFFFFFF:
            return


def echo(conn):
    while True:
        data = conn.recv(65536)
        if not data:
            return
        conn.sendall(data)


def serial_rate(conn, device, total, send):
    """Opens the port at 115200 baud, keeps two 4,096-byte reads waiting,
    calls send(total) to have the far end send that many bytes at the
    line's pace (serial_peer.paced_bytes) and takes them back. Returns
    (bytes a second from the call to the last byte, problems)."""
    import time
    import serial_peer
    srv = IOServer(conn)
    srv.handshake()
    srv.session(1)
    dev = Device(srv, device, 1)
    status, fid = dev.create()
    if status != 0:
        return 0, ["create answered %#x" % status]
    dev.control(fid, 1, struct.pack("<I", 115200))
    dev.control(fid, 3, bytes([0, 0, 8]))
    # A read waits for the first byte (up to 2 s), then returns what came.
    dev.control(fid, 7, struct.pack("<IIIII", 0xFFFFFFFF, 0xFFFFFFFF, 2000, 0, 0))
    reads = {dev.read(fid, 4096), dev.read(fid, 4096)}
    got, start = b"", time.time()
    send(total)
    while len(got) < total:
        srv.pump()
        for stream, status, body in list(srv.replies):
            srv.replies.remove((stream, status, body))
            cid = struct.unpack_from("<I", body, 0)[0]
            if cid not in reads or status != 0:
                return 0, ["reply %d answered %#x" % (cid, status)]
            reads.discard(cid)
            got += body[12:12 + struct.unpack_from("<I", body, 8)[0]]
            reads.add(dev.read(fid, 4096))
    rate = total / (time.time() - start)
    srv.session(1, open_it=False)
    ok = got[:total] == serial_peer.paced_bytes(total)
    return rate, [] if ok else ["the bytes read differ from those sent"]


def tone(freq, seconds, rate=22050, amplitude=12000):
    """Mono 16-bit samples of a sine wave whose amplitude rises evenly from
    0.4 to 1 of `amplitude`: how loud a moment of a recording of it is says
    where in the tone it was, so a stretch played twice falls back."""
    import math
    n = int(rate * seconds)
    return struct.pack("<%dh" % n, *(int(amplitude * (0.4 + 0.6 * i / n) *
                                         math.sin(2 * math.pi * freq * i / rate))
                                     for i in range(n)))


def play_tone(conn, stream=2, buffers=4, freq=440, seconds=1.0):
    """Plays a tone on an audio channel (type 15): opens a stream at 22050 Hz
    mono 16-bit, writes the samples in BUFFERS writes, each tagged, and
    requires one 103 per write, value 0, its tags and its length, in order;
    then closes the stream. Returns a list of problems."""
    problems = []
    srv = IOServer(conn)
    srv.handshake()

    def reply():
        while True:
            t, flags, s, data = srv.read_frame()
            if t == 7:
                return s, struct.unpack_from("<II", data, 12), data[20:]

    fmt = struct.pack("<HHIIHHH", 1, 1, 22050, 44100, 2, 16, 0)
    srv.send_request(stream, KIND_AUDIO, 1, fmt)
    s, (code, value), _ = reply()
    if (s, code, value) != (stream, 101, 0):
        return ["open answered stream %d code %d value %d" % (s, code, value)]
    samples = tone(freq, seconds)
    n = len(samples) // 2
    cut = [2 * (i * n // buffers) for i in range(buffers + 1)]
    chunks = [samples[cut[i]:cut[i + 1]] for i in range(buffers)]
    for i, chunk in enumerate(chunks):
        srv.send_request(stream, KIND_AUDIO, 3, struct.pack("<BHII", i + 1, 100 + i, 1000 + i,
                                                            len(chunk)) + chunk)
    for i, chunk in enumerate(chunks):
        s, (code, value), body = reply()
        want = struct.pack("<BHII", i + 1, 100 + i, 1000 + i, len(chunk))
        if (s, code, value, body) != (stream, 103, 0, want):
            problems.append("write %d done: stream %d code %d value %d body %r" %
                            (i, s, code, value, body))
    note("%d buffers played" % len(chunks))
    # A buffer is done once the sound system has taken it; what it still
    # holds for its latency is lost when the device closes at once. On a
    # loaded machine that latency grew past half a second (recordings of
    # 0.74-0.84 s), so the close waits well beyond it.
    time.sleep(2.0)
    srv.send_request(stream, KIND_AUDIO, 2, b"")
    s, (code, value), _ = reply()
    if (code, value) != (102, 0):
        problems.append("close answered code %d value %d" % (code, value))
    return problems


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("scenario", choices=["serial-echo", "replies", "echo"])
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--result-file")
    ap.add_argument("--device", type=int, default=0)
    ap.add_argument("--client-tty")
    ap.add_argument("--deflate", choices=["message", "stream"], default="message")
    ap.add_argument("--lifetime", type=float, default=120)
    a = ap.parse_args(argv[1:])
    srv = peerlib.listen_local(1)

    if a.scenario != "serial-echo":
        def serve(conn):
            conn.settimeout(60)
            try:
                (echo if a.scenario == "echo" else sink_replies)(conn)
            except (ProtocolError, OSError, struct.error, zlib.error) as e:
                note("%s: %s" % (type(e).__name__, e))
            conn.close()
        return peerlib.serve_connections(srv, a.port_file, a.lifetime, serve, threaded=False)

    def handle(conn):
        conn.settimeout(60)
        try:
            problems = serial_echo(conn, a.device, a.client_tty, a.deflate)
        except (ProtocolError, OSError, struct.error, zlib.error) as e:
            problems = ["%s: %s" % (type(e).__name__, e)]
        peerlib.write_whole(a.result_file, "ok\n" if not problems else "\n".join(problems) + "\n")
        conn.close()
        os.unlink(a.port_file)

    peerlib.serve_connections(srv, a.port_file, a.lifetime, handle, threaded=False)


if __name__ == "__main__":
    main(sys.argv)
