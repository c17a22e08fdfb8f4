#!/usr/bin/env python3
"""SQLI engine of the server double (--sqli, --replay) and a stand-alone
decoder of SQLI requests.

After the connect, the data stream of an association is read as SQLI
requests: runs of messages, each a big-endian i16 code and its fields,
closed by the end-of-request code 12. A message may span transport
messages; it is parsed by structure, for every request code the client
writes, bind lists and return-type lists included. Written from the wire
tables alone: nothing here comes from the client's sources.

Journal (one line per SQLI message, besides the plain mode's lines):
    what=sqli code=N <decoded fields> raw=<hex of the message>
Texts are journaled verbatim (escaped as the plain mode escapes them); a
bind value's fields are v1.type, v1.ind, v1.prec, v1.value (absent for a
NULL), v1.owner and v1.tname when names were sent, and so on for v2 ...
An unknown or malformed request journals what=error with reason= and the
bytes held, closes the connection, and makes the double exit with status 3
when it is stopped (so a test that checks the exit status fails).

--scenario FILE: a JSON file, read again at the start of every request, so
a test can rewrite it (atomically) between requests:
    {"capabilities": N,                      the association's profile
     "associations": {"2": {"capabilities": M}},   per association number
     "rules": [{"text": "select ...", "reply": [ITEM...], FAULTS...},
               {"code": 9, "reply": [...]}],
     "default": [ITEM...]}                   (else: an end of transmission)
A request matches the first rule whose "text" is the exact text of one of
its statement messages (1, 2), or whose "code" is one of its message codes.
A request ends at 12, at a lone exit 56, and at an information request 81
that is not the environment form.
Session requests no rule names get their own replies: the version request
53 the version text (--server-version, "8.00"); the transaction query 84
the flag "transaction" (0); the owner query 109 the name "owner"; the
information request 81 the items of "info"; a lone exit 56 the exit, unless
the double sent one on that association (the client's 56 then answers it).
"transaction", "owner" and "info" may also be set per association.
Reply items: {"kind": K, ...} with K one of describe, tuple, done, error,
perr, end, exit, cost, rowpos, insertdone, txstate, closed, dblist, code,
raw, file, and the fast-path replies routine (101), fparam (104) and
fpresult (103) (see the build_* functions). "routines" scripts the
fast-path requests 101 and 102 (fastpath_reply). A rule's reply holding file items
(98) is sent in parts: after each, the client's answer is read up to its 12
and journaled with answer=98, then the reply goes on. Faults of a rule: "error": N (the reply is
that error and the end), "delay_ms", "close_at": k (k bytes, then the
socket is closed), "truncate": k (k bytes, the rest never comes),
"exit_at": k (k bytes, then a server exit 56), "stall": true (never
answered; the connection stays). Switches read at every connect and
request: "connect" {"reject", "reject_message", "faults", "delay_ms"}
replaces those command-line options for the next connects;
"disconnect_stall": true leaves the transaction query 84 and a lone exit
56 unanswered. Capabilities pick the
forms: 0x4 extended describe columns, i32 tuple lengths, names in bind
values, the code-0 error tail; 0x10 i32 PUT row sizes; 0x80 or 0x100 the
fetch array size; 0x1000 VARCHAR fields of rows without their padding;
0x2000 the long file-transfer forms.

Without a rule (or with a rule of faults alone) and without "default", a
request gets the double's statement and cursor semantics (semantic_reply):
statement ids per association, cursor open and close, fetch batches and
scroll fetches (fetch_items), and a table registry
over the scenario's "tables" (sysprofile by default) for CREATE TABLE,
INSERT, UPDATE, DROP TABLE and SELECT ... INTO.

--replay FILE: lines "SIZE HEX": a request of SIZE bytes is read (not
parsed) and answered with the bytes HEX, line after line, round and round
(a line "once SIZE HEX" on the first pass only); after the connect, and on
a raw port (no connect request) whose number is the ready file's second
line.

Decoder, usable on its own:
    decode_request(data, caps=0)   -> list of message dicts ({"code": N, ...})
    decode_bind_list(data, caps=0) -> {"count": n, "values": [...]} of the
                                      list after the code 5 (count first)
    python3 sqli_engine.py --decode-hex HEX [--caps N] [--bind-list]
prints that result as JSON. Values in JSON: integers as numbers, DECIMAL
(and the digits of DATETIME and INTERVAL) as the text of Python's
decimal.Decimal, floats as numbers, texts (CHAR, VARCHAR, NCHAR, NVARCHAR,
LVARCHAR) as latin-1 strings, binary values (blob descriptors, UDT and
collection bytes) as hex, NULL as null; a DECIMAL sent as length 65535 is
"absent". The bind-value layout read: i16 type word; with capability 0x4,
for a type above 18 other than 42 or one carrying 0x800, the owner and
type names (i16 length, bytes, pad); i16 indicator; i16 precision word;
then, unless the indicator is negative, the value by the type's low byte.
Standard library only.
"""

import argparse
import bisect
import copy
import decimal
import hashlib
import json
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sqli_double as sd  # noqa: E402
from sqli_double import Cursor, Malformed, be16, be32  # noqa: E402

# Capability bits that change a form on the wire.
CAP_CURRENT = 0x1
CAP_EXTENDED = 0x4
CAP_PUT_LONG = 0x10
CAP_FETCH_ARRAY = 0x80 | 0x100
CAP_VARCHAR_PAD = 0x1000  # VARCHAR fields of rows carry only their characters
CAP_FILE_LONG = 0x2000

END = 12
EXIT = 56
BLOB_DESC = 56  # bytes of a blob descriptor
DECIMAL_ABSENT = 65535

# Request codes that are the code alone.
BARE_CODES = frozenset((6, 7, 10, 11, 12, 16, 19, 22, 24, 26, 35, 37, 40, 43, 49, 53, 56, 59,
                        84, 87, 108, 109, 111, 115))
# Reply codes of the server, for the builders.
R_DESCRIBE, R_CLOSED, R_ERROR, R_TUPLE, R_DONE, R_PERR = 8, 10, 13, 14, 15, 18
R_ROWPOS, R_COST, R_INSERTDONE, R_TXSTATE = 25, 55, 94, 99


class NeedMore(Malformed):
    """The bytes held end inside a message: more must be read."""


class StreamCursor(Cursor):
    """A Cursor over the bytes held so far: running out is NeedMore, not a
    malformed message."""

    def take(self, n):
        if 0 <= self.left() < n:
            raise NeedMore("message ends past the %d bytes held" % len(self.data))
        return super().take(n)


# ---------------------------------------------------------------------------
# Field readers (every length checked against the bytes there by take()).


def u32(cur):
    return struct.unpack(">I", cur.take(4))[0]


def pad(cur, n):
    if n & 1:
        cur.take(1)


def counted(cur, n, what):
    """n bytes and a pad byte when n is odd; a negative n is malformed."""
    if n < 0:
        raise Malformed("negative %s length %d" % (what, n))
    out = cur.take(n)
    pad(cur, n)
    return out


def lbuf(cur):
    """u16 length, the bytes, a pad byte when odd."""
    return counted(cur, cur.u16(), "text")


def short_text(cur):
    """i16 length, the bytes, a pad byte when odd (names in bind values and
    return types)."""
    return counted(cur, cur.s16(), "name")


def pbuf_i32(cur):
    """i32 length and the bytes with their pad."""
    return counted(cur, cur.s32(), "value")


def complement100(digits):
    """Base-100 complement of a digit string (its own inverse)."""
    out = list(digits)
    i = len(out) - 1
    while i >= 0 and out[i] == 0:
        i -= 1
    if i >= 0:
        out[i] = 100 - out[i]
        for j in range(i):
            out[j] = 99 - out[j]
    return out


def packed_decimal(raw):
    """decimal.Decimal of a packed DECIMAL (exponent byte, base-100 digits,
    complemented when negative); None for the NULL form."""
    raw = bytes(raw)
    if not raw or raw[:2] == b"\x00\x00" or raw == b"\x00":
        return None
    head = raw[0]
    digits = list(raw[1:])
    positive = bool(head & 0x80)
    if not positive:
        head ^= 0x7F
        digits = complement100(digits)
    if any(d > 99 for d in digits):
        raise Malformed("DECIMAL digit above 99")
    exponent = (head & 0x7F) - 64
    tup = tuple(x for d in digits for x in divmod(d, 10))
    if not any(tup):
        return decimal.Decimal(0)
    return decimal.Decimal((0 if positive else 1, tup, 2 * (exponent - len(digits))))


def wire_decimal(cur):
    """The DECIMAL wire form: u16 n, n packed bytes, pad when odd. Returns
    the Decimal, None for NULL, or "absent" for the length 65535."""
    n = cur.u16()
    if n == DECIMAL_ABSENT:
        return "absent"
    if n == 0 or n > 18:
        raise Malformed("DECIMAL of %d bytes" % n)
    raw = cur.take(n)
    pad(cur, n)
    return packed_decimal(raw)


def int8_value(cur):
    """The 10-byte INT8: i16 sign, u32 low, u32 high; None for sign 0."""
    sign = cur.s16()
    low = u32(cur)
    high = u32(cur)
    if sign == 0:
        return None
    value = (high << 32) | low
    return -value if sign < 0 else value


# ---------------------------------------------------------------------------
# Bind values and return types.

TEXT_TYPES = frozenset((0, 13, 15, 16))
LONG_TYPES = frozenset(range(19, 24)) | frozenset((40, 41, 43, 44, 45, 46, 47))


def has_names(word, caps):
    t = word & 0xFF
    return bool(caps & CAP_EXTENDED) and ((t > 18 and t != 42) or bool(word & 0x800))


def bind_value(cur, caps):
    """One bind value: type word, [owner and type names], indicator,
    precision word, the value by the type's low byte (none when NULL)."""
    word = cur.u16()
    t = word & 0xFF
    v = {"type": word}
    if has_names(word, caps):
        v["owner"] = short_text(cur)
        v["tname"] = short_text(cur)
    v["ind"] = cur.s16()
    v["prec"] = cur.s16()
    if v["ind"] < 0:
        v["value"] = None
        return v
    if t in TEXT_TYPES:
        v["value"] = lbuf(cur)
    elif t == 1:
        v["value"] = cur.s16()
    elif t in (2, 6, 7):
        v["value"] = cur.s32()
    elif t == 3:
        v["value"] = struct.unpack(">d", cur.take(8))[0]
    elif t == 4:
        v["value"] = struct.unpack(">f", cur.take(4))[0]
    elif t in (5, 8, 10, 14):
        v["value"] = wire_decimal(cur)
    elif t in (11, 12):
        v["value"] = cur.take(BLOB_DESC).hex()
    elif t in (17, 18):
        v["value"] = int8_value(cur)
    elif t == 43:
        v["value"] = pbuf_i32(cur)
    elif t in LONG_TYPES:
        v["value"] = pbuf_i32(cur).hex()
    else:
        v["unknown"] = 1
    return v


def bind_list(cur, caps):
    """i16 count and that many values."""
    count = cur.s16()
    if count < 0:
        raise Malformed("negative value count %d" % count)
    return {"count": count, "values": [bind_value(cur, caps) for _ in range(count)]}


def return_types(cur):
    """Message 100 after its code: i16 flag, i16 count, per entry the type
    word, names for an extended or distinct type, the i32 length."""
    out = {"first": cur.s16()}
    count = cur.s16()
    if count < 0:
        raise Malformed("negative return-type count %d" % count)
    out["count"] = count
    entries = []
    for _ in range(count):
        word = cur.u16()
        e = {"type": word}
        t = word & 0xFF
        if (t > 18 and t != 42) or word & 0x800:
            e["owner"] = short_text(cur)
            e["tname"] = short_text(cur)
        e["length"] = cur.s32()
        entries.append(e)
    out["entries"] = entries
    return out


# ---------------------------------------------------------------------------
# Request messages.


