#!/usr/bin/env python3
"""The SQLI server double: a stand-in for the database server's listener.

An independent peer of the client's association services, written from the
wire layouts alone (session header, connect request in its binary and text
forms, connect response, old-protocol replies). It listens on 127.0.0.1,
port 0, writes the chosen port to a ready file, reads connect requests in
every form a client sends, journals each message it receives (one line per
message) and answers as its command line says: accept, reject, old-protocol
replies, multiplexed accept or reject, data echo or scripted data, and a
set of faults. It also runs as a pipe back-end on its standard input and
output (--pipe, through sqli_pipe_backend), over STREAMS records on a
SEQPACKET socket (--streams) and over shared memory (--shm, shm_mode.py).
Tests start it through testbed::SqliDouble
(testbed/support/sqli_double_process.h); README.md beside this file gives
its options and journal format.

Standard library only. Every wait has a limit: reads give up after
--read-timeout seconds, the process ends by itself after --lifetime.
"""

import argparse
import base64
import os
import select
import signal
import socket
import struct
import sys
import threading
import time

# ---------------------------------------------------------------------------
# Encodings

ALTCHARS = b"._"  # the 6-bit alphabet is base64's with "." and "_"
ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._"
HEADER_SIZE = 6
MAX_MESSAGE = 2056  # the largest connect message a listener takes

# Session header types.
T_CONNECT, T_ACCEPT, T_REJECT = 1, 2, 3
T_DATA = 6
T_MUX_CONNECT, T_MUX_ACCEPT, T_MUX_REJECT = 10, 11, 12

# Section codes of connect messages.
S_BEGIN, S_FORMAT, S_STATUS, S_NAMES, S_CONKIND = 100, 101, 102, 103, 104
S_OPAQUE, S_ENV, S_PROCESS, S_PARAMS, S_TEXTSEC = 105, 106, 107, 108, 109
S_BIND, S_IDS, S_END = 110, 116, 127

# Old-protocol reply codes.
OLD_ACCEPT, OLD_ERROR, OLD_DONE, OLD_REJECTED = 15, 13, 12, 56

# Option letters of the text request and the connect kinds they stand for.
OPTION_KINDS = {"c": 1, "d": 2, "s": 3, "n": 4, "r": 5, "p": 6, "l": 7, "t": 8, "V": 9, "X": 11}


class Malformed(Exception):
    """A message that does not follow the wire layout."""


class Closed(Exception):
    """The peer closed (eof), reset the connection, or a read timed out."""

    def __init__(self, what):
        super().__init__(what)
        self.what = what


def enc6(data):
    """6-bit text of bytes: 4 characters per 3 bytes, no padding."""
    return base64.b64encode(bytes(data), altchars=ALTCHARS).rstrip(b"=")


def dec6(text):
    """Bytes of a 6-bit text; Malformed for a character outside the
    alphabet or a length that no byte count gives (4n+1)."""
    text = bytes(text)
    if text.strip(ALPHABET):
        raise Malformed("6-bit text with a character outside its alphabet")
    if len(text) % 4 == 1:
        raise Malformed("6-bit text of impossible length %d" % len(text))
    try:
        return base64.b64decode(text + b"=" * (-len(text) % 4), altchars=ALTCHARS, validate=True)
    except ValueError as e:
        raise Malformed("6-bit text: %s" % e) from None


def escape(value):
    """Journal form of a value: "" when empty; bytes outside 0x21..0x7e,
    backslash and double quote as \\xNN (lower-case hex)."""
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        value = value.encode("latin-1", errors="replace")
    if not value:
        return '""'
    out = []
    for b in value:
        if b < 0x21 or b > 0x7E or b in (0x5C, 0x22):
            out.append("\\x%02x" % b)
        else:
            out.append(chr(b))
    return "".join(out)


def be16(v):
    return struct.pack(">H", v & 0xFFFF)


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def wstring(value):
    """A string: BE16 length counting the terminator, bytes, zero byte;
    None is BE16 0 alone."""
    if value is None:
        return be16(0)
    if isinstance(value, str):
        value = value.encode("latin-1")
    return be16(len(value) + 1) + value + b"\x00"


def fixed(value, size):
    """A fixed character field, zero-filled (cut so that a zero stays)."""
    if isinstance(value, str):
        value = value.encode("latin-1")
    value = value[: size - 1]
    return value + b"\x00" * (size - len(value))


def header(length, typ, flag, ident=0):
    """The 6-byte session header: length, type, flag, id."""
    return be16(length) + bytes([typ & 0xFF, flag & 0xFF]) + be16(ident)


def parse_header(raw):
    """(length, type, flag, id) of 6 header bytes; length unsigned."""
    length, typ, flag, ident = struct.unpack(">HBBh", bytes(raw[:6]))
    return length, typ, flag, ident


# ---------------------------------------------------------------------------
# Reading connect messages into journal fields (a list of (key, value)).


class Cursor:
    """Bounded reader over a message's bytes."""

    def __init__(self, data, pos=0):
        self.data = bytes(data)
        self.pos = pos

    def left(self):
        return len(self.data) - self.pos

    def take(self, n):
        if n < 0 or n > self.left():
            raise Malformed("truncated at byte %d (%d wanted, %d left)"
                            % (self.pos, n, self.left()))
        out = self.data[self.pos : self.pos + n]
        self.pos += n
        return out

    def u16(self):
        return struct.unpack(">H", self.take(2))[0]

    def s16(self):
        return struct.unpack(">h", self.take(2))[0]

    def s32(self):
        return struct.unpack(">i", self.take(4))[0]

    def string(self):
        """A string's bytes without the terminator; None when absent."""
        n = self.u16()
        if n == 0:
            return None
        raw = self.take(n)
        return raw[:-1].split(b"\x00", 1)[0]

    def fixed(self, size):
        return self.take(size).split(b"\x00", 1)[0]


