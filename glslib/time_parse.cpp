/*
** The time parser: text read into a broken-down time by a format of the
** time formatter's kind, in the TIME conventions of a locale (day, month,
** era and am/pm names, alternative digits, eras, the locale's calendar).
**
** A parse first collects what the text gives into a ptime_state, then
** applies it to the caller's time in the locale's calendar (a two-digit
** year is placed by a century rule, an era year through its era), converts
** the result to the Gregorian calendar and checks the date. The caller's
** time is written only when all of that succeeds.
**
** Callers: the value types (dates and datetimes). Calls: the directive
** scanner and the integer field reader (format_engine.cpp), the name
** trees, the calendar conversions and the century rules (century.cpp).
*/

#include <array>
#include <cstring>

#include "format_internal.h"
#include "locale_internal.h"
#include "time_internal.h"

namespace {

using namespace glslib;

/* What the text gave (ptime_state::flags). A month number clears
** found_cal_month and a month name clears found_month: the last one wins. */
enum : int32_t {
  found_fraction = 0x1,
  found_second = 0x2,
  found_minute = 0x4,
  found_hour12 = 0x8,
  found_am_pm = 0x10,
  found_hour24 = 0x20,
  found_mday = 0x40,
  found_wday = 0x80,
  found_yday = 0x100,
  found_month = 0x200,
  found_cal_month = 0x400,
  found_era = 0x800,
  found_era_year = 0x1000,
  found_century = 0x2000,
  found_year2 = 0x4000,
  found_full_year = 0x8000
};

/* Year kinds (the last year-related directive) and hour kinds. */
enum : int32_t { year_full = 1, year_two_digit = 2, year_era = 3 };
enum : int32_t { hour_24 = 1, hour_12 = 2 };

/* What the parser has found, zeroed at the start of every parse. */
struct ptime_state {
  int32_t era_index;
  int32_t era_year;
  int32_t century;
  int32_t year2; /* 0..99 */
  int32_t full_year; /* year - 1900 */
  int32_t hour12; /* 1..12 */
  int32_t am_pm; /* 0 or 1 */
  int32_t hour24;
  int32_t minute;
  int32_t second;
  int32_t fraction; /* microseconds */
  int32_t yday; /* 0-based */
  int32_t mday;
  int32_t wday; /* 0 = Sunday */
  int32_t month; /* month number, 0-based */
  int32_t cal_month; /* index into the month names */
  int32_t year_kind;
  int32_t hour_kind;
  int32_t flags;
};

/* A decimal or alternative-digit field: its range, its default width
** (-1: none) when the directive gives neither width nor precision, the
** errors of a missing field and of a value out of range, where it goes and
** what it marks. max -1 stands for the locale's month count. */
struct NumberField {
  gl_wchar letter;
  int32_t min, max;
  int default_width;
  int missing_error, range_error;
  int32_t ptime_state::*field;
  int32_t flag;
  int32_t hour_kind, year_kind; /* 0: unchanged */
  int32_t stored_offset; /* added to the value before storing */
};

constexpr int32_t month_count_max = -1;

constexpr NumberField plain_fields[] = {
    {'C', 0, 99, -1, GL_ENOYEAR, GL_ETYEAR, &ptime_state::century, found_century, 0, year_two_digit,
     0},
    {'g', 0, 99, -1, GL_ENOYEAR, GL_ETYEAR, &ptime_state::century, found_century, 0, year_two_digit,
     0},
    {'d', 1, 31, 2, GL_ENOMDAY, GL_ETMDAY, &ptime_state::mday, found_mday, 0, 0, 0},
    {'e', 1, 31, 2, GL_ENOMDAY, GL_ETMDAY, &ptime_state::mday, found_mday, 0, 0, 0},
    {'H', 0, 23, 2, GL_ENOHOUR, GL_ETHOUR, &ptime_state::hour24, found_hour24, hour_24, 0, 0},
    {'I', 1, 12, 2, GL_ENOHOUR, GL_ETHOUR, &ptime_state::hour12, found_hour12, hour_12, 0, 0},
    {'j', 1, 366, -1, GL_ETYDAY, GL_ETYDAY, &ptime_state::yday, found_yday, 0, 0, -1},
    {'m', 1, month_count_max, 2, GL_ENOMONTH, GL_ETMONTH, &ptime_state::month, found_month, 0, 0,
     -1},
    {'M', 0, 59, 2, GL_ENOMINUTE, GL_ETMINUTE, &ptime_state::minute, found_minute, 0, 0, 0},
    {'S', 0, 59, 2, GL_ENOSECOND, GL_ETSECOND, &ptime_state::second, found_second, 0, 0, 0},
    {'u', 1, 7, 1, GL_ENOWDAY, GL_ETWDAY, &ptime_state::wday, found_wday, 0, 0, 0},
    {'w', 0, 6, 1, GL_ENOWDAY, GL_EBADARG, &ptime_state::wday, found_wday, 0, 0, 0},
    {'y', 0, 99, 2, GL_ENOYEAR, GL_EBADARG, &ptime_state::year2, found_year2, 0, year_two_digit, 0},
    {'Y', 0, 9999, 4, GL_ENOYEAR, GL_EBADARG, &ptime_state::full_year, found_full_year, 0,
     year_full, -1900},
};

/* The same numbers in alternative digits (%Oy is apart: it depends on the
** eras). */
constexpr NumberField alt_fields[] = {
    {'d', 1, 31, -1, GL_ENOMDAY, GL_ETMDAY, &ptime_state::mday, found_mday, 0, 0, 0},
    {'e', 1, 31, -1, GL_ENOMDAY, GL_ETMDAY, &ptime_state::mday, found_mday, 0, 0, 0},
    {'H', 0, 23, -1, GL_ENOHOUR, GL_ETHOUR, &ptime_state::hour24, found_hour24, hour_24, 0, 0},
    {'I', 1, 12, -1, GL_ENOHOUR, GL_ETHOUR, &ptime_state::hour12, found_hour12, hour_12, 0, 0},
    {'m', 1, month_count_max, -1, GL_ENOMONTH, GL_ETMONTH, &ptime_state::month, found_month, 0, 0,
     -1},
    {'M', 0, 59, -1, GL_ENOMINUTE, GL_ETMINUTE, &ptime_state::minute, found_minute, 0, 0, 0},
    {'S', 0, 59, -1, GL_ENOSECOND, GL_ETSECOND, &ptime_state::second, found_second, 0, 0, 0},
    {'w', 0, 6, -1, GL_ENOWDAY, GL_ETWDAY, &ptime_state::wday, found_wday, 0, 0, 0},
};

const NumberField *find_field(const NumberField *begin, const NumberField *end, gl_wchar letter) {
  for (const NumberField *f = begin; f != end; ++f)
    if (f->letter == letter) return f;
  return nullptr;
}

/* The fixed formats of %D, %R and %T. */
constexpr gl_wchar format_D[] = {'%', 'm', '/', '%', 'd', '/', '%', 'y', 0};
constexpr gl_wchar format_R[] = {'%', 'H', ':', '%', 'M', 0};
constexpr gl_wchar format_T[] = {'%', 'H', ':', '%', 'M', ':', '%', 'S', 0};

bool has_eras(const gl_locale *loc) {
  return loc->ltime.eras.count > 0 && loc->ltime.eras.records != nullptr;
}

bool has_alt_digits(const gl_locale *loc) { return loc->ltime.alt_digits.count > 0; }

/* Value of a decimal digit, -1 for any other character. */
int ascii_digit(gl_wchar wc) { return wc >= '0' && wc <= '9' ? static_cast<int>(wc - '0') : -1; }

/* True for a character of the blank class. */
bool is_blank(gl_locale *loc, gl_wchar wc) {
  if (wc == ' ' || wc == '\t') return true;
  if (wc < 128) return false;
  int saved = load_error(loc);
  bool blank = _gl_im_iswctype(loc, wc, GL_CLASS_BLANK) != 0;
  store_error(loc, saved);
  return blank;
}

/* The parse of one text by one format, with the state it fills. */
class TimeParser {
 public:
  TimeParser(gl_locale *loc, ptime_state *state) : loc_(loc), state_(state) {}