class ParseState:
    """What the parse of one association remembers between messages: its
    capabilities and a file transfer (106) in progress."""

    def __init__(self, caps=0):
        self.caps = caps
        self.file_left = 0  # bytes still announced by a 106 header


def _put_rows(cur, m, caps):
    size = cur.s32() if caps & CAP_PUT_LONG else cur.s16()
    m["size"] = size
    count = cur.s16()
    m["rows"] = count
    if size < 0 or count < 0:
        raise Malformed("PUT of row size %d, count %d" % (size, count))
    if size > 0:
        m["row"] = []
        for _ in range(count):
            m["row"].append(cur.take(size).hex())
            pad(cur, size)


def _put_info(cur, m):
    sub = cur.s16()
    m["sub"] = sub
    if sub == 6:
        m["length"] = cur.u16()
        m["maxname"] = cur.u16()
        m["maxvalue"] = cur.u16()
        m["env"] = []
        while True:
            name = lbuf(cur)
            if not name:
                # The two closing zeros: an empty name is the first of them.
                cur.u16()
                break
            m["env"].append(name + b"=" + lbuf(cur))
    elif sub == 1:
        m["flag2"] = cur.s16()
        m["last"] = cur.s16()
    elif sub != 0:
        raise Malformed("information message with sub-code %d" % sub)


def _file_piece(cur, m, state):
    if state.file_left > 0:
        n = cur.s32() if state.caps & CAP_FILE_LONG else cur.s16()
        if n < 0 or n > state.file_left:
            raise Malformed("file piece of %d bytes, %d announced" % (n, state.file_left))
        m["length"] = n
        m["data"] = cur.take(n).hex()
        pad(cur, n)
        state.file_left -= n
    else:
        n = cur.s32()
        if n < 0:
            raise Malformed("file read of %d bytes" % n)
        m["count"] = n
        state.file_left = n


def parse_message(cur, state):
    """One request message at the cursor: a dict {"code": N, fields...}.
    Malformed for an unknown code or fields that do not parse; NeedMore
    (from a StreamCursor) when the bytes end inside it."""
    code = cur.s16()
    m = {"code": code}
    caps = state.caps
    if code in BARE_CODES:
        pass
    elif code == 1:
        m["inputs"] = cur.s16()
        n = cur.u16()
        m["text"] = cur.take(n)
        pad(cur, n)
    elif code == 2:
        m["markers"] = cur.s16()
        m["text"] = lbuf(cur)
    elif code == 3:
        m["name"] = lbuf(cur)
    elif code == 4:
        m["id"] = cur.s16()
    elif code == 5:
        m.update(bind_list(cur, caps))
    elif code == 9:
        m["size"] = cur.s16()
        if caps & CAP_FETCH_ARRAY:
            m["array"] = cur.s16()
    elif code == 13:
        m["error"] = cur.s16()
        m["w1"], m["w2"], m["w3"] = cur.s16(), cur.s16(), cur.s16()
    elif code == 17:
        _put_rows(cur, m, caps)
    elif code == 20:
        m["arg"] = cur.s16()
    elif code == 23:
        m["direction"] = cur.s16()
        m["position"] = cur.s32()
        m["size"] = cur.s16()
    elif code == 32:
        count = cur.s16()
        if count < 0:
            raise Malformed("negative column count %d" % count)
        m["count"] = count
        m["name"] = [lbuf(cur) for _ in range(count)]
        m["end"] = cur.s16()
    elif code == 33:
        m["first"] = cur.s16()
        m.update(bind_list(cur, caps))
    elif code == 36:
        m["name"] = lbuf(cur)
        m["mode"] = cur.s16()
    elif code == 38:
        m["desc"] = cur.take(BLOB_DESC).hex()
    elif code == 39:
        m["length"] = cur.s16()
        m["data"] = counted(cur, m["length"], "chunk").hex()
    elif code in (41, 92):
        m["count"] = cur.s16()
    elif code == 81:
        _put_info(cur, m)
    elif code == 100:
        m.update(return_types(cur))
    elif code == 101:
        m["text"] = lbuf(cur)
        m["wanted"] = cur.s16()
    elif code == 102:
        m["handle"] = cur.s32()
        m["inputs"] = cur.s16()
        m["block"] = cur.s16()
    elif code == 104:
        m["int8"] = int8_value(cur)
        m["word"] = cur.s32()
        m["flag"] = cur.take(1)[0]
    elif code == 105:
        m["handle"] = cur.s32()
    elif code == 106:
        _file_piece(cur, m, state)
    elif code == 107:
        m["size"] = int8_value(cur) if caps & CAP_FILE_LONG else cur.s32()
    else:
        raise Malformed("unknown request code %d" % code)
    return m


def ends_request(m):
    """True when the client waits for a reply after this message: the end
    of a request, an exit, or an information request (sent without 12)."""
    return m["code"] in (END, EXIT) or (m["code"] == 81 and m.get("sub") != 6)


def decode_request(data, caps=0):
    """Every message of data (a request, or several): a list of dicts.
    Malformed when data is not whole messages."""
    cur = Cursor(data)
    state = ParseState(caps)
    out = []
    while cur.left():
        out.append(parse_message(cur, state))
    return out


def decode_bind_list(data, caps=0):
    """The bind list after the code 5 (i16 count and the values)."""
    cur = Cursor(data)
    out = bind_list(cur, caps)
    if cur.left():
        raise Malformed("%d bytes after the bind list" % cur.left())
    return out


def journal_fields(m):
    """The journal fields of a message dict (code first, bind values and
    return-type entries as v1.*, v2.*, ...; lists as repeated keys)."""
    fields = []
    for k, v in m.items():
        if k in ("values", "entries"):
            for i, item in enumerate(v, start=1):
                for ik, iv in item.items():
                    if iv is not None:
                        fields.append(("v%d.%s" % (i, ik), _field_value(iv)))
        elif isinstance(v, list):
            fields.extend((k, _field_value(x)) for x in v)
        elif v is not None:
            fields.append((k, _field_value(v)))
    return fields


def _field_value(v):
    if isinstance(v, (bytes, int)):
        return v
    return str(v)


def json_ready(obj):
    """obj with bytes as latin-1 text and Decimals as their text."""
    if isinstance(obj, dict):
        return {k: json_ready(v) for k, v in obj.items()}
    if isinstance(obj, list):
        return [json_ready(v) for v in obj]
    if isinstance(obj, bytes):
        return obj.decode("latin-1")
    if isinstance(obj, decimal.Decimal):
        return str(obj)
    return obj


# ---------------------------------------------------------------------------
# Byte scripts (the notation of tests/sqli/testkit/wire_codec.h).


def parse_script(text):
    """Bytes of a byte script: hex tokens, "text", i16() u16() i32(),
    lbuf("") pbuf(""), int8(s,l,h), dec(n), zeros(n); "#" comments."""
    out = bytearray()
    lines = []
    for line in text.splitlines():
        lines.append(_strip_comment(line))
    tokens = _script_tokens(" ".join(lines))
    for tok in tokens:
        if tok.startswith('"'):
            out += _script_string(tok)
            continue
        name, paren, rest = tok.partition("(")
        if not paren:
            if len(tok) % 2 or not all(c in "0123456789abcdefABCDEF" for c in tok):
                raise ValueError("bad script token %r" % tok)
            out += bytes.fromhex(tok)
            continue
        arg = rest[:-1] if rest.endswith(")") else None
        if arg is None:
            raise ValueError("bad script token %r" % tok)
        if name in ("lbuf", "pbuf"):
            data = _script_string(arg)
            if name == "lbuf":
                out += be16(len(data))
            out += data + (b"\x00" if len(data) % 2 else b"")
            continue
        nums = [int(x, 0) for x in arg.split(",")]
        if name == "i16" or name == "u16" or name == "dec":
            out += be16(nums[0])
        elif name == "i32":
            out += be32(nums[0])
        elif name == "int8":
            out += be16(nums[0]) + be32(nums[1]) + be32(nums[2])
        elif name == "zeros":
            out += b"\x00" * nums[0]
        else:
            raise ValueError("bad script token %r" % tok)
    return bytes(out)


def _strip_comment(line):
    in_str = False
    i = 0
    while i < len(line):
        c = line[i]
        if c == "\\" and in_str:
            i += 2
            continue
        if c == '"':
            in_str = not in_str
        elif c == "#" and not in_str:
            return line[:i]
        i += 1
    return line


def split_top(text, at_sep, quotes, escape):
    """The pieces of text between separators (characters for which at_sep
    is true) outside quotes (any of quotes; a backslash escapes the next
    character inside them when escape) and parentheses."""
    items, cur, depth, quote, i = [], "", 0, None, 0
    while i < len(text):
        c = text[i]
        if quote:
            cur += c
            if escape and c == "\\" and i + 1 < len(text):
                cur += text[i + 1]
                i += 1
            elif c == quote:
                quote = None
        elif c in quotes:
            quote = c
            cur += c
        elif c in "()":
            depth += 1 if c == "(" else -1
            cur += c
        elif depth == 0 and at_sep(c):
            items.append(cur)
            cur = ""
        else:
            cur += c
        i += 1
    return items + [cur]


def _script_tokens(text):
    return [t for t in split_top(text, str.isspace, '"', True) if t]


def _script_string(tok):
    if len(tok) < 2 or tok[0] != '"' or tok[-1] != '"':
        raise ValueError("bad script string %r" % tok)
    body, out, i = tok[1:-1], bytearray(), 0
    while i < len(body):
        c = body[i]
        if c == "\\":
            e = body[i + 1]
            if e == "x":
                out.append(int(body[i + 2 : i + 4], 16))
                i += 4
                continue
            out += {"n": b"\n", "t": b"\t"}.get(e, e.encode("latin-1"))
            i += 2
            continue
        out += c.encode("latin-1")
        i += 1
    return bytes(out)


def load_scripts(path):
    """The named scripts of a file: {name: bytes} (lines "name: script",
    continued on lines that begin with blanks)."""
    out, name, parts = {}, None, []
    with open(path, encoding="latin-1") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            if line[0].isspace() and name is not None:
                parts.append(line)
                continue
            if name is not None:
                out[name] = parse_script("\n".join(parts))
            name, _, first = line.partition(":")
            name, parts = name.strip(), [first]
    if name is not None:
        out[name] = parse_script("\n".join(parts))
    return out


# ---------------------------------------------------------------------------
# Reply builders. Each takes the item (a dict) and the capabilities.


def _bytes_of(item, key="row"):
    """Bytes given as "hex", "text" or "script" (or under key + "_hex" ...)."""
    for suffix, conv in (("hex", bytes.fromhex), ("text", lambda t: t.encode("latin-1")),
                         ("script", parse_script)):
        for k in (suffix, key + "_" + suffix):
            if k in item:
                return conv(item[k]) if isinstance(item[k], str) else bytes(item[k])
    return b""


def _text(value):
    return value.encode("latin-1") if isinstance(value, str) else bytes(value or b"")


def _padded(data):
    return data + (b"\x00" if len(data) % 2 else b"")


def build_describe(item, caps):
    """8: statement type, id, i32 cost; row size, column count, name-pool
    length; the columns (short form, or the extended form with capability
    0x4); the pool of NUL-terminated names and its pad."""
    cols = item.get("columns", [])
    pool, offsets = b"", []
    for c in cols:
        offsets.append(c.get("offset", len(pool)))
        pool += _text(c.get("name", "")) + b"\x00"
    start, body = 0, b""
    for c, off in zip(cols, offsets):
        length = c.get("length", 0)
        st = c.get("start", start)
        start = st + length
        body += be16(off)
        if caps & CAP_EXTENDED:
            owner, tname = _text(c.get("owner", "")), _text(c.get("type_name", ""))
            body += be32(st) + be16(c.get("type", 0)) + be32(c.get("xid", 0))
            body += be16(len(owner)) + _padded(owner) + be16(len(tname)) + _padded(tname)
            body += be16(c.get("w1", 0)) + be16(c.get("w2", 0))
            body += be32(c.get("source", 0)) + be32(length)
        else:
            body += be16(st) + be16(c.get("type", 0)) + be16(length)
    row_size = item.get("row_size", start)
    out = be16(R_DESCRIBE) + be16(item.get("stmt_type", 2)) + be16(item.get("stmt_id", 0))
    out += be32(item.get("cost", 0))
    out += be16(row_size) + be16(item.get("count", len(cols)))
    out += be16(item.get("pool_length", len(pool)))
    return out + body + _padded(pool)