def _put(fields, key, value):
    fields.append((key, b"" if value is None else value))


def read_optional_sections(cur, fields, prefix=""):
    """Optional sections up to and including the end code 127."""
    while True:
        code = cur.u16()
        if code == S_END:
            return
        if code == S_CONKIND:
            _put(fields, prefix + "kind", cur.u16())
            _put(fields, prefix + "flags", cur.s32())
            for name in ("server", "database", "logarg", "logfile", "grouparg", "group"):
                _put(fields, prefix + name, cur.string())
        elif code == S_STATUS:
            cur.take(6)
            _put(fields, prefix + "error", cur.s16())
            _put(fields, prefix + "isam", cur.s16())
            _put(fields, prefix + "warn", cur.u16())
            count = cur.u16()
            _put(fields, prefix + "messages", count)
            for _ in range(count):
                _put(fields, prefix + "msgoffset", cur.u16())
                _put(fields, prefix + "message", cur.take(cur.u16()))
        elif code == S_NAMES:
            count = cur.u16()
            _put(fields, prefix + "names", count)
            for _ in range(count):
                _put(fields, prefix + "name", cur.string())
        elif code == S_OPAQUE:
            _put(fields, prefix + "opaque", cur.take(cur.u16()).hex())
        elif code == S_ENV:
            count = cur.u16()
            _put(fields, prefix + "envs", count)
            for _ in range(count):
                name = cur.string() or b""
                value = cur.string() or b""
                _put(fields, prefix + "env", name + b"=" + value)
        elif code == S_PROCESS:
            _put(fields, prefix + "pword", cur.s32())
            _put(fields, prefix + "pid", cur.s32())
            _put(fields, prefix + "pword3", cur.s32())
            _put(fields, prefix + "host", cur.string())
            _put(fields, prefix + "tty", cur.string())
            _put(fields, prefix + "cwd", cur.string())
        elif code == S_IDS:
            length = cur.u16()
            if length < 8:
                raise Malformed("section 116 of length %d" % length)
            start = cur.pos
            _put(fields, prefix + "uid", cur.s32())
            _put(fields, prefix + "gid", cur.s32())
            cur.take(length - (cur.pos - start))
        else:
            _put(fields, prefix + "section", code)
            cur.take(cur.u16())


def read_binary_sections(cur, fields, prefix=""):
    """Sections 101 and 108, the optional sections and 127."""
    code = cur.u16()
    if code != S_FORMAT:
        raise Malformed("section %d where 101 belongs" % code)
    _put(fields, prefix + "level", cur.s32())
    _put(fields, prefix + "fmt", cur.string())
    code = cur.u16()
    if code != S_PARAMS:
        raise Malformed("section %d where 108 belongs" % code)
    _put(fields, prefix + "program", cur.fixed(12))
    for name in ("version", "ident", "pf"):
        _put(fields, prefix + name, cur.string())
    for name in ("w1", "w2", "w3"):
        _put(fields, prefix + name, cur.s32())
    _put(fields, prefix + "userkind", cur.u16())
    _put(fields, prefix + "user", cur.string())
    _put(fields, prefix + "password", cur.string())
    _put(fields, prefix + "product", cur.fixed(8))
    _put(fields, prefix + "plevel", cur.s32())
    _put(fields, prefix + "protocol", cur.fixed(8))
    _put(fields, prefix + "pversion", cur.s32())
    read_optional_sections(cur, fields, prefix)


def read_section109(cur, fields, prefix):
    """Section 109 after its code, then its optional sections and 127."""
    _put(fields, prefix + "level", cur.s32())
    _put(fields, prefix + "product", cur.fixed(8))
    _put(fields, prefix + "plevel", cur.s32())
    _put(fields, prefix + "protocol", cur.fixed(8))
    _put(fields, prefix + "pversion", cur.s32())
    for name in ("w1", "w2", "w3"):
        _put(fields, prefix + name, cur.s32())
    _put(fields, prefix + "program", cur.fixed(12))
    _put(fields, prefix + "pf", cur.string())
    _put(fields, prefix + "kind", cur.u16())
    _put(fields, prefix + "flags", cur.s32())
    _put(fields, prefix + "server", cur.string())
    read_optional_sections(cur, fields, prefix)


def parse_encoded(text, fields):
    """The 6-bit text behind ":": binary sections (101) or section 109.
    Fields are prefixed "x."."""
    cur = Cursor(dec6(text))
    code = cur.u16()
    _put(fields, "xcode", code)
    if code == S_TEXTSEC:
        read_section109(cur, fields, "x.")
    elif code == S_FORMAT:
        cur.pos -= 2
        read_binary_sections(cur, fields, "x.")
    else:
        raise Malformed("encoded data starts with code %d" % code)


def parse_binary_request(body):
    """Fields of a binary connect request or response (100 or 110 first)."""
    fields = []
    cur = Cursor(body)
    code = cur.u16()
    if code not in (S_BEGIN, S_BIND):
        raise Malformed("binary message starts with code %d" % code)
    _put(fields, "form", b"binary")
    read_binary_sections(cur, fields)
    if cur.left():
        _put(fields, "trailing", cur.left())
    return fields


