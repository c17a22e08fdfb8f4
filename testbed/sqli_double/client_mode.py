#!/usr/bin/env python3
"""The SQLI double's client mode: a client that checks a listener's replies.

Where sqli_double.py plays the database server for our client, this program
plays a client against a listener (the listening side of our association
services): it connects to host:port over TCP, sends one connect request in
one of three forms (the text request behind "sq" and the 6-bit session
header, an old "sqle" client without a header, or the binary request behind
a 6-byte header of type 1), reads the listener's reply and checks it byte by
byte against the wire layouts: the header's type, flag and id, the
old-protocol prefixes below level 60, accepts and rejects; then it may
exchange data messages and closes. It prints one JSON object on stdout
(what it sent and received, the decoded fields, every check with its
outcome) and exits 0 when every check passed, 1 when one failed, 2 for a
wrong command line. CLIENT_MODE.md gives the options.

Standard library only; the encoders and decoders are those of
sqli_double.py, imported. Every wait is bounded (--timeout).
"""

import argparse
import json
import os
import socket
import struct
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sqli_double as d  # noqa: E402

FORMS = ("text", "old", "binary")

# Option letters of the text request's option word, by connect kind (the
# kinds a client writes; 8 and 9 are only parsed, 10 has its own letter).
KIND_LETTERS = {1: "c", 2: "d", 3: "s", 4: "n", 5: "r", 6: "p", 7: "l", 10: "x", 11: "d"}

FLAG_EXCLUSIVE = 0x4
FLAG_GROUP_R = 0x10
FLAG_N = 0x40
FLAG_L = 0x80
FLAG_B = 0x800
FLAG_A = 0x1000000

OLD_PREFIX_FORM1 = d.be16(15) + d.be16(15)
OLD_PREFIX_FORM2 = d.be16(15)
BIND_FINAL = 111  # the final response after a bind response (code 110)


# ---------------------------------------------------------------------------
# The request: what the client sends.


class Request:
    """Everything a connect request carries; the defaults are a plain
    level-61 client of program "sqlexec" opening database "db"."""

    def __init__(self, **kw):
        self.form = "text"
        self.level = 61
        self.mux = False
        self.program = "sqlexec"
        self.version = "9.4"
        self.ident = "dvzdouble"
        self.family = "sqli"
        self.words = (311, 0, 0)
        self.user_kind = 1
        self.user = "user"
        self.password = None
        self.product = ""
        self.plevel = None  # None: the level
        self.protocol = ""
        self.pversion = 1
        self.kind = 2  # None: no connect kind (binary form without 104)
        self.flags = 0
        self.server = ""
        self.database = "db"
        self.logarg = ""
        self.logfile = ""
        self.group = ""
        self.grouparg = ""
        self.env = []  # (name, value)
        self.procinfo = True
        self.pid = os.getpid()
        self.pword3 = 0
        self.host = "remote.example"
        self.tty = ""
        self.cwd = "/"
        self.uid = os.getuid()
        self.gid = os.getgid()
        self.section109 = True  # the 6-bit text behind ":" of a text request
        self.header_length = None  # override of the header's length field
        self.header_type = 1
        for k, v in kw.items():
            if not hasattr(self, k):
                raise TypeError("no request field %r" % k)
            setattr(self, k, v)

    def pair_level(self):
        return self.level if self.plevel is None else self.plevel


def b(value):
    """Bytes of a text value (latin-1), None stays None."""
    if value is None or isinstance(value, bytes):
        return value
    return str(value).encode("latin-1")


def process_sections(req):
    """Sections 107 and 116 of the process information (empty without it)."""
    if not req.procinfo:
        return b""
    out = d.be16(d.S_PROCESS) + d.be32(0) + d.be32(req.pid) + d.be32(req.pword3)
    out += d.wstring(b(req.host)) + d.wstring(b(req.tty) or None) + d.wstring(b(req.cwd) or None)
    out += d.be16(d.S_IDS) + d.be16(8) + d.be32(req.uid) + d.be32(req.gid)
    return out


