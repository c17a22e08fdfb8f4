/*
** Time formatting: a broken-down time written by a strftime-like format
** in the TIME conventions of a locale: names, am/pm strings, the locale's
** own formats (nested), eras, alternative digits and the locale's
** calendar, plus a fraction-of-second directive and the %i directives.
** The size-only mode measures the largest text a format can produce
** without writing any; the format expansion of the number module uses it.
** Callers: the value types, format_engine.cpp. Calls: the calendar
** conversions, the directive scanner and integer field writer, the
** character layer, gl_mbstimeinfo.
*/

#include "format_internal.h"
#include "gl_errors.h"
#include "locale_internal.h"
#include "time_internal.h"

#include <algorithm>
#include <climits>
#include <cstring>

using namespace glslib;

namespace {

/* Longest entry of each name list, in characters and in bytes. */
struct ListMeasure {
  int chars = 0;
  int bytes = 0;
};

/* One formatting run: output state, size-only counters and the nesting
** depth of locale formats. */
struct Run {
  gl_locale *loc;
  gl_wchar *out; /* next output position, NULL in size-only mode */
  int count; /* characters written */
  int capacity; /* characters, terminator included */
  int *max_chars;
  int *max_bytes;
  int depth;
  ListMeasure day, abday, mon, abmon, era_name, era_name2, alt_digits, am_pm;