def parse_text_request(body):
    """Fields of a text connect request: the words of the command line, the
    option word's kind, database, flags and group, the format, the
    environment and the decoded 6-bit text."""
    fields = [("form", b"text")]
    body = bytes(body)
    nul = body.find(b"\x00")
    if nul < 0:
        raise Malformed("text request without its zero byte")
    text = body[:nul]
    if nul + 1 != len(body):
        _put(fields, "trailing", len(body) - nul - 1)
    words = text.replace(b"\n", b" ").split()
    _put(fields, "words", len(words))
    if len(words) < 2:
        raise Malformed("text request of %d words" % len(words))
    _put(fields, "command", words[0])
    _put(fields, "user", words[1])
    at = 2
    if len(words) > 2 and words[2].startswith(b"-p"):
        _put(fields, "password", words[2][2:])
        at = 3
    rest = words[at:]
    if len(rest) > 0:
        _put(fields, "version", rest[0])
    if len(rest) > 1:
        _put(fields, "ident", rest[1])
    later = rest[2:]  # the fifth word on
    encoded = None
    for word in reversed(later):
        if word.startswith(b":"):
            encoded = word
            break
    if later and later[0].startswith(b"-") and not later[0].startswith(b"-f"):
        _read_option_words(later, fields)
    for word in later:
        if word.startswith(b"-f"):
            _put(fields, "fmt", word[2:])
            break
    _, group_idx = _group_words(later)
    for i, word in enumerate(later):
        if not word.startswith((b"-", b":")) and b"=" in word and i not in group_idx:
            _put(fields, "env", word)
    if encoded is not None:
        parse_encoded(encoded[1:], fields)
    return fields


def _group_words(later):
    """Indexes in `later` of the group name and argument words."""
    for i, word in enumerate(later[1:], start=1):
        if word.startswith(b"-g"):
            out = []
            for j in (i + 1, i + 2):
                if j < len(later) and not later[j].startswith((b"-", b":")):
                    out.append(j)
                else:
                    break
            return i, out
    return None, []


def _read_option_words(later, fields):
    """Kind, database, flags and group of the option words (the fifth word
    and those after it)."""
    word = later[0]
    letter = chr(word[1]) if len(word) > 1 else ""
    kind = OPTION_KINDS.get(letter)
    _put(fields, "option", word)
    if kind is None:
        _put(fields, "kind", b"unknown")
        return
    _put(fields, "kind", kind)
    arg = word[2:]
    flags = 0
    sixth = later[1] if len(later) > 1 else b""
    seventh = later[2] if len(later) > 2 else b""
    if kind == 7:
        _put(fields, "logarg", arg)
    elif kind not in (6, 8, 9):
        _put(fields, "database", arg)
    if kind == 2 and sixth.startswith(b"-e"):
        flags |= 4
    if kind == 4:
        flags |= {b"-a": 0x1000000, b"-l": 128, b"-n": 64}.get(sixth, 0)
    if kind in (1, 3):
        if sixth.startswith(b"-"):
            flags |= 1
        elif b"/" in sixth:
            flags |= 2
        elif sixth:
            flags |= 1
        if seventh == b"-b" and kind == 1:
            flags = (flags | 0x801) & ~2
        elif seventh[:2] in (b"-a", b"-l"):
            if len(seventh) > 2:
                flags = (flags & ~1) | 2
                _put(fields, "logfile", seventh[2:])
            flags |= 0x1000000 if seventh[:2] == b"-a" else 128
        if not flags & 3:
            flags |= 3
        if kind == 3:
            flags = (flags & ~1) | 2
    g, idx = _group_words(later)
    if g is not None:
        if later[g].startswith(b"-gr"):
            flags |= 16
        if idx:
            _put(fields, "group", later[idx[0]])
        if len(idx) > 1:
            _put(fields, "grouparg", later[idx[1]])
    _put(fields, "flags", flags)


def parse_request_body(body):
    """Fields of a connect request body of either form."""
    if bytes(body[:2]) in (be16(S_BEGIN), be16(S_BIND)):
        return parse_binary_request(body)
    return parse_text_request(body)


def field(fields, key, default=None):
    for k, v in fields:
        if k == key:
            return v
    return default


# ---------------------------------------------------------------------------
# Writing replies.


class Reply:
    """What the double answers to a connect: the options that shape it."""

    def __init__(self, level=61, error=0, isam=0, omit=(), s116=None, unknown=False,
                 message=None, version=0):
        self.level = level
        self.error = error
        self.isam = isam
        self.message = message  # bytes of the one message entry, or None
        self.version = version  # the first connect-parameter word
        self.omit = set(omit)
        self.s116 = s116  # None, or the length written in section 116
        self.unknown = unknown


def status_section(error=0, isam=0, warn=0, message=None):
    """Section 102: six raw bytes, error, ISAM error, warning bits, and no
    message entry, or one (error offset 0, length, the bytes)."""
    out = be16(S_STATUS) + b"\x00" * 6 + be16(error) + be16(isam) + be16(warn)
    if message is None:
        return out + be16(0)
    return out + be16(1) + be16(0) + be16(len(message)) + message


def version_word(args):
    """The first connect-parameter word of an accept, the server's version
    number: 0 in the minimal profile; in the modern one 310, or the number
    --server-version gives."""
    if args.profile != "modern":
        return 0
    text = args.server_version or ""
    return int(text) if text.isdigit() else 310


