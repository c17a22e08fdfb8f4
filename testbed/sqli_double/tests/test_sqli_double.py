"""Tests of the SQLI server double: its codec against bytes written by hand
from the wire layouts, and the running program over loopback sockets.

Run from this folder: python3 -B -m unittest test_sqli_double (ctest does).
"""

import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from double_test_support import h, program, response
import sqli_double as d  # noqa: E402

SCRIPT = program("sqli_double.py")


# A binary connect request, by hand: program "ruzodu", user kind 1 with
# user "u" and password "p w", pairs ol/61 and tlitcp/1, then sections 104
# (kind 2, database "db"), 106 (A=b), 107, 116 of length 12 and an unknown
# section 120 of 3 bytes.
BINARY_REQUEST = h("""
0064
0065 0000003d 0006 494545454d00
006c 72757a6f6475 000000000000
0004 392e3400  0003 696400  0005 73716c6900
00000137 00000000 00000000
0001 0002 7500 0004 70207700
6f6c000000000000 0000003d 746c697463700000 00000001
0068 0002 00000010 0000 0003 646200 0000 0000 0000 0004 67727000
006a 0001 0002 4100 0002 6200
006b 00000000 00000457 ffffffff 0003 683100 0000 0003 2f7400
0074 000c 000003e8 00000064 deadbeef
0078 0003 78797a
007f
""")

# Section 109 of a text request, by hand: level 61, ol/61, tlitcp/1, the
# words 311 0 0, program "sqlexec", family "sqli", kind 2, flags 16, server
# "srv", then 116 (length 8) and 127.
SECTION_109 = h("""
006d 0000003d
6f6c000000000000 0000003d 746c697463700000 00000001
00000137 00000000 00000000
73716c65786563 0000000000
0005 73716c6900
0002 00000010 0004 73727600
0074 0008 000003e8 00000064
007f
""")

# The accept the double writes to BINARY_REQUEST at level 61.
ACCEPT_BODY = response()


def fields_of(fields):
    """Fields as a dict of lists (a key may repeat)."""
    out = {}
    for k, v in fields:
        out.setdefault(k, []).append(v)
    return out


class SixBitText(unittest.TestCase):
    def test_encodes_and_decodes_as_written(self):
        cases = [
            (h("001083"), b"ABCD"),
            (h("ff"), b"_w"),
            (h("ffff"), b"__8"),
            (h("0064013d0000"), b"AGQBPQAA"),  # type 1, flag 61, length 100
            (h("00000000000000"), b"AAAAAAAAAA"),  # 7 bytes, 10 characters
            (b"", b""),
        ]
        for raw, text in cases:
            with self.subTest(raw=raw.hex()):
                self.assertEqual(d.enc6(raw), text)
                self.assertEqual(d.dec6(text), raw)

    def test_rejects_text_no_byte_count_gives(self):
        for bad in (b"A", b"ABCDE", b"AB+D", b"AB/D", b"AB=D"):
            with self.subTest(bad=bad):
                with self.assertRaises(d.Malformed):
                    d.dec6(bad)