  bool size_only() const { return max_chars != nullptr || max_bytes != nullptr; }
  /* Counters saturate: a measure no int can hold fails the run (14). */
  void add(int chars, int bytes) {
    if (max_chars != nullptr) *max_chars = saturated_sum(*max_chars, chars);
    if (max_bytes != nullptr) *max_bytes = saturated_sum(*max_bytes, bytes);
  }
  static int saturated_sum(int a, int b) {
    int64_t sum = static_cast<int64_t>(a) + b;
    return sum > GL_FMT_NUMBER_LIMIT ? GL_FMT_NUMBER_LIMIT : static_cast<int>(sum);
  }
  bool saturated() const {
    return (max_chars != nullptr && *max_chars == GL_FMT_NUMBER_LIMIT) ||
           (max_bytes != nullptr && *max_bytes == GL_FMT_NUMBER_LIMIT);
  }
  void add(const ListMeasure &m, int floor_chars, int floor_bytes) {
    add(std::max(m.chars, floor_chars), std::max(m.bytes, floor_bytes));
  }
};

/* Modifiers of one directive. */
struct Field {
  int width = 0;
  int precision = -1;
  bool left = false;
  gl_wchar fill = ' ';
};

const gl_wchar empty_text[1] = {0};

int clamp_int(int64_t v) {
  if (v > GL_FMT_NUMBER_LIMIT) return GL_FMT_NUMBER_LIMIT;
  if (v < 0) return 0;
  return static_cast<int>(v);
}

int max3(int a, int b, int c) { return std::max(a, std::max(b, c)); }

/* Decimal digits of a non-negative value (1 for 0). */
int decimal_digits(int value) {
  int n = 1;
  for (; value >= 10; value /= 10)
    ++n;
  return n;
}

int fail(gl_locale *loc, int error) {
  store_error(loc, error);
  return -1;
}

/* Bytes of a terminated multibyte text, terminator not counted. */
int byte_length(gl_locale *loc, const char *mb) {
  if (mb == nullptr) return 0;
  const auto *p = reinterpret_cast<const unsigned char *>(mb);
  int n = 0;
  while (gl_ismbsterm(loc, p + n) == 0)
    ++n;
  return n;
}

ListMeasure measure_list(gl_locale *loc, int item) {
  ListMeasure m;
  char **list = nullptr;
  int count = 0;
  int saved = load_error(loc);
  if (gl_mbstimeinfo(loc, item, &list, &count) != 0) {
    store_error(loc, saved);
    return m;
  }
  for (int i = 0; i < count; ++i) {
    if (list[i] == nullptr) continue;
    m.bytes = std::max(m.bytes, byte_length(loc, list[i]));
    int chars = _gl_im_mbslen(loc, reinterpret_cast<unsigned char *>(list[i]));
    m.chars = std::max(m.chars, chars);
    _gl_free_ptr(list[i]);
  }
  _gl_free_ptr(list);
  store_error(loc, saved);
  return m;
}

void measure_lists(Run &r) {
  r.day = measure_list(r.loc, GL_TIMEINFO_DAY);
  r.abday = measure_list(r.loc, GL_TIMEINFO_ABDAY);
  r.mon = measure_list(r.loc, GL_TIMEINFO_MON);
  r.abmon = measure_list(r.loc, GL_TIMEINFO_ABMON);
  r.era_name = measure_list(r.loc, GL_TIMEINFO_ERA_NAME);
  r.era_name2 = measure_list(r.loc, GL_TIMEINFO_ERA_NAME2);
  r.alt_digits = measure_list(r.loc, GL_TIMEINFO_ALT_DIGITS);
  r.am_pm = measure_list(r.loc, GL_TIMEINFO_AM_PM);
}

/* ---- Writers --------------------------------------------------------------- */

int put_wc(Run &r, gl_wchar wc) {
  if (r.count + 1 > r.capacity) return fail(r.loc, GL_E2BIG);
  *r.out++ = wc;
  ++r.count;
  return 0;
}

/* A name or string: cut to P columns, padded to W columns. */
int put_mbs(Run &r, const gl_wchar *text, const Field &f) {
  int n = wide_length(text);
  int w = text_width(r.loc, text, n);
  while (f.precision > 0 && w > f.precision && n > 0) {
    --n;
    w = text_width(r.loc, text, n);
  }
  int pad = f.width > w ? f.width - w : 0;
  if (static_cast<int64_t>(r.count) + n + pad > r.capacity) return fail(r.loc, GL_E2BIG);
  if (!f.left)
    for (int i = 0; i < pad; ++i)
      *r.out++ = f.fill;
  for (int i = 0; i < n; ++i)
    *r.out++ = text[i];
  if (f.left)
    for (int i = 0; i < pad; ++i)
      *r.out++ = f.fill;
  r.count += n + pad;
  return 0;
}

/* A multibyte name: widened, then as put_mbs. */
int put_mb_name(Run &r, const char *name, const Field &f) {
  if (name == nullptr || byte_length(r.loc, name) == 0) return 0;
  gl_wchar *wide = widen_copy(r.loc, reinterpret_cast<const unsigned char *>(name));
  if (wide == nullptr) return -1;
  int rc = put_mbs(r, wide, f);
  _gl_free_ptr(wide);
  return rc;
}

int put_int(Run &r, int value, const Field &f) {
  uint32_t flags = f.left ? uint32_t {GL_FMT_LEFT} : f.fill == '0' ? uint32_t {GL_FMT_ZERO} : 0U;
  int64_t v = value;
  uint32_t magnitude = static_cast<uint32_t>(v < 0 ? -v : v);
  return _gl_format_decimal(r.loc, magnitude, value < 0, 10, &r.count, r.capacity, &r.out, f.width,
                            f.precision, flags);
}

/* Six fraction digits truncated or extended to P, optionally after a point,
** in a field of max(W, P + point) characters. */
int put_frac(Run &r, int fraction, const Field &f, bool point) {
  char six[8];
  int v = fraction;
  for (int i = 5; i >= 0; --i, v /= 10)
    six[i] = static_cast<char>('0' + v % 10);
  int p = std::max(f.precision, 0);
  int64_t text = static_cast<int64_t>(p) + (point ? 1 : 0);
  int64_t field = std::max<int64_t>(f.width, text);
  if (r.count + field > r.capacity) return fail(r.loc, GL_E2BIG);
  int64_t pad = field - text;
  if (!f.left)
    for (int64_t i = 0; i < pad; ++i)
      *r.out++ = f.fill;
  if (point) *r.out++ = '.';
  for (int i = 0; i < p; ++i)
    *r.out++ = i < 6 ? static_cast<gl_wchar>(six[i]) : '0';
  if (f.left)
    for (int64_t i = 0; i < pad; ++i)
      *r.out++ = f.fill;
  r.count += static_cast<int>(field);
  return 0;
}

/* Base-N digits of a positive value (0 for a value below 1). */
int alt_digit_count(int value, int base) {
  int n = 0;
  for (int64_t v = value; v > 0; v /= base)
    ++n;
  return n;
}

/* A number in the locale's alternative digits: entry k is digit k in base
** N. A negative value has no digits and leaves only its padding. */
int put_alt_int(Run &r, int value, const Field &f) {
  const gl_text_list &alt = r.loc->ltime.alt_digits;
  int base = alt.count;
  if (base < 2 && value > 0) return fail(r.loc, GL_EBADARG);
  gl_wchar *const *entries = alt.wc;
  const gl_wchar *zero = entries[0] != nullptr ? entries[0] : empty_text;
  int digits[32];
  int n = 0;
  if (value == 0) {
    digits[n++] = 0;
  } else {
    for (int64_t v = value; v > 0 && n < 32; v /= base)
      digits[n++] = static_cast<int>(v % base);
  }
  int64_t lead = f.precision > n ? f.precision - n : 0;
  int zero_len = wide_length(zero);
  int zero_width = text_width(r.loc, zero, -1);
  int64_t chars = lead * zero_len;
  int64_t columns = lead * zero_width;
  for (int i = 0; i < n; ++i) {
    const gl_wchar *e = entries[digits[i]] != nullptr ? entries[digits[i]] : empty_text;
    chars += wide_length(e);
    columns += text_width(r.loc, e, -1);
  }
  int64_t copies = 0;
  int64_t blanks = 0;
  if (f.width >= columns) {
    int64_t rest = f.width - columns;
    if (f.fill == '0' && zero_width > 0) copies = rest / zero_width;
    blanks = rest - copies * zero_width;
  }
  if (r.count + chars + copies * zero_len + blanks > r.capacity) return fail(r.loc, GL_E2BIG);
  auto put_text = [&](const gl_wchar *t) {
    for (int i = 0; t[i] != 0; ++i)
      *r.out++ = t[i];
  };
  auto put_number = [&]() {
    for (int64_t i = 0; i < lead; ++i)
      put_text(zero);
    for (int i = n - 1; i >= 0; --i)
      put_text(entries[digits[i]] != nullptr ? entries[digits[i]] : empty_text);
  };
  if (!f.left) {
    for (int64_t i = 0; i < blanks; ++i)
      *r.out++ = ' ';
    for (int64_t i = 0; i < copies; ++i)
      put_text(zero);
    put_number();
  } else {
    put_number();
    for (int64_t i = 0; i < copies; ++i)
      put_text(zero);
    for (int64_t i = 0; i < blanks; ++i)
      *r.out++ = ' ';
  }
  r.count += static_cast<int>(chars + copies * zero_len + blanks);
  return 0;
}

int run_format(Run &r, const gl_wchar *format, const alt_tm &t);

/* A locale format formatted from the same (converted) time. */
int put_new_fmt(Run &r, const gl_wchar *format, const alt_tm &t) {
  if (format == nullptr || format[0] == 0) return 0;
  if (r.depth >= time_nesting_limit) return fail(r.loc, GL_EDIRECTIVE);
  Run nested = r;
  ++nested.depth;
  nested.count = 0;
  nested.capacity = r.capacity - r.count;
  int n = run_format(nested, format, t);
  if (n < 0) return -1;
  if (r.size_only()) return 0;
  /* The nested text must leave room for its own terminator. */
  if (n == 0) return -1;
  if (n + 1 > nested.capacity) return fail(r.loc, GL_E2BIG);
  r.out = nested.out;
  r.count += n;
  return 0;
}

/* ---- Checks and eras ---------------------------------------------------------- */

bool in_range(int v, int lo, int hi) { return v >= lo && v <= hi; }

int month_count(gl_locale *loc) { return loc->ltime.mon.count; }

int check_month(Run &r, const alt_tm &t) {
  return in_range(t.tm_mon, 0, month_count(r.loc) - 1) ? 0 : fail(r.loc, GL_ETMONTH);
}
/* The year A.D. of t, in 64 bits: a caller's tm_year may be anything,
** and %y and %C take the year before any range check. */
int64_t year_of(const alt_tm &t) { return int64_t {t.tm_year} + 1900; }

/* v + 1 for a month or day number shown from 1; saturated, since the
** value is taken before the range check that refuses it. */
int one_based(int v) { return v == INT_MAX ? v : v + 1; }

int check_year(Run &r, const alt_tm &t) {
  return in_range(t.tm_year, -1900, 8099) ? 0 : fail(r.loc, GL_ETYEAR);
}
int check_mday(Run &r, const alt_tm &t) {
  return in_range(t.tm_mday, 1, 99) ? 0 : fail(r.loc, GL_ETMDAY);
}
int check_hour(Run &r, const alt_tm &t) {
  return in_range(t.tm_hour, 0, 23) ? 0 : fail(r.loc, GL_ETHOUR);
}
int check_min(Run &r, const alt_tm &t) {
  return in_range(t.tm_min, 0, 59) ? 0 : fail(r.loc, GL_ETMINUTE);
}
int check_sec(Run &r, const alt_tm &t) {
  return in_range(t.tm_sec, 0, 59) ? 0 : fail(r.loc, GL_ETSECOND);
}
int check_wday(Run &r, const alt_tm &t) {
  return in_range(t.tm_wday, 0, 6) ? 0 : fail(r.loc, GL_ETWDAY);
}

const era_record *current_era(gl_locale *loc, const alt_tm &t) {
  const gl_era_list &eras = loc->ltime.eras;
  if (eras.records == nullptr) return nullptr;
  for (int i = 0; i < eras.count; ++i) {
    const era_record *e = eras.records[i];
    if (e != nullptr && glslib::era_contains(*e, t.tm_mday, int64_t {t.tm_mon} + 1, year_of(t)))
      return e;
  }
  return nullptr;
}

int era_offset(const era_record &e, const alt_tm &t) {
  int s = e.direction < 0 ? -1 : 1;
  int d = t.tm_mday;
  int m = one_based(t.tm_mon);
  int64_t year =
      static_cast<int64_t>(e.offset) + s * (static_cast<int64_t>(t.tm_year) + 1900 - e.start_year);
  if (s * m < s * e.start_month || (m == e.start_month && s * d < s * e.start_day)) --year;
  return static_cast<int>(std::clamp<int64_t>(year, INT32_MIN, INT32_MAX));
}

/* The checks of %EC, %Eg and %Ey, then the current era. */
const era_record *checked_era(Run &r, const alt_tm &t) {
  if (check_year(r, t) < 0 || check_month(r, t) < 0 || check_mday(r, t) < 0) return nullptr;
  const era_record *e = current_era(r.loc, t);
  if (e == nullptr) fail(r.loc, GL_EBADARG);
  return e;
}

bool has_eras(gl_locale *loc) {
  return loc->ltime.eras.count > 0 && loc->ltime.eras.records != nullptr;
}
bool has_alt_digits(gl_locale *loc) {
  return loc->ltime.alt_digits.count > 0 && loc->ltime.alt_digits.wc != nullptr;
}

int twelve_hour(int hour) { return hour == 0 || hour == 12 ? 12 : hour % 12; }

/* Takes the digit 0..5 that may follow %F or %iF as the precision. */
void fraction_digit(const gl_wchar **p, Field &f) {
  if (**p >= '0' && **p <= '5') {
    f.precision = static_cast<int>(**p - '0');
    if (f.width < f.precision) f.width = f.precision;
    ++*p;
  }
}

/* ---- Directives ------------------------------------------------------------- */

int plain_numbers(Run &r, const int *values, int n, gl_wchar sep, const Field &f) {
  for (int i = 0; i < n; ++i) {
    if (i > 0 && put_wc(r, sep) < 0) return -1;
    if (put_int(r, values[i], f) < 0) return -1;
  }
  return 0;
}

/* Measures n numbers of field f joined by one-character separators, as
** characters and as bytes: at least least of each. */
void measure_numbers(Run &r, int n, int least, const Field &f) {
  int64_t wp = std::max(f.width, f.precision);
  int size = clamp_int(std::max<int64_t>(least, n * wp + (n - 1)));
  r.add(size, size);
}

int alt_numbers(Run &r, const int *values, int n, gl_wchar sep, const Field &f) {
  for (int i = 0; i < n; ++i) {
    if (i > 0 && put_wc(r, sep) < 0) return -1;
    if (put_alt_int(r, values[i], f) < 0) return -1;
  }
  return 0;
}

Field with_default(Field f, int precision) {
  if (f.precision < 0) f.precision = precision;
  return f;
}

/* The measures of size-only mode: max(floor, W, P). */
void add_number(Run &r, int floor, const Field &f) {
  int n = max3(floor, f.width, f.precision);
  r.add(n, n);
}

int do_era(Run &r, gl_wchar letter, const alt_tm &t, Field f) {
  gl_ltime &lt = r.loc->ltime;
  switch (letter) {
    case 'c':
      return put_new_fmt(r, lt.era_d_t_fmt_wc, t);
    case 'x':
      return put_new_fmt(r, lt.era_d_fmt_wc, t);
    case 'X':
      return put_new_fmt(r, lt.era_t_fmt_wc, t);
    case 'C':
    case 'g': {
      const ListMeasure &m = letter == 'C' ? r.era_name : r.era_name2;
      if (r.size_only()) {
        r.add(m, f.width, f.width);
        return 0;
      }
      const era_record *e = checked_era(r, t);
      if (e == nullptr) return -1;
      return put_mb_name(r, letter == 'C' ? e->era_name : e->era_name2, f);
    }
    case 'Y': {
      if (r.size_only()) {
        /* The largest of the year formats of all eras. */
        int best_chars = 0;
        int best_bytes = 0;
        for (int i = 0; i < lt.eras.count; ++i) {
          const era_record *e = lt.eras.records[i];
          if (e == nullptr) continue;
          int c = 0;
          int b = 0;
          Run nested = r;
          nested.max_chars = &c;
          nested.max_bytes = &b;
          if (put_new_fmt(nested, e->era_year_format_wc, t) < 0) return -1;
          best_chars = std::max(best_chars, c);
          best_bytes = std::max(best_bytes, b);
        }
        r.add(best_chars, best_bytes);
        return 0;
      }
      const era_record *e = current_era(r.loc, t);
      if (e == nullptr) return fail(r.loc, GL_EBADARG);
      return put_new_fmt(r, e->era_year_format_wc, t);
    }
    case 'y': {
      f = with_default(f, 2);
      if (r.size_only()) {
        int n = std::max(f.width, f.precision);
        r.add(n, n);
        return 0;
      }
      const era_record *e = checked_era(r, t);
      if (e == nullptr) return -1;
      return put_int(r, era_offset(*e, t), f);
    }
    default:
      return fail(r.loc, GL_EDIRECTIVE);
  }
}

int do_alt(Run &r, gl_wchar letter, const alt_tm &t, Field f) {
  bool measure = r.size_only();
  int a_chars = r.alt_digits.chars;
  int a_bytes = r.alt_digits.bytes;
  auto add_one = [&](const Field &g) {
    int64_t p = std::max(g.precision, 0);
    r.add(clamp_int(std::max<int64_t>({g.width, a_chars * p, a_chars * 10LL})),
          clamp_int(std::max<int64_t>({g.width, a_bytes * p, a_bytes * 10LL})));
  };
  auto one = [&](int check_result, int value, int precision) {
    Field g = with_default(f, precision);
    if (measure) {
      add_one(g);
      return 0;
    }
    if (check_result < 0) return -1;
    return put_alt_int(r, value, g);
  };
  switch (letter) {
    case 'C':
      return one(measure ? 0 : check_year(r, t), static_cast<int>(year_of(t) / 100), -1);
    case 'd':
      return one(measure ? 0 : check_mday(r, t), t.tm_mday, 2);
    case 'H':
      return one(measure ? 0 : check_hour(r, t), t.tm_hour, 2);
    case 'I':
      return one(measure ? 0 : check_hour(r, t), twelve_hour(t.tm_hour), 2);
    case 'j':
      return one(measure || in_range(t.tm_yday, 0, 365) ? 0 : fail(r.loc, GL_ETYDAY),
                 one_based(t.tm_yday), 3);
    case 'm':
      return one(measure ? 0 : check_month(r, t), one_based(t.tm_mon), 2);
    case 'M':
      return one(measure ? 0 : check_min(r, t), t.tm_min, 2);
    case 'S':
      return one(measure ? 0 : check_sec(r, t), t.tm_sec, 2);
    case 'u':
      return one(measure ? 0 : check_wday(r, t), t.tm_wday == 0 ? 7 : t.tm_wday, 2);
    case 'w':
      return one(measure ? 0 : check_wday(r, t), t.tm_wday, 2);
    case 'y': {
      if (has_eras(r.loc)) {
        if (measure) return one(0, 0, 2);
        const era_record *e = checked_era(r, t);
        if (e == nullptr) return -1;
        return one(0, era_offset(*e, t), 2);
      }
      return one(measure ? 0 : check_year(r, t), static_cast<int>(year_of(t) % 100), 2);
    }
    case 'e': {
      if (measure) {
        add_one(f);
        return 0;
      }
      if (check_mday(r, t) < 0) return -1;
      int base = r.loc->ltime.alt_digits.count;
      int pad = base >= 2 ? alt_digit_count(31, base) - alt_digit_count(t.tm_mday, base) : 0;
      for (int i = 0; i < pad; ++i)
        if (put_wc(r, ' ') < 0) return -1;
      return put_alt_int(r, t.tm_mday, f);
    }
    case 'R':
    case 'T':
    case 'D': {
      if (measure) {
        int64_t p = std::max(f.precision, 0);
        if (letter == 'R') {
          add_one(f);
        } else {
          int64_t lead = letter == 'D' ? 3LL * f.width + 2 : f.width;
          r.add(clamp_int(std::max<int64_t>({lead, 30 * p + 2, 3LL * a_chars * 10 + 2})),
                clamp_int(std::max<int64_t>({lead, 30 * p + 2, 3LL * a_bytes * 10 + 2})));
        }
        return 0;
      }
      if (letter == 'R') {
        if (check_min(r, t) < 0 || check_hour(r, t) < 0) return -1;
        int v[] = {t.tm_hour, t.tm_min};
        return alt_numbers(r, v, 2, ':', f);
      }
      if (letter == 'T') {
        if (check_hour(r, t) < 0 || check_min(r, t) < 0 || check_sec(r, t) < 0) return -1;
        int v[] = {t.tm_hour, t.tm_min, t.tm_sec};
        return alt_numbers(r, v, 3, ':', f);
      }
      if (check_month(r, t) < 0 || check_mday(r, t) < 0 || check_year(r, t) < 0) return -1;
      int v[] = {one_based(t.tm_mon), t.tm_mday, static_cast<int>(year_of(t) % 100)};
      return alt_numbers(r, v, 3, '/', f);
    }
    default:
      return fail(r.loc, GL_EDIRECTIVE);
  }
}

int do_inx(Run &r, gl_wchar letter, const gl_wchar **p, const alt_tm &t, Field f) {
  switch (letter) {
    case 'Y':
      f = with_default(f, 4);
      if (r.size_only()) return add_number(r, 4, f), 0;
      if (check_year(r, t) < 0) return -1;
      return put_int(r, static_cast<int>(std::abs(year_of(t))), f);
    case 'y':
      f = with_default(f, 2);
      if (r.size_only()) return add_number(r, 2, f), 0;
      return put_int(r, static_cast<int>(year_of(t) % 100), f);
    case 'F':
      f = with_default(f, 2);
      if (**p >= '6' && **p <= '9') return fail(r.loc, GL_EDIRECTIVE);
      fraction_digit(p, f);
      if (r.size_only()) return add_number(r, 6, f), 0;
      if (!in_range(t.tm_fraction, 0, 999999)) return fail(r.loc, GL_ETFRACTION);
      return put_frac(r, t.tm_fraction, f, true);
    default:
      return fail(r.loc, GL_EDIRECTIVE);
  }
}

int do_plain(Run &r, gl_wchar letter, const gl_wchar **p, const alt_tm &t, Field f) {
  gl_ltime &lt = r.loc->ltime;
  bool measure = r.size_only();
  /* A name of a list indexed by the checked value. */
  auto name = [&](const ListMeasure &m, int check_result, gl_wchar *const *list, int count,
                  int index, int bad) {
    if (measure) {
      r.add(m, f.width, f.width);
      return 0;
    }
    if (check_result < 0) return -1;
    if (list == nullptr || index < 0 || index >= count) return fail(r.loc, bad);
    return put_mbs(r, list[index] != nullptr ? list[index] : empty_text, f);
  };
  /* One number with its default precision and its size-only floor. */
  auto number = [&](int check_result, int value, int precision, int floor) {
    Field g = with_default(f, precision);
    if (measure) {
      add_number(r, floor, g);
      return 0;
    }
    if (check_result < 0) return -1;
    return put_int(r, value, g);
  };
  switch (letter) {
    case '%':
      if (measure) return r.add(1, 1), 0;
      return put_wc(r, '%');
    case 'n':
    case 't':
      if (measure) return r.add(1, 1), 0;
      return put_wc(r, letter == 'n' ? 10 : 9);
    case 'a':
      return name(r.abday, measure ? 0 : check_wday(r, t), lt.abday_wc, 7, t.tm_wday, GL_ETWDAY);
    case 'A':
      return name(r.day, measure ? 0 : check_wday(r, t), lt.day_wc, 7, t.tm_wday, GL_ETWDAY);
    case 'b':
    case 'h':
      return name(r.abmon, measure ? 0 : check_month(r, t), lt.abmon.wc, lt.abmon.count,
                  t.tm_cal_mon, GL_ETMONTH);
    case 'B':
      return name(r.mon, measure ? 0 : check_month(r, t), lt.mon.wc, lt.mon.count, t.tm_cal_mon,
                  GL_ETMONTH);
    case 'p':
      return name(r.am_pm, measure ? 0 : check_hour(r, t), lt.am_pm_wc, 2, t.tm_hour / 12,
                  GL_ETHOUR);
    case 'c':
      return put_new_fmt(r, lt.d_t_fmt_wc, t);
    case 'r':
      return put_new_fmt(r, lt.t_fmt_ampm_wc, t);
    case 'x':
      return put_new_fmt(r, lt.d_fmt_wc, t);
    case 'X':
      return put_new_fmt(r, lt.t_fmt_wc, t);
    case 'C':
    case 'g':
      return number(measure ? 0 : check_year(r, t), static_cast<int>(year_of(t) / 100), -1, 2);
    case 'd':
      return number(measure ? 0 : check_mday(r, t), t.tm_mday, 2, 2);
    case 'e': {
      if (measure) return add_number(r, 2, f), 0;
      if (check_mday(r, t) < 0) return -1;
      if (t.tm_mday < 10 && f.precision < 2) {
        if (put_wc(r, ' ') < 0) return -1;
        if (f.width > 0) --f.width;
      }
      return put_int(r, t.tm_mday, f);
    }
    case 'F':
      f = with_default(f, 6);
      fraction_digit(p, f);
      if (measure) return add_number(r, 6, f), 0;
      if (!in_range(t.tm_fraction, 0, 999999)) return fail(r.loc, GL_ETFRACTION);
      return put_frac(r, t.tm_fraction, f, false);
    case 'H':
      return number(measure ? 0 : check_hour(r, t), t.tm_hour, 2, 2);
    case 'I':
      return number(measure ? 0 : check_hour(r, t), twelve_hour(t.tm_hour), 2, 2);
    case 'j':
      return number(measure || in_range(t.tm_yday, 0, 365) ? 0 : fail(r.loc, GL_ETYDAY),
                    one_based(t.tm_yday), 3, 3);
    case 'm':
      return number(measure ? 0 : check_month(r, t), one_based(t.tm_mon), 2,
                    decimal_digits(std::max(month_count(r.loc) - 1, 0)));
    case 'M':
      return number(measure ? 0 : check_min(r, t), t.tm_min, 2, 2);
    case 'S':
      return number(measure ? 0 : check_sec(r, t), t.tm_sec, 2, 2);
    case 'u':
      return number(measure ? 0 : check_wday(r, t), t.tm_wday == 0 ? 7 : t.tm_wday, 2, 1);
    case 'w':
      return number(measure ? 0 : check_wday(r, t), t.tm_wday, 2, 1);
    case 'y':
      return number(0, static_cast<int>(year_of(t) % 100), 2, 2);
    case 'Y': {
      f = with_default(f, 4);
      if (measure) return add_number(r, 4, f), 0;
      if (check_year(r, t) < 0) return -1;
      if (put_int(r, static_cast<int>(std::abs(year_of(t))), f) < 0) return fail(r.loc, GL_ENOYEAR);
      return 0;
    }
    case 'D': {
      f = with_default(f, 2);
      if (measure) {
        int digits = decimal_digits(std::max(month_count(r.loc) - 1, 0));
        measure_numbers(r, 3, 4 + digits + 2, f);
        return 0;
      }
      if (check_month(r, t) < 0 || check_mday(r, t) < 0 || check_year(r, t) < 0) return -1;
      int v[] = {one_based(t.tm_mon), t.tm_mday, static_cast<int>(year_of(t) % 100)};
      return plain_numbers(r, v, 3, '/', f);
    }
    case 'R': {
      if (measure) {
        measure_numbers(r, 2, 5, f);
        return 0;
      }
      if (check_hour(r, t) < 0 || check_min(r, t) < 0) return -1;
      int v[] = {t.tm_hour, t.tm_min};
      return plain_numbers(r, v, 2, ':', f);
    }
    case 'T': {
      if (measure) {
        measure_numbers(r, 3, 8, f);
        return 0;
      }
      if (check_sec(r, t) < 0 || check_min(r, t) < 0 || check_hour(r, t) < 0) return -1;
      int v[] = {t.tm_hour, t.tm_min, t.tm_sec};
      return plain_numbers(r, v, 3, ':', f);
    }
    default:
      return fail(r.loc, GL_EDIRECTIVE);
  }
}

/* The main loop over one format: characters written, or -1. */
int run_format(Run &r, const gl_wchar *format, const alt_tm &t) {
  if (format == nullptr) return fail(r.loc, GL_ENOREGISTRY);
  for (const gl_wchar *p = format; *p != 0;) {
    if (*p != '%') {
      if (r.size_only()) {
        r.add(1, std::max(gl_wclen(r.loc, *p), 1));
      } else if (put_wc(r, *p) < 0) {
        return -1;
      }
      ++p;
      continue;
    }
    ++p;
    Field f;
    int justification = 1;
    uint32_t flags = 0;
    if (_gl_scan_format_modifiers(r.loc, &p, &justification, &f.fill, &f.width, &f.precision,
                                  &flags, nullptr, nullptr) < 0)
      return -1;
    f.left = justification < 0;
    if (*p == 'E' && !has_eras(r.loc)) ++p;
    if (*p == 'O' && !has_alt_digits(r.loc)) ++p;
    gl_wchar letter = *p;
    if (letter == 0) return fail(r.loc, GL_EDIRECTIVE);
    ++p;
    int rc;
    if (letter == 'E' || letter == 'O' || letter == 'i') {
      gl_wchar sub = *p;
      if (sub == 0) return fail(r.loc, GL_EDIRECTIVE);
      /* A second prefix after a skipped one ("%OOd" without alternative
      ** digits) is no directive. */
      if ((letter == 'E' && !has_eras(r.loc)) || (letter == 'O' && !has_alt_digits(r.loc)))
        return fail(r.loc, GL_EDIRECTIVE);
      ++p;
      if (letter == 'E')
        rc = do_era(r, sub, t, f);
      else if (letter == 'O')
        rc = do_alt(r, sub, t, f);
      else
        rc = do_inx(r, sub, &p, t, f);
    } else {
      rc = do_plain(r, letter, &p, t, f);
    }
    if (rc < 0) return -1;
  }
  return r.size_only() ? 0 : r.count;
}

/* The formatter proper: converts to the locale's calendar, runs the format
** and ends the text. Characters written (0 in size-only mode), or -1. */
int format_time(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format,
                const alt_tm &time, int *max_chars, int *max_bytes) {
  Run r {loc, buffer, 0, size, max_chars, max_bytes, 0, {}, {}, {}, {}, {}, {}, {}, {}};
  if (r.size_only()) measure_lists(r);
  if (format == nullptr) return fail(loc, GL_ENOREGISTRY);
  alt_tm local = time;
  if (loc->ltime.calendar != GL_CAL_GREGORIAN && gl_cal_gregorian_to_local(loc, &time, &local) != 0)
    return -1;
  int n = run_format(r, format, local);
  if (n < 0) return -1;
  if (r.size_only()) return r.saturated() ? fail(loc, GL_E2BIG) : 0;
  if (r.count + 1 > r.capacity) return fail(loc, GL_E2BIG);
  *r.out = 0;
  return n;
}

}  // namespace