def response_body(level, req, opts):
    """A connect response: 100, 101, 108 (program "srvdvz", the client's
    connect pairs), 102 with the chosen error, optional 116 and an unknown
    section, 127."""
    out = be16(S_BEGIN)
    if 101 not in opts.omit:
        out += be16(S_FORMAT) + be32(level) + wstring(b"IEEEM")
    product = field(req, "product", field(req, "x.product", b""))
    plevel = field(req, "plevel", field(req, "x.plevel", level))
    protocol = field(req, "protocol", field(req, "x.protocol", b""))
    pversion = field(req, "pversion", field(req, "x.pversion", 1))
    out += be16(S_PARAMS) + fixed(b"srvdvz", 12)
    out += wstring(None) + wstring(None) + wstring(b"sqli")
    out += be32(opts.version) + be32(0) + be32(0)
    out += be16(0) + wstring(None) + wstring(None)
    out += fixed(product, 8) + be32(plevel) + fixed(protocol, 8) + be32(pversion)
    if 102 not in opts.omit:
        out += status_section(opts.error, opts.isam, message=opts.message)
    if opts.s116 is not None:
        body = be32(os.getuid()) + be32(os.getgid())
        body = (body + b"\x00" * max(0, opts.s116 - len(body)))[: opts.s116]
        out += be16(S_IDS) + be16(opts.s116) + body
    if opts.unknown:
        out += be16(120) + be16(3) + b"xyz"
    return out + be16(S_END)


def old_accept(kind, names=()):
    """Old-protocol accept to a client below level 60: prefix 0,15,0,15
    (reply form 1) or 0,15 (form 2, for kinds 6 and 7), then the body:
    nothing for kind 6, the database list for kind 7, else
    15, warning bits, three zero words, 12."""
    if kind == 7:
        body = b""
        for name in list(names)[:120]:
            name = name.encode("latin-1") if isinstance(name, str) else name
            body += be16(len(name)) + name + (b"\x00" if len(name) % 2 else b"")
        return be16(15) + body + be16(0)
    if kind == 6:
        return be16(15)
    return be16(15) + be16(15) + be16(OLD_ACCEPT) + be16(0) + be32(0) * 3 + be16(OLD_DONE)


def old_reject(error, isam):
    """Old-protocol error reply, unprefixed: 13, error, ISAM error, an
    empty message entry (two zero values), 12."""
    return be16(OLD_ERROR) + be16(error) + be16(isam) + be16(0) + be16(0) + be16(OLD_DONE)


# ---------------------------------------------------------------------------
# The server.