def conkind_section(req):
    """Section 104: kind, flags and the six strings of the connect kind."""
    if req.kind is None:
        return b""
    out = d.be16(d.S_CONKIND) + d.be16(req.kind) + d.be32(req.flags)
    for s in (req.server, req.database, req.logarg, req.logfile, req.grouparg, req.group):
        out += d.wstring(b(s) or None)
    return out


def env_section(req):
    """Section 106 (only for a list of at least one entry)."""
    if not req.env:
        return b""
    out = d.be16(d.S_ENV) + d.be16(len(req.env))
    for name, value in req.env:
        out += d.wstring(b(name)) + d.wstring(b(value))
    return out


def pairs(req):
    """The two connect pairs: product name and level, protocol and version."""
    return (d.fixed(b(req.product), 8) + d.be32(req.pair_level()) + d.fixed(b(req.protocol), 8)
            + d.be32(req.pversion))


def binary_sections(req):
    """Sections 101 and 108, the optional sections and 127."""
    out = d.be16(d.S_FORMAT) + d.be32(req.pair_level()) + d.wstring(b"IEEEM")
    out += d.be16(d.S_PARAMS) + d.fixed(b(req.program), 12)
    out += d.wstring(b(req.version)) + d.wstring(b(req.ident)) + d.wstring(b(req.family))
    out += b"".join(d.be32(w) for w in req.words)
    out += d.be16(req.user_kind)
    if req.user_kind != 0:
        out += d.wstring(b(req.user)) + d.wstring(b(req.password))
    else:
        out += d.be16(0) + d.be16(0)
    out += pairs(req)
    out += conkind_section(req) + env_section(req) + process_sections(req)
    return out + d.be16(d.S_END)


def binary_body(req):
    """The binary connect request: 100, then the binary sections."""
    return d.be16(d.S_BEGIN) + binary_sections(req)


def section109(req):
    """Section 109 with sections 107 and 116, ended by 127 (before its
    6-bit encoding)."""
    out = d.be16(d.S_TEXTSEC) + d.be32(req.level) + pairs(req)
    out += b"".join(d.be32(w) for w in req.words)
    out += d.fixed(b(req.program), 12) + d.wstring(b(req.family))
    out += d.be16(req.kind or 0) + d.be32(req.flags) + d.wstring(b(req.server) or None)
    return out + process_sections(req) + d.be16(d.S_END)


def option_words(req):
    """The option words of the connect kind, as a client writes them."""
    k, db, f = req.kind, b(req.database) or b"", req.flags
    if k is None:
        return b""
    if k == 1:
        out = b"-c" + db + b" " + (b(req.server) or b"-")
        tail = b" -b" if f & FLAG_B else b" -a" if f & FLAG_A else b" -l" if f & FLAG_L else b""
        out += tail + (b(req.logfile) if tail else b"")
    elif k == 2:
        out = b"-d" + db + (b" -e" if f & FLAG_EXCLUSIVE else b"")
    elif k == 3:
        out = b"-s" + db + b" -"
        tail = b" -a" if f & FLAG_A else b" -l" if f & FLAG_L else b""
        out += tail + (b(req.logfile) if tail else b"")
    elif k == 4:
        out = b"-n" + db
        out += b" -a" if f & FLAG_A else b" -l" if f & FLAG_L else b" -n" if f & FLAG_N else b""
    elif k == 5:
        out = b"-r" + db
    elif k == 6:
        out = b"-p"
    elif k == 7:
        out = b"-l" + (b(req.logarg) or b"")
    elif k == 11:
        out = b"-d" + db if db else b"-p"
    elif k in KIND_LETTERS:
        out = b"-" + KIND_LETTERS[k].encode()
    else:
        raise ValueError("connect kind %d has no option word" % k)
    if req.group:
        out += (b" -gr " if f & FLAG_GROUP_R else b" -g ") + b(req.group)
        if req.grouparg:
            out += b" " + b(req.grouparg)
    return out


