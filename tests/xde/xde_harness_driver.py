#!/usr/bin/python3
"""Drives tests/xde/xde_harness under Wine against the fake X-AIP server's
picture at depth 24: the display, made as the session makes it, must show
the picture in its view - as GDI reads it back and as the X server holds
it (python3-xlib) - ring the X server's bell for the picture's bell request,
and the server must be content.

usage: xde_harness_driver.py WINE_EXEC HARNESS_EXE"""
import ctypes
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import xcapture  # noqa: E402

PEER = os.path.join(HERE, "..", "peers", "xaip_peer.py")
X0, Y0 = 400, 600

# Points of the picture and their colours (RRGGBB).
EXPECTED = {(155, 115): "FFFFFF", (5, 5): "FF0000", (44, 34): "FF0000", (45, 35): "FFFFFF",
            (50, 5): "0000FF", (79, 44): "0000FF", (5, 60): "00FF00", (25, 75): "FFFFFF"}
for (ix, iy) in ((0, 0), (10, 20), (63, 63), (31, 7)):
    r, g, b = (ix * 4) & 255, (iy * 4) & 255, ((ix + iy) * 2) & 255
    EXPECTED[(90 + ix, 50 + iy)] = "%02X%02X%02X" % (r, g, b)


def bell_counter():
    """Hears the X server's bells (XKB bell notices on a connection of its
    own, which python3-xlib cannot ask for); the function returned counts
    those heard so far."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    dpy = ctypes.c_void_p(x.XOpenDisplay(None))
    base, rest = ctypes.c_int(), [ctypes.c_int(v) for v in (0, 0, 1, 0)]
    x.XkbQueryExtension(dpy, ctypes.byref(rest[0]), ctypes.byref(base), ctypes.byref(rest[1]),
                        ctypes.byref(rest[2]), ctypes.byref(rest[3]))
    x.XkbSelectEvents(dpy, 0x100, 1 << 8, 1 << 8)  # the core keyboard's bell notices
    x.XSync(dpy, 0)
    heard = [0]

    def count():
        event = (ctypes.c_long * 24)()
        while x.XPending(dpy):
            x.XNextEvent(dpy, event)
            heard[0] += ctypes.cast(event, ctypes.POINTER(ctypes.c_int))[0] == base.value
        return heard[0]
    return count


def main(argv):
    wine_exec, harness = argv[1], argv[2]
    tmp = tempfile.mkdtemp(prefix="xde_harness_")
    port_file, result = os.path.join(tmp, "port"), os.path.join(tmp, "result")
    server = subprocess.Popen([sys.executable if sys.executable else "python3", PEER, "serve",
                               "picture-24", "--result-file", result, "--port-file", port_file],
                              stdin=subprocess.DEVNULL)
    problems = []
    client = None
    bells = bell_counter()
    try:
        for _ in range(500):
            if os.path.exists(port_file) and open(port_file).read().strip():
                break
            time.sleep(0.01)
        port = open(port_file).read().strip()
        client = subprocess.Popen([wine_exec, harness, port, str(X0), str(Y0)],
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

        def ask(line):
            client.stdin.write(line + "\n")
            client.stdin.flush()
            while True:
                got = client.stdout.readline()
                if not got:
                    raise RuntimeError("the harness ended (exit %s)" % client.wait(10))
                key = "bye" if line == "quit" else line.split()[0]
                if got.split()[:1] == [key] or got.startswith("unknown"):
                    return got.split()

        while client.stdout.readline().strip() != "ready":
            pass
        deadline = time.time() + 60
        while time.time() < deadline:
            state = ask("state")
            if state[1:3] == ["24", "1"] and os.path.exists(result):
                break
            time.sleep(0.1)
        else:
            problems.append("the screen never started: %s" % state)
        time.sleep(0.5)  # the last requests are painted
        view = [int(v) for v in ask("view")[1:]]
        if view != [X0, Y0, 160, 120]:
            problems.append("view %s" % view)
        for (x, y), want in sorted(EXPECTED.items()):
            got = ask("pixel %d %d" % (x, y))[1]
            if got != want:
                problems.append("GDI pixel (%d, %d) is %s, not %s" % (x, y, got, want))
        # The window system hands the window's pixels to the X server on a
        # later flush of its own: read the screen until they came.
        prefix = os.path.join(tmp, "capture")
        deadline = time.time() + 20
        while True:
            xcapture.main(["xcapture", str(X0), str(Y0), "160", "120", prefix])
            with open(prefix + ".ppm", "rb") as f:
                data = f.read().split(b"\n", 3)[3]
            wrong = []
            for (x, y), want in sorted(EXPECTED.items()):
                o = (y * 160 + x) * 3
                got = "%02X%02X%02X" % tuple(data[o:o + 3])
                if got != want:
                    wrong.append("X pixel (%d, %d) is %s, not %s" % (x, y, got, want))
            if not wrong or time.time() > deadline:
                break
            time.sleep(0.2)
        problems += wrong
        if bells() < 1:
            problems.append("the bell request rang no bell")
        ask("quit")
        client.wait(30)
        with open(result) as f:
            verdict = f.readline().strip()
        if verdict != "ok":
            problems.append("server: %s" % verdict)
    except Exception as e:  # a broken harness fails the test, never hangs it
        problems.append("%s: %s" % (type(e).__name__, e))
    finally:
        if client and client.poll() is None:
            client.kill()
        server.kill()
        server.wait()
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