class Journal:
    """One line per message received, appended and flushed at once."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        self.lock = threading.Lock()
        self.order = 0

    def write(self, assoc, session, what, fields=(), raw=None):
        self.write_lines(assoc, session, what, [(fields, raw)])

    def write_lines(self, assoc, session, what, entries):
        """The line of write() for each (fields, raw) of entries, numbered
        in turn and appended in one write (the messages of one read)."""
        if not entries:
            return
        head = "assoc=%d session=%d what=%s" % (assoc, session, what)
        texts = []
        for fields, raw in entries:
            parts = [head]
            parts += ["%s=%s" % (k, escape(v)) for k, v in fields]
            if raw is not None:
                parts.append("raw=%s" % (bytes(raw).hex() or '""'))
            texts.append(" ".join(parts))
        with self.lock:
            first = self.order + 1
            self.order += len(texts)
            text = "".join(["order=%d %s\n" % (first + i, t) for i, t in enumerate(texts)])
            os.write(self.fd, text.encode("latin-1", errors="replace"))


class Conn:
    """One accepted connection: a buffered reader whose every wait is bounded
    and which journals urgent bytes as they come."""

    def __init__(self, sock, assoc, server):
        self.sock = sock
        self.assoc = assoc
        self.server = server
        self.buf = bytearray()
        self.eof = False
        self.headers = False  # data messages carry session headers
        self.args = server.args  # the options of this connection's connect

    def _wait(self, deadline):
        """Waits for data or urgent data; journals an urgent byte."""
        poller = select.poll()
        poller.register(self.sock, select.POLLIN | select.POLLPRI)
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Closed("timeout")
            events = poller.poll(min(left, 0.5) * 1000)
            if self.server.stopping.is_set():
                raise Closed("stopped")
            self.server.idle()
            for _, ev in events:
                if ev & select.POLLPRI:
                    try:
                        b = self.sock.recv(1, socket.MSG_OOB)
                        self.server.journal.write(self.assoc, 0, "urgent", [("byte", b)], b)
                    except OSError:
                        pass
                if ev & (select.POLLIN | select.POLLHUP | select.POLLERR):
                    return

    def fill(self, deadline):
        """Reads what is there (at least one byte); Closed on eof, reset or
        time-out."""
        if self.eof:
            raise Closed("eof")
        self._wait(deadline)
        try:
            data = self.sock.recv(65536)
            while data is None:  # a record taken aside (high priority): wait on
                self._wait(deadline)
                data = self.sock.recv(65536)
        except ConnectionResetError:
            raise Closed("reset") from None
        except OSError as e:
            raise Closed("error") from e
        if not data:
            self.eof = True
            raise Closed("eof")
        self.buf += data

    def read_exact(self, n, deadline):
        while len(self.buf) < n:
            self.fill(deadline)
        out = bytes(self.buf[:n])
        del self.buf[:n]
        return out

    def read_until_nul(self, limit, deadline):
        while True:
            i = self.buf.find(b"\x00")
            if i >= 0:
                out = bytes(self.buf[: i + 1])
                del self.buf[: i + 1]
                return out
            if len(self.buf) >= limit:
                raise Malformed("no zero byte in %d bytes" % limit)
            self.fill(deadline)

    def read_some(self, deadline):
        if not self.buf:
            self.fill(deadline)
        out = bytes(self.buf)
        self.buf.clear()
        return out

    def send(self, data, faults):
        """Sends data as the faults say (one byte per write)."""
        if faults.byte_writes:
            for i in range(len(data)):
                self.sock.sendall(data[i : i + 1])
                time.sleep(0.002)
        else:
            self.sock.sendall(data)


class Faults:
    def __init__(self):
        self.byte_writes = False
        self.close = False
        self.reset = False
        self.silent = False
        self.cut = None
        self.data_cut = None
        self.short = False


class Server:
    def __init__(self, args):
        self.args = args
        self.journal = Journal(args.journal)
        self.stopping = threading.Event()
        self.count_lock = threading.Lock()
        self.connections = 0
        self.fillers = []

    # -- faults for this connection
    def connect_args(self, assoc):
        """The options that govern connection assoc's connect (the command
        line's; the SQLI engine lets its scenario file change them)."""
        return self.args

    def faults_for(self, assoc, args=None):
        a = args or self.args
        f = Faults()
        if a.times is not None and assoc > a.times:
            return f, False
        for name in a.fault:
            key, _, value = name.partition("=")
            if key in ("byte-writes", "close", "reset", "silent", "short"):
                setattr(f, key.replace("-", "_"), True)
            elif key == "cut":
                # "sweep": connection n is cut after n - 1 bytes, so one
                # double serves every cut point in turn.
                f.cut = assoc - 1 if value == "sweep" else int(value, 0)
            elif key == "data-cut":
                f.data_cut = int(value, 0)
        return f, True

    def deadline(self):
        return time.monotonic() + self.args.read_timeout

    def idle(self):
        """Called between the waits of a read; the pipe mode journals its
        interrupts here."""

    def run(self):
        a = self.args
        lsock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        lsock.bind(("127.0.0.1", 0))
        port = lsock.getsockname()[1]
        if "refuse" not in a.fault:
            lsock.listen(0 if "full-queue" in a.fault else 16)
        if "full-queue" in a.fault:
            self.fill_queue(port)
        tmp = "%s.tmp.%d" % (a.ready, os.getpid())
        with open(tmp, "w") as f:
            f.write(self.ready_text(port))
        os.rename(tmp, a.ready)
        end = time.monotonic() + a.lifetime
        parent = os.getppid()
        lsock.settimeout(0.2)
        # Runs until SIGTERM, the end of its lifetime, or its parent's end
        # (a test that died leaves no double behind for long).
        while not self.stopping.is_set() and time.monotonic() < end and os.getppid() == parent:
            if "refuse" in a.fault or "full-queue" in a.fault:
                time.sleep(0.2)
                continue
            try:
                sock, _ = lsock.accept()
            except socket.timeout:
                continue
            except OSError:
                continue
            with self.count_lock:
                self.connections += 1
                assoc = self.connections
            t = threading.Thread(target=self.serve, args=(sock, assoc), daemon=True)
            t.start()
        lsock.close()

    def ready_text(self, port):
        """What the ready file gets: the port and a newline."""
        return "%d\n" % port

    def fill_queue(self, port):
        """Fills the accept queue of a listener that never accepts, so that
        a further connect never completes."""
        for _ in range(16):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setblocking(False)
            self.fillers.append(s)
            try:
                s.connect(("127.0.0.1", port))
            except BlockingIOError:
                pass
            _, w, _ = select.select([], [s], [], 0.3)
            if not w:
                return

    # -- one connection
    def serve(self, sock, assoc):
        conn = Conn(sock, assoc, self)
        how = "close"
        try:
            conn.args = self.connect_args(assoc)
            faults, faulty = self.faults_for(assoc, conn.args)
            how = self.serve_connect(conn, faults, faulty)
            if how == "data":
                how = self.serve_data(conn, faults)
        except Closed as c:
            if c.what not in ("stopped", "done"):
                self.journal.write(assoc, 0, c.what)
            how = "close"
        except Malformed as m:
            self.journal.write(assoc, 0, "error", [("reason", str(m))], conn.buf)
            how = "close"
        except OSError as e:
            self.journal.write(assoc, 0, "error", [("reason", str(e))])
            how = "close"
        finally:
            if how == "reset":
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()

    def read_connect(self, conn):
        """Reads one connect request in any of its forms. Returns
        (prefix, type, flag, length, body, raw)."""
        dl = self.deadline()
        first = conn.read_exact(4, dl)
        if first == b"sqle":
            rest = conn.read_until_nul(8192, dl)
            raw = first + rest
            return "sqle", T_CONNECT, 0, len(raw) + 6, raw, raw
        if first[:2] == b"sq":
            text = first[2:] + conn.read_exact(6, dl)
            hdr = dec6(text)
            prefix, raw = "sq", b"sq" + text
        else:
            hdr = first + conn.read_exact(2, dl)
            prefix, raw = "header", hdr
        length, typ, flag, _ = parse_header(hdr)
        reason = None
        if length < 7 or length > MAX_MESSAGE:
            reason = "bad header length"
        elif typ != T_CONNECT:
            reason = "not a connect"
        if reason:
            self.journal.write(conn.assoc, 0, "error",
                               [("prefix", prefix), ("type", typ), ("flag", flag),
                                ("length", length), ("reason", reason)],
                               raw + bytes(conn.buf))
            raise Closed("done")
        body = conn.read_exact(length - HEADER_SIZE, dl)
        return prefix, typ, flag, length, body, raw + body

    def serve_connect(self, conn, faults, faulty):
        a = getattr(conn, "args", self.args)
        prefix, typ, flag, length, body, raw = self.read_connect(conn)
        fields = [("prefix", prefix), ("type", typ), ("flag", flag), ("length", length)]
        try:
            req = parse_request_body(body)
        except Malformed as m:
            req = [("reason", str(m))]
        self.journal.write(conn.assoc, 0, "connect", fields + req, raw)
        if faults.silent:
            self.drain(conn)
            return "close"
        if faults.close:
            return "close"
        if faults.reset:
            return "reset"
        client_level = flag & 0x7F
        level = min(a.level, client_level)
        mux = bool(flag & 0x80) and a.mux
        reject = faulty and a.reject is not None
        message = a.reject_message.encode("latin-1") if reject and a.reject_message else None
        opts = Reply(level, *(a.reject if reject else (0, 0)), omit=a.omit, s116=a.s116,
                     unknown=a.unknown_section, message=message, version=version_word(a))
        if level < 60:
            kind = field(req, "x.kind", field(req, "kind"))
            kind = kind if isinstance(kind, int) else 0
            reply = old_reject(*a.reject) if reject else old_accept(kind, a.dblist)
        else:
            rbody = be16(S_BEGIN) + be16(S_END) if faults.short and faulty else \
                response_body(level, req, opts)
            rtype = T_REJECT if reject else T_ACCEPT
            if faulty and a.reply_type is not None:
                rtype = a.reply_type
            rlen = len(rbody) + HEADER_SIZE
            if faulty and a.reply_length is not None:
                rlen = a.reply_length
            reply = header(rlen, rtype, level | (0x80 if mux else 0), 4096) + rbody
        if a.delay and faulty:
            time.sleep(a.delay / 1000.0)
        if faults.cut is not None:
            conn.send(reply[: faults.cut], faults)
            return "close"
        conn.send(reply, faults)
        conn.headers = mux and level >= 60
        if reject or (faulty and a.reply_type not in (None, T_ACCEPT)):
            self.drain(conn)
            return "close"
        return "data"

    def drain(self, conn):
        """Reads and journals until the client closes (bounded)."""
        dl = self.deadline()
        while True:
            data = conn.read_some(dl)
            self.journal.write(conn.assoc, 0, "data", [("size", len(data))], data)

    def next_reply(self, state, payload):
        replies = self.args.data_reply
        if state["n"] < len(replies):
            out = bytes.fromhex(replies[state["n"]])
        else:
            out = payload
        state["n"] += 1
        return out

    def send_data(self, conn, faults, state, out):
        if faults.data_cut is not None:
            conn.send(out[: faults.data_cut], faults)
            raise Closed("done")
        if out:
            conn.send(out, faults)

    def serve_data(self, conn, faults):
        a = self.args
        state = {"n": 0}
        while True:
            dl = self.deadline()
            if not conn.headers:
                data = conn.read_some(dl)
                self.journal.write(conn.assoc, 0, "data", [("size", len(data))], data)
                self.send_data(conn, faults, state, self.next_reply(state, data))
                continue
            hdr = conn.read_exact(HEADER_SIZE, dl)
            length, typ, flag, ident = parse_header(hdr)
            fields = [("type", typ), ("flag", flag), ("length", length), ("id", ident)]
            if length < HEADER_SIZE:
                self.journal.write(conn.assoc, flag, "error",
                                   fields + [("reason", "bad header length")], hdr)
                return "close"
            body = conn.read_exact(length - HEADER_SIZE, dl)
            if typ == T_DATA:
                self.journal.write(conn.assoc, flag, "data", fields + [("size", len(body))],
                                   hdr + body)
                out = self.next_reply(state, body)
                if out:
                    out = header(len(out) + HEADER_SIZE, T_DATA, flag) + out
                self.send_data(conn, faults, state, out)
            elif typ == T_MUX_CONNECT:
                try:
                    req = parse_request_body(body)
                except Malformed as m:
                    req = [("reason", str(m))]
                self.journal.write(conn.assoc, flag, "connect", fields + req, hdr + body)
                if a.mux_reject:
                    rbody = b"\x00" * 16
                    conn.send(header(len(rbody) + 6, T_MUX_REJECT, flag | 0x80) + rbody, faults)
                else:
                    rbody = response_body(min(a.level, 127), req,
                                          Reply(a.level, version=version_word(a)))
                    conn.send(header(len(rbody) + 6, T_MUX_ACCEPT, flag | 0x80, 4096) + rbody,
                              faults)
            else:
                self.journal.write(conn.assoc, flag, "error",
                                   fields + [("reason", "unexpected type")], hdr + body)