def text_body(req):
    """The text request: the command line, the environment items, " :" and
    the 6-bit text of section 109, then the zero byte."""
    password = b"-p" + b(req.password) if req.password is not None else b""
    line = b" ".join([b"sqlexec", b(req.user) or b"", password, b(req.version), b(req.ident),
                      option_words(req), b"-fIEEEM"])
    for name, value in req.env:
        line += b" " + b(name) + b"=" + b(value)
    if req.section109:
        line += b" :" + d.enc6(section109(req))
    return line + b"\x00"


def header_flag(req):
    return (req.level & 0x7F) | (0x80 if req.mux else 0)


def build_request(req):
    """(prefix bytes, body bytes) of the request: the header in its form
    ("sq" and 8 characters of 6-bit text, 6 bytes, or nothing for an old
    client) and the body behind it."""
    body = binary_body(req) if req.form == "binary" else text_body(req)
    if req.form == "old":
        return b"", body
    length = len(body) + d.HEADER_SIZE if req.header_length is None else req.header_length
    hdr = d.header(length, req.header_type, header_flag(req))
    if req.form == "text":
        return b"sq" + d.enc6(hdr), body
    return hdr, body


# ---------------------------------------------------------------------------
# Reading the old-protocol replies (below level 60).


class Incomplete(Exception):
    """More bytes are needed."""


def _take(data, pos, n):
    if pos + n > len(data):
        raise Incomplete()
    return data[pos : pos + n], pos + n


def _u16(data, pos):
    raw, pos = _take(data, pos, 2)
    return struct.unpack(">H", raw)[0], pos


def _s16(data, pos):
    raw, pos = _take(data, pos, 2)
    return struct.unpack(">h", raw)[0], pos


def parse_old_reply(data, kind):
    """Fields of a complete old-protocol reply to a connect of this kind:
    an accept behind its prefix (form 1 or 2), or an unprefixed error.
    Incomplete when more bytes are needed; d.Malformed for bytes that follow
    no layout."""
    data = bytes(data)
    fields = []
    if len(data) < 2:
        raise Incomplete()
    first, pos = _u16(data, 0)
    if first == d.OLD_ERROR:
        fields.append(("reply", "reject"))
        for name in ("error", "isam"):
            v, pos = _s16(data, pos)
            fields.append((name, v))
        offset, pos = _u16(data, pos)
        length, pos = _u16(data, pos)
        fields += [("msgoffset", offset), ("msglength", length)]
        if length:
            msg, pos = _take(data, pos, length)
            fields.append(("message", msg.split(b"\x00", 1)[0]))
            if length % 2:
                _, pos = _take(data, pos, 1)
        end, pos = _u16(data, pos)
        if end != d.OLD_DONE:
            raise d.Malformed("error reply ends with %d, not 12" % end)
        return fields, pos
    if first != d.OLD_ACCEPT:
        raise d.Malformed("old reply starts with %d" % first)
    fields.append(("reply", "accept"))
    if kind in (6, 7):
        fields.append(("prefix", 2))
        if kind == 6:
            return fields, pos
        names = []
        while True:
            n, pos = _u16(data, pos)
            if n == 0:
                break
            name, pos = _take(data, pos, n)
            if n % 2:
                _, pos = _take(data, pos, 1)
            names.append(name)
        fields += [("names", len(names))] + [("name", n) for n in names]
        return fields, pos
    second, pos = _u16(data, pos)
    if second != d.OLD_ACCEPT:
        raise d.Malformed("form-1 prefix 0,15 followed by %d" % second)
    fields.append(("prefix", 1))
    code, pos = _u16(data, pos)
    if code != d.OLD_ACCEPT:
        raise d.Malformed("accept body starts with %d" % code)
    warn, pos = _u16(data, pos)
    _, pos = _take(data, pos, 12)
    end, pos = _u16(data, pos)
    if end == 55:
        _, pos = _take(data, pos, 8)
        end, pos = _u16(data, pos)
    fields += [("warn", warn), ("end", end)]
    if end not in (d.OLD_DONE, d.OLD_REJECTED):
        raise d.Malformed("accept ends with %d" % end)
    return fields, pos