class BinaryRequest(unittest.TestCase):
    def test_reads_every_section(self):
        f = fields_of(d.parse_binary_request(BINARY_REQUEST))
        expect = {
            "form": [b"binary"], "level": [61], "fmt": [b"IEEEM"], "program": [b"ruzodu"],
            "version": [b"9.4"], "ident": [b"id"], "pf": [b"sqli"], "w1": [311], "w2": [0],
            "w3": [0], "userkind": [1], "user": [b"u"], "password": [b"p w"],
            "product": [b"ol"], "plevel": [61], "protocol": [b"tlitcp"], "pversion": [1],
            "kind": [2], "flags": [16], "server": [b""], "database": [b"db"],
            "group": [b"grp"], "env": [b"A=b"], "pid": [1111], "pword3": [-1],
            "host": [b"h1"], "tty": [b""], "cwd": [b"/t"], "uid": [1000], "gid": [100],
            "section": [120],
        }
        for key, value in expect.items():
            self.assertEqual(f.get(key), value, key)
        self.assertNotIn("trailing", f)

    def test_every_truncation_is_malformed(self):
        for k in range(len(BINARY_REQUEST)):
            with self.subTest(k=k):
                with self.assertRaises(d.Malformed):
                    d.parse_binary_request(BINARY_REQUEST[:k])

    def test_rejects_what_the_layout_forbids(self):
        cases = {
            "no 101 first": h("0064 006c") + BINARY_REQUEST[18:],
            "116 of length 4": BINARY_REQUEST.replace(h("0074000c"), h("00740004")),
            "unknown first code": h("0065") + BINARY_REQUEST[2:],
            "string past the end": BINARY_REQUEST[:-2] + h("0078 0009 78797a"),
        }
        for name, data in cases.items():
            with self.subTest(name):
                with self.assertRaises(d.Malformed):
                    d.parse_binary_request(data)

    def test_user_kind_zero_sends_two_empty_strings(self):
        req = BINARY_REQUEST.replace(h("0001 0002 7500 0004 70207700"), h("0000 0000 0000"))
        f = fields_of(d.parse_binary_request(req))
        self.assertEqual((f["userkind"], f["user"], f["password"]), ([0], [b""], [b""]))


class TextRequest(unittest.TestCase):
    def text(self, words):
        return words + b" :" + d.enc6(SECTION_109) + b"\x00"

    def test_reads_words_options_and_section_109(self):
        body = self.text(b"sqlexec alice  9.4 cid -ddb -gr grp -fIEEEM A=b=c")
        f = fields_of(d.parse_text_request(body))
        self.assertEqual(f["user"], [b"alice"])
        self.assertNotIn("password", f)
        self.assertEqual((f["version"], f["ident"]), ([b"9.4"], [b"cid"]))
        self.assertEqual((f["kind"], f["database"], f["flags"]), ([2], [b"db"], [16]))
        self.assertEqual(f["group"], [b"grp"])
        self.assertEqual(f["fmt"], [b"IEEEM"])
        self.assertEqual(f["env"], [b"A=b=c"])
        self.assertEqual(f["xcode"], [109])
        self.assertEqual((f["x.level"], f["x.program"], f["x.pf"]), ([61], [b"sqlexec"], [b"sqli"]))
        self.assertEqual((f["x.kind"], f["x.flags"], f["x.server"]), ([2], [16], [b"srv"]))
        self.assertEqual((f["x.uid"], f["x.gid"]), ([1000], [100]))

    def test_password_word_moves_the_others_up(self):
        words = b"sqlexec bob -pse.cret 9.4 cid -p -g  -fIEEEM"
        f = fields_of(d.parse_text_request(self.text(words)))
        self.assertEqual((f["user"], f["password"], f["version"]),
                         ([b"bob"], [b"se.cret"], [b"9.4"]))
        self.assertEqual((f["kind"], f["flags"], f["fmt"]), ([6], [0], [b"IEEEM"]))
        self.assertNotIn("group", f)

    def test_option_words_give_their_kinds(self):
        cases = [
            (b"-cnew /log", 1, "database", b"new"),
            (b"-ddb -e", 2, "database", b"db"),
            (b"-sdb x", 3, "database", b"db"),
            (b"-ndb -n", 4, "database", b"db"),
            (b"-rdb", 5, "database", b"db"),
            (b"-p", 6, None, None),
            (b"-lsrv", 7, "logarg", b"srv"),
            (b"-t", 8, None, None),
            (b"-V", 9, None, None),
            (b"-Xdb", 11, "database", b"db"),
        ]
        for words, kind, key, value in cases:
            with self.subTest(words=words):
                f = fields_of(d.parse_text_request(b"sqlexec u  v i " + words + b" -fIEEEM\x00"))
                self.assertEqual(f["kind"], [kind])
                if key:
                    self.assertEqual(f[key], [value])
        f = fields_of(d.parse_text_request(b"sqlexec u  v i -ddb -e -fIEEEM\x00"))
        self.assertEqual(f["flags"], [4])
        f = fields_of(d.parse_text_request(b"sqlexec u  v i -ndb -n -fIEEEM\x00"))
        self.assertEqual(f["flags"], [64])

    def test_rejects_malformed_text(self):
        cases = {
            "no zero byte": b"sqlexec u  v i -p -fIEEEM",
            "one word": b"sqlexec\x00",
            "bad 6-bit text": b"sqlexec u  v i -p -fIEEEM :AB+D\x00",
            "encoded section 110": b"sqlexec u  v i -p -fIEEEM :" + d.enc6(h("006e007f")) + b"\x00",
        }
        for name, body in cases.items():
            with self.subTest(name):
                with self.assertRaises(d.Malformed):
                    d.parse_text_request(body)