# ---------------------------------------------------------------------------
# Pipe mode: the double is the back-end program a client starts with two
# pipes as its standard input and output; one association, SIGTERM is the
# interrupt.


def open_descriptors():
    """The descriptors open in this process, sorted (the listing's own
    descriptor left out)."""
    fds = []
    for name in os.listdir("/proc/self/fd"):
        fd = int(name)
        try:
            os.fstat(fd)
        except OSError:
            continue  # the directory listing's own descriptor, closed by now
        fds.append(fd)
    return sorted(fds)


class PipeSock:
    """Descriptors 0 and 1 behind the socket calls Conn and Server use."""

    def __init__(self, rfd=0, wfd=1):
        self.rfd, self.wfd = rfd, wfd

    def fileno(self):
        return self.rfd

    def recv(self, n, flags=0):
        if flags:
            raise OSError("no urgent data on a pipe")
        return os.read(self.rfd, n)

    def sendall(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.wfd, view):]

    def setsockopt(self, *args):
        pass

    def close(self):
        for fd in (self.rfd, self.wfd):
            try:
                os.close(fd)
            except OSError:
                pass


class CountingJournal:
    """The journal of the pipe mode: ends the process after --exit-after
    messages (connects and data) were journaled."""

    def __init__(self, journal, limit):
        self.journal = journal
        self.limit = limit
        self.messages = 0

    def write(self, assoc, session, what, fields=(), raw=None):
        self.journal.write(assoc, session, what, fields, raw)
        if what in ("connect", "data"):
            self.messages += 1
            if self.limit is not None and self.messages >= self.limit:
                os._exit(0)


