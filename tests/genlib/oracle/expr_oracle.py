#!/usr/bin/env python3
"""Case table for the evaluator's comparisons and DECIMAL arithmetic.

Comparisons: random pairs of INTEGER, SMALLINT, DECIMAL, MONEY, FLOAT, INT8
and CHAR values, compared in the type SQL compares them in (both CHAR: as
blank-padded byte strings; any FLOAT: as doubles; any MONEY, DECIMAL or
CHAR: as exact decimals; else INT8, INTEGER, SMALLINT as integers) with
Python's Decimal, float and int, for =, <>, <=, <, >=, >.

Arithmetic: DECIMAL(p, s) operands added, multiplied and divided. The
result's precision word follows the evaluator's rule (sums: one more
integer digit than the larger operand, the larger scale; products: the
sums of integer digits and scales, at least 16 digits when the scale is
not 0; quotients: p1 + p2 digits, at most 32, floating). The value is
the DECIMAL operation's (decimal_oracle.py's model of the 16-pair
record), and a product or quotient is then rounded half away from zero to
the scale, or for a floating word to its number of significant digits.

Writes expr_cases.txt (or the path given as the only argument). Fixed
seed: running it again gives the same bytes. Standard library only.

Lines ("#" starts a comment):
  cmp A B FLAGS          FLAGS: six 0/1 for = <> <= < >= >
  add|mul|div A B WORD RESULT STATUS
A comparison operand is TYPE:VALUE with TYPE one of int smallint int8
decimal money float char; a FLOAT value is its IEEE pattern in 16
hexadecimal digits, a CHAR value has "_" for each blank. An arithmetic
operand is P,S:VALUE. WORD is the result precision word in hexadecimal;
RESULT is the record as in decimal_oracle.py ("+123450@2").
"""

import decimal
import os
import random
import struct
import sys
from decimal import Decimal

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import decimal_oracle as dm  # noqa: E402

EXACT = dm.EXACT
SEED = 20261118
COMPARE_COUNT = 1500
ARITH_COUNT = 300

TYPES = ['int', 'smallint', 'int8', 'decimal', 'money', 'float', 'char']
KIND = {'char': 0x1, 'smallint': 0x2, 'int': 0x4, 'float': 0x8, 'money': 0x10,
        'decimal': 0x40, 'int8': 0x800}
LIMIT = {'smallint': 32767, 'int': 2147483647, 'int8': 2 ** 63 - 1}


def comparison_type(t1, t2):
    k1, k2 = KIND[t1], KIND[t2]
    if k1 & k2 & 0x1:
        return 'char'
    kinds = k1 | k2
    if kinds & 0x8:
        return 'float'
    if kinds & 0x10:
        return 'money'
    if kinds & 0x41:
        return 'decimal'
    if kinds & 0x800:
        return 'int8'
    if kinds & 0x4:
        return 'int'
    return 'smallint'


def random_number(rng):
    """A Decimal of 1 to 19 digits with 0 to 6 of them after the point."""
    digits = rng.randint(1, 19)
    scale = rng.randint(0, min(6, digits))
    coefficient = rng.randint(0, 10 ** digits - 1)
    x = Decimal(coefficient).scaleb(-scale)
    return -x if rng.random() < 0.4 else x


def small_number(rng):
    return Decimal(rng.randint(-300, 300)).scaleb(-rng.randint(0, 2))


def render(t, x, rng):
    """(token, value) of the Decimal x held as type t, or None when t
    cannot hold it."""
    if t in LIMIT:
        n = int(x)
        if abs(n) > LIMIT[t]:
            return None
        return '%s:%d' % (t, n), n
    if t == 'decimal':
        return 'decimal:%s' % format(x, 'f'), x
    if t == 'money':
        m = x.quantize(Decimal('0.01'), rounding=decimal.ROUND_HALF_UP, context=EXACT)
        if m.adjusted() >= 14:
            return None
        return 'money:%s' % format(m, 'f'), m
    if t == 'float':
        f = float(x)
        return 'float:%016x' % struct.unpack('>Q', struct.pack('>d', f))[0], f
    # CHAR holding number text, plain or with trailing zeros.
    text = format(x, 'f')
    if '.' in text and rng.random() < 0.3:
        text += '0' * rng.randint(1, 3)
    return 'char:%s' % text, text


def as_type(ct, t, value):
    """The operand value as the comparison type ct sees it."""
    if ct == 'float':
        return float(value)
    if ct in ('decimal', 'money'):
        return Decimal(value)
    return int(value)