class Replies(unittest.TestCase):
    def setUp(self):
        self.req = d.parse_binary_request(BINARY_REQUEST)

    def test_accept_body(self):
        self.assertEqual(d.response_body(61, self.req, d.Reply(61)), ACCEPT_BODY)

    def test_reject_and_section_options(self):
        ids = d.be32(os.getuid()) + d.be32(os.getgid())
        body = d.response_body(61, self.req, d.Reply(61, -329, -111))
        self.assertEqual(body, ACCEPT_BODY[:-10] + h("feb7 ff91 0000 0000 007f"))
        no101 = d.response_body(61, self.req, d.Reply(61, omit=[101]))
        self.assertEqual(no101, ACCEPT_BODY[:2] + ACCEPT_BODY[16:])
        no102 = d.response_body(61, self.req, d.Reply(61, omit=[102]))
        self.assertEqual(no102, ACCEPT_BODY[:-18] + h("007f"))
        short116 = d.response_body(61, self.req, d.Reply(61, omit=[102], s116=4, unknown=True))
        self.assertEqual(short116, ACCEPT_BODY[:-18] + h("0074 0004") + ids[:4] +
                         h("0078 0003 78797a 007f"))
        long116 = d.response_body(61, self.req, d.Reply(61, omit=[102], s116=12))
        self.assertEqual(long116, ACCEPT_BODY[:-18] + h("0074 000c") + ids + h("00000000 007f"))

    def test_old_protocol_replies(self):
        cases = [
            ("accept kind 2", d.old_accept(2),
             h("000f 000f 000f 0000 00000000 00000000 00000000 000c")),
            ("accept kind 6", d.old_accept(6), h("000f")),
            ("list kind 7", d.old_accept(7, ["ab", "c", "def1"]),
             h("000f 0002 6162 0001 6300 0004 64656631 0000")),
            ("reject", d.old_reject(-329, -111), h("000d feb7 ff91 0000 0000 000c")),
        ]
        for name, got, want in cases:
            with self.subTest(name):
                self.assertEqual(got, want)

    def test_header(self):
        self.assertEqual(d.header(107, 2, 61 | 128, 4096), h("006b 02 bd 1000"))
        self.assertEqual(d.parse_header(h("8000 06 00 0000")), (0x8000, 6, 0, 0))


