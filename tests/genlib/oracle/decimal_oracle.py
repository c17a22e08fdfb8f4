#!/usr/bin/env python3
"""Case tables for the DECIMAL arithmetic and packed-form tests.

Computes expected results with Python's exact decimal arithmetic and writes
them to decimal_cases.txt (or the path given as the only argument). Fixed
seeds: running it again gives the same bytes. Standard library only.

A value is written as in tests/genlib/dec_repr.h: the sign ("+", "-" or
"null"), the base-100 digit pairs as two decimal characters each, "@" and
the base-100 exponent; 1234.5 is "+123450@2", zero is "+@-64".

Lines ("#" starts a comment naming the group below it):
  add|sub|mul|div  A B  RESULT STATUS
  round|trunc      A PLACES  RESULT
  pack             A LENGTH  HEXBYTES  LOADED STATUS
"""

import decimal
import random
import sys
from decimal import Decimal

EXACT = decimal.Context(prec=100, rounding=decimal.ROUND_HALF_UP, Emin=-999999,
                        Emax=999999, traps=[decimal.InvalidOperation])
ZERO = (1, -64, ())
NULL = None


def value_of(dec):
    """The Decimal a (sign, exponent, pairs) record stands for."""
    sign, exponent, pairs = dec
    if not pairs:
        return Decimal(0)
    coefficient = int(''.join('%02d' % p for p in pairs))
    x = Decimal(coefficient).scaleb(2 * (exponent - len(pairs)), context=EXACT)
    return x.copy_negate() if sign == 0 else x


def pairs_of(x, exponent, count):
    """The first `count` base-100 digits of |x| below 100**exponent."""
    scaled = x.copy_abs().scaleb(2 * (count - exponent), context=EXACT)
    integral = int(scaled)
    assert Decimal(integral) == scaled, (x, exponent, count)
    text = str(integral).zfill(2 * count)
    assert len(text) == 2 * count
    pairs = [int(text[i:i + 2]) for i in range(0, 2 * count, 2)]
    while pairs and pairs[-1] == 0:
        pairs.pop()
    return tuple(pairs)


def base100_exponent(x):
    return x.adjusted() // 2 + 1


def to_dec_t(x, mode, npairs=16):
    """Normalise x to at most `npairs` pairs: (record, status)."""
    if x.is_zero():
        return ZERO, 0
    e = base100_exponent(x)
    r = x.quantize(Decimal((0, (1,), 2 * e - 2 * npairs)), rounding=mode, context=EXACT)
    e = base100_exponent(r)
    status = -1200 if e >= 63 else -1201 if e < -64 else 0
    pairs = pairs_of(r, e, npairs)
    stored = 63 if e >= 63 else -64 if e < -64 else e
    return (0 if r < 0 else 1, stored, pairs), status


def repr_dec(dec):
    if dec is NULL:
        return 'null'
    sign, exponent, pairs = dec
    return ('-' if sign == 0 else '+') + ''.join('%02d' % p for p in pairs) + '@%d' % exponent


def add(a, b, negate_b=False):
    if b is not NULL and negate_b:
        b = (1 - b[0], b[1], b[2])
    if a is NULL or b is NULL:
        return NULL, 0
    x, y = (a, b) if value_of(a).copy_abs() >= value_of(b).copy_abs() else (b, a)
    if not x[2]:
        return ZERO, 0
    nx, ny = len(x[2]), len(y[2])
    d = x[1] - y[1]
    n = min(max(ny + d, nx), 17)
    keep = max(0, min(n - d, ny))
    y_kept = (y[0], y[1], y[2][:keep])
    return to_dec_t(EXACT.add(value_of(x), value_of(y_kept)), decimal.ROUND_HALF_UP)


def mul(a, b):
    if a is NULL or b is NULL:
        return NULL, 0
    return to_dec_t(EXACT.multiply(value_of(a), value_of(b)), decimal.ROUND_HALF_UP)


def div(a, b):
    if a is NULL or b is NULL:
        return NULL, 0
    if not b[2]:
        return ZERO, -1202
    down = EXACT.copy()
    down.rounding = decimal.ROUND_DOWN
    return to_dec_t(down.divide(value_of(a), value_of(b)), decimal.ROUND_HALF_UP)


def round_or_trunc(a, places, mode):
    if places >= 2 * (len(a[2]) - a[1]):
        return a
    x = value_of(a).quantize(Decimal(1).scaleb(-places), rounding=mode, context=EXACT)
    return to_dec_t(x, mode)[0]


def pack(a, length):
    """Packed bytes of `a` in `length` bytes, and what reading them gives."""
    room = length - 1
    if not a[2]:
        return bytes([0x80]) + bytes(room), ZERO, 0
    x = value_of(a)
    r = x.quantize(Decimal((0, (1,), 2 * a[1] - 2 * room)), rounding=decimal.ROUND_HALF_UP,
                   context=EXACT)
    e = base100_exponent(r)
    if e > 63:
        # A carry out of the largest exponent saturates.
        e, pairs = 63, (99,) * room
    else:
        pairs = pairs_of(r, e, room)
    digits = list(pairs) + [0] * (room - len(pairs))
    head = (e + 64) & 0x7F
    if a[0] == 1:
        head |= 0x80
    else:
        head ^= 0x7F
        last = max(i for i, p in enumerate(digits) if p)
        digits = [99 - p for p in digits[:last]] + [100 - digits[last]] + digits[last + 1:]
    packed = bytes([head] + digits)
    if packed[0] == 0 and packed[1] == 0:
        return packed, NULL, 0
    loaded = (a[0], e, tuple(pairs))
    return packed, loaded, -1200 if e >= 63 else 0


