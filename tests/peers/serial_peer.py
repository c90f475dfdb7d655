#!/usr/bin/python3
"""The far end of a serial line (one side of a pseudo-terminal pair): drops
what is buffered, says "ready" before the client writes, echoes every byte
back, and sends XOFF or XON when a line "xoff" or "xon" arrives on standard
input; "send N" sends paced_bytes(N) at the pace of a 115200-baud line (10
bits a byte: 11,520 bytes a second). client_termios(path) reports the line
settings of the client's end.

usage: serial_peer.py TTY [--lifetime S]"""
import os
import select
import sys
import termios
import threading
import time

import serial

BAUD = {getattr(termios, "B%d" % b): b for b in (9600, 19200, 38400, 57600, 115200, 230400)}


def client_termios(path):
    """Speed, two stop bits, hardware and software flow control of the tty."""
    fd = os.open(path, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        iflag, _, cflag, _, ispeed, _, _ = termios.tcgetattr(fd)
    finally:
        os.close(fd)
    return {"speed": BAUD.get(ispeed, ispeed), "cstopb": bool(cflag & termios.CSTOPB),
            "crtscts": bool(cflag & termios.CRTSCTS), "ixon": bool(iflag & termios.IXON),
            "ixoff": bool(iflag & termios.IXOFF)}


BYTES_PER_SECOND = 11520


def paced_bytes(n):
    return bytes((i * 7 + 3) & 0xFF for i in range(n))


def send_paced(fd, n, chunk=32):
    """Writes n bytes no faster than the line would carry them, each chunk
    at its own due time so that late wake-ups do not slow the whole."""
    data, start = paced_bytes(n), time.time()
    for at in range(0, n, chunk):
        delay = start + at / BYTES_PER_SECOND - time.time()
        if delay > 0:
            time.sleep(delay)
        part = data[at:at + chunk]
        while part:
            try:
                part = part[os.write(fd, part):]
            except BlockingIOError:
                time.sleep(0.001)


def main(argv):
    path = argv[1]
    lifetime = float(argv[argv.index("--lifetime") + 1]) if "--lifetime" in argv else 120
    line = serial.Serial(path, 115200, timeout=0.05)
    line.reset_input_buffer()
    line.reset_output_buffer()

    def cues():
        for cue in sys.stdin:
            words = cue.split()
            if words[:1] == ["send"]:
                send_paced(line.fd, int(words[1]))
            else:
                line.write(b"\x13" if cue.strip() == "xoff" else b"\x11")

    threading.Thread(target=cues, daemon=True).start()
    print("ready", flush=True)
    end_at = time.time() + lifetime
    # Input is taken whenever it comes and kept until the line takes it back:
    # an echo that blocked on writing would stop reading, and the relay of
    # the pair, blocked on handing us more, would stop the client's line.
    os.set_blocking(line.fd, False)
    pending = b""
    while time.time() < end_at:
        readable, writable, _ = select.select([line.fd], [line.fd] if pending else [], [], 0.1)
        try:
            if readable:
                pending += os.read(line.fd, 65536)
            if writable and pending:
                pending = pending[os.write(line.fd, pending):]
        except BlockingIOError:
            continue
        except OSError:
            return  # the other end of the pair is gone

if __name__ == "__main__":
    main(sys.argv)