class Double:
    """The program as a child process in a temporary directory."""

    def __init__(self, *args, script=None):
        self.dir = tempfile.TemporaryDirectory()
        self.sockets = []
        self.ready = os.path.join(self.dir.name, "ready")
        self.journal = os.path.join(self.dir.name, "journal")
        argv = [sys.executable, SCRIPT, "--ready", self.ready, "--journal", self.journal,
                "--lifetime", "60"]
        if script is not None:
            path = os.path.join(self.dir.name, "options")
            with open(path, "w") as f:
                f.write(script)
            argv.append("@" + path)
        self.proc = subprocess.Popen(argv + list(args), stdin=subprocess.DEVNULL)
        end = time.monotonic() + 10
        while not os.path.exists(self.ready):
            if time.monotonic() > end or self.proc.poll() is not None:
                self.stop()
                raise RuntimeError("the double did not get ready")
            time.sleep(0.02)
        with open(self.ready) as f:
            ports = [int(w) for w in f.read().split()]
        self.port = ports[0]
        self.raw_port = ports[1] if len(ports) > 1 else None  # --replay's raw port

    def connect(self):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        s.settimeout(5)
        self.sockets.append(s)
        return s

    def lines(self):
        try:
            with open(self.journal) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_line(self, fragment, timeout=20):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for line in self.lines():
                if fragment in line:
                    return line
            time.sleep(0.02)
        raise AssertionError("no journal line with %r in %r" % (fragment, self.lines()))

    def stop(self):
        for s in self.sockets:
            s.close()
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.dir.cleanup()
        return self.proc.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def recv_all(s, n):
    out = b""
    while len(out) < n:
        chunk = s.recv(n - len(out))
        if not chunk:
            break
        out += chunk
    return out


def read_message(s):
    hdr = recv_all(s, 6)
    length = int.from_bytes(hdr[:2], "big")
    return hdr, recv_all(s, length - 6)


BINARY_CONNECT = d.header(len(BINARY_REQUEST) + 6, 1, 61) + BINARY_REQUEST


def text_connect(flag=61):
    body = b"sqlexec alice  9.4 cid -ddb -fIEEEM :" + d.enc6(SECTION_109) + b"\x00"
    return b"sq" + d.enc6(d.header(len(body) + 6, 1, flag)) + body