  /* Runs format over text from its start; the position after the parsed
  ** text, or NULL with the error stored. depth counts nested formats. */
  const gl_wchar *parse(const gl_wchar *text, const gl_wchar *format, int depth) {
    if (format == nullptr) return fail(GL_ENOREGISTRY);
    if (depth > time_nesting_limit) return fail(GL_EDIRECTIVE);
    const gl_wchar *f = format;
    const gl_wchar *t = text;
    while (*f != 0) {
      if (*f != '%') {
        if (is_blank(loc_, *f)) {
          ++f;
          while (is_blank(loc_, *t))
            ++t;
        }
        while (is_blank(loc_, *f))
          ++f;
        if (*f == '%' || *f == 0) continue;
        while (is_blank(loc_, *t))
          ++t;
        if (*f != *t) return fail(GL_ENOMATCH);
        ++f;
        ++t;
        continue;
      }
      ++f;
      t = directive(t, &f, depth);
      if (t == nullptr) return nullptr;
    }
    return t;
  }

 private:
  const gl_wchar *fail(int error) {
    store_error(loc_, error);
    return nullptr;
  }

  /* The directive letter at *f, *f then past it; 0 with error 22 when the
  ** format ends there. */
  gl_wchar take_letter(const gl_wchar **f) {
    const gl_wchar letter = **f;
    if (letter == 0) {
      store_error(loc_, GL_EDIRECTIVE);
      return 0;
    }
    ++*f;
    return letter;
  }

