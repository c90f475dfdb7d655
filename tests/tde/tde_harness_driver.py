#!/usr/bin/python3
"""Drives tests/tde/tde_harness under Wine against taip_peer.py's harness
scenario: the terminal, made as the session makes it, must show the
peer's screen in its view - as GDI reads it back and as the X server holds
it (python3-xlib) - the same after a full expose; typed keys, keep-alives,
acknowledgements and the session's end must be what the peer expects.

usage: tde_harness_driver.py WINE_EXEC HARNESS_EXE STYLE STATUS"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "xde"))
import xcapture  # noqa: E402

PEER = os.path.join(HERE, "..", "peers", "taip_peer.py")
X0, Y0 = 300, 200
WHITE, BLACK, RED, BLUE, DARKBLUE = "FFFFFF", "000000", "FF0000", "0000FF", "000080"


def capture(tmp, name, w, h):
    prefix = os.path.join(tmp, name)
    xcapture.main(["xcapture", str(X0), str(Y0), str(w), str(h), prefix])
    with open(prefix + ".ppm", "rb") as f:
        data = f.read().split(b"\n", 3)[3]
    return data


def colours_in(img, w, x0, y0, cw, ch):
    """The set of RRGGBB colours in a rectangle of the captured view."""
    seen = set()
    for y in range(y0, y0 + ch):
        for x in range(x0, x0 + cw):
            o = (y * w + x) * 3
            seen.add("%02X%02X%02X" % tuple(img[o:o + 3]))
    return seen


def checks(img, w, cw, ch):
    """What the screen must show, as (description, ok) pairs."""
    def cell(col, row, n=1, width=None):
        return colours_in(img, w, col * cw, row * ch, (width or cw) * n, ch)
    out = []
    out.append(("'Red' in red on white", cell(0, 0, 3) == {RED, WHITE} or
                (RED in cell(0, 0, 3) and WHITE in cell(0, 0, 3))))
    out.append(("'Bold' dark blue becomes blue", BLUE in cell(4, 0, 4) and
                DARKBLUE not in cell(4, 0, 4)))
    out.append(("'Rev' on dark blue", DARKBLUE in cell(9, 0, 3) and WHITE in cell(9, 0, 3)))
    # Slot 1: the box's top edge crosses the middle of cell (1, 2) only.
    mid = colours_in(img, w, cw, 14 * ch + ch // 2, cw, 1)
    top = colours_in(img, w, cw, 14 * ch, cw, 1)
    out.append(("box line drawn", mid == {BLACK} and top == {WHITE}))
    side = colours_in(img, w, cw // 2, 15 * ch, 1, ch)
    out.append(("box side drawn", side == {BLACK}))
    # Slot 3: glyph 'A' is an outline: black top-left, white centre.
    g = colours_in(img, w, 20 * cw, 14 * ch, 1, 1)
    c = colours_in(img, w, 20 * cw + cw // 2, 14 * ch + ch // 2, 1, 1)
    out.append(("glyph from its strip", g == {BLACK} and c == {WHITE}))
    # Double width: "WIDE" reaches past four normal cells.
    out.append(("double-width row", BLACK in cell(5, 12, 3)))
    # Rows 5..9 scrolled up 2: text on rows 3..7, rows 8 and 9 blank.
    for row in range(3, 8):
        out.append(("row %d holds row%d" % (row, row + 2), BLACK in cell(0, row, 4)))
    for row in (8, 9):
        out.append(("row %d blank" % row, cell(0, row, 80) == {WHITE}))
    return out


def main(argv):
    wine_exec, harness, style, status = argv[1], argv[2], argv[3], int(argv[4])
    tmp = tempfile.mkdtemp(prefix="tde_harness_")
    port_file, result = os.path.join(tmp, "port"), os.path.join(tmp, "result")
    server = subprocess.Popen([sys.executable or "python3", PEER, "serve", "harness",
                               "--result-file", result, "--port-file", port_file,
                               "--style", style, "--status", str(status)],
                              stdin=subprocess.DEVNULL)
    problems = []
    client = None
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

        def wait_state(pred, what, timeout=60):
            end = time.time() + timeout
            while time.time() < end:
                st = [int(v) for v in ask("state")[1:]]
                if pred(st):
                    return st
                time.sleep(0.05)
            raise RuntimeError("%s never came: %s" % (what, st))

        while client.stdout.readline().strip() != "ready":
            pass
        st = wait_state(lambda s: s[0] == 1 and s[3] == 5, "state 5 with a screen")
        cw, ch = st[1], st[2]
        view = [int(v) for v in ask("view")[1:]]
        w, h = view[2], view[3]
        if view[:2] != [X0, Y0]:
            problems.append("view %s" % view)
        # The screen is drawn when every check holds; wait for that.
        end = time.time() + 30
        while True:
            img = capture(tmp, "screen", w, h)
            failed = [d for d, ok in checks(img, w, cw, ch) if not ok]
            if not failed or time.time() > end:
                break
            time.sleep(0.1)
        problems += ["X screen: " + d for d in failed]
        for x, y, want in ((cw // 2, 9 * ch + 1, WHITE), (9 * cw + 1, 1, DARKBLUE)):
            got = ask("pixel %d %d" % (x, y))[1]
            if got != want:
                problems.append("GDI pixel (%d, %d) is %s, not %s" % (x, y, got, want))
        ask("expose")
        again = capture(tmp, "exposed", w, h)
        if again != img:
            problems.append("a full expose changed the screen")
        print("screen kept in %s.png" % os.path.join(tmp, "exposed"))
        # Keys: F12 tells the peer the screen was read; letters with Shift
        # and Right Ctrl; F11 ends the keys.
        ask("focus")
        # Without a window manager the X focus may have been left at the
        # root by an earlier program: keys then go to the window under the
        # pointer, so the pointer rests inside the view.
        subprocess.run(["xdotool", "mousemove", "--sync", str(X0 + 8), str(Y0 + 8)], check=True)
        for keys in ("F12", "shift+a", "Control_R+b", "F11"):
            subprocess.run(["xdotool", "key", "--delay", "20", keys], check=True)
        st = wait_state(lambda s: s[3] in (6, 7), "the session's end", 90)
        if st[3] != (7 if status else 6):
            problems.append("launch state %d after status %d" % (st[3], status))
        # The client may report the end before the peer has written its verdict.
        for _ in range(300):
            if os.path.exists(result):
                break
            time.sleep(0.1)
        with open(result) as f:
            verdict = f.readline().strip()
        if verdict != "ok":
            problems.append("server: %s" % verdict)
        with open(result + ".keys") as f:
            keys = [tuple(int(v) for v in line.split()) for line in f]
        # (type, character, key, modifiers): Shift is bit 0, Right Ctrl
        # (Ctrl with the right-hand mask) bit 1; xdotool lets go of the
        # modifier before the letter. Letters travel as their character
        # only: the key table gives them key code 0.
        want = [(9, ord("A"), 0, 1), (15, ord("A"), 0, 0), (9, 2, 0, 2), (15, 2, 0, 0)]
        letters = [k for k in keys if k[1] in (ord("A"), 2)]
        if letters != want:
            problems.append("keys %s" % keys)
        ask("quit")
        client.wait(30)
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
