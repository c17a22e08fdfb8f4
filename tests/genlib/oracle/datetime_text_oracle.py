#!/usr/bin/env python3
"""Case table for DATETIME and INTERVAL text in the fixed layout.

Random instants (Python datetime) written in the fixed layout of YEAR TO
SECOND, YEAR TO FRACTION(3), YEAR TO DAY, HOUR TO FRACTION(5) and MONTH
TO DAY, and random spans of INTERVAL DAY(5) TO SECOND, HOUR(3) TO MINUTE
and YEAR(5) TO MONTH, with the value they parse to (as in
tests/genlib/dec_repr.h) and the text the writer gives back. Days past
the end of their month (calendar.monthrange) give -1263.

Writes datetime_text_cases.txt (or the path given as the only argument).
Fixed seed: running it again gives the same bytes. Standard library only.

Lines, fields separated by "|" ("#" starts a comment):
  datetime|QUALIFIER|TEXT|STATUS|VALUE|WRITTEN
  interval|QUALIFIER|TEXT|STATUS|VALUE|WRITTEN
QUALIFIER in hexadecimal; VALUE and WRITTEN are empty after an error.
"""

import calendar
import datetime
import random
import sys

OUT_OF_RANGE = -1263
SEED = 20241225
COUNT = 40

YEAR_TO_SECOND = 0x0E0A
YEAR_TO_FRACTION3 = 0x110D
YEAR_TO_DAY = 0x0804
HOUR_TO_FRACTION5 = 0x0B6F
MONTH_TO_DAY = 0x0424
DAY5_TO_SECOND = 0x0B4A
HOUR3_TO_MINUTE = 0x0568
YEAR5_TO_MONTH = 0x0702


def value_repr(pairs, exponent, negative=False):
    """dec_repr.h form of base-100 pairs normalised as the DECIMAL loader
    does: leading zero pairs lower the exponent, trailing ones go."""
    pairs = list(pairs)
    while pairs and pairs[0] == 0:
        pairs.pop(0)
        exponent -= 1
    while pairs and pairs[-1] == 0:
        pairs.pop()
    if not pairs:
        return "+@-64"
    return ("-" if negative else "+") + "".join("%02d" % p for p in pairs) + "@%d" % exponent


def fraction_pairs(usec, digits):
    """The first `digits` fraction digits of usec as pairs, an odd last
    digit in the high half."""
    text = "%06d" % usec
    text = text[:digits] + "0" * (digits % 2)
    return [int(text[i:i + 2]) for i in range(0, len(text), 2)]


def random_instant(rng):
    start = datetime.datetime(1, 1, 1)
    span = (datetime.datetime(9999, 12, 31, 23, 59, 59) - start).total_seconds()
    return start + datetime.timedelta(seconds=rng.randrange(int(span) + 1),
                                      microseconds=rng.randrange(1000000))


def datetime_cases(rng):
    out = []
    for _ in range(COUNT):
        t = random_instant(rng)
        ymd = "%04d-%02d-%02d" % (t.year, t.month, t.day)
        hms = "%02d:%02d:%02d" % (t.hour, t.minute, t.second)
        whole = [t.year // 100, t.year % 100, t.month, t.day, t.hour, t.minute, t.second]
        f3 = "%03d" % (t.microsecond // 1000)
        f5 = "%05d" % (t.microsecond // 10)
        out.append((YEAR_TO_SECOND, ymd + " " + hms, value_repr(whole, 7), ymd + " " + hms))
        text = ymd + " " + hms + "." + f3
        out.append((YEAR_TO_FRACTION3, text,
                    value_repr(whole + fraction_pairs(t.microsecond, 3), 7), text))
        out.append((YEAR_TO_DAY, ymd, value_repr(whole[:4], 7), ymd))
        text = hms + "." + f5
        out.append((HOUR_TO_FRACTION5, text,
                    value_repr(whole[4:] + fraction_pairs(t.microsecond, 5), 3), text))
        text = "%02d-%02d" % (t.month, t.day)
        out.append((MONTH_TO_DAY, text, value_repr(whole[2:4], 5), text))
        # Single-digit fields and surrounding blanks read the same.
        loose = "  %04d-%d-%d %d:%d:%d " % (t.year, t.month, t.day, t.hour, t.minute, t.second)
        out.append((YEAR_TO_SECOND, loose, value_repr(whole, 7), ymd + " " + hms))
    return ["datetime|%04X|%s|0|%s|%s" % (q, text, v, w) for q, text, v, w in out]


def interval_written(negative, first, width, rest):
    """The INTERVAL writer's text: the first field right-aligned in its
    width plus one position for the sign, which stands just before its
    first digit, then the rest."""
    head = ("-" if negative else "") + str(first)
    return head.rjust(width + 1) + rest


def interval_cases(rng):
    out = []
    for _ in range(COUNT):
        negative = rng.random() < 0.5
        sign = "-" if negative else ""
        span = datetime.timedelta(days=rng.randrange(10**rng.randrange(1, 6)),
                                  seconds=rng.randrange(1, 86400))
        days, seconds = span.days, span.seconds
        h, m, s = seconds // 3600, seconds // 60 % 60, seconds % 60
        rest = " %02d:%02d:%02d" % (h, m, s)
        pairs = [days // 10000, days // 100 % 100, days % 100, h, m, s]
        text = sign + ("%05d" % days if rng.random() < 0.5 else str(days)) + rest
        out.append((DAY5_TO_SECOND, text, value_repr(pairs, 6, negative),
                    interval_written(negative, days, 5, rest)))

        minutes = rng.randrange(1, 10**rng.randrange(1, 4) * 60)
        hours, minute = minutes // 60, minutes % 60
        text = sign + str(hours) + ":%02d" % minute
        out.append((HOUR3_TO_MINUTE, text, value_repr([hours // 100, hours % 100, minute], 4, negative),
                    interval_written(negative, hours, 3, ":%02d" % minute)))

        months = rng.randrange(1, 10**rng.randrange(1, 6) * 12)
        years, month = months // 12, months % 12
        text = sign + str(years) + "-%02d" % month
        out.append((YEAR5_TO_MONTH, text,
                    value_repr([years // 10000, years // 100 % 100, years % 100, month], 8, negative),
                    interval_written(negative, years, 5, "-%02d" % month)))
    return ["interval|%04X|%s|0|%s|%s" % (q, text, v, w) for q, text, v, w in out]


def invalid_day_cases(rng):
    out = []
    for _ in range(COUNT):
        year, month = rng.randrange(1, 10000), rng.randrange(1, 13)
        last = calendar.monthrange(year, month)[1]
        for day in range(last + 1, 32):
            out.append("datetime|%04X|%04d-%02d-%02d|%d||" % (YEAR_TO_DAY, year, month, day,
                                                               OUT_OF_RANGE))
    return out


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "datetime_text_cases.txt"
    rng = random.Random(SEED)
    lines = ["# Generated by datetime_text_oracle.py; regenerate with the "
             "regen-genlib-datetime-text-oracle target."]
    lines.append("# instants")
    lines += datetime_cases(rng)
    lines.append("# spans")
    lines += interval_cases(rng)
    lines.append("# days past the end of their month")
    lines += invalid_day_cases(rng)
    with open(path, "w", encoding="ascii", newline="\n") as out:
        out.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
