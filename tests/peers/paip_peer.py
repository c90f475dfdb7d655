#!/usr/bin/python3
"""The server's print service on one print-channel connection (P-AIP).

A message is: type (1 byte), length of what follows (2 bytes, little-endian),
flags (1), job id (2), value (4), payload. The client starts with type 14; the
server greets (type 1, level 7 and a further byte), the client answers with
its hello (type 1: u8 7, three flag bytes, u32 431953, u16 n, n bytes of
"os=...\\npt=...\\n" and the printer list) and, with a job waiting, the job
request (type 13, the job name). Scenarios:

  print JOBNAME  job start (acknowledgement wanted, deflated, 2 copies), the
                 deflated PostScript page in several data messages, job end
                 (acknowledgement wanted); the acknowledgement must carry no
                 failure status (a stop may come before it). With --wait-file
                 the job's end waits for that file. Imported, the job may be
                 a list of names: each is then printed once, and at each
                 job's end the client must request the next; args.during,
                 when set, runs before the first job's end, and args.copies
                 sets the copies.
  bomb JOBNAME   job start (deflated, 1 copy), then 256 MB of zeros deflated,
                 then the connection is closed in the middle of the job.
  hello          only the hello: its size and its printer list are reported.

The result file gets "ok" or the problem, then the client hello's text.

usage: paip_peer.py SCENARIO [JOBNAME] --port-file F --result-file R [--wait-file W]
                   [--copies N]"""
import argparse
import os
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peerlib  # noqa: E402

PAGE = (b"%!PS-Adobe-3.0\n%%Pages: 1\n%%EndComments\n%%Page: 1 1\n"
        b"/Helvetica findfont 24 scalefont setfont\n"
        b"72 700 moveto (Halvanet print channel page) show\nshowpage\n%%EOF\n")


def message(mtype, flags=0, job=1, value=0, payload=b""):
    return struct.pack("<BHBHI", mtype, len(payload) + 7, flags, job, value) + payload


def read_message(conn):
    head = peerlib.read_exact(conn, 3)
    if head is None:
        return None
    mtype, length = struct.unpack("<BH", head)
    rest = peerlib.read_exact(conn, length)
    if rest is None or length < 7:
        return None
    flags, job, value = struct.unpack("<BHI", rest[:7])
    return mtype, flags, job, value, rest[7:], length + 3


def run(conn, args):
    first = read_message(conn)
    if not first or first[0] != 14:
        return "no start message first: %r" % (first,), ""
    conn.sendall(message(1, job=4, payload=bytes([7, 0])))
    hello = read_message(conn)
    if not hello or hello[0] != 1:
        return "no client hello: %r" % (hello,), ""
    body = hello[4]
    if len(body) < 10 or body[0] != 7 or struct.unpack("<I", body[4:8])[0] != 431953:
        return "client hello malformed", ""
    n = struct.unpack("<H", body[8:10])[0]
    text = body[10:10 + n].decode("utf-8")
    report = "hello %d bytes\n%s" % (hello[5], text)
    if args.scenario == "hello":
        return "ok", report
    jobs = args.job if isinstance(args.job, list) else [args.job]
    request = read_message(conn)
    if not request or request[0] != 13 or request[4].decode("utf-8") != jobs[0]:
        return "no job request for %s: %r" % (jobs[0], request), report
    if request[2] != 4:
        return "job request with id %d, not the hello's 4" % request[2], report
    if args.scenario == "bomb":
        conn.sendall(message(2, job=9, payload=bytes([1, 1]) + b"bomb\0"))
        z = zlib.compress(bytes(256 << 20), 9)
        for at in range(0, len(z), 60000):
            conn.sendall(message(4, job=9, payload=z[at:at + 60000]))
        conn.sendall(message(10, job=9))
        if not read_message(conn):
            return "no answer after the data", report
        return "ok", report
    copies = getattr(args, "copies", None) or (2 if len(jobs) == 1 else 1)
    for i, job in enumerate(jobs):
        problem = print_job(conn, copies,
                            getattr(args, "during", None) if i == 0 else None,
                            jobs[i + 1] if i + 1 < len(jobs) else None)
        if problem:
            return "%s: %s" % (job, problem), report
    return "ok", report


def print_job(conn, copies, during, next_job):
    """One job from its start to its end: the next job's request (when one
    is queued) comes before the end's acknowledgement."""
    title = b"Halvanet page\0"
    conn.sendall(message(2, flags=1, job=9, payload=bytes([1, copies]) + title + b"\0" +
                         struct.pack("<I", 0)))
    ack = read_message(conn)
    if not ack or ack[0] != 5:
        return "job start not acknowledged: %r" % (ack,)
    z = zlib.compress(PAGE, 9)
    for at in range(0, len(z), 40):
        conn.sendall(message(4, job=9, payload=z[at:at + 40]))
    if during:
        during()
    conn.sendall(message(3, flags=1, job=9))
    request = read_message(conn) if next_job else None
    if next_job and (not request or request[:1] != (13,) or request[4] != next_job.encode()):
        return "no request for %s at the job end: %r" % (next_job, request)
    ack = read_message(conn)
    if ack and ack[0] == 9:  # the next job is another service's
        ack = read_message(conn)
    if not ack or ack[0] != 5:
        return "job end not acknowledged: %r" % (ack,)
    if ack[4]:
        return "the job end was acknowledged as failed"
    return None


def main():
    p = argparse.ArgumentParser()
    p.add_argument("scenario", choices=["print", "bomb", "hello"])
    p.add_argument("job", nargs="?", default="")
    p.add_argument("--port-file", required=True)
    p.add_argument("--result-file", required=True)
    p.add_argument("--wait-file")
    p.add_argument("--copies", type=int)
    args = p.parse_args()
    if args.wait_file:
        def wait():
            end_at = time.time() + 60
            while time.time() < end_at and not os.path.exists(args.wait_file):
                time.sleep(0.05)
        args.during = wait
    srv = peerlib.listen_local(1)
    srv.settimeout(120)
    peerlib.publish_port(args.port_file, srv.getsockname()[1])
    conn, _ = srv.accept()
    conn.settimeout(120)
    try:
        result, report = run(conn, args)
    except OSError as e:
        result, report = "connection failed: %s" % e, ""
    conn.close()
    peerlib.write_whole(args.result_file, result + "\n" + report)


if __name__ == "__main__":
    main()
