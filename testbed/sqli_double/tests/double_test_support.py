"""What the SQLI double's test suites share: the double's folder on the
import path, the path of a program there, and hex literals written by
hand. Imported first by test_sqli_double and test_client_mode.
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
