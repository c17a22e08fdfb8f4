#!/usr/bin/env python3
"""Case table for the stored form, equality and membership of collections.

Stored forms: the bytes of a stored SET of two INTEGER elements with long
(128-byte) and short (18-byte) names, and of a NULL SET, packed here field
by field with struct from the layout (big-endian, no alignment):
  total u32 (bytes that follow);
  header: xid u32, header value u16, name N bytes, field count u16;
  per field: seqno, level_no, parent_no, fieldnmlen u16; fieldname N;
    field_no, type, length u16; xid u32; flags, xtype_nm_len u16;
    xtype_name N; xtype_owner_len u16; xtype_owner_name N; align u16;
    srctype u32;
  trailer: handle u32, data length u32, flag word u32; then the data.
A NULL value has a zero header with count 0, one field record of zeros,
and data length 0 with no data.

Bags: random MULTISETs and SETs of INTEGER and CHAR(4) elements and
LISTs of INTEGER, with the answer of collections.Counter (bags), set
(SETs) and list equality (LISTs); CHAR values compare without trailing
blanks. Membership answers come from Python's `in`. Pairs of distinct
CHAR texts whose 211-bucket text hash collides are listed for the
element-by-element path.

Writes coll_cases.txt (or the path given as the only argument). Fixed
seed: running it again gives the same bytes. Standard library only.

Lines ("#" starts a comment):
  golden NAME TOTAL HEX
  bag KIND TYPE EXPECTED A B        (EXPECTED 0 equal, -1 not)
  member TYPE EXPECTED ELEMENTS PROBE   (EXPECTED -9874 present, 0 absent)
  collide X Y
Element lists are comma-separated ("-" for none); in CHAR texts "_"
stands for a blank.
"""

import collections
import random
import struct
import sys

sys.dont_write_bytecode = True

SEED = 19
BAG_COUNT = 120
MEMBER_COUNT = 60


def name(text, n):
    raw = text.encode('ascii')[:n]
    return raw + b'\0' * (n - len(raw))


def field(n, seqno, level, parent, fname, field_no, ftype, length, xid, flags, xname, owner,
          align, srctype):
    return (struct.pack('>hhhh', seqno, level, parent, len(fname)) + name(fname, n) +
            struct.pack('>hhhih', field_no, ftype, length, xid, flags) +
            struct.pack('>h', len(xname)) + name(xname, n) + struct.pack('>h', len(owner)) +
            name(owner, n) + struct.pack('>hi', align, srctype))


def stored(n, xid, hdrval, tname, fields, handle, flags, data):
    body = struct.pack('>ih', xid, hdrval) + name(tname, n) + struct.pack('>h', len(fields))
    for f in fields:
        body += field(n, *f)
    body += struct.pack('>III', handle, len(data), flags) + data
    return struct.pack('>I', len(body)) + body


def null_stored(n, handle, flags):
    body = struct.pack('>ih', 0, 0) + name('', n) + struct.pack('>h', 0)
    body += field(n, 0, 0, 0, '', 0, 0, 0, 0, 0, '', '', 0, 0)
    body += struct.pack('>III', handle, 0, flags)
    return struct.pack('>I', len(body)) + body


# The fixture the tests build: every field distinct, so that a field
# written in the wrong place shows.
SET_FIELDS = [
    (0, 0, -1, 'set_col', 3, 19, 0, 0x01020304, 0x0010, 'named_set', 'owner1', 8, 0x0A0B0C0D),
    (1, 1, 0, 'elt', 4, 0x102, 4, 0, 0x0020, '', '', 4, 2),
]
SET_XID = 0x1234ABCD
SET_HDRVAL = 0x0102
SET_NAME = 'set_of_int'
SET_HANDLE = 0xCAFEBABE
SET_FLAGS = 0x40
SET_DATA = struct.pack('>ii', 1, 2)
NULL_HANDLE = 0x11223344
NULL_FLAGS = 0x4


