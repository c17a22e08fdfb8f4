#!/usr/bin/env python3
"""Oracle of the 6-bit text: Python's base64 with the altchars "._" and no
padding, over byte runs of every length up to 10, all 256 byte values, and
a section 109 packed by hand from the wire table (with sections 107, 116
and the end code). Writes name|hex bytes|text rows; the same bytes every
run. Usage: code6_oracle.py OUTPUT"""
import base64
import struct
import sys


def text(data):
    return base64.b64encode(data, altchars=b"._").rstrip(b"=").decode("ascii")


def wstr(s):
    """A wire string: BE16 length counting the NUL; None is a BE16 0."""
    if s is None:
        return struct.pack(">H", 0)
    b = s.encode("ascii") + b"\0"
    return struct.pack(">H", len(b)) + b


def section109():
    d = struct.pack(">Hi8si8si", 109, 61, b"ol", 61, b"tlitcp", 1)
    d += struct.pack(">iii", 311, 0, 0) + struct.pack("12s", b"sqlexec")
    d += wstr("sqli") + struct.pack(">HI", 6, 3) + wstr("srv")
    d += struct.pack(">Hiii", 107, 0, 1234, 0) + wstr("host") + wstr(None) + wstr("/home/u")
    d += struct.pack(">HHii", 116, 8, 1000, 100)
    d += struct.pack(">H", 127)
    return d


def main():
    rows = []
    for n in range(11):
        data = bytes((37 * i + 200) & 0xFF for i in range(n))
        rows.append(("run%02d" % n, data))
    rows.append(("all256", bytes(range(256))))
    rows.append(("high", b"\xff\xfe\xfd\x80\x7f"))
    rows.append(("section109", section109()))
    with open(sys.argv[1], "w", encoding="ascii", newline="\n") as out:
        out.write("# name|bytes in hex|6-bit text (written by code6_oracle.py)\n")
        for name, data in rows:
            out.write("%s|%s|%s\n" % (name, data.hex(), text(data)))


if __name__ == "__main__":
    main()
