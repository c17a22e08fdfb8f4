"""Tests of the double's communication-support mode (css_mode.py): the
transform, the bind and final responses against bytes written by hand, and
the running program over loopback playing the module's client side by hand
(tokens and transform from tests/asf/css/README.md).

Run from this folder: python3 -B -m unittest test_css_mode (ctest does).
"""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import css_mode  # noqa: E402
import sqli_double as d  # noqa: E402
from test_sqli_double import BINARY_REQUEST, Double, read_message, recv_all  # noqa: E402


def fields_of(line):
    out = {}
    for part in line.split(" "):
        k, _, v = part.partition("=")
        out.setdefault(k, v)
    return out


class Transform(unittest.TestCase):
    def test_xor_both_ways_and_zero_passes_through(self):
        cases = [
            (0x5A, b"\x00\x5a\xff", b"\x5a\x00\xa5"),
            (0, b"abc", b"abc"),
            (0x01, b"", b""),
        ]
        for key, plain, wire in cases:
            with self.subTest(key=key):
                self.assertEqual(css_mode.transform(plain, key), wire)
                self.assertEqual(css_mode.transform(wire, key), plain)


class Responses(unittest.TestCase):
    def setUp(self):
        self.req = d.parse_request_body(BINARY_REQUEST)

    def test_bind_response_starts_with_110_and_has_no_status_section(self):
        body = css_mode.bind_body(61, self.req, d.Reply(61, omit=(102,)))
        self.assertEqual(body[:2], b"\x00\x6e")
        self.assertEqual(body[2:6], b"\x00\x65\x00\x00")  # section 101 follows
        self.assertNotIn(d.status_section(), body)
        self.assertEqual(body[-2:], b"\x00\x7f")

    def test_final_response_is_111_then_accept_then_the_sections(self):
        body = css_mode.final_body(61, self.req, d.Reply(61))
        self.assertEqual(body[:4], b"\x00\x6f\x00\x00")
        self.assertEqual(body[4:], d.response_body(61, self.req, d.Reply(61))[2:])

    def test_split_arguments_takes_the_mode_options_out(self):
        cases = [
            (["--css", "--css-xor", "0x5a", "--level", "61"], ["--level", "61"],
             {"css_xor": 0x5A, "css_stall": 0, "css_sink": False}),
            (["--css-xor=7", "--css", "--css-sink", "--css-stall=1500"], [],
             {"css_xor": 7, "css_stall": 1500, "css_sink": True}),
        ]
        for argv, rest, values in cases:
            with self.subTest(argv=argv):
                self.assertEqual(css_mode.split_arguments(argv), (rest, values))


class Program(unittest.TestCase):
    """The client side of the module by hand over loopback."""

    KEY = 0x5A

    def handshake(self, s):
        s.sendall(d.header(len(BINARY_REQUEST) + 6, 1, 61) + BINARY_REQUEST)
        hdr, body = read_message(s)
        self.assertEqual(d.parse_header(hdr)[1], d.T_ACCEPT)
        self.assertEqual(body[:2], b"\x00\x6e")
        s.sendall(css_mode.CLIENT_TOKEN)
        self.assertEqual(recv_all(s, len(css_mode.SERVER_TOKEN)), css_mode.SERVER_TOKEN)

    def test_handshake_final_response_and_echo_through_the_transform(self):
        with Double("--css", "--css-xor", hex(self.KEY)) as dbl:
            s = dbl.connect()
            self.handshake(s)
            plain_final = css_mode.final_body(61, d.parse_request_body(BINARY_REQUEST),
                                              d.Reply(61))
            wire = recv_all(s, len(plain_final))
            self.assertEqual(css_mode.transform(wire, self.KEY), plain_final)
            payload = bytes(range(256)) * 4
            s.sendall(css_mode.transform(payload, self.KEY))
            echo = recv_all(s, len(payload))
            self.assertEqual(css_mode.transform(echo, self.KEY), payload)
            line = dbl.wait_line("what=final")
            f = fields_of(line)
            self.assertEqual(bytes.fromhex(f["plain"]), plain_final)
            self.assertEqual(bytes.fromhex(f["raw"]), wire)
            dbl.wait_line("what=data")
            data = [fields_of(x) for x in dbl.lines() if "what=data" in x]
            self.assertEqual(b"".join(bytes.fromhex(x["plain"]) for x in data), payload)
            self.assertEqual(b"".join(bytes.fromhex(x["raw"]) for x in data),
                             css_mode.transform(payload, self.KEY))

    def test_sink_journals_without_echo(self):
        with Double("--css", "--css-sink") as dbl:
            s = dbl.connect()
            self.handshake(s)
            final = css_mode.final_body(61, d.parse_request_body(BINARY_REQUEST), d.Reply(61))
            recv_all(s, len(final))
            s.sendall(b"ping")
            dbl.wait_line("what=data")
            s.settimeout(0.3)
            with self.assertRaises(OSError):
                s.recv(10)

    def test_wrong_token_is_journalled_and_the_connection_closed(self):
        with Double("--css") as dbl:
            s = dbl.connect()
            s.sendall(d.header(len(BINARY_REQUEST) + 6, 1, 61) + BINARY_REQUEST)
            read_message(s)
            s.sendall(b"CSMTEST HOWDY")
            self.assertEqual(s.recv(100), b"")
            self.assertIn("token=CSMTEST\\x20HOWDY", dbl.wait_line("what=handshake"))
            dbl.wait_line("what=error")


if __name__ == "__main__":
    unittest.main()