def build_tuple(item, caps):
    """14: flags, row length (i32 with capability 0x4, else i16), the row
    and its pad; "length" overrides the length written."""
    row = _bytes_of(item)
    length = item.get("length", len(row))
    size = be32(length) if caps & CAP_EXTENDED else be16(length)
    return be16(R_TUPLE) + be16(item.get("flags", 0)) + size + _padded(row)


def build_done(item, caps):
    return (be16(R_DONE) + be16(item.get("flags", 0)) + be32(item.get("rows", 0)) +
            be32(item.get("serial", 0)) + be32(item.get("third", 0)))


def error_fields(item, caps):
    """The fields of an error after its code 13: code, ISAM error and
    position, the parameter (none for -368), and the tail (SQLSTATE and
    routine text) for -937, or for 0 with capability 0x4."""
    code = item.get("code", 0)
    out = be16(code)
    if item.get("isam_position", True):
        out += be16(item.get("isam", 0)) + be16(item.get("position", 0))
    if item.get("param_present", code != -368):
        param = _text(item.get("param", ""))
        out += be16(item.get("param_length", len(param))) + _padded(param)
    tail = item.get("tail", code == -937 or (code == 0 and bool(caps & CAP_EXTENDED)))
    if tail:
        state = (_text(item.get("sqlstate", "IX000")) + b"\x00" * 5)[:5]
        routine = _text(item.get("routine", ""))
        out += state + b"\x00" + be16(len(routine)) + _padded(routine)
    return out


def build_error(item, caps):
    return be16(R_ERROR) + error_fields(item, caps)


def build_perr(item, caps):
    return be16(R_PERR) + be32(item.get("rows", 0)) + error_fields(item, caps)


def build_dblist(item, caps):
    """26 (57 with "more"): names as u16 length, bytes, pad; length 0 ends
    (a name may be {"name": .., "length": n} to write a wrong length)."""
    out = be16(57 if item.get("more") else 26)
    for n in item.get("names", []):
        if isinstance(n, dict):
            name = _text(n.get("name", ""))
            out += be16(n.get("length", len(name))) + _padded(name)
        else:
            name = _text(n)
            out += be16(len(name)) + _padded(name)
    return out + be16(0)


def build_insertdone(item, caps):
    v = item.get("value", 0)
    sign = 0 if v is None else (-1 if v < 0 else 1)
    mag = abs(v or 0)
    return be16(R_INSERTDONE) + be16(sign) + be32(mag & 0xFFFFFFFF) + be32(mag >> 32)


FILE_OPS = {"open": 0, "close": 1, "read": 2, "write": 3}


def build_file(item, caps):
    """98: a server-driven file request. "op" open (i16 name length, name,
    pad, i32 mode, i32 flags, offset: INT8 with capability 0x2000, else
    i32), close, read (buffer size: i32 with 0x2000, else i16; i32 count)
    or write (a run of 107 data messages from "chunks", ended by "end"
    (13) and, for 13, "status"); open, close and read end with "next"
    (12). Knobs: "sub" (the sub-operation word), "name_length", a chunk
    {"text"|"hex", "length"} with a wrong length, and "bytes" (hex, text
    or script) for everything after the sub-operation."""
    op = item.get("op", "close")
    out = be16(98) + be16(item.get("sub", FILE_OPS.get(op, 0)))
    body = _bytes_of(item, "bytes")
    if body:
        return out + body
    wide = bool(caps & CAP_FILE_LONG)
    if op == "open":
        name = _text(item.get("name", ""))
        out += be16(item.get("name_length", len(name))) + _padded(name)
        out += be32(item.get("mode", 0o600)) + be32(item.get("flags", 0x10))
        offset = item.get("offset", 0)
        if wide:
            mag = abs(offset)
            out += be16(-1 if offset < 0 else 1) + be32(mag & 0xFFFFFFFF) + be32(mag >> 32)
        else:
            out += be32(offset)
    elif op == "read":
        out += (be32 if wide else be16)(item.get("buffer", 1024)) + be32(item.get("count", -1))
    elif op == "write":
        for c in item.get("chunks", []):
            data = _bytes_of(c, "data") if isinstance(c, dict) else _text(c)
            length = c.get("length", len(data)) if isinstance(c, dict) else len(data)
            out += be16(107) + be16(length) + _padded(data)
        end = item.get("end", R_ERROR)
        out += be16(end)
        if end == R_ERROR:
            out += be16(item.get("status", 0))
        return out
    return out + be16(item.get("next", END))


# Fast-path replies: 101 the routine handle, 104 the function-parameter
# block, 103 the return values.
CAP_FPARAM_LONG = 0x8  # entries of 104 carry i32, i16, i16 more
R_ROUTINE, R_FPRESULT, R_FPARAM = 101, 103, 104
E_NO_ROUTINE = -674  # no routine of that signature, or handle


def int8_bytes(v):
    """The 10-byte INT8 form of v (None: the NULL form, sign 0)."""
    if v is None:
        return be16(0) + be32(0) + be32(0)
    mag = abs(v)
    return be16(-1 if v < 0 else 1) + be32(mag & 0xFFFFFFFF) + be32(mag >> 32)


def decimal_bytes(value):
    """The DECIMAL wire form (u16 n, n packed bytes, pad when n is odd) of a
    decimal text or number: exponent byte and base-100 digit pairs,
    complemented when negative (the inverse of packed_decimal)."""
    d = decimal.Decimal(str(value))
    sign, digits, exp = d.as_tuple()
    coef = int("".join(map(str, digits)) or "0")
    if coef == 0:
        packed = bytes([0xC0])
    else:
        if exp % 2:
            coef, exp = coef * 10, exp - 1
        pairs = []
        while coef:
            coef, r = divmod(coef, 100)
            pairs.insert(0, r)
        e100 = exp // 2 + len(pairs)
        while pairs and pairs[-1] == 0:
            pairs.pop()
        if not -64 <= e100 < 64:
            raise ValueError("DECIMAL %s out of range" % value)
        if sign:
            packed = bytes([(e100 + 64) ^ 0x7F] + complement100(pairs))
        else:
            packed = bytes([(e100 + 64) | 0x80] + pairs)
    return be16(len(packed)) + _padded(packed)


def fp_value(v, caps):
    """One value of reply 103: type word; with capability 0x4, for a type
    above 18 other than 42 or a word with 0x800, two i16 0; indicator
    (-1 when "value" is null or absent and no bytes are given); precision
    word; the value by its type byte: 0 13 15 16 43 u16 length and the
    bytes (padded), 1 i16, 2 6 7 i32, 3 a big-endian double, 4 a float,
    5 8 10 14 the DECIMAL wire form (a decimal text), 17 18 the INT8,
    19-23 i16 0, i32 length and the stored collection (hex), 40 41 45 i32
    length and the bytes (padded); "length" overrides a written length."""
    word = v.get("type", 2)
    t = word & 0xFF
    given = v.get("value")
    data = _bytes_of(v, "value")
    null = given is None and not data
    out = be16(word)
    if caps & CAP_EXTENDED and ((t > 18 and t != 42) or word & 0x800):
        out += be16(0) + be16(0)
    out += be16(v.get("ind", -1 if null else 0)) + be16(v.get("prec", 0))
    if v.get("ind", -1 if null else 0) < 0:
        return out
    if t in TEXT_TYPES or t == 43:
        data = data or _text(given)
        return out + be16(v.get("length", len(data))) + _padded(data)
    if t == 1:
        return out + be16(given)
    if t in (2, 6, 7):
        return out + be32(given)
    if t == 3:
        return out + struct.pack(">d", given)
    if t == 4:
        return out + struct.pack(">f", given)
    if t in (5, 8, 10, 14):
        return out + decimal_bytes(given)
    if t in (17, 18):
        return out + int8_bytes(given)
    if 19 <= t <= 23:
        return out + be16(0) + be32(v.get("length", len(data))) + _padded(data)
    if t in (40, 41, 45):
        data = data or _text(given)
        return out + be32(v.get("length", len(data))) + _padded(data)
    return out


def build_fpresult(item, caps):
    """103: i16 count ("count" overrides it, e.g. -1) and the values."""
    values = item.get("values", [])
    return (be16(R_FPRESULT) + be16(item.get("count", len(values))) +
            b"".join(fp_value(v, caps) for v in values))


def fparam_entries(entries, count, caps):
    """i16 count, then per entry a byte, i16, i32, and with capability 0x8
    i32, i16, i16."""
    out = be16(len(entries) if count is None else count)
    for e in entries:
        out += bytes([e.get("byte", 0) & 0xFF]) + be16(e.get("w16", 0)) + be32(e.get("w32", 0))
        if caps & CAP_FPARAM_LONG:
            out += be32(e.get("x32", 0)) + be16(e.get("x16a", 0)) + be16(e.get("x16b", 0))
    return out


def build_fparam(item, caps):
    """104: INT8 "first", i32 "second", the byte "flag" (no pad); unless
    "short": i32 "third", INT8 "fourth", i32 "fifth", the lists "first_list"
    and "second_list" ("first_count", "second_count" override the counts)."""
    out = be16(R_FPARAM) + int8_bytes(item.get("first", 0)) + be32(item.get("second", 0))
    out += bytes([item.get("flag", 0) & 0xFF])
    if item.get("short"):
        return out
    out += be32(item.get("third", 0)) + int8_bytes(item.get("fourth", 0))
    out += be32(item.get("fifth", 0))
    out += fparam_entries(item.get("first_list", []), item.get("first_count"), caps)
    return out + fparam_entries(item.get("second_list", []), item.get("second_count"), caps)


def fastpath_reply(scenario, messages):
    """The reply items of a fast-path request by the scenario's "routines"
    ({signature: {"handle": N, "fparam": {...}, "results": [values],
    "result_count": n, "error": E}}), or None for any other request. 101
    with a known signature gets 101 with the handle and, when the block is
    wanted, the long 104 of "fparam"; 102 of a known handle gets the short
    104 of "fparam" when the request carries 104, then 103 with "results";
    an unknown signature or handle is -674. 105 gets the end. Without
    "routines" 101 and 102 get the default reply."""
    codes = [m["code"] for m in messages]
    end = {"kind": "end"}
    if codes and codes[0] == 105:
        return [end]
    if "routines" not in scenario:
        return None
    routines = scenario["routines"]
    for m in messages:
        if m["code"] == 101:
            r = routines.get(m["text"].decode("latin-1"))
            if r is None:
                return [{"kind": "error", "code": E_NO_ROUTINE}, end]
            if "error" in r:
                return [{"kind": "error", "code": r["error"]}, end]
            items = [{"kind": "routine", "handle": r.get("handle", 1)}]
            if m["wanted"]:
                items.append(dict(r.get("fparam", {}), kind="fparam"))
            return items + [end]
        if m["code"] == 102:
            r = next((r for r in routines.values() if r.get("handle", 1) == m["handle"]), None)
            if r is None:
                return [{"kind": "error", "code": E_NO_ROUTINE}, end]
            items = []
            if 104 in codes:
                items.append(dict(r.get("fparam", {}), kind="fparam", short=True))
            result = {"kind": "fpresult", "values": r.get("results", [])}
            if "result_count" in r:
                result["count"] = r["result_count"]
            return items + [result, end]
    return None

