"""Tests of the double's SQLI engine (sqli_engine.py): the decoder against
requests written by hand in sqli_engine_scripts.txt, DECIMAL against
Python's decimal module, the reply builders against hand-written bytes,
and the running program (--sqli, --scenario, --replay) over loopback,
with every fault knob checked on the wire; the statement and cursor
semantics (statement ids, cursor open and close, the table registry) on
the wire.

Run from this folder: python3 -B -m unittest test_sqli_engine (ctest does).
"""

import decimal
import hashlib
import json
import os
import random
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from double_test_support import h, program
import client_mode as cm  # noqa: E402
import sqli_double as d  # noqa: E402
import sqli_engine as e  # noqa: E402
from test_css_mode import fields_of  # noqa: E402
from test_sqli_double import BINARY_CONNECT, Double, read_message, recv_all  # noqa: E402

SCRIPTS = e.load_scripts(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                      "sqli_engine_scripts.txt"))


def caps_of(name):
    for tag, caps in (("caps4", 0x4), ("caps80", 0x80), ("caps10", 0x10)):
        if tag in name:
            return caps
    return 0


# ---------------------------------------------------------------------------
# An encoder of packed DECIMALs written here from the stored-form rules, to
# drive the decoder with values Python's decimal module chose.


def pack_decimal(value):
    """The DECIMAL wire form (u16 n, n packed bytes, pad) of a Decimal."""
    sign, digits, exp = value.as_tuple()
    text = "".join(map(str, digits)).lstrip("0")
    if not text:
        return b"\x00\x01\x80\x00"  # zero: one exponent byte, bit 7 set
    # Align to base-100 pairs: the value is 0.d1 d2 ... times 100^e100.
    frac_digits = -exp
    if frac_digits % 2:
        text += "0"
        frac_digits += 1
    int_len = len(text) - frac_digits
    if int_len % 2:
        text = "0" + text
        int_len += 1
    if int_len < 0:
        text = "0" * (-int_len) + text
        int_len = 0
    pairs = [int(text[i : i + 2]) for i in range(0, len(text), 2)]
    e100 = int_len // 2
    while pairs and pairs[0] == 0:
        pairs.pop(0)
        e100 -= 1
    while pairs and pairs[-1] == 0:
        pairs.pop()
    head = (e100 + 64) & 0x7F
    if sign:
        pairs = e.complement100(pairs)
        head ^= 0x7F
    else:
        head |= 0x80
    packed = bytes([head] + pairs)
    n = len(packed)
    return n.to_bytes(2, "big") + packed + (b"\x00" if n % 2 else b"")


