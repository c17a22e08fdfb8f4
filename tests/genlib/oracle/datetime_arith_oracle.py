#!/usr/bin/env python3
"""Case table for DATETIME and INTERVAL arithmetic.

Random cases, and cases at the ends of the year range and of months, with
the results Python's datetime, calendar and exact Decimal give:

  add/sub   DATETIME plus (dtaddinv) or minus (dtsubinv) an INTERVAL.
            Day-time INTERVALs: datetime + timedelta; leaving years
            1-9999 is -1204, since the days go through the DATE code.
            Year-month INTERVALs: month arithmetic that never clips to
            the month's end; an impossible day or a year outside 1-9999
            is -1267.
  diff      rdtsub of two DATETIMEs: the timedelta split into days,
            hours, minutes and seconds (months for YEAR TO MONTH).
  mul       invmuldec: the INTERVAL's count of seconds times a Decimal
            factor, the fraction dropped, rebuilt in the same qualifier
            (-1265 when the days do not fit its first field).
  div       invdivinv: the counts of both INTERVALs in the common last
            unit divided; -1265 when an operand does not fit the common
            qualifier, -1268 across the two INTERVAL classes, -1202 by 0.

Lines: OP|Q1|TEXT1|Q2|TEXT2|Q3|STATUS|EXPECTED, qualifiers in hex, "-"
for an unused field; EXPECTED is the result's text in the fixed layout
(a DATETIME in Q1, an INTERVAL in Q3 or, for mul, in Q1), a double for
div, "-" after an error. Writes datetime_arith_cases.txt (or the path
given as the only argument). Fixed seed: the same bytes every run.
Standard library only.
"""

import calendar
import datetime
import decimal
import random
import sys
from decimal import Decimal

EXACT = decimal.Context(prec=60)
OUT_OF_DATE_RANGE = -1204
FIRST_FIELD = -1265
BAD_QUALIFIER = -1268
IMPOSSIBLE = -1267
ZERO_DIVISION = -1202

YEAR_TO_SECOND = 0x0E0A
YEAR_TO_FRACTION3 = 0x110D
YEAR_TO_MINUTE = 0x0C08
YEAR_TO_DAY = 0x0804
YEAR_TO_MONTH = 0x0602
DAY5_TO_SECOND = 0x0B4A
HOUR4_TO_FRACTION3 = 0x0B6D
MINUTE6_TO_MINUTE = 0x0688
DAY7_TO_DAY = 0x0744
YEAR4_TO_MONTH = 0x0602
MONTH5_TO_MONTH = 0x0522
DAY8_TO_SECOND = 0x0E4A
DAY8_TO_DAY = 0x0844
DAY3_TO_SECOND = 0x094A
HOUR4_TO_MINUTE = 0x0668
HOUR6_TO_MINUTE = 0x0868
DAY2_TO_HOUR = 0x0446


def dt_text(value, qual):
    """A datetime in the fixed layout of a YEAR-based qualifier."""
    text = f'{value.year:04d}'
    end = qual & 0xF
    if end >= 2:
        text += f'-{value.month:02d}'
    if end >= 4:
        text += f'-{value.day:02d}'
    if end >= 6:
        text += f' {value.hour:02d}'
    if end >= 8:
        text += f':{value.minute:02d}'
    if end >= 10:
        text += f':{value.second:02d}'
    if end > 10:
        text += '.' + f'{value.microsecond:06d}'[:end - 10]
    return text


def daytime_text(delta, qual):
    """A timedelta as INTERVAL text of a day-time qualifier (DAY, HOUR or
    MINUTE start), "-" in front when negative."""
    sign = '-' if delta < datetime.timedelta(0) else ''
    delta = abs(delta)
    seconds = delta.days * 86400 + delta.seconds
    start, end = (qual >> 4) & 0xF, qual & 0xF
    units = {4: 86400, 6: 3600, 8: 60, 10: 1}
    first = seconds // units[start]
    rest = seconds - first * units[start]
    text = f'{sign}{first}'
    for unit, delim in ((6, ' '), (8, ':'), (10, ':')):
        if start < unit <= end:
            text += f'{delim}{rest // units[unit]:02d}'
            rest %= units[unit]
    if end > 10:
        text += '.' + f'{delta.microseconds:06d}'[:end - 10]
    return text