BUILDERS = {
    "file": build_file,
    "describe": build_describe,
    "tuple": build_tuple,
    "done": build_done,
    "error": build_error,
    "perr": build_perr,
    "end": lambda item, caps: be16(END),
    "exit": lambda item, caps: be16(EXIT),
    "closed": lambda item, caps: be16(R_CLOSED),
    "cost": lambda item, caps: be16(R_COST) + be32(item.get("first", 0)) +
    be32(item.get("second", 0)),
    "rowpos": lambda item, caps: be16(R_ROWPOS) + be32(item.get("position", 0)),
    "txstate": lambda item, caps: be16(R_TXSTATE) +
    b"".join(be16(w) for w in (list(item.get("words", [])) + [0, 0, 0])[:3]),
    "insertdone": build_insertdone,
    "dblist": build_dblist,
    "code": lambda item, caps: be16(item["code"]),
    "raw": lambda item, caps: _bytes_of(item, "bytes"),
    "routine": lambda item, caps: be16(R_ROUTINE) + be32(item.get("handle", 0)),
    "fparam": build_fparam,
    "fpresult": build_fpresult,
}


def build_reply(items, caps):
    """The bytes of a list of reply items; ValueError for an unknown kind."""
    out = b""
    for item in items:
        kind = item.get("kind")
        if kind not in BUILDERS:
            raise ValueError("unknown reply item %r" % kind)
        out += BUILDERS[kind](item, caps)
    return out


# ---------------------------------------------------------------------------
# Scenarios.


_SCENARIOS = {}  # path -> (file identity and times, bytes, object, times trusted)
# How far a file's change time must lie before the read of its bytes for
# an unchanged identity to prove unchanged bytes: file times come from a
# clock that lags by up to a scheduler tick.
_SETTLED_NS = 100_000_000


