"""Tests of the SQLI double's client mode (client_mode.py): the requests it
sends, against bytes written by hand from the wire layouts, and its reply
checks, against a scripted listener on a loopback socket that answers with
hand-written bytes; then the program against the double's server mode.

Run from this folder: python3 -B -m unittest test_client_mode.
"""

import json
import os
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

from double_test_support import h, program, response
import client_mode as cm  # noqa: E402
import sqli_double as d  # noqa: E402
from test_sqli_double import Double  # noqa: E402

SCRIPT = program("client_mode.py")


# Section 109 by hand: level 61, ol/61, tlitcp/1, the words 311 0 0,
# program "sqlexec", family "sqli", kind 2, flags 0, server "srv", 127.
SECTION_109 = h("""
006d 0000003d
6f6c000000000000 0000003d 746c697463700000 00000001
00000137 00000000 00000000
73716c65786563 0000000000
0005 73716c6900
0002 00000000 0004 73727600
007f
""")

# A binary request by hand: program "ruzodu", version "9.4", ident "id",
# user kind 1, user "u", password "pw", ol/61 and tlitcp/1, then 104 (kind
# 2, database "db"), 106 (A=b), 107 (pid 1111, third word -1, host "h1", no
# terminal, "/t"), 116 (uid 1000, gid 100), 127.
BINARY_BODY = h("""
0064
0065 0000003d 0006 494545454d00
006c 72757a6f6475 000000000000
0004 392e3400  0003 696400  0005 73716c6900
00000137 00000000 00000000
0001 0002 7500 0003 707700
6f6c000000000000 0000003d 746c697463700000 00000001
0068 0002 00000000 0000 0003 646200 0000 0000 0000 0000
006a 0001 0002 4100 0002 6200
006b 00000000 00000457 ffffffff 0003 683100 0000 0003 2f7400
0074 0008 000003e8 00000064
007f
""")

ACCEPT = response()
REJECT_951 = response("fc49")


def text_request(**kw):
    base = dict(form="text", level=61, user="alice", password=None, version="9.4",
                ident="cid", kind=2, database="db", server="srv", product="ol",
                protocol="tlitcp", procinfo=False)
    base.update(kw)
    return cm.Request(**base)


def binary_request(**kw):
    base = dict(form="binary", level=61, program="ruzodu", version="9.4", ident="id",
                user="u", password="pw", product="ol", protocol="tlitcp", kind=2,
                database="db", env=[("A", "b")], pid=1111, pword3=-1, host="h1", tty="",
                cwd="/t", uid=1000, gid=100)
    base.update(kw)
    return cm.Request(**base)


