#!/usr/bin/env python3
"""Writes the seed corpora under tests/fuzz/corpus from the fixtures and the
cases of the unit tests. Run from the repository root; the output is
committed, so this only needs running when the fixtures change.
requests.bin (a whole client session as the driver received it, captured
from scripts/demo.script) is kept as it is."""
import glob
import os
import re
import struct

ROOT = 'tests/fuzz/corpus'


def put(family, name, data):
    os.makedirs(f'{ROOT}/{family}', exist_ok=True)
    if isinstance(data, str):
        data = data.encode('latin-1')
    with open(f'{ROOT}/{family}/{name}', 'wb') as f:
        f.write(data)


def c_strings(path, pattern):
    text = open(path, encoding='latin-1').read()
    return [bytes(m, 'latin-1').decode('unicode_escape') for m in re.findall(pattern, text)]


def read(path):
    return open(path, 'rb').read()


# Dictionary dumps: domain dumps behind an even byte, table dumps behind an
# odd byte and their 8-character name.
for path in sorted(glob.glob('tests/fixtures/*/dict/*')):
    base = os.path.basename(path)
    tag = path.split('/')[2] + '-' + base
    if base.endswith('.pd'):
        put('dd_dump', 'domains-' + tag, b'\0' + read(path))
    elif base.startswith('d') and len(base) >= 9:
        put('dd_dump', 'table-' + tag, b'\1' + base[1:9].encode() + read(path))

# Damaged dumps: a domain without its type line, and the department table
# cut short inside a line, before its indexes and before its referencing
# columns.
put('dd_dump', 'domains-damaged-no-type',
    b'\0D exnotype\n:NAME exnotype\n:CLEN 6\nD excode\n:NAME excode\n:TYPE s\n:CLEN 6\n')
dep = read('tests/fixtures/zuv/dict/dexdep010')
for tag, end in [('mid-line', dep.index(b':NAME exdep010.code') + 12),
                 ('before-indexes', dep.index(b'I 1\n')),
                 ('before-referencing', dep.index(b'R referenced'))]:
    put('dd_dump', 'table-damaged-dexdep010-' + tag, b'\1exdep010' + dep[:end])

# Table definitions.
for path in sorted(glob.glob('tests/fixtures/*/lib/tabledef*')):
    put('tabledef', path.split('/')[2] + '-' + os.path.basename(path), read(path))

# Roles: clerk, base, audit and shared, separated by 0 bytes.
parts = []
for name in ['clerk', 'base', 'audit', 'shared']:
    path = f'tests/fixtures/roles/lib/roles/db/{name[0]}/{name}'
    parts.append(read(path) if os.path.exists(path) else b'')
put('roles', 'fixture-roles', b'\0'.join(parts))

# Range expressions: the unit test's cases and the fixtures' domain ranges.
ranges = c_strings('tests/platform/yy_range_test.cc', r'\{"((?:[^"\\]|\\.)*)", YY_')
for path in glob.glob('tests/fixtures/*/dict/*'):
    for line in open(path, encoding='latin-1'):
        if line.startswith(':RA'):
            ranges.append(line[6:].rstrip('\n'))
for i, text in enumerate(dict.fromkeys(ranges)):
    put('range', f'seed-{i:03d}', text)

# Regular expressions: pattern, 0 byte, subject.
text = open('tests/platform/yy_regex_test.cc', encoding='latin-1').read()
pairs = re.findall(r'\{"((?:[^"\\]|\\.)*)", "((?:[^"\\]|\\.)*)", (?:true|false)\}', text)
for i, (p, s) in enumerate(dict.fromkeys(pairs)):
    dec = lambda t: bytes(t, 'latin-1').decode('unicode_escape').encode('latin-1')
    put('regex', f'seed-{i:03d}', dec(p) + b'\0' + dec(s))

# SQL scanner: the inputs of the scanner's table of cases.
texts = c_strings('tests/sql/front/sql_scanner_test.cc', r'\{"\w+",\s*"((?:[^"\\]|\\.)*)"')
for i, t in enumerate(dict.fromkeys(texts)):
    put('sql_scanner', f'seed-{i:03d}', t)

# SQL grammar: the statements of the parser's tests.
statements = []
for path in sorted(glob.glob('tests/sql/*/*_test.cc')):
    statements += c_strings(path, r'"((?:SELECT|INSERT|UPDATE|DELETE|select)\b(?:[^"\\]|\\.)*)"')
for i, t in enumerate(list(dict.fromkeys(statements))[:80]):
    put('sql_grammar', f'seed-{i:03d}', t)

# Role conditions: the cases both condition readers share.
conds = c_strings('tests/platform/yy_role_condition_cases.h', r'\{"((?:[^"\\]|\\.)*)", (?:true|false)')
for i, t in enumerate(dict.fromkeys(conds)):
    put('role_condition', f'seed-{i:03d}', t)