namespace glslib {

alt_tm tm_to_alt_tm(const gl_time_rec &time, int calendar_month) {
  return alt_tm {time.tm_fraction, time.tm_sec,    time.tm_min,   time.tm_hour, time.tm_mday,
                 time.tm_mon,      calendar_month, time.tm_year,  time.tm_wday, time.tm_yday,
                 time.tm_isdst,    time.tm_spare1, time.tm_spare2};
}

gl_time_rec alt_tm_to_tm(const alt_tm &time) {
  return gl_time_rec {time.tm_fraction, time.tm_sec,   time.tm_min,    time.tm_hour,
                      time.tm_mday,     time.tm_mon,   time.tm_year,   time.tm_wday,
                      time.tm_yday,     time.tm_isdst, time.tm_spare1, time.tm_spare2};
}

int time_format_size(gl_locale *loc, const gl_wchar *format, bool want_bytes) {
  alt_tm zero {};
  int chars = 0;
  int bytes = 0;
  if (format_time(loc, nullptr, 0, format, zero, want_bytes ? nullptr : &chars,
                  want_bytes ? &bytes : nullptr) < 0)
    return -1;
  return want_bytes ? bytes : chars;
}

}  // namespace glslib

extern "C" {

int gl_wcsftime1(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format, alt_tm *time,
                 int *max_chars, int *max_bytes) {
  if (time == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return 0;
  }
  bool size_only = max_chars != nullptr || max_bytes != nullptr;
  if (!size_only && (buffer == nullptr || size < 0)) {
    store_error(loc, GL_E2BIG);
    return 0;
  }
  int n = format_time(loc, buffer, size, format, *time, max_chars, max_bytes);
  return n < 0 ? 0 : n;
}

/* Characters of the formatter's wide output kept on the stack. */
constexpr int local_wide_size = 1025;

int gl_mbsftime1(gl_locale *loc, unsigned char *buffer, int size, const unsigned char *format,
                 alt_tm *time, int *max_chars, int *max_bytes) {
  if (format == nullptr) return 0;
  gl_wchar *wide_format = widen_copy(loc, format);
  if (wide_format == nullptr) return load_error(loc) == GL_ENOMEM ? 0 : -1;
  bool size_only = max_chars != nullptr || max_bytes != nullptr;
  int result = 0;
  if (size_only) {
    gl_wcsftime1(loc, nullptr, 0, wide_format, time, max_chars, max_bytes);
  } else if (buffer != nullptr && size > 0) {
    /* The wide text of the common sizes (a DATE or DATETIME text) stays on
    ** the stack; the formatter terminates what it writes, so no buffer
    ** needs clearing. */
    gl_wchar local_out[local_wide_size];
    gl_wchar *wide_out = size <= local_wide_size
                             ? local_out
                             : alloc_zeroed<gl_wchar>(static_cast<std::size_t>(size));
    if (wide_out == nullptr) {
      store_error(loc, GL_ENOMEM);
    } else {
      if (gl_wcsftime1(loc, wide_out, size, wide_format, time, nullptr, nullptr) > 0) {
        int bytes = _gl_get_mbstring(loc, buffer, size, wide_out);
        result = bytes < 0 ? 0 : bytes;
      }
      if (wide_out != local_out) _gl_free_ptr(wide_out);
    }
  } else {
    store_error(loc, GL_E2BIG);
  }
  _gl_free_ptr(wide_format);
  return result;
}

int gl_mbsftime(gl_locale *loc, unsigned char *buffer, int size, const unsigned char *format,
                gl_time_rec *time) {
  if (time == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return 0;
  }
  alt_tm t = tm_to_alt_tm(*time, time->tm_mon);
  return gl_mbsftime1(loc, buffer, size, format, &t, nullptr, nullptr);
}

int gl_wcsftime(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format,
                gl_time_rec *time) {
  if (time == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return 0;
  }
  alt_tm t = tm_to_alt_tm(*time, time->tm_mon);
  return gl_wcsftime1(loc, buffer, size, format, &t, nullptr, nullptr);
}

}  // extern "C"