class Program(unittest.TestCase):
    def test_accepts_a_request_split_anyhow_and_echoes_data(self):
        with Double() as dbl:
            s = dbl.connect()
            for i in range(0, len(BINARY_CONNECT), 7):
                s.sendall(BINARY_CONNECT[i : i + 7])
                time.sleep(0.001)
            hdr, body = read_message(s)
            self.assertEqual(hdr, d.header(len(ACCEPT_BODY) + 6, 2, 61, 4096))
            self.assertEqual(body, ACCEPT_BODY)
            s.sendall(b"hello")
            self.assertEqual(recv_all(s, 5), b"hello")
            s.send(b"B", socket.MSG_OOB)
            dbl.wait_line("what=urgent byte=B")
            s.close()
            dbl.wait_line("what=eof")
            line = dbl.wait_line("what=connect")
            self.assertIn("order=1 assoc=1 session=0 what=connect prefix=header type=1 flag=61",
                          line)
            self.assertIn("password=p\\x20w", line)
            self.assertIn("raw=" + BINARY_CONNECT.hex(), line)
            self.assertIn("what=data size=5 raw=68656c6c6f", dbl.wait_line("what=data"))

    def test_text_request_with_prefix_and_multiplexing(self):
        with Double("--mux") as dbl:
            s = dbl.connect()
            for b in text_connect(61 | 128):
                s.sendall(bytes([b]))
            hdr, body = read_message(s)
            self.assertEqual(hdr[2:4], bytes([2, 0xBD]))
            line = dbl.wait_line("what=connect")
            self.assertIn("prefix=sq type=1 flag=189", line)
            self.assertIn("user=alice version=9.4 ident=cid", line)
            self.assertIn("x.program=sqlexec", line)
            # Data framed as type 6 both ways, and a second session.
            s.sendall(d.header(9, 6, 0) + b"abc")
            self.assertEqual(read_message(s), (d.header(9, 6, 0), b"abc"))
            s.sendall(d.header(len(BINARY_REQUEST) + 6, 10, 1) + BINARY_REQUEST)
            hdr, body = read_message(s)
            self.assertEqual(hdr[2:4], bytes([11, 0x81]))
            self.assertEqual(body[:2], h("0064"))
            s.sendall(d.header(8, 6, 1) + b"xy")
            self.assertEqual(read_message(s), (d.header(8, 6, 1), b"xy"))
            self.assertIn("session=1 what=connect type=10 flag=1", dbl.wait_line("type=10"))

    def test_multiplexed_reject_and_no_agreement(self):
        with Double("--mux-reject") as dbl:
            s = dbl.connect()
            s.sendall(text_connect(61 | 128))
            hdr, _ = read_message(s)
            self.assertEqual(hdr[2:4], bytes([2, 61]))  # no 128: headers not agreed
            s.sendall(b"raw data")
            self.assertEqual(recv_all(s, 8), b"raw data")
        with Double("--mux", "--mux-reject") as dbl:
            s = dbl.connect()
            s.sendall(text_connect(61 | 128))
            read_message(s)
            s.sendall(d.header(len(BINARY_REQUEST) + 6, 10, 2) + BINARY_REQUEST)
            hdr, body = read_message(s)
            self.assertEqual((hdr[2:4], len(body)), (bytes([12, 0x82]), 16))

    def test_old_client_and_old_level(self):
        cases = [
            (b"-ddb", d.old_accept(2)),
            (b"-p", h("000f")),
            (b"-lsrv", h("000f 0002 6162 0003 63646500 0000")),
        ]
        with Double("--dblist", "ab,cde") as dbl:
            for option, want in cases:
                with self.subTest(option=option):
                    s = dbl.connect()
                    s.sendall(b"sqlexec alice  9.4 cid " + option + b" -fIEEEM\x00")
                    self.assertEqual(recv_all(s, len(want)), want)
                    s.settimeout(0.2)
                    with self.assertRaises(socket.timeout):
                        s.recv(1)  # nothing more
            self.assertIn("prefix=sqle type=1 flag=0", dbl.wait_line("what=connect"))
        with Double("--reject=-329,-111", "--level", "59") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            self.assertEqual(recv_all(s, 12), h("000d feb7 ff91 0000 0000 000c"))

    def test_reject_and_reply_overrides(self):
        cases = [
            (["--reject=-329"], 3, None),
            (["--reply-type", "7"], 7, None),
            (["--reply-length", "0x8000"], 2, 0x8000),
            (["--reply-length", "2057"], 2, 2057),
        ]
        for args, typ, length in cases:
            with self.subTest(args=args), Double(*args) as dbl:
                s = dbl.connect()
                s.sendall(BINARY_CONNECT)
                hdr = recv_all(s, 6)
                self.assertEqual(hdr[2], typ)
                if length is not None:
                    self.assertEqual(int.from_bytes(hdr[:2], "big"), length)
        with Double("--fault", "short") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            self.assertEqual(recv_all(s, 10), d.header(10, 2, 61, 4096) + h("0064 007f"))

    def test_faults_shape_the_reply(self):
        full = d.header(len(ACCEPT_BODY) + 6, 2, 61, 4096) + ACCEPT_BODY
        with Double("--fault", "cut=9") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            self.assertEqual(recv_all(s, 200), full[:9])
        with Double("--fault", "cut=sweep") as dbl:
            for k in range(4):
                s = dbl.connect()
                s.sendall(BINARY_CONNECT)
                self.assertEqual(recv_all(s, 200), full[:k])
        with Double("--fault", "byte-writes") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            self.assertEqual(recv_all(s, len(full)), full)
        with Double("--fault", "reset") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            with self.assertRaises(ConnectionResetError):
                recv_all(s, 1)
        with Double("--fault", "silent", "--read-timeout", "0.5") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            s.settimeout(0.3)
            with self.assertRaises(socket.timeout):
                s.recv(1)
            dbl.wait_line("what=timeout")
        with Double("--delay", "300") as dbl:
            s = dbl.connect()
            start = time.monotonic()
            s.sendall(BINARY_CONNECT)
            recv_all(s, 6)
            self.assertGreaterEqual(time.monotonic() - start, 0.25)

    def test_nothing_listening_and_full_queue(self):
        with Double("--fault", "refuse") as dbl:
            with self.assertRaises(ConnectionRefusedError):
                dbl.connect()
        with Double("--fault", "full-queue") as dbl:
            with self.assertRaises(socket.timeout):
                socket.create_connection(("127.0.0.1", dbl.port), timeout=0.5)

    def test_data_options_from_a_script_file(self):
        with Double(script="--data-reply 0a0b\n--data-reply 0c\n# then echo\n") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            read_message(s)
            for sent, want in ((b"1", b"\x0a\x0b"), (b"2", b"\x0c"), (b"3", b"3")):
                s.sendall(sent)
                self.assertEqual(recv_all(s, len(want)), want)
        with Double("--fault", "data-cut=2", "--data-reply", "00010203") as dbl:
            s = dbl.connect()
            s.sendall(BINARY_CONNECT)
            read_message(s)
            s.sendall(b"x")
            self.assertEqual(recv_all(s, 10), b"\x00\x01")

    def test_times_limits_the_faults(self):
        with Double("--reject=-329", "--times", "1") as dbl:
            for typ in (3, 2):
                s = dbl.connect()
                s.sendall(BINARY_CONNECT)
                self.assertEqual(recv_all(s, 6)[2], typ)
                s.close()

    def test_bad_connect_headers_are_journaled(self):
        cases = [(0, 1, "bad header length"), (2057, 1, "bad header length"),
                 (0x8000, 1, "bad header length"), (100, 0, "not a connect")]
        for length, typ, reason in cases:
            with self.subTest(length=length, typ=typ), Double() as dbl:
                s = dbl.connect()
                s.sendall(d.header(length, typ, 61) + b"xx")
                self.assertEqual(recv_all(s, 1), b"")
                line = dbl.wait_line("what=error")
                self.assertIn("type=%d flag=61 length=%d" % (typ, length), line)
                self.assertIn("reason=" + d.escape(reason), line)

    def test_stops_cleanly_on_sigterm(self):
        dbl = Double()
        self.assertEqual(dbl.stop(), 0)