def random_instant(rng, edges):
    if edges and rng.random() < 0.3:
        year = rng.choice([1, 2, 9998, 9999])
    else:
        year = rng.randint(1, 9999)
    month = rng.randint(1, 12)
    day = rng.randint(1, calendar.monthrange(year, month)[1])
    return datetime.datetime(year, month, day, rng.randint(0, 23), rng.randint(0, 59),
                             rng.randint(0, 59), rng.randint(0, 999) * 1000)


def truncate(value, qual):
    end = qual & 0xF
    fields = dict(microsecond=0)
    if end > 10:
        digits = end - 10
        fields['microsecond'] = value.microsecond // 10 ** (6 - digits) * 10 ** (6 - digits)
    if end < 10:
        fields['second'] = 0
    if end < 8:
        fields['minute'] = 0
    if end < 6:
        fields['hour'] = 0
    return value.replace(**fields)


def random_delta(rng, qual):
    """A random timedelta that INTERVAL qual holds exactly."""
    start, end = (qual >> 4) & 0xF, qual & 0xF
    first_digits = (qual >> 8) - (end - start)
    first = rng.randint(0, 10 ** rng.randint(1, first_digits) - 1)
    unit_seconds = {4: 86400, 6: 3600, 8: 60}[start]
    seconds = first * unit_seconds
    for unit, radix in ((6, 24), (8, 60), (10, 60)):
        if start < unit <= end:
            seconds += rng.randint(0, radix - 1) * {6: 3600, 8: 60, 10: 1}[unit]
    micro = 0
    if end > 10:
        micro = rng.randint(0, 10 ** (end - 10) - 1) * 10 ** (16 - end)
    delta = datetime.timedelta(seconds=seconds, microseconds=micro)
    return -delta if rng.random() < 0.5 else delta


def daytime_cases(rng, out):
    combos = [(YEAR_TO_SECOND, DAY5_TO_SECOND), (YEAR_TO_FRACTION3, HOUR4_TO_FRACTION3),
              (YEAR_TO_MINUTE, MINUTE6_TO_MINUTE), (YEAR_TO_DAY, DAY7_TO_DAY)]
    for n in range(240):
        dq, iq = combos[n % len(combos)]
        base = truncate(random_instant(rng, edges=True), dq)
        delta = random_delta(rng, iq)
        op = 'add' if n % 3 else 'sub'
        try:
            result = base + delta if op == 'add' else base - delta
            status, expected = 0, dt_text(result, dq)
        except OverflowError:
            status, expected = OUT_OF_DATE_RANGE, '-'
        out.append(f'{op}|{dq:04x}|{dt_text(base, dq)}|{iq:04x}|{daytime_text(delta, iq)}|-|{status}|{expected}')


def month_result(base, months):
    """base plus a number of months, never clipped: (status, datetime)."""
    total = base.year * 12 + base.month - 1 + months
    year, month = divmod(total, 12)
    if not 1 <= year <= 9999:
        return IMPOSSIBLE, None
    if base.day > calendar.monthrange(year, month + 1)[1]:
        return IMPOSSIBLE, None
    return 0, base.replace(year=year, month=month + 1)


