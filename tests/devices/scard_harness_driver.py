#!/usr/bin/python3
"""Runs the device-channel harness built beside the stand-in winscard.dll
under Wine against scard_peer.py at the second request level: the
smart-card records must be announced and the peer's scenario must hold.

usage: scard_harness_driver.py WINE_EXEC HARNESS_EXE"""
import os
import subprocess
import sys
import tempfile
import time

PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers")
WANT = ["1;32;1;5;0;=128", "32;32;1;5;0;2;0;1;SCARD;=512"]


def wait_for(cond, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.02)
    return False


def main(argv):
    wine_exec, harness = argv[1], argv[2]
    tmp = tempfile.mkdtemp(prefix="scard_")
    started, problems = [], []
    try:
        port_file, result = os.path.join(tmp, "port"), os.path.join(tmp, "result")
        control = os.path.join(tmp, "control")
        os.mkdir(control)
        server = subprocess.Popen(["/usr/bin/python3", os.path.join(PEERS, "scard_peer.py"),
                                   "--port-file", port_file, "--result-file", result,
                                   "--control", control, "--level", "2", "--device", "1"],
                                  stdin=subprocess.DEVNULL)
        started.append(server)
        if not wait_for(lambda: os.path.exists(port_file), 10):
            return print("scard_peer did not start") or 1
        port = open(port_file).read().strip()
        env = dict(os.environ, WINEDLLOVERRIDES="winscard=n", HV_SCARD_STANDIN_DIR="Z:" + control)
        client = subprocess.Popen([wine_exec, harness, port, "NONE"], env=env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        started.append(client)
        out, _ = client.communicate(timeout=150)
        lines = out.split("\n")
        got = [l.split(" ", 1)[1] for l in lines if l.startswith("announce ")]
        if got[:2] != WANT:  # serial ports the machine has may follow
            problems.append("announced %r, want %r" % (got, WANT))
        if "closed" not in lines:
            problems.append("the harness did not see the close (exit %s)" % client.returncode)
        if not wait_for(lambda: os.path.exists(result), 10):
            problems.append("scard_peer wrote no result")
        elif open(result).read().strip() != "ok":
            problems.append("scard_peer: " + open(result).read().strip())
    finally:
        for p in reversed(started):
            if p.poll() is None:
                p.kill()
                p.wait(10)
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
