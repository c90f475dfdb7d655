#!/usr/bin/python3
"""Runs tests/devices/iochan_harness under Wine with COM5 on a socat
pseudo-terminal pair: the serial peer echoes on the far end, io_peer plays
the server. The device list must be announced with the smart-card records
and COM5, and io_peer's serial scenario must hold.

usage: iochan_harness_driver.py WINE_EXEC HARNESS_EXE"""
import os
import subprocess
import sys
import tempfile
import time

PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers")
WANT = ["1;32;1;5;0;=128", "32;32;1;5;0;2;0;1;SCARD;=512", "1;32;1;5;0;2;0;2;COM5;=512"]


def wait_for(cond, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.02)
    return False


def main(argv):
    wine_exec, harness = argv[1], argv[2]
    tmp = tempfile.mkdtemp(prefix="iochan_")
    tty0, tty1 = os.path.join(tmp, "ttyV0"), os.path.join(tmp, "ttyV1")
    com5 = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com5")
    started, problems = [], []
    saved = os.readlink(com5) if os.path.islink(com5) else None
    try:
        socat = subprocess.Popen(["socat", "pty,rawer,link=" + tty0,
                                  "pty,rawer,link=" + tty1],
                                 stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        started.append(socat)
        if not wait_for(lambda: os.path.exists(tty0) and os.path.exists(tty1), 10):
            return print("socat made no pseudo-terminals") or 1
        if os.path.lexists(com5):
            os.unlink(com5)
        os.symlink(tty0, com5)
        echo = subprocess.Popen(["/usr/bin/python3", os.path.join(PEERS, "serial_peer.py"), tty1,
                                 "--lifetime", "150"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True)
        started.append(echo)
        if echo.stdout.readline().strip() != "ready":
            return print("the serial peer did not start") or 1
        port_file, result = os.path.join(tmp, "port"), os.path.join(tmp, "result")
        server = subprocess.Popen(["/usr/bin/python3", os.path.join(PEERS, "io_peer.py"),
                                   "serial-echo", "--port-file", port_file, "--result-file",
                                   result, "--device", "2", "--client-tty", tty0],
                                  stdin=subprocess.DEVNULL)
        started.append(server)
        if not wait_for(lambda: os.path.exists(port_file), 10):
            return print("io_peer did not start") or 1
        port = open(port_file).read().strip()
        client = subprocess.Popen([wine_exec, harness, port, "COM5=COM5"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        started.append(client)
        out, _ = client.communicate(timeout=150)
        lines = out.split("\n")
        got = [l.split(" ", 1)[1] for l in lines if l.startswith("announce ")]
        if got != WANT:
            problems.append("announced %r, want %r" % (got, WANT))
        if "closed" not in lines:
            problems.append("the harness did not see the close (exit %s)" % client.returncode)
        if not wait_for(lambda: os.path.exists(result), 10):
            problems.append("io_peer wrote no result")
        elif open(result).read().strip() != "ok":
            problems.append("io_peer: " + open(result).read().strip())
    finally:
        for p in reversed(started):
            if p.poll() is None:
                p.kill()
                p.wait(10)
        if os.path.lexists(com5):
            os.unlink(com5)
        if saved:
            os.symlink(saved, com5)
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