# TSS text: two texts, split at the middle of the input.
wide = lambda cp: bytes([0x9B, 0x80 | (cp + 0xF0000) >> 14 & 0x7F, 0x80 | (cp >> 7) & 0x7F,
                         0x80 | cp & 0x7F])
tss = [b'abcabc', b'ab  ab', wide(0x3A9) + wide(0x6F22), b'\x9b\x01\x8f\x9b\x01\x8f',
       b'\xe9\xc9\xb5\xff', wide(0xE9) + b'\xe9', b'\x9b\xbc\x81\x9b\xbc\x81']
for i, t in enumerate(tss):
    put('tss', f'seed-{i:03d}', t)


# Token strings.
def tok(code):
    return struct.pack('<Bh', 7, code)


def mem(b):
    return struct.pack('<Bh', 6, len(b)) + b


tokens = [
    tok(1) + struct.pack('<Bi', 3, 7) + tok(16),
    tok(1) + struct.pack('<Bb', 1, 0) + struct.pack('<Bh', 2, 1) + mem(b'ab') +
    struct.pack('<Bq', 4, -5) + struct.pack('<Bd', 5, 0.5),
    tok(3) + tok(41) + mem(b'exemp010') + struct.pack('<Bh', 2, 100),
]
for i, t in enumerate(tokens):
    put('token_string', f'seed-{i:03d}', t)
    put('driver_sql_agent', f'seed-{i:03d}', t)


# Reply readers: the request code, then the reply (big-endian fields).
def be(fmt, *v):
    return struct.pack('>' + fmt, *v)


replies = {
    'att_server': bytes([0]) + be('IIIIB', 1, 2, 0, 6, 3) + be('I', 0),
    'att_session': bytes([2]) + be('II', 1, 0),
    'tbl_cntr_513': bytes([4]) + be('III', 0, 513, 1) + b'tcabc001' + be('H', 1),
    'db_cntr_commit': bytes([0x15]) + be('IIII', 0, 1, 2, 3) + b't\0' + be('HHI', 1, 2, 3) + b'\0',
    'exe_session': bytes([6]) + be('H', 2) + b'ab' + be('I', 0),
    'sql_message': bytes([10]) + be('I', 3) + b'abc',
    'exe_update_detail': bytes([11]) + be('II', 520, 1) + b'tcabc001' + be('HI', 1, 2) + b'ab',
    'row_cntr': bytes([0x2c]) + be('H', 2) + b'ab' + be('I', 0),
    'alter_table': bytes([15]) + be('II', 0, 0) + bytes(20) + be('I', 1),
}
for name, data in replies.items():
    put('replies', name, data)

# Row data sets: one long column, then u32 data length, u32 row count and a
# row (ordinal, then column 0 with its last-item flag and value).
row = be('I', 1) + be('HB', 0, 0x11) + be('i', 42)
put('rds', 'one-long', bytes([0, 3, 3, 0]) + be('II', len(row), 1) + row)
put('rds', 'two-rows', bytes([0, 3, 3, 0]) + be('II', 2 * len(row), 2) + row + row)


# SQL agent packet buffers (session 7 holds table tbltst01 of company 10):
# prepare, attach, exec and fetch of a description, each packet behind its
# bs4 length.
def b2(v):
    return struct.pack('<Bh', 2, v)


def b4(v):
    return struct.pack('<Bi', 3, v)


def packets(*ps):
    return b''.join(b4(len(p)) + p for p in ps)


def run(sid, description):
    stmt = lambda op: tok(1) + b4(sid) + tok(op)
    return packets(stmt(11) + description, stmt(12) + b4(7), stmt(16), stmt(17) + b4(2))


table = tok(308) + mem(b'tbltst01') + b2(10) + tok(1003)
col = lambda c: tok(540) + b2(0) + b2(c)
agent = {
    'table-fetch': run(1, table),
    'filter-sort-project': run(2, tok(302) + b2(1) + b2(0) + tok(51) + tok(300) + b2(2) + tok(502) + col(0) +
                           tok(552) + b4(10) + tok(520) + col(3) + tok(552) + b4(2) + tok(304) + tok(410) +
                           b2(1) + col(1) + tok(551) + mem(b'ab') + table),
    'group-join': run(3, tok(303) + b2(0) + b2(2) + tok(61) + tok(65) + col(0) + tok(306) + tok(121) + tok(410) +
                  b2(1) + col(0) + col(4) + table + table),
    'update': run(4, tok(331) + mem(b'tbltst01') + b2(10) + b2(1) + b4(2) + tok(502) + col(2) +
                  struct.pack('<Bd', 5, 2.0) + tok(415) + b2(1) + col(0) + tok(552) + b4(2)),
}
for name, data in agent.items():
    put('sql_agent', name, data)
