#!/usr/bin/python3
"""Reads the X screen from outside, as a user sees it (python3-xlib).

  screen_check.py frames WAIT [NAME...] [--gone NAME...]
      waits up to WAIT seconds until every top-level window titled NAME is
      viewable and none titled by a --gone NAME is, and still so 2 s later.
  screen_check.py demo WAIT HOLD
      waits up to WAIT seconds until the demo is on the screen, then
      requires it for HOLD seconds: the frames "awtwindow" and "character"
      viewable, the X application's red fill with its blue fill beside it,
      and the character application's banner (a blue run of 320 pixels).
  screen_check.py red WAIT
      waits up to WAIT seconds until the screen shows some pure red (the
      character application's echo, once no X application shows).
Prints what it saw last when it fails (exit status 1)."""
import sys
import time

from Xlib import X, display

RED, BLUE = b"\x00\x00\xff", b"\xff\x00\x00"  # as B G R of the 32-bit image


def frames(d):
    """Title -> viewable, for the top-level windows that have a title."""
    seen = {}
    for w in d.screen().root.query_tree().children:
        try:
            name = w.get_wm_name()
            state = w.get_attributes().map_state
        except Exception:  # gone meanwhile
            continue
        if name:
            name = name.decode("latin-1") if isinstance(name, bytes) else name
            seen[name] = seen.get(name, False) or state == X.IsViewable
    return seen


def pixels(d):
    """The screen as rows of B G R bytes."""
    root = d.screen().root
    g = root.get_geometry()
    img = root.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF)
    data = img.data if isinstance(img.data, bytes) else bytes(img.data, "latin-1")
    bgr = bytearray(len(data) // 4 * 3)
    for i in range(3):
        bgr[i::3] = data[i::4]
    return [bytes(bgr[y * g.width * 3:(y + 1) * g.width * 3]) for y in range(g.height)]


def block(rows, y, x, colour, w, h):
    """The rectangle's corners and middle have the colour."""
    return y + h <= len(rows) and all(rows[y + j][(x + i) * 3:(x + i) * 3 + 3] == colour
                                      for j in (0, h // 2, h - 1) for i in (0, w // 2, w - 1))


def demo_visible(d):
    rows = pixels(d)
    picture = banner = False
    for y, row in enumerate(rows):
        at = row.find(BLUE * 320)
        while at >= 0 and not banner:  # on a pixel boundary
            banner = at % 3 == 0
            at = row.find(BLUE * 320, at + 1)
        at = row.find(RED * 40)
        while at >= 0 and not picture:
            if at % 3 == 0 and y + 30 <= len(rows):
                x = at // 3
                picture = block(rows, y, x, RED, 40, 30) and block(rows, y, x + 45, BLUE, 30, 40)
            at = row.find(RED * 40, at + 1)
    titled = frames(d)
    return titled.get("awtwindow") and titled.get("character") and picture and banner, \
        "frames %s, picture %s, banner %s" % (titled, picture, banner)


def frames_ok(d, shown, gone):
    seen = frames(d)
    ok = all(seen.get(n) for n in shown) and not any(seen.get(n) for n in gone)
    return ok, "frames %s" % seen


def wait(check, seconds):
    end, ok, what = time.time() + seconds, False, ""
    while time.time() < end:
        ok, what = check()
        if ok:
            break
        time.sleep(0.3)
    return ok, what


def main(argv):
    d = display.Display()
    if argv[1] == "frames":
        names = argv[3:]
        cut = names.index("--gone") if "--gone" in names else len(names)
        check = lambda: frames_ok(d, names[:cut], names[cut + 1:])
        ok, what = wait(check, float(argv[2]))
        if ok:
            time.sleep(2)
            ok, what = check()
    elif argv[1] == "red":
        ok, what = wait(lambda: (lambda n: (n >= 20, "%d red pixels" % n))(
            sum(row[i:i + 3] == RED for row in pixels(d) for i in range(0, len(row), 3))),
            float(argv[2]))
    else:
        ok, what = wait(lambda: demo_visible(d), float(argv[2]))
        end = time.time() + float(argv[3])
        while ok and time.time() < end:
            time.sleep(1)
            ok, what = demo_visible(d)
    print(what)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