  /* Records a year of the era, or of the century given by two digits. */
  void found_era_year_value(int32_t value) {
    state_->era_year = value;
    state_->flags |= found_era_year;
  }
  void found_two_digit_year(int value) {
    state_->year2 = value;
    state_->flags |= found_year2;
    state_->year_kind = year_two_digit;
  }

  /* One directive, *f standing after its '%'; *f ends after its letter. */
  const gl_wchar *directive(const gl_wchar *t, const gl_wchar **f, int depth) {
    int justification = 1;
    gl_wchar fill = ' ';
    int width = -1;
    int precision = 1;
    uint32_t flags = 0;
    if (_gl_scan_format_modifiers(loc_, f, &justification, &fill, &width, &precision, &flags,
                                  nullptr, nullptr) != 0)
      return nullptr;
    if (**f == 'E' && !has_eras(loc_)) ++*f;
    if (**f == 'O' && !has_alt_digits(loc_)) ++*f;
    const gl_wchar letter = take_letter(f);
    if (letter == 0) return nullptr;
    switch (letter) {
      case 'E':
        return era_directive(t, f, width, precision, depth);
      case 'O':
        return alt_directive(t, f, width, precision);
      case 'i':
        return i_directive(t, f, width, precision);
      default:
        return plain_directive(letter, t, f, width, precision, depth);
    }
  }

  const gl_wchar *plain_directive(gl_wchar letter, const gl_wchar *t, const gl_wchar **f, int width,
                                  int precision, int depth) {
    const gl_ltime &time = loc_->ltime;
    if (const NumberField *field =
            find_field(std::begin(plain_fields), std::end(plain_fields), letter))
      return decimal_field(*field, t, width, precision);
    switch (letter) {
      case '%':
        if (*t != '%') return fail(GL_EDIRECTIVE);
        return t + 1;
      case 'a':
      case 'A':
        return name(t, GL_TREE_DAY, GL_TREE_ABDAY, GL_ENOWDAY, [this](int index) {
          state_->wday = index;
          state_->flags |= found_wday;
        });
      case 'b':
      case 'B':
      case 'h':
        return name(t, GL_TREE_MON, GL_TREE_ABMON, GL_EMONTHNAME, [this](int index) {
          state_->cal_month = index;
          state_->flags = (state_->flags | found_cal_month) & ~found_month;
        });
      case 'p':
        return am_pm(t);
      case 'c':
        return parse(t, time.d_t_fmt_wc, depth + 1);
      case 'x':
        return parse(t, time.d_fmt_wc, depth + 1);
      case 'X':
        return parse(t, time.t_fmt_wc, depth + 1);
      case 'r': {
        const gl_wchar *end = parse(t, time.t_fmt_ampm_wc, depth + 1);
        if (end == nullptr) store_error(loc_, GL_EDIRECTIVE);
        return end;
      }
      case 'D':
        return parse(t, format_D, depth + 1);
      case 'R':
        return parse(t, format_R, depth + 1);
      case 'T':
        return parse(t, format_T, depth + 1);
      case 'n':
      case 't':
        if (!is_space(loc_, *t)) return fail(GL_ENOMATCH);
        while (is_space(loc_, *t))
          ++t;
        return t;
      case 'F':
        return fraction(t, f, width, precision, false);
      default:
        return fail(GL_EDIRECTIVE);
    }
  }

