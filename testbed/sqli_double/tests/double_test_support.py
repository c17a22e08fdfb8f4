"""What the SQLI double's test suites share: the double's folder on the
import path, the path of a program there, hex literals written by hand
and the binary connect response they expect. Imported first by
test_sqli_double and test_client_mode.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DOUBLE_DIR = os.path.dirname(HERE)
if DOUBLE_DIR not in sys.path:
    sys.path.insert(0, DOUBLE_DIR)


def program(name):
    """The path of one of the double's programs (e.g. "sqli_double.py")."""
    return os.path.join(DOUBLE_DIR, name)


def h(text):
    """Bytes of a hex literal written with blanks and line breaks."""
    return bytes.fromhex("".join(text.split()))


# A connect response by hand: 100, 101 (61, "IEEEM"), 108 (program
# "srvdvz", no strings but "sqli", no user), ol/61, tlitcp/1, 102 with
# error E (two bytes, filled in), 127.
_RESPONSE = """
0064
0065 0000003d 0006 494545454d00
006c 73727664767a 000000000000
0000 0000 0005 73716c6900
00000000 00000000 00000000
0000 0000 0000
6f6c000000000000 0000003d 746c697463700000 00000001
0066 000000000000 {err} 0000 0000 0000
007f
"""


def response(err="0000"):
    """The response body with the error number err (4 hex digits)."""
    return h(_RESPONSE.format(err=err))