def year_month_cases(rng, out):
    for n in range(160):
        dq = [YEAR_TO_DAY, YEAR_TO_MONTH, YEAR_TO_SECOND][n % 3]
        base = truncate(random_instant(rng, edges=True), dq)
        if dq == YEAR_TO_MONTH:
            base = base.replace(day=1)
        elif rng.random() < 0.4:
            base = base.replace(day=calendar.monthrange(base.year, base.month)[1])
        if n % 2:
            iq = YEAR4_TO_MONTH
            years, months = rng.randint(0, 10 ** rng.randint(1, 4) - 1), rng.randint(0, 11)
            count = years * 12 + months
            text = f'{years}-{months:02d}'
        else:
            iq = MONTH5_TO_MONTH
            count = rng.randint(0, 10 ** rng.randint(1, 5) - 1)
            text = f'{count}'
        negative = rng.random() < 0.5
        op = 'add' if n % 4 < 3 else 'sub'
        amount = -count if negative != (op == 'sub') else count
        status, result = month_result(base, amount)
        expected = dt_text(result, dq) if status == 0 else '-'
        sign = '-' if negative else ''
        out.append(f'{op}|{dq:04x}|{dt_text(base, dq)}|{iq:04x}|{sign}{text}|-|{status}|{expected}')


def month_end_cases(out):
    """Month ends and the ends of the year range, by hand."""
    cases = [('2024-01-31', 1), ('2024-01-31', 13), ('2024-01-29', 1), ('2023-01-29', 1),
             ('2024-02-29', 12), ('2024-02-29', 48), ('2024-03-31', -1), ('2024-05-31', -2),
             ('9999-12-31', 1), ('0001-01-01', -1), ('9999-01-01', 11), ('0001-12-31', -11)]
    for text, months in cases:
        base = datetime.datetime.strptime(text.replace('0001', '2001'), '%Y-%m-%d').replace(
            year=int(text[:4]))
        status, result = month_result(base, months)
        expected = dt_text(result, YEAR_TO_DAY) if status == 0 else '-'
        sign = '-' if months < 0 else ''
        out.append(f'add|{YEAR_TO_DAY:04x}|{text}|{MONTH5_TO_MONTH:04x}|{sign}{abs(months)}|-|{status}|{expected}')
    for text, delta in [('9999-12-31 23:59:59', 1), ('0001-01-01 00:00:00', -1),
                        ('9999-12-31 00:00:00', 86399), ('2023-12-31 23:59:59', 1)]:
        base = datetime.datetime.strptime('2001' + text[4:], '%Y-%m-%d %H:%M:%S').replace(
            year=int(text[:4]))
        step = datetime.timedelta(seconds=delta)
        try:
            status, expected = 0, dt_text(base + step, YEAR_TO_SECOND)
        except OverflowError:
            status, expected = OUT_OF_DATE_RANGE, '-'
        out.append(f'add|{YEAR_TO_SECOND:04x}|{text}|{DAY5_TO_SECOND:04x}|'
                   f'{daytime_text(step, DAY5_TO_SECOND)}|-|{status}|{expected}')


def diff_cases(rng, out):
    for n in range(150):
        form = n % 3
        a = random_instant(rng, edges=False)
        b = random_instant(rng, edges=False)
        if form == 0:
            a, b = truncate(a, YEAR_TO_SECOND), truncate(b, YEAR_TO_SECOND)
            if n % 2:
                b = a - datetime.timedelta(seconds=rng.randint(-200000, 200000))
            q, rq = YEAR_TO_SECOND, DAY8_TO_SECOND
            expected = daytime_text(a - b, rq)
        elif form == 1:
            a, b = truncate(a, YEAR_TO_DAY), truncate(b, YEAR_TO_DAY)
            q, rq = YEAR_TO_DAY, DAY8_TO_DAY
            expected = daytime_text(a - b, rq)
        else:
            a, b = a.replace(day=1), b.replace(day=1)
            a, b = truncate(a, YEAR_TO_DAY), truncate(b, YEAR_TO_DAY)
            q, rq = YEAR_TO_MONTH, YEAR4_TO_MONTH
            months = (a.year * 12 + a.month) - (b.year * 12 + b.month)
            sign = '-' if months < 0 else ''
            expected = f'{sign}{abs(months) // 12}-{abs(months) % 12:02d}'
        out.append(f'diff|{q:04x}|{dt_text(a, q)}|{q:04x}|{dt_text(b, q)}|{rq:04x}|0|{expected}')


def count_seconds(delta):
    """Whole seconds of a non-negative timedelta."""
    return Decimal(delta.days * 86400 + delta.seconds)


