"""Communication-support mode of the SQLI server double (--css).

The peer of a client whose sqlhosts entry names the communication-support
test module (tests/asf/css/README.md): the double answers the connect with
the bind response (code 110, no status section), runs the module's
handshake as its server side, then sends the final response (code 111, 0,
the connect parameters) and every later message through the module's
transform, and undoes the transform on what it reads. Written from the
module's README and the wire layouts, not from the module's code.

The transform is the module's byte-wise XOR with --css-xor K (0 passes bytes
through). --css-stall MS waits MS milliseconds after the final response
before reading data; --css-sink journals data without echoing it. Handshake tokens are sent as they are, without a terminator. A
session without headers carries no message boundaries, so the server's
token and the final response are kept apart by a short pause; with headers
(--mux) every token and message is one data frame.

Journal lines (besides those of the plain mode):
  what=handshake token=<bytes received> raw=<hex>
  what=final size=N raw=<wire hex> plain=<hex>
  what=data size=N raw=<wire hex> plain=<hex>   (replaces the plain mode's)
Standard library only.
"""

import time

import sqli_double as sd

CLIENT_TOKEN = b"CSMTEST HELLO"
SERVER_TOKEN = b"CSMTEST WELCOME"
S_FINAL = 111

# Pause between the server's token and the final response on a session
# without headers, so that the client's handshake read takes the token alone.
TOKEN_PAUSE = 0.2


def transform(data, key):
    """The module's transform: every byte XORed with key (both ways)."""
    if not key:
        return bytes(data)
    return bytes(b ^ key for b in data)


def bind_body(level, req, opts):
    """The bind response: the connect response with 110 in place of 100 and
    no status section."""
    body = sd.response_body(level, req, opts)
    return sd.be16(sd.S_BIND) + body[2:]


def final_body(level, req, opts):
    """The final response: 111, 0 (accepted), then the sections of the
    connect response after its code."""
    body = sd.response_body(level, req, opts)
    return sd.be16(S_FINAL) + sd.be16(0) + body[2:]


class CssServer(sd.Server):
    """The TCP double in communication-support mode."""

    def key(self):
        return self.args.css_xor & 0xFF

    def read_message(self, conn, size):
        """One message of the session: a data frame's body with headers,
        else exactly size bytes."""
        dl = self.deadline()
        if not conn.headers:
            return conn.read_exact(size, dl)
        hdr = conn.read_exact(sd.HEADER_SIZE, dl)
        length, typ, _, _ = sd.parse_header(hdr)
        if typ != sd.T_DATA or length < sd.HEADER_SIZE:
            raise sd.Malformed("handshake frame of type %d, length %d" % (typ, length))
        return conn.read_exact(length - sd.HEADER_SIZE, dl)

    def send_message(self, conn, faults, data):
        if conn.headers:
            data = sd.header(len(data) + sd.HEADER_SIZE, sd.T_DATA, 0) + data
        conn.send(data, faults)

    def serve_connect(self, conn, faults, faulty):
        a = self.args
        prefix, typ, flag, length, body, raw = self.read_connect(conn)
        fields = [("prefix", prefix), ("type", typ), ("flag", flag), ("length", length)]
        try:
            req = sd.parse_request_body(body)
        except sd.Malformed as m:
            req = [("reason", str(m))]
        self.journal.write(conn.assoc, 0, "connect", fields + req, raw)
        level = min(a.level, flag & 0x7F)
        if level < 60:
            raise sd.Malformed("communication support needs level 60 or more")
        mux = bool(flag & 0x80) and a.mux
        opts = sd.Reply(level, omit=(102,))
        rbody = bind_body(level, req, opts)
        conn.send(sd.header(len(rbody) + sd.HEADER_SIZE, sd.T_ACCEPT,
                            level | (0x80 if mux else 0), 4096) + rbody, faults)
        conn.headers = mux
        token = self.read_message(conn, len(CLIENT_TOKEN))
        self.journal.write(conn.assoc, 0, "handshake", [("token", token)], token)
        if token != CLIENT_TOKEN:
            raise sd.Malformed("unexpected handshake token")
        self.send_message(conn, faults, SERVER_TOKEN)
        if not conn.headers:
            time.sleep(TOKEN_PAUSE)
        plain = final_body(level, req, sd.Reply(level))
        wire = transform(plain, self.key())
        self.journal.write(conn.assoc, 0, "final",
                           [("size", len(wire)), ("plain", plain.hex())], wire)
        self.send_message(conn, faults, wire)
        return "data"

    def serve_data(self, conn, faults):
        if self.args.css_stall:
            # The client's sends fill the socket buffers meanwhile.
            time.sleep(self.args.css_stall / 1000.0)
        while True:
            dl = self.deadline()
            if conn.headers:
                hdr = conn.read_exact(sd.HEADER_SIZE, dl)
                length, typ, flag, _ = sd.parse_header(hdr)
                if typ != sd.T_DATA or length < sd.HEADER_SIZE:
                    raise sd.Malformed("data frame of type %d, length %d" % (typ, length))
                wire = conn.read_exact(length - sd.HEADER_SIZE, dl)
            else:
                wire = conn.read_some(dl)
            plain = transform(wire, self.key())
            self.journal.write(conn.assoc, 0, "data",
                               [("size", len(wire)), ("plain", plain.hex())], wire)
            if not self.args.css_sink:
                # The echo goes back through the transform: the plain bytes again.
                self.send_message(conn, faults, transform(plain, self.key()))


# The mode's options with a value, and their defaults.
VALUE_OPTIONS = {"--css-xor": 0, "--css-stall": 0}


def split_arguments(argv):
    """argv without the mode's options, and a dict of their values:
    css_xor, css_stall (ms before data is read), css_sink (no echo)."""
    rest, it = [], iter(argv)
    values = {k[2:].replace("-", "_"): v for k, v in VALUE_OPTIONS.items()}
    values["css_sink"] = False
    for word in it:
        name, eq, value = word.partition("=")
        if word == "--css":
            continue
        if word == "--css-sink":
            values["css_sink"] = True
        elif name in VALUE_OPTIONS:
            values[name[2:].replace("-", "_")] = int(value if eq else next(it, "0"), 0)
        else:
            rest.append(word)
    return rest, values


def main(argv):
    """Runs the TCP double in this mode until SIGTERM or its lifetime."""
    server = CssServer(sd.mode_args(*split_arguments(argv)))
    sd.run_until_stopped(server)
    return 0
