#!/usr/bin/python3
"""Runs tests/devices/cdm_harness under Wine against cdm_peer.py on a fresh
folder, seen through drive Z: (the Unix root): the peer's scenario must hold, and the file it
left open must be deletable once the channel is gone.

usage: cdm_harness_driver.py WINE_EXEC HARNESS_EXE"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers")


def wait_for(cond, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.02)
    return False


def main(argv):
    wine_exec, harness = argv[1], argv[2]
    tmp = tempfile.mkdtemp(prefix="cdm_")
    root = os.path.join(tmp, "drive")
    os.mkdir(root)
    with open(os.path.join(root, "keep.txt"), "w") as f:
        f.write("keep")
    base = "Z:" + root.replace("/", "\\")
    started, problems = [], []
    try:
        port_file, result = os.path.join(tmp, "port"), os.path.join(tmp, "result")
        server = subprocess.Popen(["/usr/bin/python3", os.path.join(PEERS, "cdm_peer.py"),
                                   "--root", root, "--base", base, "--ops", "2000",
                                   "--seed", os.environ.get("HV_CDM_SEED", "1"), "--port-file", port_file,
                                   "--result-file", result], stdin=subprocess.DEVNULL)
        started.append(server)
        if not wait_for(lambda: os.path.exists(port_file), 10):
            return print("cdm_peer did not start") or 1
        port = open(port_file).read().strip()
        client = subprocess.Popen([wine_exec, harness, port, base + "\\held.txt"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        started.append(client)
        out, _ = client.communicate(timeout=150)
        lines = out.split("\n")
        if "deleted" not in lines:
            problems.append("the held file could not be deleted: %r" % lines)
        if "closed" not in lines:
            problems.append("the harness did not see the close (exit %s)" % client.returncode)
        if not wait_for(lambda: os.path.exists(result), 10):
            problems.append("cdm_peer wrote no result")
        elif open(result).read().strip() != "ok":
            problems.append("cdm_peer: " + open(result).read().strip())
    finally:
        for p in reversed(started):
            if p.poll() is None:
                p.kill()
                p.wait(10)
        shutil.rmtree(tmp, ignore_errors=True)
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