  const gl_wchar *era_directive(const gl_wchar *t, const gl_wchar **f, int width, int precision,
                                int depth) {
    const gl_ltime &time = loc_->ltime;
    state_->year_kind = year_era;
    const gl_wchar letter = take_letter(f);
    if (letter == 0) return nullptr;
    switch (letter) {
      case 'c':
        return parse(t, time.era_d_t_fmt_wc, depth + 1);
      case 'x':
        return parse(t, time.era_d_fmt_wc, depth + 1);
      case 'X':
        return parse(t, time.era_t_fmt_wc, depth + 1);
      case 'C':
      case 'g':
        return name(t, GL_TREE_ERA_NAME, GL_TREE_ERA_NAME2, GL_ENOERA, [this](int index) {
          state_->era_index = index;
          state_->flags |= found_era;
        });
      case 'Y':
        return era_year_text(t, depth);
      case 'y': {
        int32_t value = 0;
        const gl_wchar *end = find_int(t, width, precision, -1, &value);
        if (end == nullptr) return fail_unless_memory(GL_ENOYEAR);
        found_era_year_value(value);
        return end;
      }
      default:
        return fail(GL_EDIRECTIVE);
    }
  }

  /* %EY: the first era whose year format parses the text (tried on a
  ** scratch copy of the state) parses it again into the real state. */
  const gl_wchar *era_year_text(const gl_wchar *t, int depth) {
    const gl_era_list &eras = loc_->ltime.eras;
    const int saved = load_error(loc_);
    for (int i = 0; i < eras.count; ++i) {
      const era_record *era = eras.records[i];
      if (era == nullptr) continue;
      ptime_state scratch = *state_;
      TimeParser trial(loc_, &scratch);
      const bool parses = trial.parse(t, era->era_year_format_wc, depth + 1) != nullptr;
      store_error(loc_, saved);
      if (parses) return parse(t, era->era_year_format_wc, depth + 1);
    }
    return fail(GL_ENOERA);
  }

  const gl_wchar *alt_directive(const gl_wchar *t, const gl_wchar **f, int width, int precision) {
    const gl_wchar letter = take_letter(f);
    if (letter == 0) return nullptr;
    if (const NumberField *field = find_field(std::begin(alt_fields), std::end(alt_fields), letter))
      return alt_field(*field, t, width, precision);
    if (letter != 'y') return fail(GL_EDIRECTIVE);
    int32_t value = 0;
    const gl_wchar *end = find_alt_int(t, width, precision, &value);
    if (end == nullptr) return fail_unless_memory(GL_ENOYEAR);
    if (has_eras(loc_)) {
      found_era_year_value(value);
      state_->year_kind = year_era;
    } else {
      if (value > 99) return fail(GL_EBADARG);
      found_two_digit_year(value);
    }
    return end;
  }

  const gl_wchar *i_directive(const gl_wchar *t, const gl_wchar **f, int width, int precision) {
    const gl_wchar letter = take_letter(f);
    if (letter == 0) return nullptr;
    switch (letter) {
      case 'Y':
      case 'y': {
        if (ascii_digit(*t) < 0) return fail(GL_ENOYEAR);
        int value = 0;
        int digits = 0;
        for (int d; digits < 4 && (d = ascii_digit(*t)) >= 0; ++digits, ++t)
          value = value * 10 + d;
        if (digits <= 2) {
          found_two_digit_year(value);
        } else {
          state_->full_year = value - 1900;
          state_->flags |= found_full_year;
          state_->year_kind = year_full;
        }
        return t;
      }
      case 'F':
        return fraction(t, f, width, precision, true);
      default:
        return fail(GL_EDIRECTIVE);
    }
  }

  /* %F and %iF: an optional digit 0..5 after the letter is the precision
  ** (and the least width); up to the width in digits make microseconds. */
  const gl_wchar *fraction(const gl_wchar *t, const gl_wchar **f, int width, int precision,
                           bool with_point) {
    const int digit = ascii_digit(**f);
    if (digit >= 0 && digit <= 5) {
      precision = digit;
      if (width < precision) width = precision;
      ++*f;
    } else if (digit > 5 && with_point) {
      return fail(GL_EDIRECTIVE);
    }
    if (with_point) {
      if (*t != '.') return fail(GL_ENODECPOINT);
      ++t;
    }
    int32_t value = 0;
    int digits = 0;
    for (int d; (width < 0 || digits < width) && (d = ascii_digit(*t)) >= 0; ++t, ++digits)
      if (digits < 6) value = value * 10 + d;
    if (digits == 0 || digits < precision) return fail(GL_ENOFRACTION);
    for (int missing = 6 - digits; missing > 0; --missing)
      value *= 10;
    state_->fraction = value % 1000000;
    state_->flags |= found_fraction;
    return t;
  }