# ---------------------------------------------------------------------------
# The connection: bounded reads, a journal of the wire bytes.


class Wire:
    """One TCP connection whose reads wait at most `timeout` seconds and
    whose bytes are journaled (one line per send or receive)."""

    def __init__(self, sock, timeout, journal=None):
        self.sock = sock
        self.timeout = timeout
        self.journal = journal
        self.buf = bytearray()
        self.eof = None  # None, "eof" or "reset"
        self.order = 0
        self.received = bytearray()

    def note(self, what, data=b""):
        if self.journal is None:
            return
        self.order += 1
        line = "order=%d what=%s size=%d raw=%s\n" % (self.order, what, len(data),
                                                      bytes(data).hex() or '""')
        with open(self.journal, "a") as f:
            f.write(line)

    def send(self, data):
        self.sock.sendall(data)
        self.note("sent", data)

    def fill(self, deadline):
        """Reads what arrives before the deadline; False at eof, reset or
        time-out (self.eof says which, "timeout" not being kept)."""
        if self.eof:
            return False
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        self.sock.settimeout(left)
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            return False
        except ConnectionResetError:
            self.eof = "reset"
            self.note("reset")
            return False
        if not data:
            self.eof = "eof"
            self.note("eof")
            return False
        self.note("received", data)
        self.buf += data
        self.received += data
        return True

    def read_exact(self, n, deadline):
        """n bytes, or None when the peer closed or the time ran out."""
        while len(self.buf) < n:
            if not self.fill(deadline):
                return None
        out = bytes(self.buf[:n])
        del self.buf[:n]
        return out

    def ended(self):
        return self.eof or "timeout"


# ---------------------------------------------------------------------------
# The checks.


def jsonable(value):
    if isinstance(value, (bytes, bytearray)):
        return bytes(value).decode("latin-1")
    if isinstance(value, (list, tuple)):
        return [jsonable(v) for v in value]
    if isinstance(value, dict):
        return {k: jsonable(v) for k, v in value.items()}
    return value


class Result:
    """What the run found: the report printed as JSON."""

    def __init__(self):
        self.report = {"checks": [], "sent": {}, "received": {}, "data": []}

    def check(self, name, ok, expected=None, got=None):
        self.report["checks"].append({"check": name, "ok": bool(ok), "expected": jsonable(expected),
                                      "got": jsonable(got)})
        return ok

    def expect(self, name, expected, got):
        return self.check(name, expected == got, expected, got)

    def ok(self):
        return all(c["ok"] for c in self.report["checks"])

    def failed(self):
        return [c["check"] for c in self.report["checks"] if not c["ok"]]


class Expect:
    """What the listener should answer."""

    def __init__(self, outcome="accept", server_level=None, mux=False, ident=None, error=None,
                 names=None):
        self.outcome = outcome  # accept, reject, closed
        self.server_level = server_level
        self.mux = mux
        self.ident = ident
        self.error = error
        self.names = names


def agreed_level(req, exp):
    """The level both sides end at: the smaller of the listener's and the
    client's (the header flag's low 7 bits; 0 for an old client)."""
    client = 0 if req.form == "old" else req.level & 0x7F
    return client if exp.server_level is None else min(client, exp.server_level)