class PipeServer(Server):
    """One association on descriptors 0 and 1."""

    def __init__(self, args, journal):
        self.args = args
        self.journal = CountingJournal(journal, args.exit_after)
        self.stopping = threading.Event()
        self.interrupts = 0
        self.journaled = 0
        self.parent = os.getppid()

    def on_term(self, signum, frame):
        # Only counted here: the journal's lock may be held by the code the
        # signal interrupted.
        self.interrupts += 1

    def idle(self):
        while self.journaled < self.interrupts:
            self.journaled += 1
            self.journal.journal.write(1, 0, "interrupt", [("signal", "TERM")])
        if os.getppid() != self.parent:
            raise Closed("stopped")

    def run_pipe(self, startup):
        a = self.args
        if a.report:
            self.journal.journal.write(1, 0, "start", [("argc", len(a.pipe_args))] +
                                       [("argv", v) for v in a.pipe_args] +
                                       [("fds", ",".join(str(fd) for fd in startup))])
        if a.exit_at_once:
            return 0
        if a.stall:
            end = time.monotonic() + min(a.lifetime, a.read_timeout)
            while time.monotonic() < end and os.getppid() == self.parent:
                self.idle()
                time.sleep(0.05)
            return 0
        self.serve(PipeSock(), 1)
        self.idle()
        return 0


# ---------------------------------------------------------------------------
# STREAMS mode: a SEQPACKET listener at the stream's path; every record is
# one STREAMS message (band byte, three zero bytes, BE32 control length,
# the control bytes, the data bytes).

RECORD_HEADER = 8
RECORD_MAX = 1 << 20


def stream_record(data, band=0, control=b""):
    return bytes([band]) + b"\x00\x00\x00" + be32(len(control)) + control + data


def parse_stream_record(rec):
    """(band, control, data) of one record; Malformed when the header is."""
    if len(rec) < RECORD_HEADER or rec[0] > 1 or rec[1:4] != b"\x00\x00\x00":
        raise Malformed("bad record header")
    clen = struct.unpack(">I", rec[4:8])[0]
    if clen > len(rec) - RECORD_HEADER:
        raise Malformed("control length past the record")
    return rec[0], rec[8 : 8 + clen], rec[8 + clen :]


class StreamSock:
    """A SEQPACKET connection behind the socket calls Conn and Server use:
    recv gives the data of the next normal record (b"" at hang-up, None
    when the record was a high-priority one, journaled as urgent), every
    send is one record."""

    def __init__(self, sock, journal, assoc, hipri=None):
        self.sock = sock
        self.journal = journal
        self.assoc = assoc
        self.hipri = hipri  # sent once, after the first reply

    def fileno(self):
        return self.sock.fileno()

    def recv(self, n, flags=0):
        if flags:
            raise OSError("no urgent data on a stream")
        rec = self.sock.recv(RECORD_MAX)
        if not rec:
            return b""
        band, _, data = parse_stream_record(rec)
        if band == 1:
            self.journal.write(self.assoc, 0, "urgent", [("byte", data[:1])], rec)
            return None
        return data

    def sendall(self, data):
        self.sock.sendall(stream_record(bytes(data)))
        if self.hipri is not None:
            self.sock.sendall(stream_record(self.hipri, band=1))
            self.hipri = None

    def setsockopt(self, *args):
        self.sock.setsockopt(*args)

    def close(self):
        self.sock.close()


class StreamServer(Server):
    def run(self):
        a = self.args
        try:
            os.unlink(a.streams)
        except FileNotFoundError:
            pass
        lsock = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        lsock.bind(a.streams)
        lsock.listen(16)
        tmp = "%s.tmp.%d" % (a.ready, os.getpid())
        with open(tmp, "w") as f:
            f.write("%d\n" % os.getpid())  # no port: the process id, for a positive number
        os.rename(tmp, a.ready)
        end = time.monotonic() + a.lifetime
        parent = os.getppid()
        lsock.settimeout(0.2)
        try:
            while not self.stopping.is_set() and time.monotonic() < end and \
                    os.getppid() == parent:
                try:
                    sock, _ = lsock.accept()
                except OSError:
                    continue
                sock.settimeout(None)
                with self.count_lock:
                    self.connections += 1
                    assoc = self.connections
                hipri = bytes.fromhex(a.hipri) if a.hipri is not None else None
                t = threading.Thread(target=self.serve,
                                     args=(StreamSock(sock, self.journal, assoc, hipri), assoc),
                                     daemon=True)
                t.start()
        finally:
            lsock.close()
            try:
                os.unlink(a.streams)
            except OSError:
                pass


# ---------------------------------------------------------------------------
# Command line.


class ArgParser(argparse.ArgumentParser):
    def convert_arg_line_to_args(self, line):
        line = line.strip()
        if not line or line.startswith("#"):
            return []
        return line.split()