def random_dec(rng, npairs=None, exponent=None, low=-8, high=8, max_pairs=16):
    n = npairs if npairs is not None else rng.randint(1, max_pairs)
    pairs = [rng.randint(0, 99) for _ in range(n)]
    pairs[0] = rng.randint(1, 99)
    pairs[-1] = rng.randint(1, 99)
    e = exponent if exponent is not None else rng.randint(low, high)
    return (rng.randint(0, 1), e, tuple(pairs))


def nines(n, exponent, sign=1):
    return (sign, exponent, (99,) * n)


def operand_groups(rng):
    """(name, [(a, b)]) groups of operand pairs for the four operations."""
    groups = []
    groups.append(('random', [(random_dec(rng), random_dec(rng)) for _ in range(400)]))
    groups.append(('16-pair operands', [(random_dec(rng, 16), random_dec(rng, 16))
                                        for _ in range(200)]))
    carries = []
    for n in range(1, 17):
        carries.append((nines(n, rng.randint(-3, 3)), (1, -n + 3, (1,))))
        carries.append((nines(16, 2), (rng.randint(0, 1), 2 - n, (rng.randint(1, 99),))))
        carries.append(((1, 1, (1,)), (0, 1 - n, (1,))))
        carries.append(((1, 3, (1,) + (0,) * max(n - 2, 0) + (1,)), (0, 3 - n, (99,) * n)))
        carries.append(((0, 2, (1,)), (1, 2, (0,) * 0 + (99,) * n)))
    groups.append(('long carries and borrows', carries))
    edges = []
    for e in (-64, 62, 63):
        for _ in range(40):
            a = random_dec(rng, exponent=e)
            b = random_dec(rng, exponent=rng.choice((e, e - 1, -e // 8, 0, 1, -1)))
            edges.append((a, b))
            edges.append((b, a))
    edges.append((nines(16, 62), (1, 46, (1,))))
    edges.append((nines(16, 62), (1, 45, (50,))))
    edges.append(((1, -64, (1,)), (1, -64, (1,))))
    edges.append(((1, -64, (1,)), (1, 2, (1,))))
    edges.append(((1, 63, (1,)), (1, 63, (1,))))
    groups.append(('exponents -64, 62 and 63', edges))
    window = []
    for _ in range(150):
        a = random_dec(rng)
        b = random_dec(rng, exponent=a[1] - rng.randint(1, 20))
        window.append((a, b))
        window.append((b, a))
    window.append(((1, 1, (1,)), (0, 0, (99,) * 16)))
    window.append(((1, 1, (1,)), (0, -1, (1,) * 16)))
    window.append(((1, 1, (1,)), (1, -17, (1,))))
    groups.append(('operands past the 17-pair window', window))
    special = [(ZERO, random_dec(rng)) for _ in range(5)]
    special += [(random_dec(rng), ZERO) for _ in range(5)]
    special += [(ZERO, ZERO)]
    a = random_dec(rng)
    special += [(a, a), (a, (1 - a[0], a[1], a[2]))]
    groups.append(('zero operands and equal magnitudes', special))
    return groups


def rounding_cases(rng):
    cases = []
    for _ in range(300):
        a = random_dec(rng, max_pairs=15)
        scale = 2 * (len(a[2]) - a[1])
        cases.append((a, rng.randint(min(-6, scale - 3), scale + 1)))
    for _ in range(100):
        a = random_dec(rng, npairs=16)
        if rng.randint(0, 1):
            # Rounding carries out of the first pair: 17 pairs before the cut.
            a = (a[0], a[1], (99,) * 15 + a[2][15:])
        scale = 2 * (len(a[2]) - a[1])
        cases.append((a, rng.randint(scale - 8, scale - 1)))
    for p in range(-3, 8):
        cases.append(((1, 1, (2, 34, 50)), p))
        cases.append(((0, 1, (99, 99, 95)), p))
    return cases


def main():
    # Operators and abs() use the thread's context: make it the exact one.
    decimal.setcontext(EXACT.copy())
    out_path = sys.argv[1] if len(sys.argv) > 1 else 'decimal_cases.txt'
    lines = ['# Generated by decimal_oracle.py; regenerate with the regen-genlib-oracle target.']
    rng = random.Random(16103)
    for name, pairs in operand_groups(rng):
        lines.append('# ' + name)
        for a, b in pairs:
            for op, fn in (('add', lambda a, b: add(a, b)), ('sub', lambda a, b: add(a, b, True)),
                           ('mul', mul), ('div', div)):
                r, status = fn(a, b)
                lines.append('%s %s %s %s %d' % (op, repr_dec(a), repr_dec(b), repr_dec(r), status))
    rng = random.Random(20260)
    lines.append('# rounding and truncation')
    for a, places in rounding_cases(rng):
        for op, mode in (('round', decimal.ROUND_HALF_UP), ('trunc', decimal.ROUND_DOWN)):
            r = round_or_trunc(a, places, mode)
            lines.append('%s %s %d %s' % (op, repr_dec(a), places, repr_dec(r)))
    rng = random.Random(4103)
    lines.append('# packed form')
    values = [random_dec(rng, low=-64, high=63) for _ in range(60)]
    values += [random_dec(rng, exponent=e) for e in (-64, 62, 63) for _ in range(4)]
    values += [nines(16, 62), nines(16, 63), nines(3, 63), nines(16, 62, 0), ZERO]
    for a in values:
        for length in range(2, 19):
            packed, loaded, status = pack(a, length)
            lines.append('pack %s %d %s %s %d' % (repr_dec(a), length, packed.hex().upper(),
                                                 repr_dec(loaded), status))
    with open(out_path, 'w', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
