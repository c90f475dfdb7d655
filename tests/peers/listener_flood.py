#!/usr/bin/env python3
"""A native program (no Windows program of the client's user) that floods
the client's local listener, and the user's own program beside it.

The user's program is --relay, a Windows program of the tests run under
Wine: it connects, sends a helperInit with a foreign Host and is served
once the client answers "403 Forbidden" (the request was read, so its
owner was judged to be the user). Its time is counted from its connect to
the answer.

Phases: the user's program alone; --count connections opened and closed at
once, the user's program started at the same moment (during the flood),
then again as soon as the client has dealt with every flood connection
(right after it). The client has dealt with a connection once no socket of
it is left on the listener's port (silent ones may wait out their time in
the gate's places) (read from /proc/net/tcp: the listener
runs under Wine on this machine's own sockets).

Prints one line of figures; exits 1 when the user's program was not served
within --limit seconds or the flood was not dealt with within it.
"""
import argparse
import os
import resource
import select
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from fake_helper import HOSTILE, packet  # noqa: E402

ANSWER = b"HTTP/1.1 403 Forbidden\r\n"
LISTEN, TIME_WAIT = "0A", "06"


def readable(f, seconds):
    # poll, not select: the flood's sockets take descriptors past 1024.
    p = select.poll()
    p.register(f, select.POLLIN)
    return bool(p.poll(seconds * 1000))


def own_program(relay, port, limit):
    """Seconds from the relay's connect to the client's answer; None when
    not served within the limit."""
    proc = subprocess.Popen(["wine", relay, str(port)], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        if not readable(proc.stderr, 60) or b"connected" not in proc.stderr.readline():
            return None
        start = time.monotonic()
        proc.stdin.write(packet("helperInit", [("helperid", "own")], HOSTILE["foreign-host"]))
        proc.stdin.flush()
        got = b""
        while len(got) < len(ANSWER) and time.monotonic() - start < limit:
            if readable(proc.stdout, 0.05):
                chunk = os.read(proc.stdout.fileno(), 4096)
                if not chunk:
                    break
                got += chunk
        return time.monotonic() - start if got.startswith(ANSWER) else None
    finally:
        proc.kill()
        proc.wait()


def left_on(port):
    """Connections on the listener's port the client has not closed yet
    (accepted or still in its backlog)."""
    n = 0
    for name in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            lines = open(name).read().splitlines()[1:]
        except OSError:
            continue
        for line in lines:
            f = line.split()
            if int(f[1].split(":")[1], 16) == port and f[3] not in (LISTEN, TIME_WAIT):
                n += 1
    return n


def flood(port, count):
    """Opens `count` connections, then closes them all."""
    socks = []
    for _ in range(count):
        s = socket.socket()
        s.settimeout(5)
        try:
            s.connect(("127.0.0.1", port))  # the system's backlog completes it
        except OSError:
            pass
        socks.append(s)
    for s in socks:
        s.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--client-port-file", required=True)
    ap.add_argument("--relay", required=True)
    ap.add_argument("--count", type=int, default=3000)
    ap.add_argument("--limit", type=float, default=30)
    args = ap.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, args.count + 256), hard))
    port = int(open(args.client_port_file).read().strip())

    alone = own_program(args.relay, port, args.limit)
    during = {}
    helper = threading.Thread(
        target=lambda: during.update(t=own_program(args.relay, port, args.limit)))
    start = time.monotonic()
    helper.start()
    flood(port, args.count)
    opened = time.monotonic() - start
    judged = None  # all but what the gate's places may hold
    while time.monotonic() - start < args.limit:
        left = left_on(port)
        if judged is None and left <= 16:
            judged = time.monotonic() - start
        if not left:
            break
        time.sleep(0.05)
    dealt = time.monotonic() - start
    judged = dealt if judged is None else judged
    after = own_program(args.relay, port, args.limit)
    helper.join()

    def shown(t):
        return "not served" if t is None else "%.2f s" % t
    print("flood of %d opened and closed in %.2f s, all but the gate's places judged in "
          "%.2f s (%.2f ms each), every one closed in %.2f s; own program served: alone %s, "
          "during the flood %s, right after it %s"
          % (args.count, opened, judged, 1000 * judged / args.count, dealt, shown(alone),
             shown(during.get("t")), shown(after)))
    ok = dealt < args.limit and None not in (alone, during.get("t"), after)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