BACKEND = program("sqli_pipe_backend")


class PipeMode(unittest.TestCase):
    """The double as a pipe back-end, started through its wrapper script as
    a client starts it: by path, with the server name and host."""

    def start(self, options=""):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.journal = os.path.join(self.tmp.name, "journal")
        env = dict(os.environ, SQLI_PIPE_JOURNAL=self.journal,
                   SQLI_PIPE_OPTIONS="--read-timeout 5 --lifetime 30 " + options)
        proc = subprocess.Popen([BACKEND, "srv", "node1"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, env=env)
        self.addCleanup(lambda: (proc.kill(), proc.wait(), proc.stdin.close(),
                                 proc.stdout.close()))
        return proc

    def lines(self):
        try:
            with open(self.journal) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def wait_line(self, fragment, timeout=20):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            for line in self.lines():
                if fragment in line:
                    return line
            time.sleep(0.02)
        raise AssertionError("no journal line with %r in %r" % (fragment, self.lines()))

    def test_connect_echo_interrupt_and_end_of_file(self):
        proc = self.start("--report")
        start = self.wait_line("what=start")
        self.assertIn("argc=3 argv=" + d.escape(BACKEND) + " argv=srv argv=node1 fds=0,1,2",
                      start)
        proc.stdin.write(BINARY_CONNECT)
        proc.stdin.flush()
        hdr = proc.stdout.read(6)
        self.assertEqual(hdr, d.header(len(ACCEPT_BODY) + 6, 2, 61, 4096))
        self.assertEqual(proc.stdout.read(len(ACCEPT_BODY)), ACCEPT_BODY)
        data = bytes(range(256)) * 40
        proc.stdin.write(data)
        proc.stdin.flush()
        got = b""
        while len(got) < len(data):
            chunk = os.read(proc.stdout.fileno(), len(data) - len(got))
            self.assertTrue(chunk)
            got += chunk
        self.assertEqual(got, data)
        proc.terminate()  # the interrupt, not the end
        self.wait_line("what=interrupt signal=TERM")
        self.assertIsNone(proc.poll())
        proc.stdin.close()
        self.assertEqual(proc.wait(10), 0)
        self.assertIn("raw=" + BINARY_CONNECT.hex(), self.wait_line("what=connect"))
        self.wait_line("what=eof")

    def test_switches(self):
        # (options, what is sent, the journal's last "what", seconds it may live)
        cases = [("--exit-at-once", BINARY_CONNECT, None, 5),
                 ("--exit-after 1", BINARY_CONNECT, "connect", 5),
                 ("--exit-after 2", BINARY_CONNECT + b"abc", "data", 5),
                 ("--stall --read-timeout 1", BINARY_CONNECT, None, 5)]
        for options, send, last, limit in cases:
            with self.subTest(options=options):
                proc = self.start(options)
                try:
                    proc.stdin.write(send)
                    proc.stdin.flush()
                except BrokenPipeError:
                    pass
                reply = proc.stdout.read()  # to the end: the double has gone
                self.assertEqual(proc.wait(limit), 0)
                whats = [ln.split()[3] for ln in self.lines()]
                self.assertEqual(whats[-1:] if last else whats,
                                 ["what=" + last] if last else [])
                if options.startswith("--exit-after") or last is None:
                    expect = ACCEPT_BODY if options == "--exit-after 2" else b""
                    self.assertEqual(reply[6:] if expect else reply, expect)

    def test_stall_still_journals_the_interrupt(self):
        proc = self.start("--stall --report")
        self.wait_line("what=start")  # journaled once the handler is set
        proc.terminate()
        self.wait_line("what=interrupt")
        proc.stdin.close()
        proc.kill()


class StreamsMode(unittest.TestCase):
    def test_records_both_ways(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        path = os.path.join(tmp.name, "svc.str")
        with Double("--streams", path, "--hipri", "41") as dbl:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            self.addCleanup(s.close)
            s.settimeout(5)
            s.connect(path)
            s.send(d.stream_record(BINARY_CONNECT))
            rec = s.recv(65536)
            self.assertEqual(rec[:8], h("00 000000 00000000"))
            self.assertEqual(rec[8:], d.header(len(ACCEPT_BODY) + 6, 2, 61, 4096) + ACCEPT_BODY)
            self.assertEqual(s.recv(65536), h("01 000000 00000000 41"))
            # A message with control bytes: only the data is echoed.
            s.send(d.stream_record(b"hello", control=b"ctl"))
            self.assertEqual(s.recv(65536), h("00 000000 00000000") + b"hello")
            s.send(d.stream_record(b"B", band=1))
            dbl.wait_line("what=urgent byte=B")
            s.send(d.stream_record(b"more"))
            self.assertEqual(s.recv(65536)[8:], b"more")
            s.close()
            dbl.wait_line("what=eof")
            self.assertIn("what=data size=5 raw=68656c6c6f", dbl.wait_line("size=5"))

    def test_malformed_records_and_close(self):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        path = os.path.join(tmp.name, "svc.str")
        cases = [h("02 000000 00000000 41"), h("00 000100 00000000"), h("00 000000 00000009 41"),
                 h("00 0000")]
        with Double("--streams", path) as dbl:
            for rec in cases:
                with self.subTest(rec=rec.hex()):
                    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
                    s.settimeout(5)
                    s.connect(path)
                    s.send(rec)
                    self.assertEqual(s.recv(100), b"")  # the double closed
                    s.close()
            self.assertEqual(len([ln for ln in dbl.lines() if "what=error" in ln]), len(cases))
        with Double("--streams", path, "--fault", "close") as dbl:
            s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
            s.settimeout(5)
            s.connect(path)
            s.send(d.stream_record(BINARY_CONNECT))
            self.assertEqual(s.recv(100), b"")
            s.close()
        self.assertFalse(os.path.exists(path))


if __name__ == "__main__":
    unittest.main()