def read_header_reply(wire, req, exp, res, deadline):
    """Reads and checks a reply with a session header; returns whether data
    messages carry headers afterwards."""
    rec = res.report["received"]
    hdr = wire.read_exact(d.HEADER_SIZE, deadline)
    if hdr is None:
        res.check("reply.header", False, "6 header bytes", wire.ended())
        return False
    length, typ, flag, ident = d.parse_header(hdr)
    rec["header"] = {"length": length, "type": typ, "flag": flag, "id": ident}
    level = agreed_level(req, exp)
    headers = bool(flag & 0x80)
    res.expect("reply.type", d.T_ACCEPT if exp.outcome == "accept" else d.T_REJECT, typ)
    res.expect("reply.flag", level | (0x80 if exp.mux else 0), flag)
    if exp.ident is not None:
        res.expect("reply.id", exp.ident, ident)
    if not res.check("reply.length", 7 <= length <= d.MAX_MESSAGE, "7 to 2056", length):
        return False
    body = wire.read_exact(length - d.HEADER_SIZE, deadline)
    if not res.check("reply.body", body is not None, length - d.HEADER_SIZE, wire.ended()):
        return False
    fields = check_response_body(body, res, "reply")
    rec["fields"] = fields
    if fields and fields[0] == ("code", 110):
        final = read_data_message(wire, headers, None, deadline, res, "final")
        if final is not None:
            rec["final"] = check_response_body(final, res, "final")
    if exp.error is not None:
        got = dict(rec.get("final") or fields).get("error")
        res.expect("reply.error", exp.error, got)
    check_nothing_more(wire, res, "reply")
    return headers


def check_nothing_more(wire, res, name):
    """Fails when bytes beyond the reply came with it."""
    res.check(name + ".trailing", not wire.buf, "nothing after the reply", bytes(wire.buf).hex())


def check_response_body(body, res, name):
    """Fields of a connect response body (100, 110 or 111 first), with a
    check that it follows the layout; [] when it does not."""
    body = bytes(body)
    code = struct.unpack(">H", body[:2])[0] if len(body) >= 2 else None
    res.check(name + ".code", code in (d.S_BEGIN, d.S_BIND, BIND_FINAL), "100, 110 or 111", code)
    fields = [("code", code)]
    try:
        if code == BIND_FINAL:
            cur = d.Cursor(body, 2)
            fields.append(("rejected", cur.u16()))
            d.read_binary_sections(cur, fields)
            trailing = cur.left()
        else:
            fields += d.parse_binary_request(body)[1:]
            trailing = dict(fields).get("trailing", 0)
        res.expect(name + ".sections", "complete", "complete" if not trailing else
                   "%d bytes after 127" % trailing)
    except (d.Malformed, struct.error) as m:
        res.check(name + ".sections", False, "complete", str(m))
    return fields


def read_old_reply(wire, req, exp, res, deadline):
    """Reads and checks an old-protocol reply (no header)."""
    rec = res.report["received"]
    kind = req.kind if req.kind is not None else 0
    while True:
        try:
            fields, used = parse_old_reply(wire.buf, kind)
            break
        except Incomplete:
            if not wire.fill(deadline):
                res.check("old.complete", False, "a whole old-protocol reply",
                          "%s after %d bytes" % (wire.ended(), len(wire.buf)))
                rec["old"] = bytes(wire.buf).hex()
                return
        except d.Malformed as m:
            res.check("old.layout", False, "an old-protocol reply", str(m))
            return
    raw = bytes(wire.buf[:used])
    del wire.buf[:used]
    rec["fields"] = fields
    f = dict(fields)
    check_nothing_more(wire, res, "old")
    if exp.outcome == "reject":
        res.expect("old.reject", "reject", f["reply"])
        res.check("old.unprefixed", raw[:2] == d.be16(d.OLD_ERROR), "00 0d", raw[:2].hex())
        if exp.error is not None:
            res.expect("old.error", exp.error, f.get("error"))
        return
    res.expect("old.accept", "accept", f["reply"])
    form = 2 if kind in (6, 7) else 1
    prefix = OLD_PREFIX_FORM2 if form == 2 else OLD_PREFIX_FORM1
    res.check("old.prefix", raw.startswith(prefix), prefix.hex(), raw[: len(prefix)].hex())
    if kind == 6:
        res.expect("old.length", 2, len(raw))
    if form == 1 and f["reply"] == "accept":
        res.expect("old.end", d.OLD_DONE, f.get("end"))
    if exp.names is not None:
        res.expect("old.names", [b(n) for n in exp.names], [v for k, v in fields if k == "name"])