def error_pair(text):
    """"ERR" or "ERR,ISAM" (decimal, may be negative)."""
    parts = text.split(",")
    if len(parts) > 2:
        raise argparse.ArgumentTypeError("ERR[,ISAM] expected")
    values = [int(p, 0) for p in parts]
    return (values[0], values[1] if len(values) > 1 else 0)


FAULTS = ("refuse", "full-queue", "close", "reset", "silent", "byte-writes", "short", "cut",
          "data-cut")


def fault(text):
    key = text.partition("=")[0]
    if key not in FAULTS:
        raise argparse.ArgumentTypeError("unknown fault %r" % text)
    value = text.partition("=")[2]
    if key == "data-cut" or (key == "cut" and value != "sweep"):
        int(value, 0)
    return text


def parse_args(argv):
    p = ArgParser(prog="sqli_double", fromfile_prefix_chars="@",
                  description="SQLI server double (see README.md)")
    p.add_argument("--ready", help="file that receives the port (required but in --pipe)")
    p.add_argument("--journal", required=True, help="journal file (appended)")
    p.add_argument("--level", type=int, default=61, help="the server's level (default 61)")
    p.add_argument("--mux", action="store_true", help="agree to multiplexing when asked")
    p.add_argument("--mux-reject", action="store_true", help="answer type 10 with 12")
    p.add_argument("--reject", type=error_pair, help="reject with ERR[,ISAM] in section 102")
    p.add_argument("--reject-message", metavar="TEXT",
                   help="the reject's one message entry in section 102")
    p.add_argument("--profile", choices=("minimal", "modern"), default="minimal",
                   help="minimal: version word 0, version request answered; modern: word 310")
    p.add_argument("--server-version", metavar="TEXT",
                   help="the version request's answer (8.00); modern: a number is the word")
    p.add_argument("--omit", type=int, action="append", default=[], choices=(101, 102),
                   help="leave this section out of the response")
    p.add_argument("--s116", type=int, help="add section 116 with this length")
    p.add_argument("--unknown-section", action="store_true", help="add section 120 (3 bytes)")
    p.add_argument("--reply-type", type=int, help="type of the connect reply's header")
    p.add_argument("--reply-length", type=lambda t: int(t, 0),
                   help="length field of the connect reply's header")
    p.add_argument("--dblist", type=lambda t: [n for n in t.split(",") if n], default=[],
                   help="names of an old-protocol database list (kind 7)")
    p.add_argument("--delay", type=int, default=0, help="ms before the connect reply")
    p.add_argument("--data-reply", action="append", default=[],
                   help="hex bytes answering the n-th data message (echo after the last)")
    p.add_argument("--fault", type=fault, action="append", default=[], help="see README.md")
    p.add_argument("--times", type=int, help="faults, reject and reply overrides apply to "
                   "the first N connections only")
    p.add_argument("--read-timeout", type=float, default=60.0, help="seconds per read wait")
    p.add_argument("--lifetime", type=float, default=600.0, help="seconds before it exits")
    p.add_argument("--pipe", action="store_true",
                   help="serve one association on descriptors 0 and 1 (SIGTERM: interrupt)")
    p.add_argument("--exit-at-once", action="store_true", help="--pipe: exit before reading")
    p.add_argument("--exit-after", type=int, metavar="N",
                   help="--pipe: exit after N messages were journaled")
    p.add_argument("--stall", action="store_true", help="--pipe: never read nor answer")
    p.add_argument("--report", action="store_true",
                   help="--pipe: journal the arguments and the open descriptors")
    p.add_argument("--streams", metavar="PATH", help="listen on a SEQPACKET socket at PATH "
                   "and speak STREAMS records")
    p.add_argument("--hipri", metavar="HEX", help="--streams: a high-priority message sent "
                   "after the first reply of each connection")
    p.add_argument("pipe_args", nargs="*", help="--pipe: the arguments the client gave")
    p.add_argument("--shm", metavar="NAME", help="serve the shared-memory transport NAME "
                   "(shm_mode.py)")
    args = p.parse_args(argv)
    if args.ready is None and not args.pipe:
        p.error("the following arguments are required: --ready")
    if args.pipe_args and not args.pipe:
        p.error("arguments are taken in --pipe mode only")
    return args


def mode_args(rest, values):
    """The options of a mode module: rest parsed as the plain mode's, with
    the mode's own values (a dict) set on the result."""
    args = parse_args(rest)
    for k, v in values.items():
        setattr(args, k, v)
    return args


def run_until_stopped(server):
    """Runs a listening server until SIGTERM or SIGINT (or its lifetime)."""

    def on_term(signum, frame):
        server.stopping.set()

    signal.signal(signal.SIGTERM, on_term)
    signal.signal(signal.SIGINT, on_term)
    server.run()


def main(argv=None):
    startup = open_descriptors()  # before this process opens any of its own
    words = sys.argv[1:] if argv is None else argv
    if "--css" in words:  # css_mode.py
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import css_mode

        return css_mode.main(words)
    if any(w == "--sqli" or w.partition("=")[0] == "--replay" for w in words):
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import sqli_engine  # the SQLI engine (sqli_engine.py)

        return sqli_engine.main(words)
    args = parse_args(words)
    if args.pipe:
        server = PipeServer(args, Journal(args.journal))
        signal.signal(signal.SIGTERM, server.on_term)
        return server.run_pipe(startup)
    if args.shm is not None:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        import shm_mode

        return shm_mode.serve(args, Journal(args.journal))
    server = StreamServer(args) if args.streams else Server(args)
    run_until_stopped(server)
    return 0


if __name__ == "__main__":
    sys.exit(main())