  /* A name from the full tree, else from the abbreviated one; store takes
  ** the index. */
  template <typename Store>
  const gl_wchar *name(const gl_wchar *t, int full, int abbreviated, int error, Store store) {
    int length = 0;
    int index = 0;
    const gl_ltime &time = loc_->ltime;
    const int saved = load_error(loc_);
    if (_gl_validate_wc_string(loc_, time.lookup_trees[full], t, &length, &index) != 0 &&
        _gl_validate_wc_string(loc_, time.lookup_trees[abbreviated], t, &length, &index) != 0) {
      return fail(error);
    }
    store_error(loc_, saved);
    store(index);
    return t + length;
  }

  const gl_wchar *am_pm(const gl_wchar *t) {
    int length = 0;
    int index = 0;
    const int saved = load_error(loc_);
    if (_gl_validate_wc_string(loc_, loc_->ltime.lookup_trees[GL_TREE_AM_PM], t, &length, &index) !=
        0)
      return fail(GL_ENOMATCH);
    store_error(loc_, saved);
    if (index != 0 && index != 1) return fail(GL_EBADARG);
    state_->am_pm = index;
    state_->flags |= found_am_pm;
    state_->hour_kind = hour_12;
    return t + length;
  }

  /* A failed field reader leaves error 3 standing; every other failure
  ** is the field's own error. */
  const gl_wchar *fail_unless_memory(int error) {
    if (load_error(loc_) == GL_ENOMEM) return nullptr;
    return fail(error);
  }

  /* A decimal number of at most width characters (-1: default_width when
  ** no precision was given either, else no limit) with at least precision
  ** digits; negative numbers and numbers above 2^31 - 1 are refused. */
  const gl_wchar *find_int(const gl_wchar *t, int width, int precision, int default_width,
                           int32_t *value) {
    if (width == -1 && precision == 1) width = default_width;
    uint32_t magnitude = 0;
    int negative = 0;
    const int saved = load_error(loc_);
    store_error(loc_, 0);
    const gl_wchar *cursor = t;
    const bool read =
        _gl_scan_decimal(loc_, &magnitude, &negative, 10, &cursor, width, precision) == 0;
    if (load_error(loc_) == GL_ENOMEM) return nullptr;
    store_error(loc_, saved);
    if (!read || negative != 0 || magnitude > INT32_MAX) return nullptr;
    *value = static_cast<int32_t>(magnitude);
    return cursor;
  }

  /* A number in the locale's alternative digits: after space-class
  ** characters (within the width), one digit and at most width further
  ** ones (width < 1: no limit); at least precision digits. Each digit is
  ** the shortest entry of the alternative-digit tree at the position. */
  const gl_wchar *find_alt_int(const gl_wchar *t, int width, int precision, int32_t *value) {
    const bool limited = width >= 1;
    while (is_space(loc_, *t)) {
      width -= char_width(loc_, *t);
      ++t;
      if (limited && width <= 0) return nullptr;
    }
    const name_tree_node *tree = loc_->ltime.lookup_trees[GL_TREE_ALT_DIGITS];
    const int64_t base = loc_->ltime.alt_digits.count;
    const int saved = load_error(loc_);
    int64_t number = 0;
    int digits = 0;
    for (;;) {
      if (digits > 0 && limited && digits > width) break;
      int length = 0;
      int index = 0;
      if (_gl_validate_wc_string(loc_, tree, t, &length, &index) != 0 || length == 0) break;
      number = number * base + index;
      if (number > INT32_MAX) {
        store_error(loc_, saved);
        return nullptr;
      }
      t += length;
      ++digits;
    }
    store_error(loc_, saved);
    if (digits == 0 || digits < precision) return nullptr;
    *value = static_cast<int32_t>(number);
    return t;
  }

