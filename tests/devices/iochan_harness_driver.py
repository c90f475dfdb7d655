#!/usr/bin/python3
"""COM5 on a socat pseudo-terminal pair, the serial peer echoing on the far
end, and io_peer playing the server.

  harness WINE_EXEC HARNESS_EXE: tests/devices/iochan_harness under Wine;
      the device list must be announced with the smart-card records and
      COM5, and io_peer's serial scenario must hold.
  session WINE_EXEC CLIENT_EXE: the whole client ("SerialPorts" =
      "COM5=COM5" in its profile) against fake_halvanet.py's "io" scenario:
      the announcement in the ns1:clientCapabilities reply, an empty device
      array in ns1:init, then ns1:doIO to the same serial scenario.
  rate PORT_FILE: for a benchmark program (the device channel with COM5
      as its device 0) that connects to the port published in PORT_FILE:
      io_peer's serial_rate over 64 KB; "rate BYTES_PER_SECOND" or the
      problems go to PORT_FILE.result.

usage: iochan_harness_driver.py harness|session WINE_EXEC EXE
       iochan_harness_driver.py rate PORT_FILE"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

PEERS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers")
sys.path.insert(0, PEERS)
WANT = ["1;32;1;5;0;=128", "32;32;1;5;0;2;0;1;SCARD;=512", "1;32;1;5;0;2;0;2;COM5;=512"]


def wait_for(cond, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.02)
    return False


class SerialLine:
    """COM5 of the prefix linked to one end of a socat pair (tty0), the
    serial peer echoing on the other; processes started are kept in
    `started`, stopped by their ids on exit, and the prefix's link restored."""

    def __init__(self, tmp):
        self.tmp = tmp
        self.tty0, self.tty1 = os.path.join(tmp, "ttyV0"), os.path.join(tmp, "ttyV1")
        self.com5 = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com5")
        self.saved = os.readlink(self.com5) if os.path.islink(self.com5) else None
        self.started = []

    def __enter__(self):
        self.started.append(subprocess.Popen(
            ["socat", "pty,rawer,link=" + self.tty0, "pty,rawer,link=" + self.tty1],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        if not wait_for(lambda: os.path.exists(self.tty0) and os.path.exists(self.tty1), 10):
            raise RuntimeError("socat made no pseudo-terminals")
        if os.path.lexists(self.com5):
            os.unlink(self.com5)
        os.symlink(self.tty0, self.com5)
        self.echo = echo = self.start(["/usr/bin/python3", os.path.join(PEERS, "serial_peer.py"), self.tty1,
                           "--lifetime", "150"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          text=True)
        if echo.stdout.readline().strip() != "ready":
            raise RuntimeError("the serial peer did not start")
        return self

    def start(self, argv, **kw):
        p = subprocess.Popen(argv, **kw)
        self.started.append(p)
        return p

    def __exit__(self, *exc):
        for p in reversed(self.started):
            if p.poll() is None:
                p.kill()
                p.wait(10)
        if os.path.lexists(self.com5):
            os.unlink(self.com5)
        if self.saved:
            os.symlink(self.saved, self.com5)
        shutil.rmtree(self.tmp, ignore_errors=True)


def run_harness(line, wine_exec, harness):
    problems = []
    port_file, result = os.path.join(line.tmp, "port"), os.path.join(line.tmp, "result")
    line.start(["/usr/bin/python3", os.path.join(PEERS, "io_peer.py"), "serial-echo",
                "--port-file", port_file, "--result-file", result, "--device", "2",
                "--client-tty", line.tty0], stdin=subprocess.DEVNULL)
    if not wait_for(lambda: os.path.exists(port_file), 10):
        return ["io_peer did not start"]
    port = open(port_file).read().strip()
    client = line.start([wine_exec, harness, port, "COM5=COM5"], stdin=subprocess.DEVNULL,
                        stdout=subprocess.PIPE, text=True)
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
    return problems


def profile_folder(wine_exec):
    """Where the client keeps profile.xml in the prefix."""
    out = subprocess.run([wine_exec, "cmd", "/c", "echo", "%LOCALAPPDATA%"],
                         stdin=subprocess.DEVNULL, capture_output=True, text=True).stdout
    unix = subprocess.run(["winepath", "-u", out.strip()], capture_output=True,
                          text=True).stdout.strip()
    return os.path.join(unix, "Vek", "VHVN")


def run_session(line, wine_exec, client_exe):
    folder = profile_folder(wine_exec)
    os.makedirs(folder, exist_ok=True)
    profile = os.path.join(folder, "profile.xml")
    saved = open(profile, "rb").read() if os.path.exists(profile) else None
    with open(profile, "wb") as f:
        f.write(b'\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8" ?>\r\n<cache><profiles>'
                b'<version>1.0</version></profiles><localsettings><serialports>COM5=COM5'
                b'</serialports></localsettings></cache>\r\n')
    transcript, port_file = os.path.join(line.tmp, "t"), os.path.join(line.tmp, "sp")
    try:
        server = line.start(["/usr/bin/python3", os.path.join(PEERS, "fake_halvanet.py"),
                             "--scenario", "io", "--port-file", port_file, "--transcript",
                             transcript, "--client-tty", line.tty0, "--lifetime", "150"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
        if not wait_for(lambda: os.path.exists(port_file) and open(port_file).read().strip(), 10):
            return ["fake_halvanet did not start"]
        line.start([wine_exec, client_exe, "-server", "127.0.0.1", "-port",
                    open(port_file).read().strip(), "-connectioncookie", "demo"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        rc = server.wait(160)
        text = open(transcript).read() if os.path.exists(transcript) else ""
        if rc != 0 or "io done" not in text:
            return ["fake_halvanet io scenario failed (%s):\n%s" % (rc, text)]
        return []
    finally:
        if saved is None:
            os.unlink(profile)
        else:
            open(profile, "wb").write(saved)


def run_rate(line, port_file):
    import io_peer
    import peerlib

    def send(n):
        line.echo.stdin.write("send %d\n" % n)
        line.echo.stdin.flush()

    def handle(conn):
        conn.settimeout(60)
        try:
            rate, problems = io_peer.serial_rate(conn, 0, 65536, send)
        except (io_peer.ProtocolError, OSError) as e:
            rate, problems = 0, ["%s: %s" % (type(e).__name__, e)]
        peerlib.write_whole(port_file + ".result",
                            "rate %.1f\n" % rate if not problems else "\n".join(problems) + "\n")
        conn.close()
        os.unlink(port_file)

    peerlib.serve_connections(peerlib.listen_local(1), port_file, 120, handle, threaded=False)


def main(argv):
    if argv[1] == "rate":
        with SerialLine(tempfile.mkdtemp(prefix="iochan_")) as line:
            run_rate(line, argv[2])
        return 0
    mode, wine_exec, exe = argv[1], argv[2], argv[3]
    run = {"harness": run_harness, "session": run_session}[mode]
    with SerialLine(tempfile.mkdtemp(prefix="iochan_")) as line:
        problems = run(line, wine_exec, exe)
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