def mul_cases(rng, out):
    factors = ['3', '-3', '2.5', '0.125', '-0.75', '1000', '7.3', '0.001', '12345', '-1.5']
    for n in range(80):
        delta = random_delta(rng, DAY3_TO_SECOND)
        factor = Decimal(rng.choice(factors))
        count = count_seconds(abs(delta)) * (-1 if delta < datetime.timedelta(0) else 1)
        product = EXACT.multiply(count, factor)
        whole = int(product)  # the fraction of a second is dropped, toward zero
        if whole == 0:
            continue  # a zero count has no sign to compare
        if abs(whole) // 86400 > 999:
            status, expected = FIRST_FIELD, '-'
        else:
            status = 0
            expected = daytime_text(datetime.timedelta(seconds=whole), DAY3_TO_SECOND)
        out.append(f'mul|{DAY3_TO_SECOND:04x}|{daytime_text(delta, DAY3_TO_SECOND)}|-|{factor}|-|{status}|{expected}')
    out.append(f'mul|{DAY3_TO_SECOND:04x}|1 00:00:00|-|0.5|-|0|0 12:00:00')


def div_cases(rng, out):
    pairs = [(DAY3_TO_SECOND, HOUR4_TO_MINUTE), (HOUR4_TO_MINUTE, DAY3_TO_SECOND),
             (DAY3_TO_SECOND, DAY3_TO_SECOND), (HOUR6_TO_MINUTE, DAY3_TO_SECOND), (DAY2_TO_HOUR, HOUR4_TO_MINUTE)]
    for n in range(100):
        qa, qb = pairs[n % len(pairs)]
        a, b = random_delta(rng, qa), random_delta(rng, qb)
        if b == datetime.timedelta(0):
            continue
        last = max(qa & 0xF, qb & 0xF)
        unit = {6: 3600, 8: 60, 10: 1}[last]
        first_start = min((qa >> 4) & 0xF, (qb >> 4) & 0xF)
        lead = qa if ((qa >> 4) & 0xF) < ((qb >> 4) & 0xF) else qb
        lead_digits = (lead >> 8) - ((lead & 0xF) - ((lead >> 4) & 0xF))
        first_unit = {4: 86400, 6: 3600, 8: 60}[first_start]
        too_wide = qa != qb and any(abs(x).days * 86400 + abs(x).seconds >= 10 ** lead_digits * first_unit
                                    for x in (a, b))
        if too_wide:
            status, expected = FIRST_FIELD, '-'
        else:
            count_a = count_seconds(abs(a)) / unit * (-1 if a < datetime.timedelta(0) else 1)
            count_b = count_seconds(abs(b)) / unit * (-1 if b < datetime.timedelta(0) else 1)
            status, expected = 0, repr(float(EXACT.divide(count_a, count_b)))
        out.append(f'div|{qa:04x}|{daytime_text(a, qa)}|{qb:04x}|{daytime_text(b, qb)}|-|{status}|{expected}')
    out.append(f'div|{YEAR4_TO_MONTH:04x}|1-00|{DAY3_TO_SECOND:04x}|1 00:00:00|-|{BAD_QUALIFIER}|-')
    out.append(f'div|{DAY3_TO_SECOND:04x}|1 00:00:00|{HOUR4_TO_MINUTE:04x}|0:00|-|{ZERO_DIVISION}|-')


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else 'datetime_arith_cases.txt'
    rng = random.Random(20240317)
    out = ['# Generated by datetime_arith_oracle.py; regenerate with the '
           'regen-genlib-datetime-arith-oracle target.']
    groups = [('day-time', lambda o: daytime_cases(rng, o)), ('year-month', lambda o: year_month_cases(rng, o)),
              ('month ends and range ends', month_end_cases), ('difference', lambda o: diff_cases(rng, o)),
              ('times a number', lambda o: mul_cases(rng, o)), ('divided by an interval', lambda o: div_cases(rng, o))]
    for name, build in groups:
        out.append(f'# {name}')
        build(out)
    with open(path, 'w', encoding='ascii') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    main()