  /* Range check and store of a number read for field. */
  const gl_wchar *store_number(const NumberField &field, int32_t value, const gl_wchar *end) {
    const int32_t max = field.max == month_count_max ? loc_->ltime.mon.count : field.max;
    if (value < field.min || value > max) return fail(field.range_error);
    if (field.letter == 'u') value %= 7;
    state_->*field.field = value + field.stored_offset;
    state_->flags |= field.flag;
    if (field.flag == found_month) state_->flags &= ~found_cal_month;
    if (field.hour_kind != 0) state_->hour_kind = field.hour_kind;
    if (field.year_kind != 0) state_->year_kind = field.year_kind;
    return end;
  }

  const gl_wchar *decimal_field(const NumberField &field, const gl_wchar *t, int width,
                                int precision) {
    int32_t value = 0;
    const gl_wchar *end = find_int(t, width, precision, field.default_width, &value);
    if (end == nullptr) return fail_unless_memory(field.missing_error);
    return store_number(field, value, end);
  }

  const gl_wchar *alt_field(const NumberField &field, const gl_wchar *t, int width, int precision) {
    int32_t value = 0;
    const gl_wchar *end = find_alt_int(t, width, precision, &value);
    if (end == nullptr) return fail(field.missing_error);
    return store_number(field, value, end);
  }