class Requests(unittest.TestCase):
    def test_text_form_behind_the_six_bit_header(self):
        prefix, body = cm.build_request(text_request())
        line = b"sqlexec alice  9.4 cid -ddb -fIEEEM :"
        self.assertEqual(body, line + d.enc6(SECTION_109) + b"\x00")
        # 37 + 100 + 1 bytes, length 144: header 00 90 01 3d 00 00.
        self.assertEqual(len(body), 138)
        self.assertEqual(prefix, b"sqAJABPQAA")
        prefix, _ = cm.build_request(text_request(level=60, mux=True, plevel=61))
        self.assertEqual(d.dec6(prefix[2:]), h("0090 01 bc 0000"))

    def test_option_words_by_connect_kind(self):
        cases = [
            (dict(kind=2, flags=4), b"-ddb -e"),
            (dict(kind=1), b"-cdb srv"),
            (dict(kind=1, server="", flags=0x1000000, logfile="/l"), b"-cdb - -a/l"),
            (dict(kind=3, flags=0x80, logfile="x"), b"-sdb - -lx"),
            (dict(kind=4, flags=64), b"-ndb -n"),
            (dict(kind=5), b"-rdb"),
            (dict(kind=6), b"-p"),
            (dict(kind=7, logarg="pat"), b"-lpat"),
            (dict(kind=11, database=""), b"-p"),
            (dict(kind=11), b"-ddb"),
            (dict(kind=2, group="grp", flags=16, grouparg="ga"), b"-ddb -gr grp ga"),
            (dict(kind=2, group="grp"), b"-ddb -g grp"),
        ]
        for kw, words in cases:
            with self.subTest(kw=kw):
                _, body = cm.build_request(text_request(section109=False, **kw))
                line = b"sqlexec alice  9.4 cid " + words + b" -fIEEEM\x00"
                self.assertEqual(body, line)

    def test_password_environment_and_process_information(self):
        req = text_request(password="pw", env=[("A", "b"), ("C", "d")], procinfo=True,
                           pid=1111, pword3=-1, host="h1", tty="", cwd="/t", uid=1000, gid=100)
        _, body = cm.build_request(req)
        head, _, text = body.rstrip(b"\x00").partition(b" :")
        self.assertEqual(head, b"sqlexec alice -ppw 9.4 cid -ddb -fIEEEM A=b C=d")
        procinfo = h("006b 00000000 00000457 ffffffff 0003 683100 0000 0003 2f7400"
                     "0074 0008 000003e8 00000064 007f")
        self.assertEqual(d.dec6(text), SECTION_109[:-2] + procinfo)

    def test_old_client_sends_no_header(self):
        prefix, body = cm.build_request(text_request(form="old", kind=6, password="pw",
                                                     section109=False))
        self.assertEqual((prefix, body), (b"", b"sqlexec alice -ppw 9.4 cid -p -fIEEEM\x00"))

    def test_binary_form_behind_a_header_of_type_one(self):
        prefix, body = cm.build_request(binary_request())
        self.assertEqual(body, BINARY_BODY)
        self.assertEqual(prefix, d.be16(len(BINARY_BODY) + 6) + h("01 3d 0000"))
        _, body = cm.build_request(binary_request(user_kind=0, kind=None, env=[],
                                                  procinfo=False))
        self.assertEqual(body[body.index(b"\x00\x00\x01\x37") + 12:],
                         h("0000 0000 0000 6f6c000000000000 0000003d"
                           "746c697463700000 00000001 007f"))

    def test_deliberately_bad_headers(self):
        prefix, _ = cm.build_request(binary_request(header_length=3000, level=59))
        self.assertEqual(prefix, h("0bb8 01 3b 0000"))
        prefix, _ = cm.build_request(text_request(header_type=5))
        self.assertEqual(d.dec6(prefix[2:]), h("0090 05 3d 0000"))

    def test_the_double_reads_what_the_client_writes(self):
        for req in (text_request(procinfo=True, env=[("A", "b")]), binary_request()):
            with self.subTest(form=req.form):
                f = dict(d.parse_request_body(cm.build_request(req)[1]))
                self.assertEqual(f.get("kind", f.get("x.kind")), 2)
                self.assertNotIn("reason", f)
                self.assertNotIn("trailing", f)


class ScriptedListener:
    """A loopback listener for one connection: reads the request (its size
    given), answers with the scripted bytes, then echoes what comes (when
    asked) until the client closes."""

    def __init__(self, request_size, reply, echo=False):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(1)
        self.port = self.sock.getsockname()[1]
        self.request_size = request_size
        self.reply = reply
        self.echo = echo
        self.got = b""
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        self.sock.settimeout(10)
        conn, _ = self.sock.accept()
        conn.settimeout(10)
        with conn:
            while len(self.got) < self.request_size:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                self.got += chunk
            if self.reply is None:
                return  # closes without a word
            conn.sendall(self.reply)
            while True:
                try:
                    chunk = conn.recv(65536)
                except OSError:
                    return
                if not chunk:
                    return
                if self.echo:
                    conn.sendall(chunk)

    def close(self):
        self.thread.join(15)
        self.sock.close()


def exchange(req, reply, exp, echo=False, data=()):
    """Runs the client against a scripted reply; (result, request bytes seen)."""
    size = sum(len(p) for p in cm.build_request(req))
    listener = ScriptedListener(size, reply, echo)
    try:
        res = cm.run(req, exp, "127.0.0.1", listener.port, timeout=3, data=data, echo=echo)
    finally:
        listener.close()
    return res, listener.got