class Decoder(unittest.TestCase):
    """Every request script decodes whole; the fields are those written."""

    EXPECTED = {
        "req_command_odd": [{"code": 1, "inputs": 2, "text": b"select?"}],
        "req_prepare_empty": [{"code": 2, "markers": 0, "text": b""}],
        "req_fetch": [{"code": 9, "size": 4096}],
        "req_fetch_caps80": [{"code": 9, "size": 4096, "array": 10}],
        "req_put_rows": [{"code": 17, "size": 3, "rows": 2, "row": ["616263", "646566"]}],
        "req_put_empty": [{"code": 17, "size": 0, "rows": 5}],
        "req_put_long_caps10": [{"code": 17, "size": 2, "rows": 1, "row": ["7879"]}],
        "req_scroll_fetch": [{"code": 23, "direction": 6, "position": -3, "size": 2048}],
        "req_update_list": [{"code": 32, "count": 2, "name": [b"a", b"bc"], "end": 0}],
        "req_environment": [{"code": 81, "sub": 6, "length": 16, "maxname": 4, "maxvalue": 2,
                             "env": [b"TZ=x"]}],
        "req_file_read": [{"code": 106, "count": 3},
                          {"code": 106, "length": 3, "data": "616263"}],
        "req_routine_block": [{"code": 104, "int8": 5, "word": 3, "flag": 1}],
        "req_return_types": [{"code": 100, "first": 1, "count": 2, "entries": [
            {"type": 2, "length": 4},
            {"type": 40, "owner": b"own", "tname": b"pt", "length": 9}]}],
    }

    BIND_VALUES = {
        "req_bind_null": {"type": 2, "ind": -1, "prec": 0, "value": None},
        "req_bind_smallint": {"type": 1, "ind": 0, "prec": 0x500, "value": 7},
        "req_bind_integer": {"type": 2, "ind": 0, "prec": 0xA00, "value": -5},
        "req_bind_char": {"type": 0, "ind": 0, "prec": 0, "value": b"abc"},
        "req_bind_double": {"type": 3, "ind": 0, "prec": 0, "value": 1.5},
        "req_bind_float": {"type": 4, "ind": 0, "prec": 0, "value": 1.5},
        "req_bind_decimal": {"type": 5, "ind": 0, "prec": 0x402,
                             "value": decimal.Decimal("12.34")},
        "req_bind_decimal_negative": {"type": 5, "ind": 0, "prec": 0x100,
                                      "value": decimal.Decimal(-5)},
        "req_bind_decimal_null": {"type": 5, "ind": 0, "prec": 0, "value": None},
        "req_bind_datetime": {"type": 10, "ind": 0, "prec": 0x0A0A,
                              "value": decimal.Decimal(7)},
        "req_bind_blob": {"type": 11, "ind": 0, "prec": 0, "value": "00" * 54 + "0010"},
        "req_bind_int8": {"type": 17, "ind": 0, "prec": 0x1300, "value": -(2**32 + 5)},
        "req_bind_lvarchar": {"type": 43, "ind": 0, "prec": 0, "value": b"xyz"},
        "req_bind_boolean": {"type": 45, "ind": 0, "prec": 0, "value": "01"},
        "req_bind_flagged": {"type": 0x8001, "ind": 0, "prec": 0x500, "value": -2},
        "req_bind_udt_caps4": {"type": 40, "owner": b"own", "tname": b"ty", "ind": 0,
                               "prec": 0, "value": "6162"},
        "req_bind_record_names_caps4": {"type": 19, "owner": b"", "tname": b"", "ind": 0,
                                        "prec": 0, "value": "09"},
    }

    def test_every_request_script_decodes_whole(self):
        for name, data in SCRIPTS.items():
            if not name.startswith("req_"):
                continue
            with self.subTest(name=name):
                msgs = e.decode_request(data, caps_of(name))
                self.assertGreaterEqual(len(msgs), 1)
                if name in self.EXPECTED:
                    self.assertEqual(msgs, self.EXPECTED[name])

    def test_bind_values_of_every_form(self):
        for name, value in self.BIND_VALUES.items():
            with self.subTest(name=name):
                msgs = e.decode_request(SCRIPTS[name], caps_of(name))
                self.assertEqual(msgs, [{"code": 5, "count": 1, "values": [value]}])
                # The list after the code decodes the same on its own.
                self.assertEqual(e.decode_bind_list(SCRIPTS[name][2:], caps_of(name)),
                                 {"count": 1, "values": [value]})

    def test_capabilities_change_what_is_read(self):
        # The same bytes without the capability: the names are taken for
        # indicator and precision, and the list no longer ends where it should.
        with self.assertRaises(e.Malformed):
            e.decode_request(SCRIPTS["req_bind_udt_caps4"], 0)
        # A fetch with an array size of 99 is whole with capability 0x100;
        # without it the size is read as a request code, and refused.
        fetch = bytes.fromhex("000910000063")
        self.assertEqual(e.decode_request(fetch, 0x100), [{"code": 9, "size": 4096, "array": 99}])
        with self.assertRaises(e.Malformed):
            e.decode_request(fetch[:6], 0)

    def test_malformed_requests_are_refused(self):
        cases = [
            ("unknown code", "0063"),
            ("truncated text", "0001 0000 0005 6162"),
            ("negative bind count", "0005 ffff"),
            ("negative value length", "0005 0001 002b 0000 0000 ffffffff"),
            ("DECIMAL of 19 bytes", "0005 0001 0005 0000 0000 0013" + "c1" * 20),
            ("DECIMAL digit 100", "0005 0001 0005 0000 0000 0002 c164"),
            ("piece beyond the announced count", "006a 00000002 006a 0003 616263 00"),
            ("information sub-code 3", "0051 0003"),
            ("bind list with bytes after it", None),
        ]
        for what, hexa in cases:
            with self.subTest(what=what):
                with self.assertRaises(e.Malformed):
                    if hexa is None:
                        e.decode_bind_list(SCRIPTS["req_bind_smallint"][2:] + b"\x00\x0c")
                    else:
                        e.decode_request(bytes.fromhex(hexa.replace(" ", "")))

    def test_packed_decimals_of_the_stored_form_examples(self):
        cases = [("c10100", "1"), ("3e6300", "-1"), ("c03200", "0.5"), ("3f6300", "-0.01"),
                 ("000000", None), ("80", "0"), ("00", None)]
        for hexa, want in cases:
            with self.subTest(packed=hexa):
                got = e.packed_decimal(bytes.fromhex(hexa))
                self.assertEqual(got, None if want is None else decimal.Decimal(want))

    def test_decimals_chosen_by_python_round_trip(self):
        rng = random.Random(34)
        for _ in range(500):
            digits = rng.randint(1, 32)
            scale = rng.randint(0, digits)
            n = rng.randrange(10 ** digits) * rng.choice((1, -1))
            value = decimal.Decimal(n).scaleb(-scale)
            with self.subTest(value=str(value)):
                got = e.wire_decimal(e.Cursor(pack_decimal(value)))
                self.assertEqual(got, value)

    def test_command_line_prints_json(self):
        out = subprocess.run([sys.executable, "-B", program("sqli_engine.py"), "--decode-hex",
                              "0001 0005 0000 0000 0003 c10c22 00", "--bind-list"],
                             capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertEqual(json.loads(out.stdout),
                         {"count": 1, "values": [{"type": 5, "ind": 0, "prec": 0,
                                                  "value": "12.34"}]})
        out = subprocess.run([sys.executable, "-B", program("sqli_engine.py"), "--decode-hex",
                              "0063"], capture_output=True, text=True, timeout=30)
        self.assertEqual(out.returncode, 1)
        self.assertIn("unknown request code 99", json.loads(out.stdout)["error"])


class Builders(unittest.TestCase):
    """Reply items against the hand-written reply scripts."""

    CASES = [
        ("rep_describe_short", 0,
         [{"kind": "describe", "stmt_type": 2, "stmt_id": 5, "cost": 9,
           "columns": [{"name": "a", "type": 2, "length": 4},
                       {"name": "nm", "type": 0, "length": 10}]}]),
        ("rep_describe_caps4", 4,
         [{"kind": "describe", "columns": [{"name": "c", "type": 40, "length": 4, "xid": 1,
                                            "owner": "own", "type_name": "ty", "w1": 3,
                                            "w2": 4, "source": 5}]}]),
        ("rep_tuple_short", 0, [{"kind": "tuple", "flags": 3, "text": "abc"}]),
        ("rep_tuple_caps4", 4, [{"kind": "tuple", "hex": "6162"}]),
        ("rep_tuple_negative", 0, [{"kind": "tuple", "text": "ab", "length": -1}]),
        ("rep_done", 0, [{"kind": "done", "flags": 5, "rows": 3, "serial": 6, "third": -1}]),
        ("rep_error_param", 0,
         [{"kind": "error", "code": -206, "isam": -111, "param": "ha_dbms_loc"}]),
        ("rep_error_368", 0, [{"kind": "error", "code": -368, "isam": -1, "position": 2}]),
        ("rep_error_937", 0,
         [{"kind": "error", "code": -937, "sqlstate": "38000", "routine": "boom"}]),
        ("rep_error_zero_caps4", 4, [{"kind": "error", "code": 0, "sqlstate": "01000"}]),
        ("rep_perr", 0,
         [{"kind": "perr", "rows": 4, "code": -239, "isam": -100, "param": "ix"}]),
        ("rep_cost_rowpos_txstate", 0,
         [{"kind": "cost", "first": 10, "second": 20}, {"kind": "rowpos", "position": 30},
          {"kind": "txstate", "words": [1, 0, 2]}]),
        ("rep_insertdone", 0, [{"kind": "insertdone", "value": -7}]),
        ("rep_dblist", 0, [{"kind": "dblist", "names": ["db1", "dbs2"]}]),
        ("rep_dblist_more_bad", 0,
         [{"kind": "dblist", "more": True, "names": [{"name": "", "length": 65535}]}]),
        ("rep_end_exit_closed", 0, [{"kind": "closed"}, {"kind": "end"}, {"kind": "exit"}]),
    ]

    def test_items_give_the_scripted_bytes(self):
        for name, caps, items in self.CASES:
            with self.subTest(name=name):
                self.assertEqual(e.build_reply(items, caps).hex(), SCRIPTS[name].hex())

    def test_an_error_without_a_tail_on_a_server_without_capability_4(self):
        self.assertEqual(e.build_reply([{"kind": "error", "code": 0}], 0).hex(),
                         "000d" "0000" "0000" "0000" "0000")

    def test_an_unknown_item_is_refused(self):
        with self.assertRaises(ValueError):
            e.build_reply([{"kind": "nonsense"}], 0)


# ---------------------------------------------------------------------------
# The program.


class Engine:
    """The double with --sqli and a scenario file in its directory, and one
    connected client that has been accepted."""

    def __init__(self, scenario, *args):
        self.dbl_args = args
        self.scenario_obj = scenario

    def __enter__(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.scenario = os.path.join(self.tmp.name, "scenario.json")
        self.write(self.scenario_obj)
        self.double = Double("--sqli", "--scenario", self.scenario, "--read-timeout", "20",
                             *self.dbl_args)
        return self

    def __exit__(self, *exc):
        self.double.stop()
        self.tmp.cleanup()

    def write(self, obj):
        tmp = self.scenario + ".tmp"
        with open(tmp, "w") as f:
            json.dump(obj, f)
        os.replace(tmp, self.scenario)

    def connect(self):
        s = self.double.connect()
        s.sendall(BINARY_CONNECT)
        hdr, body = read_message(s)
        assert hdr[2] == 2, hdr.hex()
        return s

    def sqli_lines(self):
        return [fields_of(line) for line in self.double.lines() if " what=sqli " in line]

    def wait_sqli(self, count, timeout=10):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            lines = self.sqli_lines()
            if len(lines) >= count:
                return lines
            time.sleep(0.02)
        raise AssertionError("%d sqli lines wanted: %r" % (count, self.double.lines()))


def recv_for(s, seconds):
    """Everything received within `seconds`, and whether the peer closed.
    The socket's own time-out is put back afterwards."""
    out = b""
    end = time.monotonic() + seconds
    kept = s.gettimeout()
    s.settimeout(0.05)
    try:
        while time.monotonic() < end:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                return out, True
            out += chunk
        return out, False
    finally:
        s.settimeout(kept)


def recv_expect(s, n, seconds=20):
    """At least n bytes (or what came before the peer closed), waiting up to
    `seconds` for them, then a short look for any byte beyond them; and
    whether the peer closed."""
    out = b""
    end = time.monotonic() + seconds
    kept = s.gettimeout()
    s.settimeout(0.05)
    try:
        while len(out) < n and time.monotonic() < end:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                continue
            if not chunk:
                return out, True
            out += chunk
    finally:
        s.settimeout(kept)
    more, closed = recv_for(s, 0.1)
    return out + more, closed


def send_split(s, data, size):
    for i in range(0, len(data), size):
        s.sendall(data[i : i + size])
        time.sleep(0.001)


END = SCRIPTS["req_end"]


class Program(unittest.TestCase):
    def test_every_scripted_message_is_journaled_at_every_split(self):
        names = [n for n in SCRIPTS if n.startswith("req_") and caps_of(n) == 0 and
                 n not in ("req_end", "req_exit", "req_info")]
        request = b"".join(SCRIPTS[n] for n in names) + END
        expected = e.decode_request(request)
        with Engine({}) as eng:
            for size in (1, 7, len(request)):
                s = eng.connect()
                before = len(eng.sqli_lines())
                send_split(s, request, size)
                self.assertEqual(recv_all(s, 2), b"\x00\x0c")  # the default reply
                lines = eng.wait_sqli(before + len(expected))[before:]
                self.assertEqual(len(lines), len(expected))
                at = 0
                for m, line in zip(expected, lines):
                    self.assertEqual(line["code"], str(m["code"]))
                    raw = bytes.fromhex(line["raw"])
                    self.assertEqual(raw, request[at : at + len(raw)])
                    at += len(raw)
                self.assertEqual(at, len(request))
                s.close()
            self.assertEqual(eng.double.stop(), 0)

    def test_journal_fields_are_verbatim(self):
        with Engine({}) as eng:
            s = eng.connect()
            s.sendall(SCRIPTS["req_prepare"] + SCRIPTS["req_bind_char"] +
                      SCRIPTS["req_bind_null"] + END)
            recv_all(s, 2)
            lines = [line for line in eng.double.lines() if " what=sqli " in line]
            self.assertIn(" code=2 markers=1 text=select\\x20*\\x20from\\x20t\\x20where"
                          "\\x20a\\x20=\\x20? raw=", lines[0])
            self.assertIn(" code=5 count=1 v1.type=0 v1.ind=0 v1.prec=0 v1.value=abc raw=",
                          lines[1])
            self.assertIn(" code=5 count=1 v1.type=2 v1.ind=-1 v1.prec=0 raw=", lines[2])
            self.assertIn(" code=12 raw=000c", lines[3])

    def test_an_unknown_request_fails_loudly(self):
        with Engine({}) as eng:
            s = eng.connect()
            s.sendall(SCRIPTS["req_open"] + b"\x00\x63\x00\x00")
            _, closed = recv_for(s, 5)
            self.assertTrue(closed)
            line = eng.double.wait_line(" what=error ")
            self.assertIn("reason=unknown\\x20request\\x20code\\x2099", line)
            self.assertIn("raw=00630000", line)
            self.assertEqual(len(eng.sqli_lines()), 1)  # the open before it
            self.assertEqual(eng.double.stop(), 3)

    def test_replies_by_text_and_code_and_the_scenario_read_anew(self):
        select = "select a, nm from t"
        scenario = {"rules": [
            {"text": select, "reply": [
                {"kind": "describe", "stmt_type": 2, "stmt_id": 5, "cost": 9,
                 "columns": [{"name": "a", "type": 2, "length": 4},
                             {"name": "nm", "type": 0, "length": 10}]},
                {"kind": "end"}]},
            {"code": 9, "reply": [{"kind": "tuple", "flags": 3, "text": "abc"},
                                  {"kind": "done", "flags": 5, "rows": 3, "serial": 6,
                                   "third": -1},
                                  {"kind": "end"}]}]}
        with Engine(scenario) as eng:
            s = eng.connect()
            prepare = b"\x00\x02\x00\x00" + e.be16(len(select)) + select.encode() + b"\x00"
            s.sendall(prepare + END)
            want = SCRIPTS["rep_describe_short"] + END
            self.assertEqual(recv_all(s, len(want)), want)
            s.sendall(SCRIPTS["req_id"] + SCRIPTS["req_fetch"] + END)
            want = SCRIPTS["rep_tuple_short"] + SCRIPTS["rep_done"] + END
            self.assertEqual(recv_all(s, len(want)), want)
            # Another statement text: the default end.
            s.sendall(SCRIPTS["req_command_even"] + END)
            self.assertEqual(recv_all(s, 2), END)
            # Rewritten between requests: the next request sees the new file.
            eng.write({"default": [{"kind": "closed"}, {"kind": "end"}]})
            s.sendall(SCRIPTS["req_commit"] + END)
            self.assertEqual(recv_all(s, 4), b"\x00\x0a\x00\x0c")

    def test_capability_profile_per_association(self):
        scenario = {"capabilities": 0, "associations": {"2": {"capabilities": 4}},
                    "rules": [{"code": 9, "reply": [{"kind": "tuple", "hex": "6162"},
                                                    {"kind": "end"}]}]}
        with Engine(scenario) as eng:
            first = eng.connect()
            first.sendall(SCRIPTS["req_fetch"] + END)
            # Without capability 4 the row length is an i16.
            self.assertEqual(recv_all(first, 8).hex(), "000e000000026162")
            second = eng.connect()
            # Names in a bind value are read on the capability-4 association.
            second.sendall(SCRIPTS["req_bind_udt_caps4"] + SCRIPTS["req_fetch"] + END)
            want = SCRIPTS["rep_tuple_caps4"] + END
            self.assertEqual(recv_all(second, len(want)), want)
            line = eng.double.wait_line(" code=5 ")
            self.assertIn(" assoc=2 ", line)
            self.assertIn(" v1.owner=own v1.tname=ty ", line)
            self.assertEqual(eng.double.stop(), 0)

    def test_fault_knobs_put_their_bytes_on_the_wire(self):
        reply = [{"kind": "describe", "columns": [{"name": "a", "type": 2, "length": 4}]},
                 {"kind": "tuple", "hex": "00000001"}, {"kind": "end"}]
        full = e.build_reply(reply, 0)
        cases = [
            ("error", {"error": -206}, e.build_reply(
                [{"kind": "error", "code": -206}, {"kind": "end"}], 0), False),
            ("close_at", {"reply": reply, "close_at": 9}, full[:9], True),
            ("truncate", {"reply": reply, "truncate": 11}, full[:11], False),
            ("exit_at", {"reply": reply, "exit_at": 20}, full[:20] + b"\x00\x38", False),
            ("unknown code", {"reply": [{"kind": "code", "code": 77}]}, b"\x00\x4d", False),
            ("oversized length", {"reply": [{"kind": "tuple", "hex": "01", "length": 30000}]},
             bytes.fromhex("000e00007530") + b"\x01\x00", False),
            ("exit mid-reply", {"reply": reply[:1] + [{"kind": "exit"}] + reply[1:]},
             e.build_reply(reply[:1], 0) + b"\x00\x38" + e.build_reply(reply[1:], 0), False),
        ]
        for what, rule, wire, closes in cases:
            with self.subTest(what=what):
                rule = dict(rule, text="select a from t")
                with Engine({"rules": [rule]}) as eng:
                    s = eng.connect()
                    s.sendall(b"\x00\x01\x00\x00\x00\x0f" + b"select a from t\x00" + END)
                    got, closed = recv_expect(s, len(wire))
                    self.assertEqual(got.hex(), wire.hex())
                    self.assertEqual(closed, closes)
                    if what == "truncate":
                        # The connection stays and serves the next request.
                        s.sendall(SCRIPTS["req_commit"] + END)
                        self.assertEqual(recv_all(s, 2), END)

    def test_delay_before_a_reply_and_the_client_exit_answer(self):
        with Engine({"rules": [{"code": 19, "delay_ms": 400,
                                "reply": [{"kind": "exit"}]}]}) as eng:
            s = eng.connect()
            t0 = time.monotonic()
            s.sendall(SCRIPTS["req_commit"] + END)
            self.assertEqual(recv_all(s, 2), b"\x00\x38")
            self.assertGreaterEqual(time.monotonic() - t0, 0.38)
            # The client answers 56 and closes: journaled, not answered.
            s.sendall(b"\x00\x38")
            got, closed = recv_for(s, 0.4)
            self.assertEqual(got, b"")
            s.close()
            eng.double.wait_line(" what=eof")
            self.assertEqual([line["code"] for line in eng.sqli_lines()], ["19", "12", "56"])
            self.assertEqual(eng.double.stop(), 0)

    def test_requests_across_data_frames_with_headers(self):
        with Engine({"default": [{"kind": "done"}, {"kind": "end"}]}, "--mux") as eng:
            s = eng.double.connect()
            s.sendall(BINARY_CONNECT[:3] + bytes([61 | 0x80]) + BINARY_CONNECT[4:])
            hdr, _ = read_message(s)
            self.assertEqual(hdr[3] & 0x80, 0x80)
            request = SCRIPTS["req_prepare"] + END
            for part in (request[:5], request[5:]):  # split inside the text
                s.sendall(d.header(len(part) + 6, d.T_DATA, 0) + part)
            hdr, body = read_message(s)
            self.assertEqual(hdr[2], d.T_DATA)
            self.assertEqual(body, e.build_reply([{"kind": "done"}, {"kind": "end"}], 0))
            self.assertEqual([line["code"] for line in eng.wait_sqli(2)], ["2", "12"])


def connect_with(eng, **request):
    """Connects with a request of client_mode.Request(**request); the
    reply's header and body."""
    prefix, body = cm.build_request(cm.Request(**request))
    s = eng.double.connect()
    s.sendall(prefix + body)
    hdr, rbody = read_message(s)
    return s, hdr, rbody


def reply_fields(body):
    """The fields of a connect reply body (read as the request form is)."""
    return dict(d.parse_binary_request(body)[1:])


class SessionReplies(unittest.TestCase):
    def test_profiles_give_the_version_word_and_the_version_reply(self):
        # (options, first connect-parameter word, reply to 00 35 00 0c)
        cases = [
            ((), 0, h("0035 0004") + b"8.00" + END),
            (("--profile", "minimal", "--server-version", "7.31.UD1"), 0,
             h("0035 0008") + b"7.31.UD1" + END),
            (("--server-version", "5.0"), 0, h("0035 0003") + b"5.0\x00" + END),
            (("--profile", "modern"), 310, None),
            (("--profile", "modern", "--server-version", "311"), 311, None),
        ]
        for args, word, version_reply in cases:
            with self.subTest(args=args), Engine({}, *args) as eng:
                s, hdr, body = connect_with(eng, form="binary", kind=11)
                self.assertEqual(hdr[2], d.T_ACCEPT)
                self.assertEqual(reply_fields(body)["w1"], word)
                if version_reply is not None:
                    s.sendall(h("0035 000c"))
                    self.assertEqual(recv_all(s, len(version_reply)), version_reply)
                    self.assertEqual([x["code"] for x in eng.wait_sqli(2)], ["53", "12"])
                self.assertEqual(eng.double.stop(), 0)

    def test_session_requests_get_their_replies_and_are_journaled(self):
        scenario = {"transaction": 1, "owner": "own1",
                    "associations": {"2": {"transaction": 0, "owner": "x" * 200}}}
        env = (h("0051 0006 0016 0006 0006 0006") + b"DBDATE" + h("0005") + b"Y4MD-" +
               h("00 0000 0000") + END)
        info = h("0051 0001 0000 0000")
        want_info = (h("0051 0002 000a 00000384") + b"srvdvz" + h("0003 0004 00000000") +
                     h("0004 0004 00000000 0000"))
        with Engine(scenario) as eng:
            s = eng.connect()
            for request, reply in [
                (env, END),
                (h("0054 000c"), h("0054 0001 000c")),
                (h("006d 000c"), h("006d 0004") + b"own1" + END),
                (info, want_info),
                (h("0038"), h("0038")),
            ]:
                s.sendall(request)
                self.assertEqual(recv_all(s, len(reply)).hex(), reply.hex())
            lines = eng.wait_sqli(8)
            self.assertEqual([x["code"] for x in lines],
                             ["81", "12", "84", "12", "109", "12", "81", "56"])
            self.assertEqual((lines[0]["sub"], lines[0]["env"]), ("6", "DBDATE=Y4MD-"))
            self.assertEqual(bytes.fromhex(lines[0]["raw"]), env[:-2])
            self.assertEqual((lines[6]["sub"], lines[6]["flag2"]), ("1", "0"))
            # Per association, and read anew: the second one has no open
            # transaction and a long owner name, until the flag is set.
            t = eng.connect()
            t.sendall(h("0054 000c"))
            self.assertEqual(recv_all(t, 6), h("0054 0000 000c"))
            t.sendall(h("006d 000c"))
            self.assertEqual(recv_all(t, 206), h("006d 00c8") + b"x" * 200 + END)
            eng.write(dict(scenario, associations={"2": {"transaction": 1}}))
            t.sendall(h("0054 000c"))
            self.assertEqual(recv_all(t, 6), h("0054 0001 000c"))
            self.assertEqual(eng.double.stop(), 0)

    def test_information_items_in_every_form(self):
        cases = [
            ("long text, several words",
             {"version": 310, "text": "t" * 100, "flags1": [1, 2], "flags2": 8},
             h("0051 0002 0068 00000136") + b"t" * 100 +
             h("0003 0008 00000001 00000002 0004 0004 00000008 0000")),
            ("raw items: short type 2, odd lengths, unknown type, negative end",
             {"items": [{"type": 2, "hex": "0102"}, {"type": 3, "hex": "000000010203"},
                        {"type": 9, "text": "abc"}, {"type": 4, "hex": "00", "length": 5}],
              "end": -1},
             h("0051 0002 0002 0102 0003 0006 000000010203 0009 0003 61626300") +
             h("0004 0005 0000 ffff")),
        ]
        for what, info, want in cases:
            with self.subTest(what), Engine({"info": info}) as eng:
                s = eng.connect()
                s.sendall(h("0051 0000"))
                self.assertEqual(recv_expect(s, len(want))[0].hex(), want.hex())

    def test_rules_take_precedence_over_session_replies(self):
        scenario = {"rules": [
            {"code": 53, "reply": [{"kind": "code", "code": 8}, {"kind": "end"}]},
            {"code": 81, "error": -1829},
            {"code": 109, "stall": True}]}
        env = h("0051 0006 000c 0002 0002 0002 41 00 0001 42 00 0000 0000") + END
        with Engine(scenario) as eng:
            s = eng.connect()
            s.sendall(h("0035 000c"))
            self.assertEqual(recv_all(s, 4), h("0008 000c"))
            s.sendall(env)
            want = e.build_reply([{"kind": "error", "code": -1829}, {"kind": "end"}], 0)
            self.assertEqual(recv_all(s, len(want)), want)
            # A stalled request: accepted, journaled, never answered, and the
            # connection stays for the next one.
            s.sendall(h("006d 000c"))
            self.assertEqual(recv_for(s, 0.5), (b"", False))
            s.sendall(h("0054 000c"))
            self.assertEqual(recv_all(s, 6), h("0054 0000 000c"))
            self.assertEqual(eng.double.stop(), 0)

    def test_connects_refused_with_a_message_or_accepted_for_every_kind(self):
        message = "m" * 80
        with Engine({}, "--reject=-329,-111", "--reject-message", message) as eng:
            s, hdr, body = connect_with(eng, form="binary", kind=11)
            self.assertEqual(hdr[2], d.T_REJECT)
            self.assertEqual(body[-(18 + 4 + 80):].hex(),
                             (h("0066 000000000000 feb7 ff91 0000 0001 0000 0050") +
                              message.encode() + h("007f")).hex())
            f = fields_of(eng.double.wait_line(" what=connect "))
            self.assertEqual(f["kind"], "11")
        # Implicit connections (6 without a database, 2 with one) in both
        # request forms are accepted and journaled with their kind.
        with Engine({}) as eng:
            for n, (form, kind, key) in enumerate([("binary", 6, "kind"), ("binary", 2, "kind"),
                                                    ("text", 6, "x.kind"),
                                                    ("text", 2, "x.kind")], start=1):
                s, hdr, _ = connect_with(eng, form=form, kind=kind,
                                         database="" if kind == 6 else "db")
                self.assertEqual(hdr[2], d.T_ACCEPT)
                line = eng.double.wait_line(" assoc=%d " % n)
                self.assertEqual(fields_of(line)[key], str(kind))
                s.sendall(h("0054 000c"))
                self.assertEqual(recv_all(s, 6), h("0054 0000 000c"))
            self.assertEqual(eng.double.stop(), 0)


class Replay(unittest.TestCase):
    def replayed(self, text, exchange):
        """Connects to a double replaying the file text, then runs
        exchange(socket); the double must stop cleanly."""
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "replay")
            with open(path, "w") as f:
                f.write(text)
            dbl = Double("--replay", path)
            try:
                s = dbl.connect()
                s.sendall(BINARY_CONNECT)
                read_message(s)
                exchange(s)
            finally:
                self.assertEqual(dbl.stop(), 0)

    def test_requests_of_the_listed_sizes_get_the_listed_bytes_round_and_round(self):
        def exchange(s):
            for size, want in ((4, "000c"), (3, "00080000"), (4, "000c")):
                s.sendall(b"\xff" * (size - 1))
                self.assertEqual(recv_for(s, 0.2)[0], b"")  # not yet a whole request
                s.sendall(b"\xff")
                self.assertEqual(recv_all(s, len(want) // 2).hex(), want)

        self.replayed("# size reply\n4 000c\n3 0008 0000\n", exchange)

    def test_once_lines_are_answered_on_the_first_pass_only(self):
        def exchange(s):
            for size, want in ((5, "0051"), (2, "0013"), (3, "00"), (4, "000c"),
                               (2, "0013"), (4, "000c"), (2, "0013")):
                s.sendall(b"\x01" * size)
                self.assertEqual(recv_all(s, len(want) // 2).hex(), want)

        self.replayed("once 5 0051\n2 0013\nonce 3 00\n4 000c\n", exchange)

    def test_the_raw_port_answers_the_listed_sequence_round_and_round(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "replay")
            with open(path, "w") as f:
                f.write("2 0013 # commit\n6 0008 0000 000c\n3 00\n")
            with Double("--sqli", "--replay", path) as dbl:
                self.assertIsNotNone(dbl.raw_port)
                self.assertNotEqual(dbl.raw_port, dbl.port)
                # Two clients at once, each from the first line, no connect.
                clients = [socket.create_connection(("127.0.0.1", dbl.raw_port), timeout=5)
                           for _ in range(2)]
                for s in clients:
                    for size, want in ((2, "0013"), (6, "00080000000c"), (3, "00")) * 2:
                        s.sendall(b"\x01" * size)
                        self.assertEqual(recv_all(s, len(want) // 2).hex(), want)
                    s.close()
                # The double's own port still wants a connect first.
                s = dbl.connect()
                s.sendall(BINARY_CONNECT)
                self.assertEqual(read_message(s)[0][2], d.T_ACCEPT)
                s.sendall(b"\x01\x02")
                self.assertEqual(recv_all(s, 2).hex(), "0013")
                self.assertEqual(dbl.stop(), 0)

    def test_a_bad_replay_file_fails_loudly(self):
        cases = [("size 0", "0 000c\n", "request\\x20size\\x200"),
                 ("no line", "# nothing\n", "no\\x20exchange"),
                 ("once lines alone", "once 2 0013\n", "no\\x20exchange"),
                 ("bad hex", "2 0z\n", "replay\\x20file")]
        for what, text, reason in cases:
            with self.subTest(what=what), tempfile.TemporaryDirectory() as tmp:
                path = os.path.join(tmp, "replay")
                with open(path, "w") as f:
                    f.write(text)
                dbl = Double("--replay", path)
                try:
                    s = dbl.connect()
                    s.sendall(BINARY_CONNECT)
                    read_message(s)
                    self.assertEqual(recv_for(s, 5), (b"", True))
                    self.assertIn(reason, dbl.wait_line(" what=error "))
                finally:
                    self.assertEqual(dbl.stop(), 3)


class Switches(unittest.TestCase):
    """What a scenario switches while the double runs: connect refusals and
    connect faults (read at every connect), request faults and the
    transaction flag (read at every request), the disconnect stall."""

    def test_connect_refusals_and_faults_switch_between_connects(self):
        error_of = lambda body: int(reply_fields(body)["error"])  # noqa: E731
        with Engine({}, "--reject=-329,-111") as eng:
            # (connect object, expected outcome: accept, reject E, or closed)
            cases = [
                (None, ("reject", -329)),  # the command line's refusal
                ({"reject": None}, ("accept", 0)),
                ({"reject": "-908,-111", "reject_message": "gone"}, ("reject", -908)),
                ({"reject": "-908,-111"}, ("reject", -908)),  # and no message
                ({"reject": [-27001]}, ("reject", -27001)),
                ({"faults": ["close"], "reject": None}, ("closed", None)),
                ({"faults": ["cut=5"], "reject": None}, ("cut", 5)),
                ({"reject": None, "delay_ms": 300}, ("accept", 300)),
                ({}, ("reject", -329)),  # an empty object changes nothing
            ]
            for entry, (outcome, value) in cases:
                with self.subTest(entry=entry):
                    eng.write({} if entry is None else {"connect": entry})
                    s = eng.double.connect()
                    t0 = time.monotonic()
                    s.sendall(BINARY_CONNECT)
                    if outcome in ("closed", "cut"):
                        got, closed = recv_for(s, 20)
                        self.assertTrue(closed)
                        self.assertEqual(len(got), value or 0)
                        continue
                    hdr, body = read_message(s)
                    if outcome == "accept":
                        self.assertEqual(hdr[2], d.T_ACCEPT)
                        self.assertGreaterEqual(time.monotonic() - t0, value / 1000 - 0.02)
                        # The association goes on to serve requests.
                        s.sendall(SCRIPTS["req_commit"] + END)
                        self.assertEqual(recv_all(s, 2), END)
                    else:
                        self.assertEqual((hdr[2], error_of(body)), (d.T_REJECT, value))
                        self.assertEqual(b"gone" in body, "reject_message" in (entry or {}))
            self.assertEqual(eng.double.stop(), 0)

    def test_a_bad_connect_object_closes_the_connection_and_fails_the_double(self):
        for entry in ({"faults": ["refuse"]}, {"faults": "close"}, {"reject": "x"},
                     {"delay_ms": -1}, {"rejects": -1}, ["close"]):
            with self.subTest(entry=entry), Engine({"connect": entry}) as eng:
                s = eng.double.connect()
                s.sendall(BINARY_CONNECT)
                try:
                    self.assertEqual(recv_for(s, 3), (b"", True))
                except ConnectionResetError:
                    pass  # closed with the request unread
                self.assertIn("scenario", eng.double.wait_line(" what=error "))
                self.assertEqual(eng.double.stop(), 3)

    def test_request_faults_and_the_transaction_flag_switch_within_one_association(self):
        with Engine({}) as eng:
            s = eng.connect()
            commit = SCRIPTS["req_commit"] + END
            error = e.build_reply([{"kind": "error", "code": -908}, {"kind": "end"}], 0)
            for scenario, request, want in [
                    ({}, commit, END),
                    ({"rules": [{"code": 19, "error": -908}]}, commit, error),
                    ({}, commit, END),
                    ({"transaction": 1}, h("0054 000c"), h("0054 0001 000c")),
                    ({"transaction": 0}, h("0054 000c"), h("0054 0000 000c"))]:
                eng.write(scenario)
                s.sendall(request)
                self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            self.assertEqual(eng.double.stop(), 0)

    def test_the_disconnect_stall_reads_84_and_56_and_never_answers(self):
        with Engine({"disconnect_stall": True}) as eng:
            s = eng.connect()
            s.sendall(SCRIPTS["req_commit"] + END)  # other requests are answered
            self.assertEqual(recv_all(s, 2), END)
            s.sendall(h("0054 000c"))
            self.assertEqual(recv_for(s, 0.5), (b"", False))
            s.sendall(h("0038"))
            self.assertEqual(recv_for(s, 0.5), (b"", False))
            self.assertEqual([ln["code"] for ln in eng.wait_sqli(5)],
                             ["19", "12", "84", "12", "56"])
            # Cleared: the same association's next disconnect is answered.
            eng.write({})
            s.sendall(h("0054 000c"))
            self.assertEqual(recv_all(s, 6), h("0054 0000 000c"))
            s.sendall(h("0038"))
            self.assertEqual(recv_all(s, 2), h("0038"))
            self.assertEqual(eng.double.stop(), 0)


# ---------------------------------------------------------------------------
# Statement and cursor semantics.


def text_msg(text, code=1):
    """Message 1 (input count 0) or 2 (marker count 0) with the text."""
    data = text.encode("latin-1")
    return e.be16(code) + e.be16(0) + e.be16(len(data)) + data + (b"\x00" if len(data) % 2 else b"")


def id_msg(sid):
    return e.be16(4) + e.be16(sid)


def name_msg(name):
    data = name.encode("latin-1")
    return e.be16(3) + e.be16(len(data)) + data + (b"\x00" if len(data) % 2 else b"")


def codes(*cs):
    return b"".join(e.be16(c) for c in cs)


PROBE_SELECT = " SELECT name , value FROM sysprofile s"


def sysprofile_describe(sid):
    """The default sysprofile description, written from the short describe
    layout: type 2, the id, cost 0, row size 69, 2 columns, pool of 11;
    name at pool 0, start 0, VARCHAR 13, length 64 (stored as a length byte
    and 64 characters); value at pool 5, start 65, INTEGER 2, length 4; the
    pool "name\\0value\\0" and its pad."""
    return (h("0008 0002") + e.be16(sid) + h("00000000 0045 0002 000b"
            "0000 0000 000d 0040  0005 0041 0002 0004") + b"name\x00value\x00\x00")


DONE0 = h("000f 0000 00000000 00000000 00000000")


def done(rows):
    return h("000f 0000") + e.be32(rows) + h("00000000 00000000")


def error(code, isam, param):
    data = param.encode("latin-1")
    return (h("000d") + e.be16(code) + e.be16(isam) + h("0000") + e.be16(len(data)) + data +
            (b"\x00" if len(data) % 2 else b""))


def describe(stype, sid, columns=(), starts=None, row_size=None):
    """A describe reply; starts and row_size, when given, are the stored
    row's (written by hand from the stored sizes)."""
    cols = [dict(c, start=st) for c, st in zip(columns, starts)] if starts else list(columns)
    item = {"stmt_type": stype, "stmt_id": sid, "columns": cols}
    if row_size is not None:
        item["row_size"] = row_size
    return e.build_describe(item, 0)


def statement(text, *cs):
    """The probe's statement request: the text, 22, 7, 11, 12 (or the codes given)."""
    return text_msg(text) + codes(*(cs or (22, 7, 11))) + END


class Semantics(unittest.TestCase):
    """The double's own replies to statements and cursors (no rule names
    them), checked on the wire over loopback."""

    def exchange(self, s, request, want):
        s.sendall(request)
        got = recv_all(s, len(want))
        self.assertEqual(got.hex(), want.hex())
        more, _ = recv_for(s, 0.05)
        self.assertEqual(more, b"", "bytes after the reply")

    def test_the_probe_cursor_opens_and_closes_in_two_cycles(self):
        with Engine({}) as eng:
            s = eng.connect()
            for sid in (1, 2):
                # Round trip 1: the text with describe and want-done.
                self.exchange(s, text_msg(PROBE_SELECT) + codes(22, 49) + END,
                              sysprofile_describe(sid) + DONE0 + END)
                # Round trip 2: id, name, open.
                self.exchange(s, id_msg(sid) + name_msg("s1") + codes(6) + END, END)
                self.exchange(s, id_msg(sid) + codes(10, 11) + END, END)
            # Ids are released: closing one again, or one never given, is
            # answered with the end; opening it is refused.
            for sid in (1, 7):
                self.exchange(s, id_msg(sid) + codes(10, 11) + END, END)
            self.exchange(s, id_msg(1) + name_msg("s1") + codes(6) + END,
                          error(-410, 0, "") + END)
            # The journal counts every request per code.
            lines = eng.wait_sqli(30)
            count = {}
            for f in lines:
                count[f["code"]] = count.get(f["code"], 0) + 1
            self.assertEqual((count["1"], count["6"], count["10"], count["11"], count["12"]),
                             (2, 3, 4, 4, 9))

    def test_statement_ids_are_per_association(self):
        with Engine({}) as eng:
            a, b = eng.connect(), eng.connect()
            self.exchange(a, text_msg(PROBE_SELECT) + codes(22) + END, sysprofile_describe(1) + END)
            self.exchange(b, text_msg(PROBE_SELECT) + codes(22) + END, sysprofile_describe(1) + END)
            # An id of association a means nothing on b.
            self.exchange(b, id_msg(1) + codes(10, 11) + END, END)
            self.exchange(b, id_msg(1) + name_msg("c") + codes(6) + END, error(-410, 0, "") + END)
            self.exchange(a, id_msg(1) + name_msg("c") + codes(6) + END, END)

    def test_statement_ids_stay_in_the_i16_range_of_the_wire(self):
        st = e.Statements()
        for _ in range(3):
            st.allocate("a")
        del st.ids[2]
        st.next_id = e.MAX_STATEMENT_ID
        self.assertEqual(st.allocate("b"), 32767)
        # Past the range: from 1 again, past the ids in use (1 and 3).
        self.assertEqual(st.allocate("c"), 2)
        self.assertEqual(st.allocate("d"), 4)
        st.ids = {i: {} for i in range(1, e.MAX_STATEMENT_ID + 1)}
        with self.assertRaises(ValueError):
            st.allocate("e")

    def test_the_table_registry_runs_the_statements(self):
        steps = [
            # (request, reply); a refused statement other than a SELECT gets
            # its type (and no id) before the error.
            (statement("DROP TABLE probe_t"),
             describe(11, 0) + error(-206, -111, "probe_t") + END),
            (statement("create table probe_t (a integer, b varchar(10))"),
             describe(8, 1) + done(0) + END),
            (statement("create table probe_t (a integer)"),
             describe(8, 0) + error(-310, 0, "probe_t") + END),
            (statement("insert into probe_t values (1, 'x')"), describe(6, 2) + done(1) + END),
            (statement("insert into probe_t values (2, 'yz')"), describe(6, 3) + done(1) + END),
            (statement("insert into nowhere values (1)"),
             describe(6, 0) + error(-206, -111, "nowhere") + END),
            (statement("insert into probe_t (b) values ('z')"), describe(6, 4) + done(1) + END),
            (statement("insert into probe_t values (1)"),
             describe(6, 0) + error(-236, 0, "") + END),
            (statement("insert into probe_t (c) values (1)"),
             describe(6, 0) + error(-217, 0, "c") + END),
            (statement("insert into probe_t values ('one', 'x')"),
             describe(6, 0) + error(-1213, 0, "one") + END),
            (statement("update probe_t set a = 3"), describe(4, 5) + done(3) + END),
            (statement("update nowhere set a = 3"),
             describe(4, 0) + error(-206, -111, "nowhere") + END),
            (statement("create index probe_i on probe_t (a)"), describe(9, 6) + done(0) + END),
            (statement("execute procedure probe_p()"), describe(56, 7) + done(0) + END),
            (statement("database probe_db"), describe(1, 8) + done(0) + END),
            (statement("drop table probe_t"), describe(11, 9) + done(0) + END),
            (statement("drop table probe_t"), describe(11, 0) + error(-206, -111, "probe_t") + END),
            (statement("select name from nowhere"), error(-206, -111, "nowhere") + END),
            (statement("select nothing from sysprofile"), error(-217, 0, "nothing") + END),
            (statement("select , from sysprofile"), error(-201, 0, "") + END),
            # A statement kept by its id runs again at every execute.
            (statement("create table probe_u (a integer)"), describe(8, 10) + done(0) + END),
            (statement("insert into probe_u values (4)", 22), describe(6, 11) + END),
            (id_msg(11) + codes(7) + END, done(1) + END),
            (id_msg(11) + codes(7) + END, done(1) + END),
            (statement("select a from probe_u", 22, 16), describe(2, 12, [
                {"name": "a", "type": 2, "length": 4}]) + h("000e 0000 0004 00000004") +
             done(1) + END),
            (statement("drop table probe_u"), describe(11, 13) + done(0) + END),
            # The error ends the request: the release behind it is not done.
            (id_msg(11) + codes(7, 11) + END, error(-206, -111, "probe_u") + END),
            (id_msg(11) + codes(10, 11) + END, END),
            (id_msg(11) + codes(7) + END, error(-410, 0, "") + END),
            (codes(35) + END, END),
            (codes(19) + END, END),
            (codes(20) + e.be16(0) + END, END),
            (e.be16(36) + e.be16(5) + b"dbase\x00" + e.be16(0) + END, END),
            (codes(37) + END, END),
        ]
        with Engine({}) as eng:
            s = eng.connect()
            for request, reply in steps:
                with self.subTest(request=request.hex()):
                    self.exchange(s, request, reply)

    def test_a_prepared_statement_runs_only_at_execute_with_its_bind_values(self):
        def bind(*values):
            # Message 5: INTEGER values as type 2, texts as CHAR 0 (lbuf).
            out = e.be16(5) + e.be16(len(values))
            for v in values:
                if isinstance(v, int):
                    out += e.be16(2) + e.be16(0) + e.be16(0) + e.be32(v)
                else:
                    data = v.encode("latin-1")
                    out += (e.be16(0) + e.be16(0) + e.be16(0) + e.be16(len(data)) + data +
                            (b"\x00" if len(data) % 2 else b""))
            return out
        cols = [{"name": "a", "type": 2, "length": 4}, {"name": "b", "type": 0, "length": 4}]
        proc = {"procedures": {"P": {"columns": [cols[0]], "rows": [[99], [100]]}}}
        with Engine(proc) as eng:
            s = eng.connect()
            self.exchange(s, statement("create table pt (a integer, b char(4))"),
                          describe(8, 1) + done(0) + END)
            prepare = text_msg("insert into pt values (?, ?)", 2) + codes(22, 49) + END
            self.exchange(s, prepare, describe(6, 2) + DONE0 + END)
            # Prepared, not carried out: the table is still empty.
            self.exchange(s, statement("select a from pt", 22, 16),
                          describe(2, 3, [cols[0]]) + DONE0 + END)
            self.exchange(s, id_msg(2) + bind(5, "hi") + codes(7) + END, done(1) + END)
            self.exchange(s, statement("select a, b from pt", 22, 16),
                          describe(2, 4, cols) + h("000e 0000 0008 00000005") + b"hi  " +
                          done(1) + END)
            # A prepared SELECT ... INTO returns its row at 16 on its id; a
            # prepared procedure its first row at 59. A value a placeholder
            # lacks is NULL.
            sel = text_msg("select a from pt where b = ?", 2) + codes(22, 49) + END
            self.exchange(s, sel, describe(2, 5, [cols[0]]) + DONE0 + END)
            self.exchange(s, id_msg(5) + codes(16) + END,
                          h("000e 0000 0004 00000005") + done(1) + END)
            self.exchange(s, text_msg("execute procedure p()", 2) + codes(22, 49) + END,
                          describe(56, 6, [cols[0]]) + DONE0 + END)
            self.exchange(s, id_msg(6) + codes(59) + END,
                          h("000e 0000 0004 00000063") + done(1) + END)
            # Refusals at PREPARE carry nothing out either.
            self.exchange(s, text_msg("create table pt (a integer)", 2) + codes(22, 49) + END,
                          describe(8, 0) + error(-310, 0, "pt") + END)

    def test_select_into_reads_the_scenario_tables_edited_between_requests(self):
        cols = [{"name": "n", "type": 13, "length": 8}, {"name": "v", "type": 2, "length": 4},
                {"name": "c", "type": 0, "length": 3}, {"name": "s", "type": 1, "length": 2}]
        into = statement("select v, n from t1", 22, 16)
        picked = [cols[1], cols[0]]
        with Engine({"tables": {"t1": {"columns": cols, "rows": []}}}) as eng:
            s = eng.connect()
            # Empty: the done without a row.
            # Stored rows: VARCHAR(8) a length byte and 8 characters.
            self.exchange(s, into, describe(2, 1, picked, (0, 4), 13) + DONE0 + END)
            eng.write({"tables": {"T1": {"columns": cols, "rows": [["ab", -2, "q", 7],
                                                                   ["zz", 9, "r", 1]]}}})
            row = h("fffffffe 02") + b"ab" + bytes(6)
            self.exchange(s, into, describe(2, 2, picked, (0, 4), 13) + h("000e 0000") +
                          e.be16(len(row)) + row + h("00") + done(1) + END)
            star = h("02") + b"ab" + bytes(6) + h("fffffffe") + b"q  " + h("0007")
            self.exchange(s, statement("select * from t1", 22, 16),
                          describe(2, 3, cols, (0, 9, 13, 16), 18) + h("000e 0000") +
                          e.be16(len(star)) + star + done(1) + END)
            # The scenario names no sysprofile now: it is gone.
            self.exchange(s, statement(PROBE_SELECT, 22, 16),
                          error(-206, -111, "sysprofile") + END)
            # Refused statements take no id; rows inserted by statements follow
            # the scenario's.
            self.exchange(s, statement("insert into t1 values ('cd', 5, 'w', 0)"),
                          describe(6, 4) + done(1) + END)

    def test_any_statement_text_gets_a_reply_that_ends(self):
        # Texts made of statement fragments in any order: the double answers
        # each (a refusal at worst) and never fails itself.
        frags = ["select", "insert", "into", "values", "update", "set", "create", "table",
                 "drop", "from", "(", ")", ",", "'", '"', "*", "sysprofile", "t", "a", "1",
                 "'x'", "null", "database", "execute", "procedure", "=", "1.5", "s.t", ""]
        rnd = random.Random(36)
        session = {"assoc": 1, "exited": False, "version": "8.00",
                   "state": e.Statements(), "registry": e.Registry()}
        for _ in range(5000):
            text = " ".join(rnd.choice(frags) for _ in range(rnd.randint(0, 9)))
            tail = rnd.sample([22, 7, 16, 49, 59, 11], rnd.randint(0, 3))
            messages = [{"code": 1, "text": text.encode()}] + [{"code": c} for c in tail]
            data, _ = e.reply_for({}, messages + [{"code": 12}], 0, session)
            self.assertTrue(data.endswith(END), text)

    def test_reply_forms_follow_the_capabilities_the_client_settles_on(self):
        import argparse
        cases = [("minimal", None, 0x1), ("minimal", "7.31.UD1", 0x143), ("minimal", "5.00", 0),
                 ("minimal", "xx9.03", 0x1D), ("minimal", "7.22", 0x3),
                 ("minimal", "8.31", 0x10001),
                 ("modern", None, 0xFEBD), ("modern", "308", 0x3EBD), ("modern", "301", 0x3D)]
        for profile, version, caps in cases:
            with self.subTest(profile=profile, version=version):
                args = argparse.Namespace(profile=profile, server_version=version)
                self.assertEqual(e.version_capabilities(args), caps)
        # On the wire: the modern profile's describe is the extended form,
        # unless the scenario names the capabilities.
        extended = e.build_describe(
            {"stmt_type": 2, "stmt_id": 1, "row_size": 69,
             "columns": [dict(c, start=st) for c, st in
                         zip(e.DEFAULT_TABLES["sysprofile"]["columns"], (0, 65))]}, 0x4)
        for scenario, want in (({}, extended), ({"capabilities": 1}, sysprofile_describe(1))):
            with self.subTest(scenario=scenario), Engine(scenario, "--profile", "modern") as eng:
                s = eng.connect()
                self.exchange(s, text_msg(PROBE_SELECT) + codes(22) + END, want + END)

    def test_faults_by_code_and_text_leave_the_state_alone(self):
        open2 = id_msg(1) + name_msg("s1") + codes(6) + END
        with Engine({"rules": [{"code": 6, "error": -908}]}) as eng:
            s = eng.connect()
            self.exchange(s, text_msg(PROBE_SELECT) + codes(22, 49) + END,
                          sysprofile_describe(1) + DONE0 + END)
            self.exchange(s, open2, h("000d fc74 0000 0000 0000") + END)
            eng.write({})
            self.exchange(s, open2, END)
            # A rule with only a fault gets the reply it would get without it.
            full = describe(11, 0) + error(-206, -111, "probe_t") + END
            eng.write({"rules": [{"text": "drop table probe_t", "close_at": 5}]})
            s.sendall(statement("drop table probe_t"))
            got, closed = recv_for(s, 20)
            self.assertEqual((got, closed), (full[:5], True))
            s = eng.connect()
            eng.write({"rules": [{"text": "drop table probe_t", "stall": True},
                                 {"code": 10, "error": -400}]})
            s.sendall(statement("drop table probe_t"))
            self.assertEqual(recv_for(s, 0.3), (b"", False))
            self.exchange(s, id_msg(1) + codes(10, 11) + END, error(-400, 0, "") + END)
            # With a default the scenario answers everything itself.
            eng.write({"default": [{"kind": "end"}]})
            self.exchange(s, statement("drop table probe_t"), END)



def fetch_msg(size, array=None):
    return e.be16(9) + e.be16(size) + (e.be16(array) if array is not None else b"")


def sfetch_msg(direction, position, size):
    return e.be16(23) + e.be16(direction) + e.be32(position) + e.be16(size)


def profile_row(i):
    """Generated sysprofile row i as stored: the length byte, "name<i>"
    and NULs to 64 characters, then i as a big-endian INTEGER."""
    name = b"name%d" % i
    return bytes((len(name),)) + name + bytes(64 - len(name)) + e.be32(i)


def tuples(*rows):
    return b"".join(h("000e 0000") + e.be16(len(r)) + r + (b"\x00" if len(r) % 2 else b"")
                    for r in rows)


def generated(n, **table):
    t = {"columns": e.DEFAULT_TABLES["sysprofile"]["columns"], "generate": n}
    t.update(table)
    return {"tables": {"sysprofile": t}}


class FetchSemantics(unittest.TestCase):
    """The double's fetch replies (9 and 23) on an open cursor, on the wire."""

    exchange = Semantics.exchange

    def open_probe(self, s):
        self.exchange(s, text_msg(PROBE_SELECT) + codes(22, 49) + END,
                      sysprofile_describe(1) + DONE0 + END)
        self.exchange(s, id_msg(1) + name_msg("s1") + codes(6) + END, END)

    def test_batches_hold_the_rows_that_fit_and_the_done_comes_with_the_last(self):
        for early, last_reply in ((True, done(12)), (False, b"")):
            with self.subTest(early_done=early), Engine(generated(130, early_done=early)) as eng:
                s = eng.connect()
                self.open_probe(s)
                fetch = id_msg(1) + fetch_msg(4096) + END
                # 69-byte rows: 59 fit 4096 bytes.
                self.exchange(s, fetch, tuples(*map(profile_row, range(1, 60))) + END)
                self.exchange(s, fetch, tuples(*map(profile_row, range(60, 119))) + END)
                self.exchange(s, fetch,
                              tuples(*map(profile_row, range(119, 131))) + last_reply + END)
                if not early:
                    self.exchange(s, fetch, done(0) + END)
                # A request with the fetch array size sends at most that many.
                eng.write(generated(130, early_done=early) | {"capabilities": 0x81})
                self.exchange(s, id_msg(1) + name_msg("s1") + codes(6) + END, END)
                self.exchange(s, id_msg(1) + fetch_msg(4096, 2) + END,
                              tuples(profile_row(1), profile_row(2)) + END)

    def test_the_open_may_travel_with_the_first_fetch(self):
        with Engine(generated(2)) as eng:
            s = eng.connect()
            self.exchange(s, text_msg(PROBE_SELECT) + codes(22, 49) + END,
                          sysprofile_describe(1) + DONE0 + END)
            self.exchange(s, id_msg(1) + name_msg("s1") + codes(6) + id_msg(1) +
                          fetch_msg(4096) + END,
                          tuples(profile_row(1), profile_row(2)) + done(2) + END)

    def test_scroll_fetches_answer_rows_from_the_position_with_the_row_position(self):
        with Engine(generated(10)) as eng:
            s = eng.connect()
            self.open_probe(s)
            steps = [
                # (direction, position, rows sent); 138 bytes hold two rows
                (6, 5, (5, 6)),
                (1, 0, (7, 8)),
                (2, 0, (6, 7)),  # previous: before the first row of the last batch
                (7, 3, (9, 10)),  # relative to the first row of the last batch
                (4, 0, (10,)),
                (3, 0, (1, 2)),
                (6, 11, ()),
                (6, 0, ()),
            ]
            for direction, position, rows in steps:
                with self.subTest(direction=direction, position=position):
                    want = tuples(*map(profile_row, rows))
                    if rows:
                        want += h("0019") + e.be32(rows[0])
                    if not rows or rows[-1] == 10:
                        want += done(len(rows))
                    self.exchange(s, id_msg(1) + sfetch_msg(direction, position, 138) + END,
                                  want + END)

    def test_fetch_faults_and_refusals(self):
        with Engine(generated(3, early_done=True)) as eng:
            s = eng.connect()
            self.exchange(s, text_msg(PROBE_SELECT) + codes(22, 49) + END,
                          sysprofile_describe(1) + DONE0 + END)
            # Not open yet: -400.
            self.exchange(s, id_msg(1) + fetch_msg(4096) + END, error(-400, 0, "") + END)
            self.exchange(s, id_msg(1) + name_msg("s1") + codes(6) + END, END)
            # The n-th fetch request of the association (the refused one
            # counts) gets the error; the
            # next one carries on where the last batch ended.
            eng.write(generated(3, rows=[], early_done=True) |
                      {"fetch_error": {"at": 3, "code": -244, "isam": -107}})
            self.exchange(s, id_msg(1) + fetch_msg(138) + END,
                          tuples(profile_row(1), profile_row(2)) + END)
            self.exchange(s, id_msg(1) + fetch_msg(138) + END,
                          h("000d ff0c ff95 0000 0000") + END)
            self.exchange(s, id_msg(1) + fetch_msg(138) + END,
                          tuples(profile_row(3)) + done(1) + END)

    def test_the_char_variant_of_sysprofile(self):
        with Engine({"sysprofile": "char"}) as eng:
            s = eng.connect()
            want = describe(2, 1, [{"name": "name", "type": 0, "length": 18},
                                   {"name": "value", "type": 2, "length": 4}], (0, 18), 22)
            self.exchange(s, text_msg(PROBE_SELECT) + codes(22) + END, want + END)
            eng.write({"sysprofile": "char", "tables": {"sysprofile": {
                "columns": e.CHAR_TABLES["sysprofile"]["columns"], "rows": [["cpu", 3]]}}})
            self.exchange(s, id_msg(1) + name_msg("s1") + codes(6) + END, END)
            self.exchange(s, id_msg(1) + fetch_msg(4096) + END,
                          tuples(b"cpu" + b" " * 15 + e.be32(3)) + done(1) + END)


class CachedWork(unittest.TestCase):
    """What the engine keeps between requests (the scenario's object, a
    generated table's encoded rows, a SELECT's columns) gives what working
    it out anew gives, and is dropped when its source changes."""

    def test_a_changed_scenario_file_is_seen_at_once(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "scenario.json")

            def replace(text):
                with open(path + ".tmp", "w") as f:
                    f.write(text)
                os.replace(path + ".tmp", path)

            def overwrite(text):
                with open(path, "r+") as f:
                    f.write(text)

            # (how, text, wait before it, what the next read gives); the
            # texts have one size, so only content and times tell them apart.
            steps = [(replace, '{"a": 1}', 0, {"a": 1}),
                     (replace, '{"a": 2}', 0, {"a": 2}),
                     (replace, '{"a": 3}', 0.3, {"a": 3}),
                     (None, None, 0.3, {"a": 3}),
                     (overwrite, '{"a": 4}', 0, {"a": 4}),
                     (overwrite, '{"a": 5}', 0.3, {"a": 5}),
                     (replace, '{"a": 6', 0, ValueError),
                     (replace, '{"a": 7}', 0, {"a": 7})]
            for i, (how, text, wait, want) in enumerate(steps):
                with self.subTest(step=i):
                    time.sleep(wait)
                    if how is not None:
                        how(text)
                    if isinstance(want, type):
                        self.assertRaises(want, e.load_scenario, path)
                    else:
                        self.assertEqual(e.load_scenario(path), want)
                        self.assertEqual(e.load_scenario(path), want)
            os.remove(path)
            self.assertRaises(OSError, e.load_scenario, path)

    @staticmethod
    def oracle(rows, start, room, most, caps):
        """The tuples of a batch taken row by row, and the next row."""
        out, at = [], start
        while 1 <= at <= len(rows) and at - start < most:
            if out and len(rows[at - 1]) > room:
                break
            out.append(e.build_tuple({"hex": rows[at - 1]}, caps))
            room -= len(rows[at - 1])
            at += 1
        return b"".join(out), at

    def test_batches_across_generated_and_listed_rows_match_a_row_by_row_walk(self):
        cols = e.DEFAULT_TABLES["sysprofile"]["columns"]
        scenario = {"tables": {"sysprofile": {"columns": cols, "generate": 20,
                                              "rows": [["x", 99], ["a longer name", 7]]}}}
        registry = e.Registry()
        stmt = {"text": b"SELECT name, value FROM sysprofile", "open": True}
        for caps in (0, 0xFEBD):
            table = registry.lookup(scenario, "sysprofile")
            rows = [e.row_bytes(cols, r, bool(caps & e.CAP_VARCHAR_PAD)) for r in table["rows"]]
            for start in (1, 2, 19, 20, 21, 22, 23):
                for room in (-1, 1, 69, 138, 500, 5000):
                    for array in (0, 1, 3):
                        with self.subTest(caps=caps, start=start, room=room, array=array):
                            stmt.update(sent=start - 1, first=0, last=0)
                            m = {"code": e.C_FETCH, "size": room, "array": array}
                            items = e.fetch_items(stmt, m, scenario, registry, 1, caps)
                            want, at = self.oracle(rows, start, room, array or len(rows), caps)
                            got = items[0]["hex"] if items[0]["kind"] == "raw" else b""
                            self.assertEqual(got, want)
                            self.assertEqual(items[-1]["kind"] == "done", at > len(rows))
                            self.assertEqual(stmt["sent"], max(start - 1, at - 1))

    def test_a_select_follows_its_table_columns_when_they_change(self):
        registry = e.Registry()
        stmt = {"text": b"SELECT value FROM sysprofile", "open": True}
        cols = [{"name": "name", "type": e.T_VARCHAR, "length": 8},
                {"name": "value", "type": e.T_INTEGER, "length": 4}]
        scenario = {"tables": {"sysprofile": {"columns": cols, "rows": [["a", 5]]}}}

        def first_row():
            stmt.update(sent=0, first=0, last=0)
            m = {"code": e.C_FETCH, "size": 4096}
            return e.fetch_items(stmt, m, scenario, registry, 1)[0]["hex"]

        self.assertEqual(first_row(), e.build_tuple({"hex": e.be32(5)}, 0))
        # The same list changed in place, then a new one: value is now a SMALLINT.
        cols[1] = {"name": "value", "type": e.T_SMALLINT, "length": 2}
        self.assertEqual(first_row(), e.build_tuple({"hex": e.be16(5)}, 0))
        scenario["tables"]["sysprofile"]["columns"] = [dict(c) for c in reversed(cols)]
        scenario["tables"]["sysprofile"]["rows"] = [[6, "b"]]
        self.assertEqual(first_row(), e.build_tuple({"hex": e.be16(6)}, 0))


class FileRequests(unittest.TestCase):
    """Server-driven file requests (98) inside a reply: their bytes from
    the wire tables, and the engine waiting for each answer, journaling it
    and going on; the bytes that travel both ways compared by hashlib."""

    def test_file_items_give_the_request_bytes_in_both_forms(self):
        cases = [
            (0, {"kind": "file", "op": "open", "name": "abc", "flags": 0x24, "offset": 7},
             "0062 0000 0003 61626300 00000180 00000024 00000007 000c"),
            (0x2000, {"kind": "file", "op": "open", "name": "ab", "offset": (5 << 30) + 3},
             "0062 0000 0002 6162 00000180 00000010 0001 40000003 00000001 000c"),
            (0, {"kind": "file", "op": "close"}, "0062 0001 000c"),
            (0, {"kind": "file", "op": "read", "buffer": 400, "count": -1},
             "0062 0002 0190 ffffffff 000c"),
            (0x2000, {"kind": "file", "op": "read", "buffer": 400, "count": 5},
             "0062 0002 00000190 00000005 000c"),
            (0, {"kind": "file", "op": "write", "chunks": ["abc", {"hex": "ff"}], "status": -1},
             "0062 0003 006b 0003 61626300 006b 0001 ff00 000d ffff"),
            # The knobs of the malformed cases.
            (0, {"kind": "file", "op": "write", "chunks": [{"text": "ab", "length": -2}],
                 "end": 12}, "0062 0003 006b fffe 6162 000c"),
            (0, {"kind": "file", "op": "open", "name": "", "name_length": 600, "next": 15},
             "0062 0000 0258 00000180 00000010 00000000 000f"),
            (0, {"kind": "file", "sub": 9, "hex": "0102"}, "0062 0009 0102"),
        ]
        for caps, item, want in cases:
            with self.subTest(item=item):
                self.assertEqual(e.build_reply([item], caps).hex(), want.replace(" ", ""))

    def run_reply(self, caps):
        """A rule's reply of open, read, write and close, answered by hand
        as a client answers; returns the journaled answers."""
        wide = bool(caps & 0x2000)
        data = bytes(random.Random(7).randrange(256) for _ in range(900))
        written = [b"first", b"", bytes(range(256)) * 3, b"x"]
        reply = [{"kind": "file", "op": "open", "name": "in.bin", "flags": 0x10},
                 {"kind": "file", "op": "read", "buffer": 400, "count": -1},
                 {"kind": "file", "op": "write", "chunks": [{"hex": c.hex()} for c in written]},
                 {"kind": "file", "op": "close"},
                 {"kind": "done", "rows": 1}, {"kind": "end"}]
        piece_len = e.be32 if wide else e.be16
        read_answer = e.be16(106) + e.be32(900)
        for at in (0, 400, 800):
            piece = data[at : at + 400]
            read_answer += e.be16(106) + piece_len(len(piece)) + piece
        read_answer += END
        total = sum(len(c) for c in written)
        size = (e.be16(1) + e.be32(total) + e.be32(0)) if wide else e.be32(total)
        answers = [END, read_answer, e.be16(107) + size + END, END]
        with Engine({"capabilities": caps, "rules": [{"code": 1, "reply": reply}]}) as eng:
            s = eng.connect()
            s.sendall(text_msg("unload to in.bin select * from t") + END)
            requests = [e.build_reply([item], caps) for item in reply[:4]]
            for request, answer in zip(requests, answers):
                self.assertEqual(recv_all(s, len(request)).hex(), request.hex())
                self.assertEqual(recv_for(s, 0.05)[0], b"", "the reply waits for the answer")
                send_split(s, answer, 7)
            rest = e.build_reply(reply[4:], caps)
            self.assertEqual(recv_all(s, len(rest)).hex(), rest.hex())
            lines = [f for f in eng.wait_sqli(11) if f.get("answer") == "98"]
            s.close()
            self.assertEqual(eng.double.stop(), 0)
        pieces = b"".join(bytes.fromhex(f["data"]) for f in lines if "data" in f)
        self.assertEqual(hashlib.sha256(pieces).hexdigest(), hashlib.sha256(data).hexdigest())
        return lines

    def test_each_answer_is_read_and_journaled_before_the_reply_goes_on(self):
        for caps in (0, 0x2000):
            with self.subTest(caps=caps):
                lines = self.run_reply(caps)
                self.assertEqual([f["code"] for f in lines],
                                 ["12", "106", "106", "106", "106", "12", "107", "12", "12"])
                self.assertEqual(lines[1]["count"], "900")
                self.assertEqual(lines[6]["size"], str(5 + 768 + 1))

    def test_an_item_that_wants_no_answer_is_not_waited_for(self):
        reply = [{"kind": "file", "op": "write", "chunks": ["ab"], "end": 12, "answer": False}]
        with Engine({"rules": [{"code": 1, "reply": reply}]}) as eng:
            s = eng.connect()
            s.sendall(text_msg("load from f insert into t") + END)
            want = e.build_reply(reply, 0)
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            s.close()
            self.assertEqual(eng.double.stop(), 0)


def chunk(data):
    return h("0027") + len(data).to_bytes(2, "big") + data + (b"\x00" if len(data) % 2 else b"")


class BlobValues(unittest.TestCase):
    """BYTE and TEXT values: stored from the chunks a request sends (41,
    39 ... 0, 40 abandoning), served on [4 id][38 desc][12] and in the
    array form 92 as chunks of the scenario's size."""

    def test_sent_values_are_stored_and_served_back_in_chunks(self):
        value = bytes(range(256)) * 10 + b"xyz"  # 2563 bytes
        with Engine({"blob_chunk": 1000, "blobs": {"7": {"text": "abc"}}}) as eng:
            s = eng.connect()
            # Two values: the second abandoned after one chunk.
            req = (h("0029 0002") + chunk(value[:1024]) + chunk(value[1024:]) + chunk(b"") +
                   chunk(b"lost") + h("0028") + codes(7) + END)
            s.sendall(req)
            self.assertEqual(recv_all(s, 2), END)
            blobs = [fields_of(line) for line in eng.double.lines() if " what=blob " in line]
            self.assertEqual(len(blobs), 2)
            self.assertEqual((blobs[0]["size"], blobs[0]["data"]), (str(len(value)), value.hex()))
            self.assertEqual(blobs[1]["abandoned"], "1")
            stored = e.blob_descriptor(int(blobs[0]["id"]), len(value))
            self.assertEqual(int.from_bytes(stored[12:16], "big") -
                             int.from_bytes(stored[8:12], "big") + 1, len(value))
            # One value on [4 id][38 desc][12]: chunks of 1000, 1000, 563, 0.
            s.sendall(id_msg(3) + h("0026") + stored + END)
            want = (chunk(value[:1000]) + chunk(value[1000:2000]) + chunk(value[2000:]) +
                    chunk(b"") + END)
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            # The array form: the scenario's value, then the stored one.
            s.sendall(h("005c 0002") + id_msg(3) + h("0026") + e.blob_descriptor(7, 3) +
                      h("0026") + stored + END)
            want = chunk(b"abc") + chunk(b"") + want
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            # A table's BYTE column holds the descriptor of {"id", "size"}.
            cols = [{"type": 11, "length": 56}, {"type": 2, "length": 4}]
            self.assertEqual(e.row_bytes(cols, [{"id": 7, "size": 3}, 5]),
                             e.blob_descriptor(7, 3) + h("00000005"))
            self.assertEqual(e.row_bytes(cols, [None, 5])[38:40], h("0001"), "NULL")
            # An id the double does not know is refused.
            s.sendall(id_msg(3) + h("0026") + e.blob_descriptor(99, 1) + END)
            want = e.build_reply([{"kind": "error", "code": -608}, {"kind": "end"}], 0)
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            s.close()
            self.assertEqual(eng.double.stop(), 0)


class FastPathReplies(unittest.TestCase):
    """Replies 101, 103 and 104 against hand-written bytes, and the
    scenario's "routines" on the wire: 101, 102 (with its bind list and
    104) and 105."""

    ROUTINES = {"routines": {"f(int)": {
        "handle": 77, "results": [{"type": 2, "value": 7}, {"type": 0, "value": None}],
        "fparam": {"first": 5, "second": 6, "flag": 3, "third": 7, "fourth": 8, "fifth": 9,
                   "first_list": [{"byte": 1, "w16": 2, "w32": 3, "x32": 4, "x16a": 5,
                                   "x16b": 6}]}}}}

    def test_items_give_the_bytes_of_the_wire_tables(self):
        fparam = self.ROUTINES["routines"]["f(int)"]["fparam"]
        head = "0068 0001 00000005 00000000 00000006 03"
        cases = [
            ([{"kind": "routine", "handle": -2}], 0, "0065 fffffffe"),
            ([dict(fparam, kind="fparam", short=True)], 0, head),
            # The long form: third, fourth (INT8), fifth, two lists.
            ([dict(fparam, kind="fparam")], 0,
             head + "00000007 0001 00000008 00000000 00000009"
             " 0001 01 0002 00000003 0000"),
            ([dict(fparam, kind="fparam")], 0x8,
             head + "00000007 0001 00000008 00000000 00000009"
             " 0001 01 0002 00000003 00000004 0005 0006 0000"),
            ([{"kind": "fparam", "short": True, "first": None, "flag": 0}], 0,
             "0068 0000 00000000 00000000 00000000 00"),
            ([{"kind": "fpresult", "values": [
                {"type": 0, "value": "abc"}, {"type": 1, "value": -1}, {"type": 2, "value": None},
                {"type": 3, "value": 2.5}, {"type": 5, "prec": 0x502, "value": "-12.34"},
                {"type": 17, "value": -5}, {"type": 41, "hex": "0102", "ind": 0},
                {"type": 19, "hex": "aabbcc"}]}], 0,
             "0067 0008 0000 0000 0000 0003 61626300 0001 0000 0000 ffff"
             " 0002 ffff 0000 0003 0000 0000 4004000000000000"
             " 0005 0000 0502 0003 3e 57 42 00 0011 0000 0000 ffff 00000005 00000000"
             " 0029 0000 0000 00000002 0102 0013 0000 0000 0000 00000003 aabbcc00"),
            # Capability 0x4: two unused words after an extended type word.
            ([{"kind": "fpresult", "count": 2, "values": [{"type": 40, "text": "x"}]}], 0x4,
             "0067 0002 0028 0000 0000 0000 0000 00000001 7800"),
        ]
        for items, caps, want in cases:
            with self.subTest(items=items, caps=caps):
                self.assertEqual(e.build_reply(items, caps).hex(), h(want).hex())

    def test_decimal_values_round_trip_through_the_decoder(self):
        for text in ("0", "1", "-1", "123.45", "-0.001", "98765432.1", "-5E+20"):
            with self.subTest(text=text):
                data = e.decimal_bytes(text)
                self.assertEqual(e.wire_decimal(e.Cursor(data)), decimal.Decimal(text))

    def test_routines_are_looked_up_called_and_released_on_the_wire(self):
        with Engine(self.ROUTINES) as eng:
            s = eng.connect()
            sig = h("0006") + b"f(int)"
            # 101 wanting the block: the handle, the long 104, the end.
            s.sendall(h("0065") + sig + h("0001") + END)
            want = e.build_reply([{"kind": "routine", "handle": 77},
                                  dict(self.ROUTINES["routines"]["f(int)"]["fparam"],
                                       kind="fparam"), {"kind": "end"}], 1)
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            s.sendall(h("0065") + sig + h("0000") + END)
            want = h("0065 0000004d 000c")
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            # 102 with a bind list and 104: the short 104, then 103.
            s.sendall(h("0066 0000004d 0001 0001 0005 0001 0002 0000 0000 00000003"
                        " 0068 0001 00000005 00000000 00000006 03") + END)
            want = h("0068 0001 00000005 00000000 00000006 03"
                     " 0067 0002 0002 0000 0000 00000007 0000 ffff 0000 000c")
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            # Unknown signature or handle: -674. 105 is answered with the end.
            s.sendall(h("0065 0001 7800 0000") + END)
            want = e.build_reply([{"kind": "error", "code": -674}, {"kind": "end"}], 1)
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            s.sendall(h("0066 00000001 0000 0000") + END)
            self.assertEqual(recv_all(s, len(want)).hex(), want.hex())
            s.sendall(h("0069 0000004d") + END)
            self.assertEqual(recv_all(s, 2).hex(), "000c")
            lines = eng.wait_sqli(14)
            release = [f for f in lines if f["code"] == "105"]
            self.assertEqual(release[0]["handle"], "77")
            s.close()
            self.assertEqual(eng.double.stop(), 0)


class InsertCursorPuts(unittest.TestCase):
    """Insert cursors: the text with placeholders described with its
    table's columns and run by nothing but PUT; PUT (17) rows decoded
    against that description, added to the table, answered by a done per
    message; the scenario's error on the n-th row."""

    COLS = [{"name": "a", "type": 2, "length": 4}, {"name": "b", "type": 13, "length": 4},
            {"name": "c", "type": 0, "length": 3}, {"name": "s", "type": 1, "length": 2}]

    def test_stored_rows_decode_by_the_columns_types(self):
        cases = [
            # padded VARCHAR, then its NULL form and the other NULL forms
            (h("00000007 02787900 00 616220 0005"), False, [7, "xy", "ab", 5]),
            (h("80000000 0100000000 002020 8000"), False, [None, None, None, None]),
            # compact VARCHAR (capability 0x1000)
            (h("00000001 03616263 7a2020 ffff"), True, [1, "abc", "z", -1]),
        ]
        for raw, compact, want in cases:
            self.assertEqual(e.decode_stored_row(self.COLS, raw, compact), want)
        for bad in (h("00000007 02"), h("00000007 00 00000000 202020 0000 00")):
            with self.assertRaises(d.Malformed):
                e.decode_stored_row(self.COLS, bad)

    def session(self):
        return {"assoc": 1, "exited": False, "version": "8.00",
                "state": e.Statements(), "registry": e.Registry()}

    def put(self, rows, sid=1):
        m = {"code": 17, "size": 15, "rows": len(rows), "row": [r.hex() for r in rows]}
        return [{"code": 4, "id": sid}, m]

    def test_a_put_request_adds_its_rows_and_an_injected_error_stops_at_its_row(self):
        scenario = {"tables": {"t": {"columns": self.COLS, "rows": []}}}
        sess = self.session()
        text = {"code": 1, "text": b"insert into t (s, a) values (?, ?)"}
        data, _ = e.reply_for(scenario, [text, {"code": 22}, {"code": 49}, {"code": 12}], 0, sess)
        cols = [dict(self.COLS[3], start=0), dict(self.COLS[0], start=2)]
        want = describe(6, 1, cols, row_size=6) + DONE0 + END
        self.assertEqual(data.hex(), want.hex())
        self.assertNotIn("t", sess["registry"].inserted, "the text alone inserts nothing")
        rows = [h("0001 00000002"), h("8000 00000003")]
        msgs = self.put(rows)
        e.annotate_put(msgs[1], msgs, sess["state"])
        self.assertEqual(msgs[1]["value"], ["[1,2]", "[null,3]"])
        data, _ = e.reply_for(scenario, msgs + [{"code": 12}], 0, sess)
        self.assertEqual(data.hex(), (done(2) + END).hex())
        self.assertEqual(sess["registry"].inserted["t"], [[2, None, None, 1], [3, None, None, None]])
        # The association's third row is refused; the fourth never looked at.
        scenario["put_error"] = {"row": 3, "code": -239}
        msgs = self.put([h("0004 00000004"), h("0005 00000005")])
        e.annotate_put(msgs[1], msgs, sess["state"])
        data, _ = e.reply_for(scenario, msgs + [{"code": 12}], 0, sess)
        self.assertEqual(data.hex(), (error(-239, 0, "") + END).hex())
        self.assertEqual(len(sess["registry"].inserted["t"]), 2)
        # A row that does not decode is refused as malformed.
        msgs = self.put([h("0004 000000")])
        e.annotate_put(msgs[1], msgs, sess["state"])
        data, _ = e.reply_for(scenario, msgs + [{"code": 12}], 0, sess)
        self.assertTrue(data.startswith(h("000d") + e.be16(-201)))


if __name__ == "__main__":
    unittest.main()