  gl_locale *loc_;
  ptime_state *state_;
};

/* -1, 0 or 1 as date 1 comes before, with or after date 2. */
int compare_dates(int64_t y1, int64_t m1, int64_t d1, int64_t y2, int64_t m2, int64_t d2) {
  if (calendar::date_before(y1, m1, d1, y2, m2, d2)) return -1;
  if (calendar::date_before(y2, m2, d2, y1, m1, d1)) return 1;
  return 0;
}

bool same_era_name(gl_locale *loc, const era_record &a, const era_record &b) {
  const std::size_t length = text_length(loc, a.era_name);
  return length == text_length(loc, b.era_name) &&
         (length == 0 || std::memcmp(a.era_name, b.era_name, length) == 0);
}

/* The full year of era year era_year in era e for month (1-12) and day:
** in that era when it contains the date, else in the latest earlier era of
** the same name that does. false with error 42 when none does. */
bool set_year_from_era(gl_locale *loc, int e, int64_t era_year, int month, int day, int64_t *year) {
  const gl_era_list &eras = loc->ltime.eras;
  if (e < 0 || e >= eras.count || eras.records[e] == nullptr) {
    store_error(loc, GL_ENOERA);
    return false;
  }
  const era_record &named = *eras.records[e];
  for (int i = e; i >= 0; --i) {
    const era_record *era = eras.records[i];
    if (era == nullptr || (i != e && !same_era_name(loc, *era, named))) continue;
    const int s = era->direction < 0 ? -1 : 1;
    int64_t y = era->start_year + s * (era_year - era->offset);
    if (s * month < s * era->start_month ||
        (month == era->start_month && s * day < s * era->start_day))
      y += s;
    if (era_contains(*era, day, month, y)) {
      *year = y;
      return true;
    }
  }
  store_error(loc, GL_ENOERA);
  return false;
}

/* Applies state to time, which holds the caller's values in the locale's
** calendar. *year_found tells whether the year came from the text. 0, or
** -1 with the error stored. */
int set_values(gl_locale *loc, const ptime_state &st, alt_tm *time, int rule,
               const gl_date_rec &today, bool *year_found) {
  const int32_t flags = st.flags;
  if (flags & found_fraction) time->tm_fraction = st.fraction;
  if (flags & found_second) time->tm_sec = st.second;
  if (flags & found_minute) time->tm_min = st.minute;
  if (flags & found_yday) time->tm_yday = st.yday;
  if (flags & found_mday) time->tm_mday = st.mday;
  if (flags & found_wday) time->tm_wday = st.wday;

  if (st.hour_kind == hour_12 && (flags & found_hour12) && (flags & found_am_pm))
    time->tm_hour = st.hour12 % 12 + 12 * st.am_pm;
  else if (st.hour_kind == hour_12 && (flags & found_hour12))
    time->tm_hour = st.hour12;
  else if (flags & found_hour24)
    time->tm_hour = st.hour24;

  const bool gregorian = loc->ltime.calendar == GL_CAL_GREGORIAN;
  bool month_found = false;
  if (!gregorian) {
    time->tm_mon = (flags & found_month) ? st.month : -1;
    time->tm_cal_mon = (flags & found_cal_month) ? st.cal_month : -1;
    month_found = (flags & (found_month | found_cal_month)) != 0;
  } else if (flags & (found_month | found_cal_month)) {
    const int32_t month = (flags & found_month) ? st.month : st.cal_month;
    time->tm_mon = time->tm_cal_mon = month;
    month_found = true;
  }
  const bool month_number = gregorian ? month_found : (flags & found_month) != 0;

  /* The year of a century and a two-digit year, the century from the rule
  ** when the text gave none. */
  auto two_digit_year = [&]() {
    int32_t century = st.century;
    if (!(flags & found_century)) {
      century = gl_getcentury_internal(loc, month_found ? time->tm_mon + 1 : 1,
                                       (flags & found_mday) ? st.mday : 1, st.year2, today.month,
                                       today.day, today.year, rule);
      if (century < 0) return false;
    }
    time->tm_year = century * 100 + st.year2 - 1900;
    return true;
  };

  *year_found = true;
  if (st.year_kind == year_two_digit && (flags & found_year2)) return two_digit_year() ? 0 : -1;
  if (st.year_kind == year_full && (flags & found_full_year)) {
    time->tm_year = st.full_year;
    return 0;
  }
  if (st.year_kind == year_era && (flags & found_era) && month_number && (flags & found_mday)) {
    const int64_t era_year = (flags & found_era_year) ? st.era_year : 1;
    int64_t year = 0;
    if (!set_year_from_era(loc, st.era_index, era_year, time->tm_mon + 1, st.mday, &year))
      return -1;
    if (year - 1900 < INT32_MIN || year - 1900 > INT32_MAX) {
      store_error(loc, GL_ETYEAR);
      return -1;
    }
    time->tm_year = static_cast<int32_t>(year - 1900);
    return 0;
  }
  if (flags & found_full_year) {
    time->tm_year = st.full_year;
    return 0;
  }
  if (flags & found_year2) return two_digit_year() ? 0 : -1;
  *year_found = false;
  if (flags & found_century) time->tm_year = st.century * 100 - 1900;
  return 0;
}

/* Checks the Gregorian result when the text gave a day, a month and a
** year; for the Gregorian calendar sets (or checks) the day of the week
** and the day of the year. 0, or -1 with the error stored. */
int verify_alt_tm_values(gl_locale *loc, const ptime_state &st, alt_tm *time, bool year_found) {
  const int32_t flags = st.flags;
  if (!(flags & found_mday) || !(flags & (found_month | found_cal_month)) || !year_found) return 0;
  if (time->tm_year < -1900 || time->tm_year > 8099) {
    store_error(loc, GL_ETYEAR);
    return -1;
  }
  if (time->tm_mon < 0 || time->tm_mon >= loc->ltime.mon.count || time->tm_mon > 11) {
    store_error(loc, GL_ETMONTH);
    return -1;
  }
  const int year = time->tm_year + 1900;
  if (time->tm_mday < 1 || time->tm_mday > gregorian_month_length(time->tm_mon + 1, year)) {
    store_error(loc, GL_ETMDAY);
    return -1;
  }
  if (loc->ltime.calendar != GL_CAL_GREGORIAN) return 0;
  const gl_date_rec date {static_cast<uint16_t>(time->tm_mon + 1),
                          static_cast<uint16_t>(time->tm_mday), static_cast<uint16_t>(year)};
  int32_t day_number = 0;
  if (get_julian(loc, &date, &day_number) != 0) return -1;
  const int32_t weekday = ((day_number % 7) + 7) % 7;
  if (flags & found_wday) {
    if (time->tm_wday != weekday) {
      store_error(loc, GL_ENOWDAY);
      return -1;
    }
  } else {
    time->tm_wday = weekday;
  }
  if (!(flags & found_yday)) {
    int32_t yday = time->tm_mday - 1;
    for (int m = 1; m <= time->tm_mon; ++m)
      yday += gregorian_month_length(m, year);
    time->tm_yday = yday;
  }
  return 0;
}

/* The wide form of a terminated multibyte text: in a buffer of 128
** characters when it fits, else on the heap. */
class WideText {
 public:
  WideText(gl_locale *loc, const unsigned char *text) {
    std::size_t bytes = 0;
    while (gl_ismbsterm(loc, text + bytes) == 0)
      ++bytes;
    if (bytes + 1 > local_.size()) {
      heap_ = widen_copy(loc, text);
      wide_ = heap_;
      return;
    }
    if (loc->mbstowcs_fn == nullptr) {
      store_error(loc, GL_EILSEQ);
      return;
    }
    if (loc->mbstowcs_fn(loc, local_.data(), text, static_cast<int>(local_.size())) >= 0)
      wide_ = local_.data();
  }
  ~WideText() { _gl_free_ptr(heap_); }
  WideText(const WideText &) = delete;
  WideText &operator=(const WideText &) = delete;