def char_text(rng):
    n = rng.randint(0, 6)
    return ''.join(rng.choice('ab 1') for _ in range(n))


def char_order(a, b):
    width = max(len(a), len(b))
    a, b = a.ljust(width).encode(), b.ljust(width).encode()
    return (a > b) - (a < b)


def flags(order):
    return ''.join('1' if f else '0' for f in (
        order == 0, order != 0, order <= 0, order < 0, order >= 0, order > 0))


def compare_rows(rng):
    rows = []
    while len(rows) < COMPARE_COUNT:
        t1, t2 = rng.choice(TYPES), rng.choice(TYPES)
        if t1 == 'char' and t2 == 'char':
            a, b = char_text(rng), char_text(rng)
            if rng.random() < 0.3:
                b = a.rstrip(' ') + ' ' * rng.randint(0, 3)
            rows.append('cmp char:%s char:%s %s' % (a.replace(' ', '_'), b.replace(' ', '_'),
                                                    flags(char_order(a, b))))
            continue
        x = random_number(rng) if rng.random() < 0.5 else small_number(rng)
        pick = rng.random()
        if pick < 0.4:
            y = x
        elif pick < 0.7:
            y = x + Decimal(rng.choice((1, -1))).scaleb(-rng.randint(0, 4))
        else:
            y = random_number(rng) if rng.random() < 0.5 else small_number(rng)
        first, second = render(t1, x, rng), render(t2, y, rng)
        if first is None or second is None:
            continue
        ct = comparison_type(t1, t2)
        p, q = as_type(ct, t1, first[1]), as_type(ct, t2, second[1])
        order = (p > q) - (p < q)
        rows.append('cmp %s %s %s' % (first[0], second[0], flags(order)))
    return rows


# ---- Arithmetic -----------------------------------------------------------------------------


def result_word(op, p1, s1, p2, s2):
    if op == 'div':
        p, s = min(p1 + p2, 32), 255
    else:
        i1, i2 = p1 - s1, p2 - s2
        if op == 'add':
            p, s = max(i1, i2) + 1, max(s1, s2)
        else:
            p, s = i1 + i2, s1 + s2
        p = min(p, 32)
        if s > 0:
            s = min(s, 32 - p)
            p += s
            if p >= 32 or s == 0:
                s = 255
    if op in ('mul', 'div') and p < 16 and s != 0:
        return 16, s
    return p, s


def record(x):
    return dm.to_dec_t(x, decimal.ROUND_HALF_UP)[0]


def fitted(x, p, s):
    """x rounded half away from zero to the word p, s."""
    if x.is_zero():
        return x
    if s == 255:
        significant = len(x.normalize(context=EXACT).as_tuple().digits)
        if significant <= p:
            return x
        places = p - x.adjusted() - 1
    else:
        places = s
    return x.quantize(Decimal(1).scaleb(-places), rounding=decimal.ROUND_HALF_UP, context=EXACT)


def random_operand(rng):
    p = rng.randint(1, 16)
    s = rng.randint(0, p)
    coefficient = rng.randint(0, 10 ** rng.randint(1, p) - 1)
    x = Decimal(coefficient).scaleb(-s)
    if rng.random() < 0.4:
        x = -x
    return p, s, x


def arith_rows(rng):
    rows = []
    for n in range(ARITH_COUNT):
        p1, s1, x = random_operand(rng)
        p2, s2, y = random_operand(rng)
        if n % 50 == 0:
            y = Decimal(0)
        a, b = record(x), record(y)
        for op in ('add', 'mul', 'div'):
            p, s = result_word(op, p1, s1, p2, s2)
            if op == 'add':
                r, status = dm.add(a, b)
            elif op == 'mul':
                r, status = dm.mul(a, b)
                r = record(fitted(dm.value_of(r), p, s))
            else:
                r, status = dm.div(a, b)
                if status == 0:
                    r = record(fitted(dm.value_of(r), p, s))
            rows.append('%s %d,%d:%s %d,%d:%s %04x %s %d' % (
                op, p1, s1, format(x, 'f'), p2, s2, format(y, 'f'), p << 8 | s, dm.repr_dec(r),
                status))
    return rows


def main():
    out_path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), 'expr_cases.txt')
    rng = random.Random(SEED)
    lines = ['# Generated by expr_oracle.py; regenerate with the regen-genlib-expr-oracle target.',
             '# comparisons']
    lines += compare_rows(rng)
    lines.append('# DECIMAL sums, products and quotients')
    lines += arith_rows(rng)
    with open(out_path, 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
