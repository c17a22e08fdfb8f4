#!/usr/bin/env python3
"""Case table for DATE text in the format in force (rdatestr/rstrdate).

A DATE is the day count from 1899-12-31 (datetime.date.toordinal() -
693595). Texts are built with f-strings (the year always four digits for a
four-digit DBDATE year; strftime("%Y") does not pad years below 1000).
Two-digit years are placed by the four century rules, computed here from
the pinned today with Python's calendar arithmetic:
  R  today's century;
  P  today's century when that date lies before today, else the previous;
  F  today's century when that date lies after today, else the next;
  C  whichever of the previous, current and next century lies nearest
     (ties as the locale library breaks them: see closest()).
A 29 February of a year that is not a leap year counts as 1 March when the
century is chosen, and is then an invalid day (-1206).
Writes date_cases.txt (or the path given as the only argument). Fixed
seed: running it again gives the same bytes. Standard library only.

Lines ("#" starts a comment naming the group below it):
  today YEAR MONTH DAY                 the pinned today of every process
  roundtrip DBDATE DATE TEXT READBACK  rdatestr(DATE) is TEXT, rstrdate(TEXT)
                                       gives READBACK (a DATE, or !ERROR)
  century DBDATE RULE TEXT RESULT      rstrdate(TEXT) under DBCENTURY=RULE
"""

import calendar
import datetime
import random
import sys

TODAY = datetime.date(2024, 6, 15)
DATE_MIN = -693594
DATE_MAX = 2958464
ORDINAL_OFFSET = 693595
BAD_DAY = -1206


def to_date(d):
    return datetime.date.fromordinal(d + ORDINAL_OFFSET)


def day_number(year, month, day):
    """Day number of a date, 29 February of a common year as 1 March."""
    if month == 2 and day == 29 and not calendar.isleap(year):
        month, day = 3, 1
    return datetime.date(year, month, day).toordinal() - ORDINAL_OFFSET


def closest(j0, jm, jp, k):
    d0, dm, dp = abs(j0), abs(jm), abs(jp)
    if d0 >= dm:
        return k - 1 if dm < dp else k + 1
    return k if d0 < dp else k + 1


def century(rule, month, day, yy):
    t = day_number(TODAY.year, TODAY.month, TODAY.day)
    k = TODAY.year // 100
    if rule == 'R':
        return k
    j0 = day_number(k * 100 + yy, month, day)
    if rule == 'F':
        return k if j0 > t else k + 1
    if rule == 'P':
        return k - 1 if j0 >= t else k
    jm = day_number((k - 1) * 100 + yy, month, day)
    jp = day_number((k + 1) * 100 + yy, month, day)
    return closest(j0 - t, jm - t, jp - t, k)


def read_two_digit(rule, month, day, yy):
    """rstrdate's result for month/day/yy: a DATE or an error."""
    year = century(rule, month, day, yy) * 100 + yy
    if day > calendar.monthrange(year, month)[1]:
        return f"!{BAD_DAY}"
    return str(datetime.date(year, month, day).toordinal() - ORDINAL_OFFSET)


def text_for(dbdate, date):
    y, m, d = date.year, date.month, date.day
    if dbdate == "DMY4-":
        return f"{d:02d}-{m:02d}-{y:04d}"
    if dbdate == "Y4MD.":
        return f"{y:04d}.{m:02d}.{d:02d}"
    if dbdate == "MDY2/":
        return f"{m:02d}/{d:02d}/{y % 100:02d}"
    if dbdate == "MDY40":
        return f"{m:02d}{d:02d}{y:04d}"
    raise ValueError(dbdate)


def main():
    out = open(sys.argv[1] if len(sys.argv) > 1 else "date_cases.txt", "w")
    rng = random.Random(20241225)
    out.write(f"today {TODAY.year} {TODAY.month} {TODAY.day}\n")
    edges = [DATE_MIN, DATE_MIN + 1, -1, 0, 1, 36585, 45651, DATE_MAX - 1, DATE_MAX]
    for dbdate in ("DMY4-", "Y4MD.", "MDY2/", "MDY40"):
        out.write(f"# {dbdate}: edges and random dates over the whole range\n")
        dates = edges + [rng.randint(DATE_MIN, DATE_MAX) for _ in range(150)]
        for n in dates:
            date = to_date(n)
            text = text_for(dbdate, date)
            if dbdate == "MDY2/":
                back = read_two_digit('R', date.month, date.day, date.year % 100)
            else:
                back = str(n)
            out.write(f"roundtrip {dbdate} {n} {text} {back}\n")
    for rule in "RPFC":
        out.write(f"# two-digit years under DBCENTURY={rule}, today {TODAY}\n")
        cases = []
        for yy in (0, 23, 24, 25, 74, 75, 99):
            for delta in (-1, 0, 1):
                near = TODAY + datetime.timedelta(days=delta)
                cases.append((near.month, near.day, yy))
        cases += [(2, 29, 0), (2, 29, 24), (2, 29, 25), (12, 31, 74), (1, 1, 75)]
        cases += [(rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 99)) for _ in range(20)]
        for month, day, yy in cases:
            result = read_two_digit(rule, month, day, yy)
            out.write(f"century MDY2/ {rule} {month:02d}/{day:02d}/{yy:02d} {result}\n")
    out.close()


if __name__ == "__main__":
    main()