def read_data_message(wire, headers, expect_len, deadline, res, name):
    """One reply to a data message: behind a type-6 header of flag 0 when
    headers are in use, else expect_len raw bytes (what arrives when None).
    None when nothing came."""
    if headers:
        hdr = wire.read_exact(d.HEADER_SIZE, deadline)
        if not res.check(name + ".header", hdr is not None, "6 header bytes", wire.ended()):
            return None
        length, typ, flag, ident = d.parse_header(hdr)
        res.expect(name + ".type", d.T_DATA, typ)
        res.expect(name + ".flag", 0, flag)
        if not res.check(name + ".length", length >= d.HEADER_SIZE, ">= 6", length):
            return None
        return wire.read_exact(length - d.HEADER_SIZE, deadline)
    if expect_len is not None:
        return wire.read_exact(expect_len, deadline)
    while not wire.buf and wire.fill(deadline):
        pass
    out = bytes(wire.buf)
    wire.buf.clear()
    return out or None


def run(req, exp, host, port, timeout=10.0, data=(), echo=False, journal=None, source=None):
    """Connects (from the local address source when given), sends the
    request, reads and checks the reply, exchanges the data messages and
    closes. Returns the Result (never raises for what the listener does)."""
    res = Result()
    prefix, body = build_request(req)
    sent = res.report["sent"]
    sent.update({"form": req.form, "prefix": prefix, "hex": (prefix + body).hex()})
    if req.form != "old":
        src = d.dec6(prefix[2:]) if req.form == "text" else prefix
        length, typ, flag, ident = d.parse_header(src)
        sent["header"] = {"length": length, "type": typ, "flag": flag, "id": ident}
    try:
        sent["fields"] = d.parse_request_body(body)
    except d.Malformed as m:
        sent["fields"] = [("reason", str(m))]
    try:
        sock = socket.create_connection((host, port), timeout=timeout,
                                        source_address=(source, 0) if source else None)
    except OSError as e:
        res.check("connect", False, "connected", str(e))
        return res
    wire = Wire(sock, timeout, journal)
    try:
        deadline = time.monotonic() + timeout
        try:
            wire.send(prefix + body)
        except OSError as e:
            res.check("send", False, "sent", str(e))
            return res
        if exp.outcome == "closed":
            while wire.fill(deadline):
                pass
            res.expect("closed", "closed without a reply", "closed without a reply"
                       if wire.eof and not wire.received else "%s after %d bytes"
                       % (wire.ended(), len(wire.received)))
            return res
        if agreed_level(req, exp) >= 60:
            headers = read_header_reply(wire, req, exp, res, deadline)
        else:
            headers = False
            read_old_reply(wire, req, exp, res, deadline)
        if exp.outcome == "accept" and res.ok():
            for n, payload in enumerate(data, start=1):
                name = "data%d" % n
                out = d.header(len(payload) + 6, d.T_DATA, 0) + payload if headers else payload
                wire.send(out)
                got = read_data_message(wire, headers, len(payload), time.monotonic() + timeout,
                                        res, name)
                res.report["data"].append({"sent": payload.hex(),
                                           "received": got.hex() if got is not None else None})
                if not res.check(name + ".reply", got is not None, "a reply", wire.ended()):
                    break
                if echo:
                    res.expect(name + ".echo", payload.hex(), got.hex())
    except OSError as e:
        res.check("io", False, "no socket error", str(e))
    finally:
        res.report["received"]["hex"] = bytes(wire.received).hex()
        sock.close()
    return res


# ---------------------------------------------------------------------------
# Command line.


def env_item(text):
    name, eq, value = text.partition("=")
    if not eq or not name:
        raise argparse.ArgumentTypeError("NAME=value expected")
    return (name, value)


