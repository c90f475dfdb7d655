#!/usr/bin/python3
"""Drives tests/tde/tde_harness under Wine against taip_peer.py's character
application, as a user would with xdotool and xclip: a typed line with
Insert and Delete reaches the application and its echo shows; a stream
drag and a block drag (Shift) invert exactly their cells while the
output held meanwhile shows at the clear; Copy from the popup menu puts
the block's text on the X clipboard; a long paste from it arrives in
pieces between messages 7 and 2.

usage: termwin_driver.py WINE_EXEC HARNESS_EXE"""
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import tde_harness_driver as base  # noqa: E402

PEER = os.path.join(HERE, "..", "peers", "taip_peer.py")
WHITE, BLACK, RED = "FFFFFF", "000000", "FF0000"
PROMPT_ROW, ECHO_ROW, HELD_ROW = 6, 7, 20
# A paste longer than the 25 x 80 grid: short lines, and a long one whose
# 80th and 81st characters are one surrogate pair.
PASTE = "".join("line %02d %s\n" % (i, "x" * (i % 60)) for i in range(60)) + \
    "y" * 79 + "\U0001F600" + "z" * 100 + "\n"


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
    wine_exec, harness = argv[1], argv[2]
    tmp = tempfile.mkdtemp(prefix="termwin_")
    port_file, result = os.path.join(tmp, "port"), os.path.join(tmp, "result")
    log = result + ".log"
    server = subprocess.Popen([sys.executable or "python3", PEER, "serve", "app", "--result-file",
                               result, "--port-file", port_file, "--lifetime", "200"],
                              stdin=subprocess.DEVNULL)
    problems, client, owner = [], None, None
    try:
        until(lambda: os.path.exists(port_file) and open(port_file).read().strip(), "the port")
        port = open(port_file).read().strip()
        client = subprocess.Popen([wine_exec, harness, port, str(base.X0), str(base.Y0)],
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

        def events():
            return open(log).read().splitlines() if os.path.exists(log) else []

        while client.stdout.readline().strip() != "ready":
            pass
        st = until(lambda: (lambda s: s if s[0] == 1 and s[3] == 5 else None)(
            [int(v) for v in ask("state")[1:]]), "state 5 with a screen", 60)
        cw, ch = st[1], st[2]
        vx, vy, w, h = [int(v) for v in ask("view")[1:]]

        def at(col, row):
            return [str(vx + col * cw + cw // 2), str(vy + row * ch + ch // 2)]

        def xdo(*args):
            subprocess.run(["xdotool"] + list(args), check=True)

        def screen():
            return base.capture(tmp, "screen", w, h)

        def cell(img, col, row, n=1):
            return base.colours_in(img, w, col * cw, row * ch, cw * n, ch)

        def corner(img, col, row):
            """The top-left pixel of a cell (no glyph reaches it)."""
            return base.colours_in(img, w, col * cw + 1, row * ch + 1, 1, 1)

        def shows_area(img, inside, rows, cols):
            return all(corner(img, c, r) == ({BLACK} if inside(c, r) else {WHITE})
                       for r in rows for c in cols)

        ask("focus")
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
        xdo("click", "3")
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
        xdo("mousemove", *at(30, 15))
        xdo("click", "3")
        xdo("key", "--delay", "100", "Down", "Down", "Return")
        until(lambda: [e for e in events() if e.startswith("paste ")], "the pasted text", 40)
        paste = [e for e in events() if e.startswith("paste ")][0].split()
        # pieces, longest, bracketed by 7 and 2, piece rules kept
        if paste[3:] != ["1", "1"] or paste[2] != "80":
            problems.append("paste %s" % paste)
        with open(log + ".paste", encoding="utf-8", errors="surrogatepass") as f:
            if f.read() != PASTE:
                problems.append("pasted text differs")
        ask("quit")
        client.wait(30)
    except Exception as e:  # a broken harness fails the test, never hangs it
        problems.append("%s: %s" % (type(e).__name__, e))
    finally:
        for p in (client, owner):
            if p and p.poll() is None:
                p.kill()
        server.kill()
        server.wait()
    for p in problems:
        print(p)
    print("ok" if not problems else "FAILED")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