def goldens():
    out = []
    for label, n in (('set2int_long', 128), ('set2int_short', 18)):
        b = stored(n, SET_XID, SET_HDRVAL, SET_NAME, SET_FIELDS, SET_HANDLE, SET_FLAGS, SET_DATA)
        out.append('golden %s %d %s' % (label, len(b) - 4, b.hex()))
    b = null_stored(128, NULL_HANDLE, NULL_FLAGS)
    out.append('golden nullset_long %d %s' % (len(b) - 4, b.hex()))
    return out


def hashpjw(text):
    h = 0
    for byte in text.encode('latin-1'):
        if byte == 0:
            break
        signed = byte - 256 if byte > 127 else byte
        h = (h * 16 + signed) & 0xFFFFFFFF
        g = h & 0xF0000000
        if g:
            h = (h ^ (g >> 24)) ^ g
    return h % 211


def char_text(rng):
    word = ''.join(rng.choice('abc') for _ in range(rng.randint(1, 3)))
    return word + '_' * rng.randint(0, 4 - len(word))


def chars_key(text):
    return text.replace('_', ' ').rstrip(' ')


def encode(elements):
    return ','.join(str(e) for e in elements) if elements else '-'


def bag_cases(rng):
    out = []
    for i in range(BAG_COUNT):
        kind = ('MULTISET', 'SET', 'LIST')[i % 3]
        etype = 'CHAR' if kind != 'LIST' and i % 2 else 'INTEGER'
        size = rng.randint(0, 8)
        if etype == 'INTEGER':
            a = [rng.randint(-3, 3) for _ in range(size)]
        else:
            a = [char_text(rng) for _ in range(size)]
        b = list(a)
        if kind != 'LIST':
            rng.shuffle(b)
        change = rng.randint(0, 3)
        if change == 1 and b:
            b[rng.randrange(len(b))] = rng.randint(-3, 3) if etype == 'INTEGER' else char_text(rng)
        elif change == 2 and b:
            b.append(b[0])
            b.pop(rng.randrange(len(b) - 1))
        elif change == 3 and kind == 'LIST' and len(b) > 1:
            b[0], b[-1] = b[-1], b[0]
        if kind == 'SET':
            a = unique(a, etype)
            b = unique(b, etype)
            rng.shuffle(b)
        key = chars_key if etype == 'CHAR' else (lambda e: e)
        if kind == 'LIST':
            equal = [key(e) for e in a] == [key(e) for e in b]
        elif kind == 'SET':
            equal = set(map(key, a)) == set(map(key, b))
        else:
            equal = collections.Counter(map(key, a)) == collections.Counter(map(key, b))
        out.append('bag %s %s %d %s %s' % (kind, etype, 0 if equal else -1, encode(a), encode(b)))
    return out


def unique(elements, etype):
    key = chars_key if etype == 'CHAR' else (lambda e: e)
    seen = set()
    out = []
    for e in elements:
        if key(e) not in seen:
            seen.add(key(e))
            out.append(e)
    return out


def member_cases(rng):
    out = []
    for i in range(MEMBER_COUNT):
        etype = 'CHAR' if i % 2 else 'INTEGER'
        size = rng.randint(0, 6)
        if etype == 'INTEGER':
            elements = unique([rng.randint(-5, 5) for _ in range(size)], etype)
            probe = rng.randint(-5, 5)
            present = probe in elements
        else:
            elements = unique([char_text(rng) for _ in range(size)], etype)
            probe = char_text(rng)
            present = chars_key(probe) in set(map(chars_key, elements))
        out.append('member %s %d %s %s' % (etype, -9874 if present else 0, encode(elements), probe))
    return out


def collisions():
    by_hash = {}
    letters = 'abcdefghij'
    for a in letters:
        for b in letters:
            for c in letters:
                by_hash.setdefault(hashpjw(a + b + c), []).append(a + b + c)
    pairs = [texts[:2] for h, texts in sorted(by_hash.items()) if len(texts) >= 2]
    return ['collide %s %s' % (x, y) for x, y in pairs[:4]]


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else 'coll_cases.txt'
    rng = random.Random(SEED)
    lines = ['# Generated by coll_oracle.py; regenerate with the regen-genlib-coll-oracle target.']
    lines += goldens() + bag_cases(rng) + member_cases(rng) + collisions()
    with open(path, 'w', encoding='ascii', newline='\n') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
