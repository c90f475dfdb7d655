#!/usr/bin/python3
"""The demo as tools/run starts it - the scripted server signs the client
in and launches its X and character applications - driven under Wine as a
user would with xdotool and xclip: a typed line with Insert and Delete
reaches the character application and its echo shows; a stream drag and a
block drag (Shift) invert exactly their cells while the output held
meanwhile shows at the clear; Copy from the popup menu puts the block's
text on the X clipboard; a long paste from it arrives in pieces between
messages 7 and 2. The screen is read from the X server (python3-xlib).

usage: demo_terminal.py HALVANET_EXE SHOT_DIR"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "xde"))
import xcapture  # noqa: E402

SERVER = os.path.join(HERE, "..", "peers", "fake_halvanet.py")
WHITE, BLACK, RED, BLUE = "FFFFFF", "000000", "FF0000", "0000FF"
ROWS, COLS, ECHO_ROW, HELD_ROW = 25, 80, 7, 20
# A paste longer than the 25 x 80 grid: short lines, and a long one whose
# 80th and 81st units are one surrogate pair.
PASTE = "".join("line %02d %s\n" % (i, "x" * (i % 60)) for i in range(60)) + \
    "y" * 79 + "\U0001F600" + "z" * 100 + "\n"


def capture(tmp, x, y, w, h):
    prefix = os.path.join(tmp, "screen")
    xcapture.main(["xcapture", str(x), str(y), str(w), str(h), prefix])
    with open(prefix + ".ppm", "rb") as f:
        return f.read().split(b"\n", 3)[3]


def colours_in(img, w, x0, y0, cw, ch):
    """The set of RRGGBB colours in a rectangle of a capture."""
    return {"%02X%02X%02X" % tuple(img[(y * w + x) * 3:(y * w + x) * 3 + 3])
            for y in range(y0, y0 + ch) for x in range(x0, x0 + cw)}


def find_terminal(tmp):
    """Origin and cell size of the character application: its banner is the
    one blue run across the whole top row."""
    w, h = 1280, 1024
    img = capture(tmp, 0, 0, w, h)
    for y in range(h):
        row = img[y * w * 3:(y + 1) * w * 3]
        x = row.find(b"\0\0\xff")
        while x >= 0 and x % 3:
            x = row.find(b"\0\0\xff", x + 1)
        if x < 0:
            continue
        x //= 3
        run = 0
        while x + run < w and row[(x + run) * 3:(x + run) * 3 + 3] == b"\0\0\xff":
            run += 1
        if run >= 320:
            ch = 0
            while img[((y + ch) * w + x) * 3:((y + ch) * w + x) * 3 + 3] == b"\0\0\xff":
                ch += 1
            return x, y, run // COLS, ch
    return None


def until(pred, what, timeout=20):
    end = time.time() + timeout
    while True:
        got = pred()
        if got or time.time() > end:
            if not got:
                raise RuntimeError("%s never came" % what)
            return got
        time.sleep(0.05)


def main(argv):
    exe, shots = argv[1], argv[2]
    tmp = tempfile.mkdtemp(prefix="demo_terminal_")
    port_file, transcript = os.path.join(tmp, "port"), os.path.join(tmp, "transcript")
    server = subprocess.Popen([sys.executable or "python3", SERVER, "--scenario", "demo",
                               "--port-file", port_file, "--transcript", transcript,
                               "--lifetime", "200"],
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    problems, client, owner = [], None, None
    try:
        until(lambda: os.path.exists(port_file) and open(port_file).read().strip(), "the port")
        port = open(port_file).read().strip()
        client = subprocess.Popen(["wine", exe, "-server", "127.0.0.1", "-port", port,
                                   "-portfile", "Z:" + os.path.join(tmp, "cp"),
                                   "-connectioncookie", "demo"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)

        def events():
            if not os.path.exists(transcript):
                return []
            return [ln.split("] ", 1)[-1] for ln in open(transcript).read().splitlines()]

        until(lambda: events().count("application shown") >= 2, "both applications", 90)
        vx, vy, cw, ch = until(lambda: find_terminal(tmp), "the character application")
        w, h = COLS * cw, ROWS * ch
        os.makedirs(shots, exist_ok=True)
        until(lambda: "FFFFFF" in colours_in(capture(tmp, vx, vy, w, h), w, 0, ch * 2, w, ch),
              "the screen drawn")
        shutil.copy(os.path.join(tmp, "screen.png"), os.path.join(shots, "demo_terminal.png"))

        def at(col, row):
            return [str(vx + col * cw + cw // 2), str(vy + row * ch + ch // 2)]

        def xdo(*args):
            subprocess.run(["xdotool"] + list(args), check=True)

        def screen():
            return capture(tmp, vx, vy, w, h)

        def cell(img, col, row, n=1):
            return colours_in(img, w, col * cw, row * ch, cw * n, ch)

        def corner(img, col, row):
            """The top-left pixel of a cell (no glyph reaches it)."""
            return colours_in(img, w, col * cw + 1, row * ch + 1, 1, 1)

        def open_menu(col, row):
            """Right-clicks the cell and waits until the menu is drawn below
            and right of the pointer: keys sent before a loaded machine has
            drawn it go to the terminal instead."""
            x, y = (int(v) for v in at(col, row))
            xdo("mousemove", str(x), str(y))
            before = capture(tmp, x + 4, y + 4, 48, 24)
            xdo("click", "3")
            try:
                until(lambda: capture(tmp, x + 4, y + 4, 48, 24) != before, "the menu", 10)
            except RuntimeError:
                pass  # opened elsewhere: the keys are sent all the same

        def shows_area(img, inside, rows, cols):
            return all(corner(img, c, r) == ({BLACK} if inside(c, r) else {WHITE})
                       for r in rows for c in cols)

        xdo("mousemove", *at(40, 22))
        xdo("click", "2")  # the middle button focuses the view and selects nothing
        # Overwrite "X" after going back to it, delete it, insert "b".
        xdo("type", "--delay", "30", "aXcd")
        xdo("key", "--delay", "30", "Left", "Left", "Left", "Delete", "Insert")
        xdo("type", "--delay", "30", "b")
        xdo("key", "Return")
        until(lambda: [e for e in events() if e.startswith("line ")], "the typed line")
        line = [e for e in events() if e.startswith("line ")][0]
        if line != "line abcd":
            problems.append("typed %r" % line)
        until(lambda: (lambda img: RED in cell(img, 0, ECHO_ROW, 4) and
                       RED not in cell(img, 4, ECHO_ROW, 10))(screen()), "the red echo")

        # A stream drag over blank rows, held output waiting meanwhile.
        def stream(c, r):
            first, last = (15, 3), (17, 12)
            return first <= (r, c) < last
        xdo("mousemove", *at(3, 15))
        xdo("mousedown", "1")
        xdo("mousemove", *at(8, 16))
        xdo("mousemove", *at(12, 17))
        until(lambda: "held" in events(), "output sent during the selection")
        xdo("mouseup", "1")
        try:
            until(lambda: shows_area(screen(), stream, range(13, 20), range(0, 20)),
                  "the stream area inverted")
        except RuntimeError as e:
            problems.append(str(e))
        if BLACK in cell(screen(), 0, HELD_ROW, 17):
            problems.append("output shown while the selection held it")
        xdo("key", "Escape")
        until(lambda: (lambda img: BLACK in cell(img, 0, HELD_ROW, 17) and
                       shows_area(img, lambda c, r: False, range(13, 20), range(0, 20)))(
            screen()), "the held output after the clear")

        # A block drag with Shift over the text, then Copy from the menu.
        def block(c, r):
            return 0 <= c < 5 and 10 <= r <= 12
        xdo("mousemove", *at(0, 10))
        xdo("keydown", "shift")
        xdo("mousedown", "1")
        xdo("mousemove", *at(3, 12))
        xdo("mousemove", *at(5, 12))
        xdo("mouseup", "1")
        xdo("keyup", "shift")
        try:
            until(lambda: shows_area(screen(), block, range(9, 14), range(0, 9)),
                  "the block inverted")
        except RuntimeError as e:
            problems.append(str(e))
        open_menu(5, 12)
        xdo("key", "--delay", "100", "Down", "Return")

        def clipboard():
            r = subprocess.run(["xclip", "-o", "-selection", "clipboard"], capture_output=True)
            return r.stdout.decode("utf-8", "replace").replace("\r\n", "\n")
        try:
            until(lambda: clipboard() == "alpha\ngamma\n", "the copied block")
        except RuntimeError:
            problems.append("clipboard holds %r" % clipboard())

        # Paste a text longer than the grid from the X clipboard.
        owner = subprocess.Popen(["xclip", "-i", "-quiet", "-selection", "clipboard"],
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        owner.stdin.write(PASTE.encode("utf-8"))
        owner.stdin.close()
        until(lambda: clipboard() == PASTE, "the text on the clipboard")
        # Choose Paste, up to three times, until the server has the text.
        for attempt in range(3):
            open_menu(30, 15)
            xdo("key", "--delay", "100", "Down", "Down", "Return")
            try:
                until(lambda: [e for e in events() if e.startswith("paste ")],
                      "the pasted text", 20)
                break
            except RuntimeError:
                if attempt == 2:
                    raise
                xdo("key", "Escape")
        paste = [e for e in events() if e.startswith("paste ")][0].split()
        # pieces, longest, bracketed by 7 and 2, piece rules kept, digest
        want = ["80", "1", "1", hashlib.sha256(PASTE.encode("utf-8")).hexdigest()]
        if paste[2:] != want:
            problems.append("paste %s" % paste)
    except Exception as e:  # a broken harness fails the test, never hangs it
        problems.append("%s: %s" % (type(e).__name__, e))
    finally:
        for p in (client, owner, server):
            if p and p.poll() is None:
                p.kill()
                p.wait()
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
