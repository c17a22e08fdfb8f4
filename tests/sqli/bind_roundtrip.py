#!/usr/bin/env python3
"""Decodes bind lists written by the runtime through the SQLI server
double's own decoder (testbed/sqli_double/sqli_engine.py) and compares
every value with what the test meant to send.

Usage: bind_roundtrip.py DOUBLE_DIR CASES_FILE. Each line of CASES_FILE is
a JSON object: {"caps": N, "hex": bytes of the list after code 5,
"values": [{"type": W, "kind": K, "v": ...}]}, kinds:
    null     the value is NULL
    int      an integer (SMALLINT, INTEGER, DATE, INT8)
    text     hex of the bytes of a text (lbuf, or i32 length for 43)
    long     hex of the bytes of an opaque value (the decoder's hex)
    float64  hex of the IEEE big-endian double
    float32  hex of the IEEE big-endian float
    decimal  the DECIMAL's text, compared through decimal.Decimal
    decfloat hex of a double sent as DECIMAL: equal after float()
    decfloat32  hex of a float sent as DECIMAL: equal as a float
Exit status 0 when every list decodes to its values, 1 otherwise.
"""
import decimal
import json
import struct
import sys


def check_value(got, want):
    if got["type"] != want["type"]:
        return "type %d, wanted %d" % (got["type"], want["type"])
    kind, v, value = want["kind"], want.get("v"), got.get("value")
    if kind == "null":
        return None if value is None else "value %r, wanted NULL" % (value,)
    if value is None:
        return "NULL, wanted %r" % (v,)
    if kind == "int":
        ok = value == v
    elif kind == "text":
        ok = bytes(value) == bytes.fromhex(v)
    elif kind == "long":
        ok = value == v
    elif kind == "float64":
        ok = value == struct.unpack(">d", bytes.fromhex(v))[0]
    elif kind == "float32":
        ok = value == struct.unpack(">f", bytes.fromhex(v))[0]
    elif kind == "decimal":
        ok = isinstance(value, decimal.Decimal) and value == decimal.Decimal(v)
    elif kind == "decfloat":
        ok = isinstance(value, decimal.Decimal) and float(value) == struct.unpack(">d", bytes.fromhex(v))[0]
    elif kind == "decfloat32":
        ok = isinstance(value, decimal.Decimal) and struct.pack(">f", float(value)) == bytes.fromhex(v)
    else:
        return "unknown kind %s" % kind
    return None if ok else "value %r, wanted %r (%s)" % (value, v, kind)


def main():
    sys.path.insert(0, sys.argv[1])
    import sqli_engine

    failures = 0
    lists = 0
    with open(sys.argv[2], encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            case = json.loads(line)
            lists += 1
            try:
                got = sqli_engine.decode_bind_list(bytes.fromhex(case["hex"]), case["caps"])
            except Exception as e:  # a malformed list is a failure like any other
                print("list %d: not decoded: %s" % (number, e))
                failures += 1
                continue
            want = case["values"]
            if got["count"] != len(want):
                print("list %d: count %d, wanted %d" % (number, got["count"], len(want)))
                failures += 1
                continue
            for i, (g, w) in enumerate(zip(got["values"], want), 1):
                problem = check_value(g, w)
                if problem:
                    print("list %d value %d (type %d): %s" % (number, i, w["type"], problem))
                    failures += 1
    print("%d lists checked, %d failures" % (lists, failures))
    return 1 if failures or lists == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