def accept_header(body, flag=61, typ=2, ident=4096, length=None):
    return d.header(len(body) + 6 if length is None else length, typ, flag, ident) + body


class Replies(unittest.TestCase):
    def assertChecks(self, res, failed):
        self.assertEqual(res.failed(), failed, json.dumps(cm.jsonable(res.report), indent=1))

    def test_header_replies(self):
        old_accept = h("000f 000f 000f 0000 000000000000000000000000 000c")
        cases = [
            # name, request, reply, expectation, failed checks
            ("accept", text_request(), accept_header(ACCEPT), cm.Expect(ident=4096), []),
            ("reject", text_request(), accept_header(REJECT_951, typ=3),
             cm.Expect("reject", error=-951), []),
            ("server level lower", binary_request(), accept_header(ACCEPT, flag=60),
             cm.Expect(server_level=60), []),
            ("multiplexing agreed", text_request(mux=True), accept_header(ACCEPT, flag=189),
             cm.Expect(mux=True), []),
            ("reject for accept", text_request(), accept_header(REJECT_951, typ=3),
             cm.Expect(), ["reply.type"]),
            ("wrong error", text_request(), accept_header(REJECT_951, typ=3),
             cm.Expect("reject", error=-952), ["reply.error"]),
            ("flag without the level", text_request(), accept_header(ACCEPT, flag=0),
             cm.Expect(), ["reply.flag"]),
            ("multiplexing not asked", text_request(), accept_header(ACCEPT, flag=189),
             cm.Expect(), ["reply.flag"]),
            ("wrong id", text_request(), accept_header(ACCEPT, ident=2048),
             cm.Expect(ident=4096), ["reply.id"]),
            ("length above 2056", text_request(), accept_header(ACCEPT, length=2057),
             cm.Expect(), ["reply.length"]),
            ("body cut", text_request(), accept_header(ACCEPT)[:-3], cm.Expect(),
             ["reply.body"]),
            ("old reply at level 61", text_request(), old_accept, cm.Expect(),
             ["reply.type", "reply.flag", "reply.code", "reply.sections", "reply.trailing"]),
            ("no 101", text_request(), accept_header(h("0064 007f")), cm.Expect(),
             ["reply.sections"]),
            ("bytes after the reply", text_request(), accept_header(ACCEPT) + b"x",
             cm.Expect(), ["reply.trailing"]),
        ]
        for name, req, reply, exp, failed in cases:
            with self.subTest(name):
                res, got = exchange(req, reply, exp)
                self.assertEqual(got, b"".join(cm.build_request(req)))
                self.assertChecks(res, failed)

    def test_old_protocol_replies(self):
        form1 = h("000f 000f") + h("000f 0004 000000000000000000000000 000c")
        reject = h("000d fc49 0000 0000 0003 626164 00 000c")
        cases = [
            ("form 1 accept", dict(kind=2), form1, cm.Expect(), []),
            ("old client", dict(form="old", level=61), form1, cm.Expect(), []),
            ("form 2 for kind 6", dict(kind=6), h("000f"), cm.Expect(), []),
            ("database list", dict(kind=7), h("000f 0003 616263 00 0002 6465 0000"),
             cm.Expect(names=["abc", "de"]), []),
            ("reject unprefixed", dict(kind=2), reject, cm.Expect("reject", error=-951), []),
            ("accept form 2 for kind 2", dict(kind=2), h("000f") + form1[4:], cm.Expect(),
             ["old.layout"]),
            ("form 1 for kind 6", dict(kind=6), h("000f 000f"), cm.Expect(),
             ["old.trailing"]),
            ("prefixed reject", dict(kind=2), h("000f 000f") + reject, cm.Expect("reject"),
             ["old.layout"]),
            ("accept for reject", dict(kind=2), form1, cm.Expect("reject"),
             ["old.reject", "old.unprefixed"]),
            ("accept ends 56", dict(kind=2), form1[:-2] + h("0038"), cm.Expect(), ["old.end"]),
            ("cut", dict(kind=2), form1[:-1], cm.Expect(), ["old.complete"]),
        ]
        for name, kw, reply, exp, failed in cases:
            with self.subTest(name):
                req = text_request(**dict(dict(level=59), **kw))
                res, _ = exchange(req, reply, exp)
                self.assertChecks(res, failed)

    def test_closed_without_reply(self):
        res, _ = exchange(binary_request(header_length=3000), None, cm.Expect("closed"))
        self.assertChecks(res, [])
        res, _ = exchange(binary_request(header_type=5), accept_header(REJECT_951, typ=3),
                          cm.Expect("closed"))
        self.assertChecks(res, ["closed"])

    def test_data_messages_with_and_without_headers(self):
        payloads = [b"abc", bytes(range(256)) * 8]
        res, _ = exchange(text_request(mux=True), accept_header(ACCEPT, flag=189),
                          cm.Expect(mux=True), echo=True, data=payloads)
        self.assertChecks(res, [])
        self.assertEqual([m["received"] for m in res.report["data"]], [p.hex() for p in payloads])
        res, _ = exchange(text_request(), accept_header(ACCEPT), cm.Expect(), echo=True,
                          data=payloads)
        self.assertChecks(res, [])
        res, _ = exchange(text_request(), accept_header(ACCEPT), cm.Expect(), echo=False,
                          data=[b"abc"])
        self.assertEqual(res.failed(), ["data1.reply"])

    def test_bind_response_then_final_response(self):
        bind = h("006e") + ACCEPT[2:]
        final = h("006f 0000") + ACCEPT[2:]
        # Without headers the final response comes as it is; with them,
        # behind a data header of the session.
        res, _ = exchange(text_request(), accept_header(bind) + final, cm.Expect())
        self.assertChecks(res, [])
        self.assertEqual(dict(res.report["received"]["final"])["rejected"], 0)
        res, _ = exchange(text_request(mux=True), accept_header(bind, flag=189)
                          + d.header(len(final) + 6, 6, 0) + final, cm.Expect(mux=True))
        self.assertChecks(res, [])
        res, _ = exchange(text_request(mux=True), accept_header(bind, flag=189)
                          + accept_header(final, flag=189), cm.Expect(mux=True))
        self.assertChecks(res, ["final.type", "final.flag"])