  /* NULL when the conversion failed (error stored). */
  const gl_wchar *get() const { return wide_; }

 private:
  std::array<gl_wchar, 128> local_ {};
  gl_wchar *heap_ = nullptr;
  const gl_wchar *wide_ = nullptr;
};

const gl_date_rec no_today {0, 0, 0};

}  // namespace

namespace glslib {

bool era_contains(const era_record &era, int64_t day, int64_t month, int64_t year) {
  const int s = era.direction < 0 ? -1 : 1;
  if (s * compare_dates(year, month, day, era.start_year, era.start_month, era.start_day) < 0)
    return false;
  if (era.end_kind != 0 && era.end_kind * s > 0) return true;
  int64_t end_year = 0, end_month = 0, end_day = 0;
  if (era.end_kind == 0) {
    end_year = era.end_year;
    end_month = era.end_month;
    end_day = era.end_day;
  }
  return s * compare_dates(year, month, day, end_year, end_month, end_day) <= 0;
}

}  // namespace glslib

extern "C" {

gl_wchar *gl_wcsptime_internal(gl_locale *loc, const gl_wchar *text, const gl_wchar *format,
                               gl_time_rec *time, int rule, const gl_date_rec *today) {
  if (loc == nullptr) return nullptr;
  if (format == nullptr) {
    store_error(loc, GL_ENOREGISTRY);
    return nullptr;
  }
  if (text == nullptr || time == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  ptime_state state {};
  TimeParser parser(loc, &state);
  const gl_wchar *end = parser.parse(text, format, 0);
  if (end == nullptr) return nullptr;

  alt_tm local = tm_to_alt_tm(*time, time->tm_mon);
  bool year_found = false;
  if (set_values(loc, state, &local, rule, today != nullptr ? *today : no_today, &year_found) != 0)
    return nullptr;
  alt_tm gregorian {};
  if (gl_cal_local_to_gregorian(loc, &local, &gregorian) != 0) return nullptr;
  if (verify_alt_tm_values(loc, state, &gregorian, year_found) != 0) return nullptr;
  *time = alt_tm_to_tm(gregorian);
  return const_cast<gl_wchar *>(end);
}

gl_wchar *gl_wcsptime(gl_locale *loc, const gl_wchar *text, const gl_wchar *format,
                      gl_time_rec *time, int rule) {
  return gl_wcsptime_internal(loc, text, format, time, rule, &no_today);
}

unsigned char *gl_mbsptime_internal(gl_locale *loc, const unsigned char *text,
                                    const unsigned char *format, gl_time_rec *time, int rule,
                                    const gl_date_rec *today) {
  if (loc == nullptr) return nullptr;
  if (format == nullptr) {
    store_error(loc, GL_ENOREGISTRY);
    return nullptr;
  }
  if (text == nullptr || time == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  WideText wide_format(loc, format);
  if (wide_format.get() == nullptr) return nullptr;
  WideText wide_text(loc, text);
  if (wide_text.get() == nullptr) return nullptr;
  const gl_wchar *end =
      gl_wcsptime_internal(loc, wide_text.get(), wide_format.get(), time, rule, today);
  if (end == nullptr) return nullptr;

  const auto consumed = end - wide_text.get();
  const unsigned char *p = text;
  if (loc->single_byte == 1) return const_cast<unsigned char *>(p + consumed);
  for (auto i = consumed; i > 0 && p != nullptr; --i)
    p = gl_full_mbsnext(loc, p);
  return const_cast<unsigned char *>(p);
}

unsigned char *gl_mbsptime(gl_locale *loc, const unsigned char *text, const unsigned char *format,
                           gl_time_rec *time, int rule) {
  return gl_mbsptime_internal(loc, text, format, time, rule, &no_today);
}

}  // extern "C"