def load_scenario(path):
    """The scenario file's object ({} without a file or when it cannot be
    read whole: a test rewrites it atomically, so a half file never shows).
    The object is shared by every request until the file changes: callers
    do not change it. A file whose inode, size and times are those of the
    last read, taken well after its last change, is not read again; any
    other is read, and parsed only when its bytes differ."""
    if not path:
        return {}
    st = os.stat(path)
    ident = (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
    known = _SCENARIOS.get(path)
    if known is not None and known[0] == ident and known[3]:
        return known[2]
    read_at = time.time_ns()
    with open(path, "rb") as f:
        st = os.fstat(f.fileno())
        data = f.read()
    if known is not None and known[1] == data:
        scenario = known[2]
    else:
        scenario = json.loads(data.decode("latin-1"))
    ident = (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)
    # A change after this read gives the file times after read_at less a
    # tick: different from these only if these lie well before it.
    settled = max(st.st_mtime_ns, st.st_ctime_ns) < read_at - _SETTLED_NS
    _SCENARIOS[path] = (ident, data, scenario, settled)
    return scenario


def assoc_value(scenario, assoc, key, default):
    """A scenario value, the association's own ("associations") first."""
    per = scenario.get("associations", {}).get(str(assoc), {})
    return per.get(key, scenario.get(key, default))


def capabilities(scenario, assoc, default=0):
    return int(assoc_value(scenario, assoc, "capabilities", default))


# The client's ladder from the server's version text to its capability word
# (first row whose bounds the text meets, compared as byte strings).
VERSION_LADDER = (("9.0310", None, 0xFEBD), ("9.0308", None, 0x3EBD), ("9.0307", None, 0x1EBD),
                  ("9.0306", None, 0xEBD), ("9.0305", None, 0x6BD), ("9.0304", None, 0x2BD),
                  ("9.0303", None, 0xBD), ("9.0301", None, 0x3D), ("9.03", None, 0x1D),
                  ("9.02", None, 0xD), ("9.00", None, 0x5), ("8.31", None, 0x10001),
                  ("7.30", "7.z", 0x143), ("7.23", "7.z", 0x43), ("7.22", "7.z", 0x3),
                  ("6.00", None, 0x1))


def version_capabilities(args):
    """The capability word a client settles on with this double: the
    modern profile's number n is the text "9.0" n, the minimal profile's
    version text is cut as the client cuts it (two leading characters
    dropped when neither the second nor the third is ".", then cut before
    the second "."). The reply forms follow it unless the scenario gives
    "capabilities"."""
    number = sd.version_word(args)
    if number:
        text = "9.0%d" % number
    else:
        text = args.server_version or "8.00"
        if len(text) > 2 and text[1] != "." and text[2] != ".":
            text = text[2:]
        first = text.find(".")
        second = text.find(".", first + 1) if first >= 0 else -1
        if second >= 0:
            text = text[:second]
    v = text.encode("latin-1")
    for low, high, caps in VERSION_LADDER:
        if v >= low.encode() and (high is None or v < high.encode()):
            return caps
    return 0


def find_rule(scenario, messages):
    """The first rule the request matches, or None."""
    texts = [m["text"] for m in messages if m["code"] in (1, 2)]
    codes = [m["code"] for m in messages]
    for rule in scenario.get("rules", []):
        if "text" in rule and _text(rule["text"]) in texts:
            return rule
        if "code" in rule and rule["code"] in codes:
            return rule
    return None


# ---------------------------------------------------------------------------
# Session replies: what a request of the session calls gets when no rule of
# the scenario names it.

VERSION_REQUEST, TX_QUERY, INFO, OWNER = 53, 84, 81, 109
DEFAULT_INFO = {"version": 900, "text": "srvdvz", "flags1": [0], "flags2": [0]}


def counted_text(code, data):
    """code, u16 length, the bytes and their pad, the end 12 (the version
    and owner replies)."""
    return be16(code) + be16(len(data)) + _padded(data) + be16(END)


def _words(value):
    return b"".join(be32(w) for w in (value if isinstance(value, list) else [value]))


def info_items(info):
    """The items of the information reply after its code 81: each a type
    word, a length word and the bytes with their pad; then the lone type
    word info["end"] (0). A dict gives type 2 (the version number and the
    text), 3 (flags1) and 4 (flags2); "items" lists them as written
    ({"type", "hex"|"text"|"script", "length"}) for odd forms."""
    out = b""
    if "items" in info:
        for item in info["items"]:
            data = _bytes_of(item, "data")
            out += be16(item["type"]) + be16(item.get("length", len(data))) + _padded(data)
    else:
        text = be32(info.get("version", 0)) + _text(info.get("text", ""))
        out += be16(2) + be16(len(text)) + _padded(text)
        for typ, key in ((3, "flags1"), (4, "flags2")):
            if key in info:
                words = _words(info[key])
                out += be16(typ) + be16(len(words)) + words
    return out + be16(info.get("end", 0))


def session_reply(scenario, messages, session):
    """The bytes answering a session request, or None for any other. The
    version request 53 gets the version text; the transaction query 84 the
    scenario's "transaction" flag; the owner query 109 its "owner"; an
    information request 81 its "info" items; a lone exit 56 the exit,
    unless this double sent the association an exit (then it is the
    client's answer to it). session: the association number ("assoc"), the
    version text ("version") and whether an exit was sent ("exited")."""
    code = messages[0]["code"]
    assoc = session["assoc"]
    if code == VERSION_REQUEST:
        return counted_text(VERSION_REQUEST, session["version"].encode("latin-1"))
    if code == TX_QUERY:
        flag = int(assoc_value(scenario, assoc, "transaction", 0))
        return be16(TX_QUERY) + be16(flag) + be16(END)
    if code == OWNER:
        return counted_text(OWNER, _text(assoc_value(scenario, assoc, "owner", "dvzowner")))
    if code == INFO and messages[0].get("sub") != 6:
        return be16(INFO) + info_items(assoc_value(scenario, assoc, "info", DEFAULT_INFO))
    if code == EXIT and len(messages) == 1:
        return b"" if session["exited"] else be16(EXIT)
    return None


# ---------------------------------------------------------------------------
# Statement and cursor semantics: what a request gets when no rule of the
# scenario names it (and the scenario has no "default").

# Column types of table descriptions.
T_CHAR, T_SMALLINT, T_INTEGER, T_FLOAT, T_VARCHAR = 0, 1, 2, 3, 13
DEFAULT_TABLES = {"sysprofile": {"columns": [{"name": "name", "type": T_VARCHAR, "length": 64},
                                             {"name": "value", "type": T_INTEGER, "length": 4}],
                                 "rows": []}}
# The "sysprofile": "char" variant: name CHAR(18), for the transfer tests.
CHAR_TABLES = {"sysprofile": {"columns": [{"name": "name", "type": T_CHAR, "length": 18},
                                          {"name": "value", "type": T_INTEGER, "length": 4}],
                              "rows": []}}
TABLE_VARIANTS = {"varchar": DEFAULT_TABLES, "char": CHAR_TABLES}
E_NOT_OPEN = -400
# Statement types the describe reply gives. The DDL numbers are free ones,
# kept outside the types that change the current database (1, 12, 13, 31,
# 38) and those that return rows (2, 56).
ST_SELECT, ST_DATABASE, ST_UPDATE, ST_INSERT, ST_PROCEDURE = 2, 1, 4, 6, 56
ST_CREATE_TABLE, ST_DROP_TABLE, ST_OTHER_DDL = 8, 11, 9
DDL_WORDS = ("create", "alter", "drop", "grant", "revoke", "rename")
E_NO_TABLE, ISAM_NO_FILE, E_TABLE_EXISTS, E_NO_COLUMN, E_NO_STATEMENT = -206, -111, -310, -217, -410
E_SYNTAX, E_VALUE_COUNT, E_NOT_NUMERIC = -201, -236, -1213
MAX_STATEMENT_ID = 32767  # statement ids travel as i16
# Request codes the semantics read.
C_TEXT, C_PREPARE, C_ID, C_OPEN, C_EXECUTE, C_CLOSE, C_RELEASE = 1, 2, 4, 6, 7, 10, 11
C_INTO, C_WANT_DONE, C_PROCEDURE = 16, 49, 59
C_FETCH, C_SCROLL_FETCH = 9, 23
C_PUT = 17
BARE_END_CODES = frozenset((35, 19, 20, 36, 37))  # BEGIN COMMIT ROLLBACK DATABASE CLOSE-DATABASE


class SqlError(Exception):
    """A statement the double refuses: the error reply's fields."""

    def __init__(self, code, isam=0, param=""):
        super().__init__("%d %d %s" % (code, isam, param))
        self.item = {"kind": "error", "code": code, "isam": isam, "param": param}
        self.stmt_type = None  # set for a statement whose describe precedes the error


class Registry:
    """The double's tables: the scenario's "tables" (sysprofile by default),
    read anew for every request, overlaid with what statements did since the
    double started (tables created and dropped, rows inserted). Shared by
    every association."""

    def __init__(self):
        self.lock = threading.Lock()
        self.created = {}
        self.dropped = set()
        self.inserted = {}
        self.blobs = {}  # BYTE and TEXT values received, by id
        self.next_blob = 1000

    def lookup(self, scenario, name):
        """The table {"columns", "rows"} named name, or None."""
        if name in self.created:
            return self.created[name]
        if name in self.dropped:
            return None
        default = TABLE_VARIANTS.get(scenario.get("sysprofile", "varchar"), DEFAULT_TABLES)
        tables = {k.lower(): v for k, v in scenario.get("tables", default).items()}
        if name not in tables:
            return None
        t = tables[name]
        columns = t.get("columns", [])
        count = t.get("generate", 0)
        rows = generated_rows(columns, count)
        more = list(t.get("rows", [])) + self.inserted.get(name, [])
        return {"columns": columns,
                "rows": rows + more if more or not count else rows,  # never changed in place
                "generated": (_columns_key(columns), count) if count else None,
                "early_done": t.get("early_done", True)}

    def create(self, scenario, name, columns):
        if self.lookup(scenario, name) is not None:
            raise SqlError(E_TABLE_EXISTS, 0, name)
        self.created[name] = {"columns": columns, "rows": []}
        self.dropped.discard(name)

    def drop(self, scenario, name):
        if self.lookup(scenario, name) is None:
            raise SqlError(E_NO_TABLE, ISAM_NO_FILE, name)
        self.created.pop(name, None)
        self.inserted.pop(name, None)
        self.dropped.add(name)

    def insert(self, scenario, name, row, names=None):
        """Adds a row of literal values, for the columns names (all when
        None; the others NULL); -236 when their numbers differ, -217 for a
        name the table lacks, -1213 for a text in a numeric column."""
        table = self.lookup(scenario, name)
        if table is None:
            raise SqlError(E_NO_TABLE, ISAM_NO_FILE, name)
        cols = [_name(c.get("name", "")) for c in table["columns"]]
        names = cols if names is None else names
        if len(row) != len(names):
            raise SqlError(E_VALUE_COUNT)
        for n in names:
            if n not in cols:
                raise SqlError(E_NO_COLUMN, 0, n)
        given = dict(zip(names, row))
        row = [given.get(c) for c in cols]
        for col, value in zip(table["columns"], row):
            numeric = col.get("type", 0) & 0xFF in (T_SMALLINT, T_INTEGER, T_FLOAT, 6)
            if numeric and value is not None and not isinstance(value, (int, float)):
                raise SqlError(E_NOT_NUMERIC, 0, str(value))
        if name in self.created:
            self.created[name]["rows"].append(row)
        else:
            self.inserted.setdefault(name, []).append(row)


class Statements:
    """The statement ids of one association: id -> {"text", "open"}. Ids
    count from 1 and are not reused within the association until they pass
    the wire's i16 range; then they count again from 1, past the ids still
    in use (a long association, such as a probe's, runs past 32767
    statements)."""

    def __init__(self):
        self.ids = {}
        self.next_id = 1
        self.fetches = 0  # fetch requests (9 and 23) of the association
        self.put_rows = 0  # rows received by PUT (17) on the association
        self.caps = 0  # of the request being answered

    def allocate(self, text):
        for _ in range(MAX_STATEMENT_ID):
            if self.next_id > MAX_STATEMENT_ID:
                self.next_id = 1
            if self.next_id not in self.ids:
                break
            self.next_id += 1
        else:
            # Loud: the double cannot go on serving this association.
            raise ValueError("all %d statement ids in use" % MAX_STATEMENT_ID)
        sid = self.next_id
        self.next_id += 1
        self.ids[sid] = {"text": text, "open": False}
        return sid


def _has_marker(text):
    """True when text holds a "?" outside quotes."""
    quote = None
    for ch in text:
        if quote is not None:
            quote = None if ch == quote else quote
        elif ch in "'\"":
            quote = ch
        elif ch == "?":
            return True
    return False


def insert_cursor_describe(text, scenario, registry):
    """(table name, columns) of an INSERT whose values are placeholders (the
    text of an insert cursor): the listed columns, else all the table's;
    None for any other text. SqlError when the table or a column is
    unknown."""
    words = _words_of(text)
    lower = words.lower()
    if not lower.startswith("insert") or not _has_marker(words):
        return None
    name = _table_after(words, " into ")
    table = registry.lookup(scenario, name)
    if table is None:
        raise SqlError(E_NO_TABLE, ISAM_NO_FILE, name)
    at = lower.find(" values")
    listed = _inner(words[:at] if at >= 0 else words)
    if listed is None:
        return name, list(table["columns"])
    by_name = {_name(c.get("name", "")): c for c in table["columns"]}
    cols = []
    for n in (_name(x) for x in _split_list(listed)):
        if n not in by_name:
            raise SqlError(E_NO_COLUMN, 0, n)
        cols.append(by_name[n])
    return name, cols


def decode_stored_row(columns, data, compact=False):
    """The values of a stored row (the PUT form of an insert cursor's row)
    by the columns' types: CHAR and NCHAR their text without trailing
    blanks (None when it starts with a zero byte, the NULL form); SMALLINT,
    INTEGER, SERIAL and DATE numbers (None for their lowest value); FLOAT
    and SMALLFLOAT numbers; DECIMAL and MONEY the text of the Decimal;
    VARCHAR and NVARCHAR a length byte and the characters, padded to the
    width unless compact (length 1 with a zero byte is NULL); INT8 its
    number; any other type the hex of its bytes. Malformed when the row is
    shorter than its fields or longer."""
    cur = Cursor(bytes(data))
    out = []
    for col in columns:
        t, length = col.get("type", 0) & 0xFF, col.get("length", 0)
        if t in (0, 15):
            raw = cur.take(length)
            out.append(None if raw[:1] == b"\x00" else raw.rstrip(b" ").decode("latin-1"))
        elif t == T_SMALLINT:
            v = cur.s16()
            out.append(None if v == -32768 else v)
        elif t in (T_INTEGER, 6, 7):
            v = cur.s32()
            out.append(None if v == -(1 << 31) else v)
        elif t == T_FLOAT:
            out.append(struct.unpack(">d", cur.take(8))[0])
        elif t == 4:
            out.append(struct.unpack(">f", cur.take(4))[0])
        elif t in (5, 8):
            v = packed_decimal(cur.take(stored_size(col)))
            out.append(None if v is None else format(v.normalize(), "f"))
        elif t in (T_VARCHAR, 16):
            n = cur.take(1)[0]
            raw = cur.take(n)
            if not compact:
                cur.take(max(0, (length & 0xFF) - n))
            out.append(None if raw == b"\x00" else raw.decode("latin-1"))
        elif t == 17:
            out.append(int8_value(cur))
        else:
            out.append(cur.take(stored_size(col)).hex())
    if cur.pos != len(cur.data):
        raise Malformed("stored row of %d bytes, its fields take %d" % (len(cur.data), cur.pos))
    return out


def annotate_put(m, messages, statements):
    """Adds to a PUT message (17) the values of its rows ("value", one JSON
    list per row) decoded against the description of the statement whose
    id (4) came before it in the request; nothing when that statement has
    no description or a row does not decode (its "put_error" then says
    why)."""
    ids = [x["id"] for x in messages if x["code"] == C_ID]
    stmt = statements.ids.get(ids[-1]) if ids else None
    if stmt is None or "columns" not in stmt or "row" not in m:
        return
    compact = bool(statements.caps & CAP_VARCHAR_PAD)
    try:
        rows = [decode_stored_row(stmt["columns"], bytes.fromhex(r), compact) for r in m["row"]]
    except (Malformed, IndexError, ValueError, struct.error) as e:
        m["put_error"] = str(e)
        return
    m["decoded"] = rows
    m["value"] = [json.dumps(json_ready(r), separators=(",", ":")) for r in rows]


def put_items(stmt, puts, scenario, registry, state):
    """The reply items of the PUT messages of a request: each message's
    rows are added to the statement's table and answered by a done with
    their number; the scenario's "put_error" {"row": n, "code": c} refuses
    the n-th row the association sends (counted from 1) with error c after
    the rows before it. Returns (items, refused)."""
    inject = scenario.get("put_error") or {}
    items = []
    for m in puts:
        if "put_error" in m:
            return items + [{"kind": "error", "code": E_SYNTAX, "param": m["put_error"]}], True
        rows = m.get("decoded", [])
        taken = 0
        for row in rows:
            state.put_rows += 1
            if inject and state.put_rows == inject.get("row"):
                return items + [{"kind": "error", "code": inject.get("code", -239)}], True
            registry.insert(scenario, stmt["table"], row, stmt["names"])
            taken += 1
        items.append({"kind": "done", "rows": taken if rows else m.get("rows", 0)})
    return items, False


def _words_of(text):
    return " ".join(text.decode("latin-1").replace("\n", " ").split())


def _name(word):
    """A table or column name as the registry keys it: lower case, without
    quotes or an owner prefix."""
    word = word.strip().strip('"').lower()
    return word.rsplit(".", 1)[-1].strip('"')


def _split_list(text):
    """Comma-separated items at parenthesis depth 0, quotes respected (a
    blank last item dropped)."""
    items = [t.strip() for t in split_top(text, lambda c: c == ",", "'\"", False)]
    return items[:-1] if items and not items[-1] else items


def _inner(text):
    """The text between the first "(" and its matching ")", or None."""
    start = text.find("(")
    if start < 0:
        return None
    depth = 0
    for i in range(start, len(text)):
        depth += {"(": 1, ")": -1}.get(text[i], 0)
        if depth == 0:
            return text[start + 1 : i]
    return None


TYPE_WORDS = {"char": (T_CHAR, 1), "character": (T_CHAR, 1), "smallint": (T_SMALLINT, 2),
              "integer": (T_INTEGER, 4), "int": (T_INTEGER, 4), "serial": (6, 4),
              "float": (T_FLOAT, 8), "varchar": (T_VARCHAR, 255)}


def _column_defs(body):
    """Columns of CREATE TABLE's list: name, type and length (a size in
    parentheses counts for CHAR and VARCHAR); unknown types are INTEGER."""
    cols = []
    for item in _split_list(body or ""):
        words = item.split()
        if len(words) < 2 or words[0].lower() in ("primary", "unique", "check", "foreign"):
            continue
        tword = words[1].lower().split("(")[0]
        typ, length = TYPE_WORDS.get(tword, (T_INTEGER, 4))
        size = _inner(item)
        if size and typ in (T_CHAR, T_VARCHAR):
            try:
                length = int(size.split(",")[0])
            except ValueError:
                pass
        cols.append({"name": _name(words[0]), "type": typ, "length": length})
    return cols


def _literal(item):
    item = item.strip()
    if len(item) >= 2 and item[0] in "'\"" and item[-1] == item[0]:
        return item[1:-1]
    if item.lower() == "null":
        return None
    for conv in (int, float):
        try:
            return conv(item)
        except ValueError:
            pass
    return item


_GENERATED = {}
_ENCODED = {}  # (generated key, picks) -> the stored rows of a generated table
_BATCHES = {}  # (_ENCODED key, first, end) -> the joined tuples of those rows
# Work done once per columns list while it is unchanged: id -> (the list,
# a copy to compare it with, the result). The list is held, so its id is
# not reused while it is here.
_COLUMN_KEYS = {}
_SELECTS = {}
_MEMO_SIZE = 64


def _memo_get(memo, key, columns):
    """The result kept in memo under key for this columns list, or None
    when there is none or the list changed since."""
    known = memo.get(key)
    if known is not None and known[0] is columns and known[1] == columns:
        return known[2]
    return None


def _memo_put(memo, key, columns, result):
    if len(memo) >= _MEMO_SIZE:
        memo.clear()
    memo[key] = (columns, copy.deepcopy(columns), result)
    return result


def _columns_key(columns):
    """A text naming the content of a table's columns (their JSON with
    sorted keys): the key of its generated rows."""
    key = _memo_get(_COLUMN_KEYS, id(columns), columns)
    if key is None:
        key = _memo_put(_COLUMN_KEYS, id(columns), columns, json.dumps(columns, sort_keys=True))
    return key


def generated_rows(columns, count):
    """count rows for a table's "generate": row i (from 1) holds i in a
    numeric column and the column's name followed by i in a character one.
    Kept between requests (a scenario is read anew for each)."""
    if not count:
        return []
    key = (_columns_key(columns), count)
    if key not in _GENERATED:
        numeric = [(c.get("type", 0) & 0xFF) in (T_SMALLINT, T_INTEGER, T_FLOAT, 6)
                   for c in columns]
        _GENERATED.clear()
        _ENCODED.clear()
        _BATCHES.clear()
        _GENERATED[key] = [[i if num else "%s%d" % (c.get("name", ""), i)
                            for c, num in zip(columns, numeric)] for i in range(1, count + 1)]
    return _GENERATED[key]


def stored_size(col):
    """Bytes of a column's field in a stored row: VARCHAR and NVARCHAR a
    length byte and their width; DECIMAL, MONEY, DATETIME, INTERVAL their
    packed digits; any other its length."""
    t, length = col.get("type", 0) & 0xFF, col.get("length", 0)
    if t in (T_VARCHAR, 16):
        return (length & 0xFF) + 1
    if t in (5, 8, 10, 14):
        return ((length >> 8) + (length & 1) + 3) // 2
    return length


def stored_columns(columns):
    """The describe columns with their starts in the stored row, and the
    row size."""
    out, start = [], 0
    for c in columns:
        out.append(dict(c, start=start))
        start += stored_size(c)
    return out, start


def row_bytes(columns, row, compact=False):
    """A stored row: per column INTEGER big-endian 4 bytes, SMALLINT 2,
    FLOAT 8, VARCHAR a length byte and the bytes (NULs to the column's
    width unless compact: capability 0x1000), BYTE and TEXT (length 56) the
    stored descriptor of {"id", "size"} (None: NULL), CHAR blank-padded to
    its length; a row given as {"hex": ...} is taken as it is."""
    if isinstance(row, dict):
        return _bytes_of(row)
    out = b""
    for col, value in zip(columns, row):
        t = col.get("type", 0) & 0xFF
        if t in (T_INTEGER, 6):
            out += struct.pack(">i", int(value or 0))
        elif t == T_SMALLINT:
            out += struct.pack(">h", int(value or 0))
        elif t == T_FLOAT:
            out += struct.pack(">d", float(value or 0))
        elif t in (11, 12):
            # BYTE and TEXT: the stored descriptor of {"id", "size"}, or NULL.
            out += (blob_descriptor(int(value["id"]), int(value["size"])) if value
                    else blob_descriptor(0, 0, null=True))
        elif t == T_VARCHAR:
            # A length byte, the characters, and NULs to the column's width.
            width = col.get("length", 255) & 0xFF
            data = _text("" if value is None else str(value))[:width]
            out += bytes((len(data),)) + data + (b"" if compact else b"\x00" * (width - len(data)))
        else:
            data = _text("" if value is None else str(value))
            out += (data + b" " * col.get("length", 0))[: max(col.get("length", 0), len(data))]
    return out


def tuple_item(columns, row, caps):
    """The tuple reply item of a row (compact VARCHAR with capability 0x1000)."""
    if isinstance(row, dict):
        return dict(row, kind="tuple")
    return {"kind": "tuple", "hex": row_bytes(columns, row, bool(caps & CAP_VARCHAR_PAD))}


def _select_columns(words, table):
    """The describe columns of a SELECT's list against the table, and the
    indexes of the table's columns they are; -217 for a name the table
    lacks. Worked out once per text and columns list while both are the
    same (a cursor's every fetch asks again)."""
    columns = table["columns"]
    key = (words, id(columns))
    known = _memo_get(_SELECTS, key, columns)
    if known is None:
        known = _memo_put(_SELECTS, key, columns, _select_columns_of(words, table))
    return list(known[0]), list(known[1])


def _select_columns_of(words, table):
    lower = words.lower()
    start = len("select")
    end = lower.find(" from ")
    items = _split_list(words[start:end])
    by_name = {_name(c["name"]): c for c in table["columns"]}
    cols, picks = [], []
    for item in items:
        if not item.split():
            raise SqlError(E_SYNTAX)
        if item.strip() == "*":
            cols += table["columns"]
            picks += list(range(len(table["columns"])))
            continue
        name = _name(item.split()[0])
        if name not in by_name:
            raise SqlError(E_NO_COLUMN, 0, name)
        cols.append(by_name[name])
        picks.append(list(by_name).index(name))
    return cols, picks


def _table_after(words, keyword):
    """The name after keyword (" from ", "into ", "table "), or ""."""
    lower = " " + words.lower() + " "
    i = lower.find(keyword)
    if i < 0:
        return ""
    rest = lower[i + len(keyword) :].split()
    return _name(rest[0].split("(")[0]) if rest else ""


def run_text(text, codes, scenario, registry):
    """Carries out a statement text: (statement type, describe columns,
    rows count, row for SELECT ... INTO or None). SqlError for a refused
    one (with the statement type, except for a SELECT, whose error comes
    alone); None for a text the double does not know."""
    try:
        return _run_text(text, codes, scenario, registry)
    except SqlError as e:
        if e.stmt_type is None:
            e.stmt_type = _kind_of(_words_of(text).lower())
        raise


def _kind_of(lower):
    """The statement type of a registry statement's text (None for SELECT)."""
    for prefix, stype in (("insert", ST_INSERT), ("update", ST_UPDATE),
                          ("create table ", ST_CREATE_TABLE), ("drop table ", ST_DROP_TABLE)):
        if lower.startswith(prefix):
            return stype
    return None


def _run_text(text, codes, scenario, registry):
    words = _words_of(text)
    lower = words.lower()
    head = lower.split(" ", 1)[0] if lower else ""
    if head == "select":
        name = _table_after(words, " from ")
        table = registry.lookup(scenario, name)
        if table is None:
            raise SqlError(E_NO_TABLE, ISAM_NO_FILE, name)
        cols, picks = _select_columns(words, table)
        rows = table["rows"]
        row = None
        if C_INTO in codes and rows:
            first = rows[0]
            row = first if isinstance(first, dict) else [first[i] for i in picks]
        return ST_SELECT, cols, 1 if row is not None else 0, row
    if head == "insert":
        name = _table_after(words, " into ")
        at = lower.find(" values")
        if at < 0 and " select " in lower:
            if registry.lookup(scenario, name) is None:
                raise SqlError(E_NO_TABLE, ISAM_NO_FILE, name)
            return ST_INSERT, [], 0, None  # rows of a query are not copied
        raw_values = words[at:] if at >= 0 else ""
        row = [_literal(v) for v in _split_list(_inner(raw_values) or "")]
        listed = _inner(words[:at] if at >= 0 else words)
        names = None if listed is None else [_name(n) for n in _split_list(listed)]
        registry.insert(scenario, name, row, names)
        return ST_INSERT, [], 1, None
    if head == "update":
        name = _table_after(words, "update ")
        table = registry.lookup(scenario, name)
        if table is None:
            raise SqlError(E_NO_TABLE, ISAM_NO_FILE, name)
        return ST_UPDATE, [], len(table["rows"]), None
    if lower.startswith("create table "):
        name = _table_after(words, "table ")
        registry.create(scenario, name, _column_defs(_inner(words)))
        return ST_CREATE_TABLE, [], 0, None
    if lower.startswith("drop table "):
        registry.drop(scenario, _table_after(words, "table "))
        return ST_DROP_TABLE, [], 0, None
    if head == "database":
        return ST_DATABASE, [], 0, None
    if lower.startswith("execute procedure"):
        # A procedure the scenario lists ("procedures": {name: {"columns",
        # "rows"}}) returns its first row to EXECUTE PROCEDURE (59).
        name = _name(words[len("execute procedure"):].split("(")[0])
        proc = {k.lower(): v for k, v in scenario.get("procedures", {}).items()}.get(name)
        if proc is None:
            return ST_PROCEDURE, [], 0, None
        rows = proc.get("rows", [])
        row = rows[0] if C_PROCEDURE in codes and rows else None
        return ST_PROCEDURE, proc.get("columns", []), 1 if row is not None else 0, row
    if head in DDL_WORDS and " " in lower:
        return ST_OTHER_DDL, [], 0, None
    return None


C_BIND = 5


def _bound_text(text, values):
    """text with each "?" outside quotes replaced by the literal of the
    next value (NULL when values runs out or the value is NULL): what a
    prepared statement runs with its bind values."""
    out, quote, it = [], None, iter(values)
    for ch in text.decode("latin-1"):
        if quote is not None:
            quote = None if ch == quote else quote
        elif ch in "'\"":
            quote = ch
        elif ch == "?":
            v = next(it, None)
            if isinstance(v, bytes):
                v = v.decode("latin-1")
            if v is None:
                ch = "null"
            elif isinstance(v, str):
                ch = "'" + v.replace("'", "''") + "'"
            else:
                ch = str(v)
        out.append(ch)
    return "".join(out).encode("latin-1")


def _scratch_registry(registry):
    """A copy of the registry's own changes: a PREPARE parses and describes
    its statement against it, and carries nothing out."""
    scratch = Registry()
    scratch.created = copy.deepcopy(registry.created)
    scratch.dropped = set(registry.dropped)
    scratch.inserted = copy.deepcopy(registry.inserted)
    return scratch


_SOURCES = {}  # statement text -> its words and the table after FROM


def _select_source(text):
    """A statement text's words and the name after its FROM, kept per
    text (a cursor's every fetch asks again)."""
    known = _SOURCES.get(text)
    if known is None:
        if len(_SOURCES) >= _MEMO_SIZE:
            _SOURCES.clear()
        words = _words_of(text)
        known = _SOURCES[text] = (words, _table_after(words, " from "))
    return known


def fetch_items(stmt, m, scenario, registry, nth, caps=0):
    """The reply items of a fetch request m (9 or 23) on an open statement:
    the tuples of as many rows as fit the requested size (at most the
    fetch array size when the request carries one), then for a scroll
    fetch the position of the first, and the done when the last row went
    (a table with "early_done": false sends it only to a fetch that finds
    no rows). The scenario's "fetch_error": {"at": n, "code": E} answers
    the association's n-th fetch request with the error E."""
    fault = scenario.get("fetch_error")
    if fault and fault.get("at") == nth:
        return [{"kind": "error", "code": fault.get("code", -244), "isam": fault.get("isam", 0)}]
    if not stmt.get("open"):
        raise SqlError(E_NOT_OPEN)
    words, source = _select_source(stmt["text"])
    table = registry.lookup(scenario, source)
    if table is None or not words.lower().startswith("select"):
        raise SqlError(E_NOT_OPEN)
    cols, picks = _select_columns(words, table)
    rows = table["rows"]
    generated = table.get("generated")
    compact = bool(caps & CAP_VARCHAR_PAD)
    if generated is not None:
        # Rows and their tuple replies made once: a benchmark fetches
        # thousands of them per second. ends[k] is the stored size of the
        # first k rows, so that a batch is found by one search.
        key = (generated, tuple(picks), compact, caps & CAP_EXTENDED)
        if key not in _ENCODED:
            stored = [row_bytes(cols, [r[i] for i in picks], compact)
                      for r in rows[: generated[1]]]
            ends = [0]
            for b in stored:
                ends.append(ends[-1] + len(b))
            _ENCODED[key] = ([build_tuple({"hex": b}, caps) for b in stored], ends)
        encoded, ends = _ENCODED[key]
    else:
        encoded, ends = [], [0]
    if m["code"] == C_SCROLL_FETCH:
        d, p = m["direction"], m["position"]
        start = {1: stmt["last"] + 1, 2: stmt["first"] - 1, 3: 1, 4: len(rows), 5: stmt["first"],
                 6: p, 7: stmt["first"] + p}.get(d, 0)
    else:
        start = stmt["sent"] + 1
    wires, room, at = [], m["size"], start
    most = m.get("array", 0) if m.get("array", 0) > 0 else len(rows)
    if 1 <= at <= len(encoded):
        # The run of encoded rows that fits the room (the first always
        # goes), joined at once; the loop below then finds the next row too
        # large, or goes on past the encoded ones.
        s = at - 1
        last = min(len(encoded), s + most)
        e = max(bisect.bisect_right(ends, ends[s] + room, s + 1, last + 1) - 1, s + 1)
        # A pass over a table asks for the same batches again.
        batch = _BATCHES.get((key, s, e))
        if batch is None:
            if len(_BATCHES) >= 4096:
                _BATCHES.clear()
            batch = _BATCHES[(key, s, e)] = b"".join(encoded[s:e])
        wires.append(batch)
        room -= ends[e] - ends[s]
        at = e + 1
    while 1 <= at <= len(rows) and at - start < most:
        if at <= len(encoded):
            size, wire = ends[at] - ends[at - 1], encoded[at - 1]
        else:
            row = rows[at - 1]
            data = _bytes_of(row) if isinstance(row, dict) else row_bytes(
                cols, [row[i] for i in picks], compact)
            size, wire = len(data), build_tuple({"hex": data}, caps)
        if wires and size > room:
            break
        wires.append(wire)
        room -= size
        at += 1
    # The tuples as one item of their bytes (taken as they are).
    items = [{"kind": "raw", "hex": b"".join(wires)}] if wires else []
    if m["code"] == C_SCROLL_FETCH and items:
        items.append({"kind": "rowpos", "position": start})
    if items:
        stmt.update(first=start, last=at - 1)
        stmt["sent"] = max(stmt["sent"], at - 1)
    if (not items) or (at > len(rows) and table.get("early_done", True)):
        items.append({"kind": "done", "rows": at - start if items else 0})
    return items


def semantic_reply(scenario, messages, state, registry):
    """The reply items for a request by the double's own semantics, or None
    when it has none for it (the scenario's default then applies).

    A statement text (1 or 2) is carried out and gets its describe (with a
    new statement id, dropped again when the request releases it with 11),
    a done when the request executes or wants one (7, 16, 49, 59), and the
    end. [4 id] with 6 opens the statement's cursor, with 7 executes it, with
    10 closes and with 11 releases it: each answered with the end (an unknown
    id on an open or execute is -410; on a close or release it is ignored).
    BEGIN, COMMIT, ROLLBACK, DATABASE and CLOSE DATABASE get the end."""
    codes = [m["code"] for m in messages]
    texts = [m for m in messages if m["code"] in (C_TEXT, C_PREPARE)]
    end = {"kind": "end"}
    try:
        with registry.lock:
            if texts:
                text = texts[0]["text"]
                cursor = None
                if texts[0]["code"] == C_TEXT and C_EXECUTE not in codes:
                    cursor = insert_cursor_describe(text, scenario, registry)
                if cursor is not None:
                    # An insert cursor's text: described, run only by PUT.
                    name, cols = cursor
                    sid = state.allocate(text)
                    stored, size = stored_columns(cols)
                    state.ids[sid].update(table=name, columns=cols,
                                          names=[_name(c.get("name", "")) for c in cols])
                    items = [{"kind": "describe", "stmt_type": ST_INSERT, "stmt_id": sid,
                              "columns": stored, "row_size": size}]
                    if C_WANT_DONE in codes:
                        items.append({"kind": "done", "rows": 0})
                    return items + [end]
                if texts[0]["code"] == C_PREPARE and C_EXECUTE not in codes:
                    # Prepared only: described with its placeholders as NULL.
                    done = run_text(_bound_text(text, []), codes, scenario,
                                    _scratch_registry(registry))
                    if done is not None:
                        done = (done[0], done[1], 0, None)
                else:
                    done = run_text(text, codes, scenario, registry)
                if done is None:
                    return None
                stype, cols, count, row = done
                sid = state.allocate(texts[0]["text"])
                if C_RELEASE in codes:
                    del state.ids[sid]
                stored, size = stored_columns(cols)
                items = [{"kind": "describe", "stmt_type": stype, "stmt_id": sid,
                          "columns": stored, "row_size": size}]
                if row is not None:
                    items.append(tuple_item(cols, row, state.caps))
                if set(codes) & {C_EXECUTE, C_INTO, C_WANT_DONE, C_PROCEDURE}:
                    items.append({"kind": "done", "rows": count})
                return items + [end]
            ids = [m["id"] for m in messages if m["code"] == C_ID]
            if ids:
                stmt = state.ids.get(ids[0])
                if stmt is None:
                    if C_OPEN in codes or C_EXECUTE in codes:
                        raise SqlError(E_NO_STATEMENT)
                    return [end]
                items = []
                puts = [m for m in messages if m["code"] == C_PUT]
                if puts and "table" in stmt:
                    put, refused = put_items(stmt, puts, scenario, registry, state)
                    if refused:
                        return put + [end]
                    items += put
                if set(codes) & {C_EXECUTE, C_INTO, C_PROCEDURE}:
                    # Runs with the bind values (5) in its placeholders; a
                    # SELECT ... INTO or EXECUTE PROCEDURE returns its row.
                    binds = [v.get("value") for m in messages if m["code"] == C_BIND
                             for v in m["values"]]
                    try:
                        _, cols, count, row = run_text(
                            _bound_text(stmt["text"], binds), codes, scenario, registry) or (
                            0, [], 0, None)
                    except SqlError as e:
                        return [e.item, end]  # described when prepared
                    if row is not None:
                        items.append(tuple_item(cols, row, state.caps))
                    items.append({"kind": "done", "rows": count})
                if C_OPEN in codes:
                    stmt.update(open=True, sent=0, first=0, last=0)
                fetch = [m for m in messages if m["code"] in (C_FETCH, C_SCROLL_FETCH)]
                if fetch:
                    state.fetches += 1
                    return items + fetch_items(stmt, fetch[0], scenario, registry,
                                               state.fetches, state.caps) + [end]
                if C_CLOSE in codes:
                    stmt["open"] = False
                if C_RELEASE in codes:
                    del state.ids[ids[0]]
                return items + [end]
            if codes and codes[0] in BARE_END_CODES:
                return [end]
            fastpath = fastpath_reply(scenario, messages)
            if fastpath is not None:
                return fastpath
    except SqlError as e:
        items = [e.item, end]
        if e.stmt_type is not None:
            # The statement was understood: its type comes before the error.
            items.insert(0, {"kind": "describe", "stmt_type": e.stmt_type})
        return items
    return None


# ---------------------------------------------------------------------------
# BYTE and TEXT values. A value travels as chunks (39, u16 length, bytes,
# pad) ended by a chunk of length 0; 40 abandons it. The double keeps every
# value a request sends under a new id, and serves a value asked for by its
# stored descriptor (38) from those and the scenario's "blobs". A
# descriptor carries the id at byte 4, the start and end words at bytes 8
# and 12 (end - start + 1 is the size) and the flag word at byte 38 (bit 0:
# NULL).

C_BLOB_REQUEST, C_BLOB_CHUNK, C_BLOB_ABORT = 38, 39, 40
BLOB_ASKING = frozenset((4, C_BLOB_REQUEST, 92, END))  # the codes of a request for values
E_NO_BLOB = -608


def blob_descriptor(blob_id, size, null=False, start=1):
    """The 56-byte stored descriptor of value blob_id of size bytes."""
    d = bytearray(BLOB_DESC)
    struct.pack_into(">iii", d, 4, blob_id, start, start + size - 1)
    struct.pack_into(">H", d, 38, 1 if null else 0)
    return bytes(d)


def sent_blobs(messages):
    """The values a request sends, in order: bytes, or None for a value
    abandoned with 40 (its chunks so far dropped)."""
    values = []
    current = None
    for m in messages:
        if m["code"] == C_BLOB_CHUNK:
            if m["length"] == 0:
                values.append(bytes(current or b""))
                current = None
            else:
                current = (current or bytearray()) + bytes.fromhex(m["data"])
        elif m["code"] == C_BLOB_ABORT:
            values.append(None)
            current = None
    return values


def scenario_blob(entry):
    """A value of the scenario's "blobs": {"hex"}, {"text"} or {"size",
    "fill"} (the fill text repeated to size bytes)."""
    if "hex" in entry:
        return bytes.fromhex(entry["hex"])
    if "text" in entry:
        return entry["text"].encode("utf-8")
    fill = entry.get("fill", "x").encode("utf-8") or b"x"
    size = int(entry.get("size", 0))
    return (fill * (size // len(fill) + 1))[:size]


def blob_reply(scenario, messages, registry):
    """The reply to a request asking for values (38, alone with its id or
    in the array form 92): each value's chunks of the scenario's
    "blob_chunk" bytes (1024) and its chunk of length 0, then the end. An
    id the double does not know is the error -608."""
    size = max(1, int(scenario.get("blob_chunk", 1024)))
    known = {int(k): v for k, v in scenario.get("blobs", {}).items()}
    out = bytearray()
    for m in messages:
        if m["code"] != C_BLOB_REQUEST:
            continue
        blob_id = struct.unpack_from(">i", bytes.fromhex(m["desc"]), 4)[0]
        if blob_id in known:
            value = scenario_blob(known[blob_id])
        else:
            with registry.lock:
                value = registry.blobs.get(blob_id)
        if value is None:
            return build_reply([{"kind": "error", "code": E_NO_BLOB}, {"kind": "end"}], 0)
        for at in range(0, len(value), size):
            piece = value[at:at + size]
            out += be16(C_BLOB_CHUNK) + be16(len(piece)) + _padded(piece)
        out += be16(C_BLOB_CHUNK) + be16(0)
    return bytes(out + be16(END))


def reply_for(scenario, messages, caps, session=None):
    """(reply bytes, rule) for a request: a rule's, else a session reply,
    else (when the session carries "state" and "registry" and the scenario
    has no "default") the double's statement semantics, else the default. A
    rule with faults alone gets the reply it would get without the rule.
    Without session (no session replies) an exit (56) no rule matches is not
    answered."""
    rule = find_rule(scenario, messages)
    if rule is None and session is not None:
        data = session_reply(scenario, messages, session)
        if data is not None:
            return data, {}
    if rule is None and messages[-1]["code"] == EXIT:
        return b"", {}
    if (rule is None and session is not None and "registry" in session
            and any(m["code"] == C_BLOB_REQUEST for m in messages)
            and all(m["code"] in BLOB_ASKING for m in messages)):
        return blob_reply(scenario, messages, session["registry"]), {}
    rule = rule or {}
    if "error" in rule:
        items = [{"kind": "error", "code": rule["error"]}, {"kind": "end"}]
    elif "reply" in rule:
        items = rule["reply"]
    else:
        items = None
        if session is not None and "state" in session and "default" not in scenario:
            session["state"].caps = caps
            items = semantic_reply(scenario, messages, session["state"], session["registry"])
        if items is None:
            items = scenario.get("default", [{"kind": "end"}])
    if isinstance(items, str):
        return parse_script(items), rule
    return build_reply(items, caps), rule


# ---------------------------------------------------------------------------
# The server.

# Connect faults a scenario may switch: the listener's own (refuse,
# full-queue) stay with the command line.
CONNECT_FAULTS = ("close", "reset", "silent", "byte-writes", "short", "cut")


def connect_options(args, entry):
    """A copy of the command line's options with the scenario's "connect"
    object applied: "reject" (ERR, "ERR,ISAM", [ERR, ISAM] or null),
    "reject_message" (text or null), "faults" (a list of connect fault
    names, replacing --fault), "delay_ms". A named key replaces the
    command line's value; --times no longer limits them. ValueError for a
    value that is not one of these."""
    if not isinstance(entry, dict):
        raise ValueError("connect: an object expected")
    unknown = set(entry) - {"reject", "reject_message", "faults", "delay_ms"}
    if unknown:
        raise ValueError("connect: unknown key %s" % sorted(unknown)[0])
    a = copy.copy(args)
    a.times = None
    if "reject" in entry:
        r = entry["reject"]
        if r is None:
            a.reject = None
        elif isinstance(r, int) and not isinstance(r, bool):
            a.reject = (r, 0)
        elif isinstance(r, str):
            try:
                a.reject = sd.error_pair(r)
            except (ValueError, argparse.ArgumentTypeError):
                raise ValueError("connect: reject %r" % r) from None
        elif isinstance(r, list) and 1 <= len(r) <= 2 and all(
                isinstance(v, int) and not isinstance(v, bool) for v in r):
            a.reject = (r[0], r[1] if len(r) > 1 else 0)
        else:
            raise ValueError("connect: reject %r" % (r,))
    if "reject_message" in entry:
        m = entry["reject_message"]
        if m is not None and not isinstance(m, str):
            raise ValueError("connect: reject_message %r" % (m,))
        a.reject_message = m
    if "faults" in entry:
        names = entry["faults"]
        if not isinstance(names, list):
            raise ValueError("connect: faults must be a list")
        for name in names:
            if not isinstance(name, str) or name.partition("=")[0] not in CONNECT_FAULTS:
                raise ValueError("connect: fault %r" % (name,))
            sd.fault(name)  # the command line's check of its value
        a.fault = list(names)
    if "delay_ms" in entry:
        delay = entry["delay_ms"]
        if not isinstance(delay, int) or isinstance(delay, bool) or delay < 0:
            raise ValueError("connect: delay_ms %r" % (delay,))
        a.delay = delay
    return a


def stalls_disconnect(scenario, assoc, messages):
    """Whether this request is one of a disconnect's (the transaction query
    84, a lone exit 56) and the scenario's "disconnect_stall" holds."""
    if not assoc_value(scenario, assoc, "disconnect_stall", False):
        return False
    code = messages[0]["code"]
    return code == TX_QUERY or (code == EXIT and len(messages) == 1)


class SqliServer(sd.Server):
    """The TCP double whose data stream is SQLI (--sqli) or replayed
    (--replay)."""

    def __init__(self, args):
        super().__init__(args)
        self.errors = 0
        self.error_lock = threading.Lock()
        self.registry = Registry()
        self.default_caps = version_capabilities(args)
        self.raw_port = None
        if args.replay:
            # The raw replay port: a plain socket, no connect request.
            self.raw = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.raw.bind(("127.0.0.1", 0))
            self.raw.listen(16)
            self.raw_port = self.raw.getsockname()[1]
            threading.Thread(target=self.accept_raw, daemon=True).start()

    def ready_text(self, port):
        """The port, and with --replay a second line with the raw port."""
        if self.raw_port is None:
            return "%d\n" % port
        return "%d\n%d\n" % (port, self.raw_port)

    def connect_args(self, assoc):
        """The command line's connect options, changed by the scenario's
        "connect" object (read anew at every connect) when it has one."""
        try:
            scenario = load_scenario(self.args.scenario)
            entry = assoc_value(scenario, assoc, "connect", None)
            return self.args if entry is None else connect_options(self.args, entry)
        except (OSError, ValueError, argparse.ArgumentTypeError) as err:
            with self.error_lock:
                self.errors += 1
            sys.stderr.write("sqli_engine: association %d: scenario: %s\n" % (assoc, err))
            raise Malformed("scenario: %s" % err) from None

    def failed(self, conn, reason, raw):
        """Journals a request that cannot be served; the exit status shows it."""
        with self.error_lock:
            self.errors += 1
        self.journal.write(conn.assoc, 0, "error", [("reason", reason)], raw)
        sys.stderr.write("sqli_engine: association %d: %s\n" % (conn.assoc, reason))

    def more(self, conn, held, dl):
        """Appends the next bytes of the data stream to held (a data frame's
        body when the session has headers)."""
        if not conn.headers:
            held += conn.read_some(dl)
            return
        hdr = conn.read_exact(sd.HEADER_SIZE, dl)
        length, typ, flag, _ = sd.parse_header(hdr)
        if typ != sd.T_DATA or length < sd.HEADER_SIZE:
            raise Malformed("data frame of type %d, length %d" % (typ, length))
        held += conn.read_exact(length - sd.HEADER_SIZE, dl)

    def send_reply(self, conn, faults, data):
        if data.endswith(be16(EXIT)):
            conn.exited = True  # the client's 56 that follows is its answer
        if conn.headers and data:
            data = sd.header(len(data) + sd.HEADER_SIZE, sd.T_DATA, 0) + data
        if data:
            conn.send(data, faults)

    def serve_data(self, conn, faults):
        if self.args.replay:
            return self.serve_replay(conn, faults)
        held = bytearray()
        state = ParseState()
        conn.exited = False
        conn.statements = Statements()
        messages = []
        lines = []  # journal lines of the messages parsed since the last read
        scenario = {}
        while True:
            if not messages and not held:
                # The scenario is read when a request's bytes come, once.
                self.more(conn, held, self.deadline())
                continue
            if not messages:
                # A new request: the scenario as it is now.
                try:
                    scenario = load_scenario(self.args.scenario)
                except (OSError, ValueError) as e:
                    self.failed(conn, "scenario: %s" % e, b"")
                    return "close"
                state.caps = capabilities(scenario, conn.assoc, self.default_caps)
            cur = StreamCursor(held)
            try:
                m = parse_message(cur, state)
            except NeedMore:
                # Every message read is journaled before the next wait.
                self.journal_lines(conn, lines)
                self.more(conn, held, self.deadline())
                continue
            except Malformed as e:
                self.journal_lines(conn, lines)
                self.failed(conn, str(e), held)
                return "close"
            raw = bytes(held[: cur.pos])
            del held[: cur.pos]
            if m["code"] == C_PUT:
                conn.statements.caps = state.caps
                annotate_put(m, messages, conn.statements)
            lines.append(([f for f in journal_fields(m) if f[0] != "decoded"], raw))
            messages.append(m)
            if ends_request(m):
                self.journal_lines(conn, lines)
                self.answer(conn, faults, scenario, messages, state.caps)
                messages = []

    def journal_lines(self, conn, lines):
        """Journals the messages of lines [(fields, raw)] in one write, and
        empties lines."""
        self.journal.write_lines(conn.assoc, 0, "sqli", lines)
        lines.clear()

    def keep_blobs(self, conn, messages):
        """Stores the values the request sent, each journaled as
        what=blob with its new id, size, SHA-256 and (up to 8192 bytes)
        data; abandoned=1 for one abandoned."""
        for value in sent_blobs(messages):
            if value is None:
                self.journal.write(conn.assoc, 0, "blob", [("abandoned", 1)])
                continue
            with self.registry.lock:
                blob_id = self.registry.next_blob
                self.registry.next_blob += 1
                self.registry.blobs[blob_id] = value
            fields = [("id", blob_id), ("size", len(value)),
                      ("sha256", hashlib.sha256(value).hexdigest())]
            if len(value) <= 8192:
                fields.append(("data", value.hex()))
            self.journal.write(conn.assoc, 0, "blob", fields)

    def answer(self, conn, faults, scenario, messages, caps):
        self.keep_blobs(conn, messages)
        session = {"assoc": conn.assoc, "exited": conn.exited,
                   "version": self.args.server_version or "8.00",
                   "state": conn.statements, "registry": self.registry}
        try:
            data, rule = reply_for(scenario, messages, caps, session)
        except (ValueError, KeyError, TypeError) as e:
            self.failed(conn, "scenario reply: %s" % e, b"")
            raise sd.Closed("done") from None
        if rule.get("delay_ms"):
            time.sleep(rule["delay_ms"] / 1000.0)
        if rule.get("stall") or stalls_disconnect(scenario, conn.assoc, messages):
            return  # accepted, and this request is never answered
        items = rule.get("reply")
        if isinstance(items, list) and any(i.get("kind") == "file" for i in items):
            return self.answer_in_parts(conn, faults, items, caps)
        if "exit_at" in rule:
            data = data[: rule["exit_at"]] + be16(EXIT)
        if "close_at" in rule:
            self.send_reply(conn, faults, data[: rule["close_at"]])
            raise sd.Closed("done")
        if "truncate" in rule:
            data = data[: rule["truncate"]]
        self.send_reply(conn, faults, data)

    def accept_raw(self):
        """Serves the raw replay port until the double stops: every
        connection in a thread of its own."""
        self.raw.settimeout(0.2)
        while not self.stopping.is_set():
            try:
                sock, _ = self.raw.accept()
            except OSError:
                continue
            sock.settimeout(None)
            threading.Thread(target=self.serve_raw, args=(sock,), daemon=True).start()

    def serve_raw(self, sock):
        """One raw connection: the replay sequence from its first line,
        round and round, until the client closes (nothing journaled but a
        bad replay file)."""
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        conn = sd.Conn(sock, 0, self)
        try:
            self.serve_replay(conn, sd.Faults())
        except (sd.Closed, OSError):
            pass
        finally:
            sock.close()

    def answer_in_parts(self, conn, faults, items, caps):
        """A reply holding file requests (98): the bytes up to each one are
        sent, then the client's answer (its messages up to 12) is read and
        journaled before the reply goes on; an item with "answer": false
        is not waited for."""
        part = []
        for item in items:
            part.append(item)
            if item.get("kind") == "file" and item.get("answer", True):
                self.send_reply(conn, faults, build_reply(part, caps))
                part = []
                self.read_answer(conn, caps)
        if part:
            self.send_reply(conn, faults, build_reply(part, caps))

    def read_answer(self, conn, caps):
        """Reads and journals the client's answer to a file request (with
        the field answer=98), up to its 12."""
        held, state = bytearray(), ParseState(caps)
        while True:
            cur = StreamCursor(held)
            try:
                m = parse_message(cur, state)
            except NeedMore:
                self.more(conn, held, self.deadline())
                continue
            except Malformed as e:
                self.failed(conn, "file answer: %s" % e, held)
                raise sd.Closed("done") from None
            raw = bytes(held[: cur.pos])
            del held[: cur.pos]
            self.journal.write(conn.assoc, 0, "sqli", journal_fields(m) + [("answer", "98")], raw)
            if m["code"] == END:
                return

    def serve_replay(self, conn, faults):
        try:
            table = load_replay(self.args.replay)
        except (OSError, ValueError) as err:
            self.failed(conn, "replay file: %s" % err, b"")
            return "close"
        first = True
        while True:
            for size, reply, once in table:
                if once and not first:
                    continue
                conn.read_exact(size, self.deadline())
                self.send_reply(conn, faults, reply)
            first = False


def load_replay(path):
    """[(request size, reply bytes, once)] of a replay file; a line
    "once SIZE HEX" is played on the first pass only (what a client sends
    once a connection, before the exchanges it repeats). ValueError for a
    size below 1, bad hex, or no line that is played every pass."""
    out = []
    with open(path) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            word, _, rest = line.partition(" ")
            once = word == "once"
            size, _, hexa = (rest.strip() if once else line).partition(" ")
            size = int(size, 0)
            if size < 1:
                raise ValueError("request size %d" % size)
            out.append((size, bytes.fromhex("".join(hexa.split())), once))
    if all(once for _, _, once in out):
        raise ValueError("no exchange")
    return out


# ---------------------------------------------------------------------------
# Command line.


def split_arguments(argv):
    """argv without this mode's options, and their values."""
    rest, values, it = [], {"sqli": False, "scenario": None, "replay": None}, iter(argv)
    for word in it:
        name, eq, value = word.partition("=")
        if word == "--sqli":
            values["sqli"] = True
        elif name in ("--scenario", "--replay"):
            values[name[2:]] = value if eq else next(it, None)
        else:
            rest.append(word)
    return rest, values


def main(argv):
    """Runs the TCP double with the SQLI engine until SIGTERM or its
    lifetime; exit status 3 when a request could not be served."""
    server = SqliServer(sd.mode_args(*split_arguments(argv)))
    sd.run_until_stopped(server)
    return 3 if server.errors else 0


def decode_main(argv):
    p = argparse.ArgumentParser(prog="sqli_engine", description="decode SQLI request bytes")
    p.add_argument("--decode-hex", required=True, help="the bytes, in hex")
    p.add_argument("--caps", type=lambda t: int(t, 0), default=0, help="capability bits")
    p.add_argument("--bind-list", action="store_true",
                   help="the bytes are a bind list after its code (count first)")
    a = p.parse_args(argv)
    data = bytes.fromhex("".join(a.decode_hex.split()))
    try:
        out = decode_bind_list(data, a.caps) if a.bind_list else decode_request(data, a.caps)
    except Malformed as e:
        print(json.dumps({"error": str(e)}))
        return 1
    print(json.dumps(json_ready(out)))
    return 0


if __name__ == "__main__":
    sys.exit(decode_main(sys.argv[1:]))