class Program(unittest.TestCase):
    """The command line against the double's server mode."""

    def run_client(self, port, *args):
        with tempfile.TemporaryDirectory() as tmp:
            journal = os.path.join(tmp, "wire")
            p = subprocess.run([sys.executable, "-B", SCRIPT, "--port", str(port),
                                "--journal", journal, "--timeout", "5"] + list(args),
                               capture_output=True, timeout=30)
            with open(journal) as f:
                lines = f.read().splitlines()
        return p.returncode, json.loads(p.stdout), lines

    def test_against_the_double(self):
        with Double("--mux") as dbl:
            cases = [
                (["--form", "text", "--mux", "--expect-mux"], 0),
                (["--form", "binary", "--expect-id", "4096"], 0),
                (["--form", "old", "--kind", "6"], 0),
                (["--form", "binary", "--level", "59"], 0),
                (["--form", "text", "--expect-id", "1"], 1),
            ]
            for args, rc in cases:
                with self.subTest(args=args):
                    got, report, lines = self.run_client(dbl.port, "--data", "616263",
                                                         "--expect-echo", *args)
                    self.assertEqual(got, rc, report)
                    self.assertEqual(report["ok"], rc == 0)
                    self.assertTrue(lines[0].startswith("order=1 what=sent"))
                    self.assertIn("what=received", lines[1])
            line = dbl.wait_line("assoc=3 session=0 what=connect")
            self.assertIn("prefix=sqle", line)
            self.assertIn("kind=6", line)

    def test_wrong_command_line(self):
        p = subprocess.run([sys.executable, "-B", SCRIPT, "--form", "xml", "--port", "1"],
                           capture_output=True, timeout=30)
        self.assertEqual(p.returncode, 2)


if __name__ == "__main__":
    unittest.main()