def parse_args(argv):
    p = argparse.ArgumentParser(prog="client_mode",
                                description="SQLI double, client mode (see CLIENT_MODE.md)")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--form", choices=FORMS, default="text")
    p.add_argument("--level", type=int, help="client level (61; 0 is sent by an old client)")
    p.add_argument("--mux", action="store_true", help="ask for multiplexing (flag 128)")
    p.add_argument("--program", default="sqlexec")
    p.add_argument("--version", dest="client_version", default="9.4")
    p.add_argument("--ident", default="dvzdouble")
    p.add_argument("--user-kind", type=int, default=1)
    p.add_argument("--user", default=os.environ.get("USER", "user"))
    p.add_argument("--password")
    p.add_argument("--product", default="")
    p.add_argument("--plevel", type=int)
    p.add_argument("--protocol", default="")
    p.add_argument("--pversion", type=int, default=1)
    p.add_argument("--kind", type=int, default=2, help="connect kind (-1: none)")
    p.add_argument("--flags", type=lambda t: int(t, 0), default=0)
    p.add_argument("--server", default="")
    p.add_argument("--database", default="db")
    p.add_argument("--logarg", default="")
    p.add_argument("--logfile", default="")
    p.add_argument("--group", default="")
    p.add_argument("--group-arg", default="")
    p.add_argument("--env", type=env_item, action="append", default=[])
    p.add_argument("--remote-host", default="remote.example",
                   help="host name in the process information")
    p.add_argument("--source-address", help="local address to connect from (e.g. 127.0.0.2: "
                   "the listener then sees a peer that is not this host)")
    p.add_argument("--pid", type=int, default=os.getpid())
    p.add_argument("--tty", default="")
    p.add_argument("--cwd", default="/")
    p.add_argument("--no-procinfo", action="store_true")
    p.add_argument("--no-section109", action="store_true")
    p.add_argument("--header-length", type=lambda t: int(t, 0))
    p.add_argument("--header-type", type=int, default=1)
    p.add_argument("--expect", choices=("accept", "reject", "closed"), default="accept")
    p.add_argument("--server-level", type=int)
    p.add_argument("--expect-mux", action="store_true")
    p.add_argument("--expect-id", type=lambda t: int(t, 0))
    p.add_argument("--expect-error", type=int)
    p.add_argument("--expect-names", type=lambda t: [n for n in t.split(",") if n])
    p.add_argument("--data", action="append", default=[], type=bytes.fromhex,
                   help="hex bytes of a data message (repeatable)")
    p.add_argument("--expect-echo", action="store_true")
    p.add_argument("--journal")
    p.add_argument("--timeout", type=float, default=10.0)
    return p.parse_args(argv)


def request_of(a):
    level = a.level if a.level is not None else (59 if a.form == "old" else 61)
    return Request(
        form=a.form, level=level, mux=a.mux, program=a.program, version=a.client_version,
        ident=a.ident, user_kind=a.user_kind, user=a.user, password=a.password,
        product=a.product, plevel=a.plevel, protocol=a.protocol, pversion=a.pversion,
        kind=None if a.kind < 0 else a.kind, flags=a.flags, server=a.server,
        database=a.database, logarg=a.logarg, logfile=a.logfile, group=a.group,
        grouparg=a.group_arg, env=a.env, procinfo=not a.no_procinfo, pid=a.pid,
        host=a.remote_host, tty=a.tty, cwd=a.cwd, section109=not a.no_section109,
        header_length=a.header_length, header_type=a.header_type)


def main(argv=None):
    a = parse_args(sys.argv[1:] if argv is None else argv)
    req = request_of(a)
    exp = Expect(a.expect, a.server_level, a.expect_mux, a.expect_id, a.expect_error,
                 a.expect_names)
    res = run(req, exp, a.host, a.port, a.timeout, a.data, a.expect_echo, a.journal,
              a.source_address)
    res.report["ok"] = res.ok()
    res.report["failed"] = res.failed()
    json.dump(jsonable(res.report), sys.stdout, indent=1, sort_keys=True)
    sys.stdout.write("\n")
    return 0 if res.ok() else 1


if __name__ == "__main__":
    sys.exit(main())
