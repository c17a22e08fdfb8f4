/*
** DATETIME and INTERVAL text in the fixed layout ("2024-03-05 07:08:09",
** "-3 04:00:00"): the parser, the writers, the whole-value entry points the
** embedded-SQL runtime calls.
**
** Callers: the runtime (dtcvasc, incvasc, dttoasc, intoasc), the value
** conversions and the arithmetic (DBTODAY). Calls: the unit array of
** datetime_core.cpp, rtoday/rjulmdy for a two-digit year's month and day,
** the century rule (century_rule.cpp), and, when USE_DTENV or
** GL_DATETIME is in effect, the formatted text (gen_dtformat.h).
**
** The parser never reads past the text's NUL; the writers write at most
** the qualifier's layout (fewer than 40 bytes) and its NUL, or, through
** GL_DATETIME, at most 81 bytes.
*/
#include <algorithm>
#include <array>
#include <cstring>

#include "dt_units.h"
#include "gen_date.h"
#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_dtformat.h"
#include "gl_errors.h"
#include "gl_locale.h"
#include "gl_time.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "text_scan.h"

namespace {

constexpr int formatted_size = 80; /* the GL_DATETIME text, without its NUL */

using dvz_genlib::is_blank;
using dvz_genlib::is_digit;
using dvz_genlib::skip_blanks;

/* Index of a unit code in the environment's 11 x 11 format table; -1 for
** a code no qualifier has. */
int format_slot(int unit) {
  if (unit < 0 || unit > TU_F5) return -1;
  return unit <= TU_SECOND ? unit / 2 : unit - 5;
}

void make_null(dec_t *value) {
  value->sign = -1;
  value->exponent = 0;
  value->npairs = 0;
}

/*
** Parses through the environment's format for the qualifier's units
** (USE_DTENV), building that format on first use; without an entry the
** format in force serves. Returns the format parser's status; value is
** set only on success.
*/
int parse_by_environment(const char *text, dec_t *value, int qualifier) {
  const char *format = environment_dtime_format(qualifier);
  dtime_t work {};
  work.dt_qual = static_cast<uint16_t>(qualifier);
  const int status = dtcvfmtasc(text, format, &work);
  if (status == 0) deccopy(&work.dt_dec, value);
  return status;
}

/*
** The century of year of century yoc for an open century: the month and
** day are the parsed ones (-1: not in the text), else today's, the day
** clipped to that month's length in the year of today's century and yoc.
*/
int century_of(int month, int day, int yoc, bool is_datetime) {
  int32_t today = 0;
  rtoday(&today);
  int16_t mdy[3] = {0, 0, 0};
  const int status = rjulmdy(today, mdy);
  if (status != 0) return status;
  if (month < 0) month = mdy[0];
  if (is_datetime && month >= 13) return dt_err_range;
  if (day < 0) {
    const int year = mdy[2] / 100 * 100 + yoc;
    int length = month >= 1 && month <= 12 ? dt_daymon[month] : 0;
    if (month == 2 && rleapyear(year) != 0) length = 29;
    day = std::min<int>(mdy[1], length);
  }
  return getcentury(month, day, yoc);
}

/*
** The fixed-layout parser. Leaves value NULL for an empty text; on success
** value holds the parsed units, positive; returns 0 or a negative error
** (the value is then not to be used).
*/
int parse_fixed(const char *text, dec_t *value, int qualifier, bool is_datetime) {
  make_null(value);
  const char *p = skip_blanks(text);
  if (*p == '\0') return 0;

  const int pairs = dt_array_pairs(qualifier);
  const int walk_start = TU_START(qualifier) & ~1;
  dt_unit_work units {};
  bool open_century = false;
  int parsed[3] = {0, 0, 0}; /* year of century, month, day as typed */

  if (!dt_starts_at_fraction(qualifier)) {
    int n = 0;
    while (is_digit(p[n]))
      ++n;
    if (n > dt_first_precision(qualifier)) return dt_err_first_field;
    if (is_datetime && walk_start == TU_YEAR && (n == 1 || n == 2)) {
      open_century = true;
    } else if (n > 2) {
      /* The digits before the last two, right-aligned before the start
      ** unit's pair; the missing leading digits stay zero. */
      int i = dt_unit_index(qualifier, walk_start) - 1;
      for (int end = n - 2; end > 0; end -= 2, --i) {
        const int low = p[end - 1] - '0';
        const int high = end >= 2 ? p[end - 2] - '0' : 0;
        dt_put_pair(units.data(), pairs, i, high * 10 + low);
      }
      p += n - 2;
    }
    /* The end unit's field; an odd end below FRACTION(1) closes the
    ** field it falls in, as the writer ends there. */
    const int last = dt_last_whole_unit(qualifier);
    const int end_field = TU_END(qualifier) <= TU_SECOND ? last & ~1 : -1;
    for (int unit = walk_start; unit <= last; unit += 2) {
      p = skip_blanks(p);
      if (!is_digit(*p)) return dt_err_not_numeric;
      int v = *p++ - '0';
      if (is_digit(*p)) v = v * 10 + (*p++ - '0');
      dt_put_pair(units.data(), pairs, dt_unit_index(qualifier, unit), v);
      if (unit <= TU_DAY) parsed[unit / 2] = v;
      if (*p == dtdelim[unit / 2]) {
        ++p;
      } else if (unit == end_field) {
        break;
      } else {
        return is_digit(*p) ? dt_err_range : dt_err_not_numeric;
      }
    }
  } else {
    while (is_digit(*p)) {
      if (*p != '0') return dt_err_range;
      ++p;
    }
    if (*p != '.') return dt_err_no_point;
    ++p;
  }

  const int fraction_digits = dt_fraction_digits(qualifier);
  for (int taken = 0; taken < fraction_digits && is_digit(*p); ++taken, ++p) {
    const int i = dt_unit_index(qualifier, TU_FRAC + taken / 2);
    const int d = *p - '0';
    dt_put_pair(units.data(), pairs, i,
                taken % 2 == 0 ? d * 10 : dt_get_pair(units.data(), pairs, i) + d);
  }

  if (open_century) {
    const int last = dt_last_whole_unit(qualifier);
    const int century = century_of(last >= TU_MONTH ? parsed[1] : -1,
                                   last >= TU_DAY ? parsed[2] : -1, parsed[0], is_datetime);
    if (century < 0) return century;
    dt_put_pair(units.data(), pairs, dt_unit_index(qualifier, TU_YEAR) - 1, century);
  }

  p = skip_blanks(p);
  if (*p != '\0') return dt_err_extra;
  const int status = dtpack(value, qualifier, units.data(), 1);
  if (status != 0) return status;
  return chk_dtinv(value, qualifier, is_datetime ? 1 : 0);
}

/*
** Writes the value's units in the fixed layout with a NUL; returns the
** length written. The first field takes exactly its precision in digits.
*/
int write_fixed(const dec_t *value, int qualifier, char *buffer) {
  const int pairs = dt_array_pairs(qualifier);
  dt_unit_work units {};
  dtunpack(value, qualifier, units.data());
  char *out = buffer;
  const auto two_digits = [&out](int v) {
    *out++ = static_cast<char>('0' + v / 10 % 10);
    *out++ = static_cast<char>('0' + v % 10);
  };
  if (!dt_starts_at_fraction(qualifier)) {
    const int walk_start = TU_START(qualifier) & ~1;
    const int start_index = dt_unit_index(qualifier, walk_start);
    /* The first field: its pairs as digits, the last `precision` of them. */
    char field[2 * DT_UNITS_SIZE];
    int length = 0;
    for (int i = 0; i <= start_index && i < pairs; ++i) {
      field[length++] = static_cast<char>('0' + units[i] / 10 % 10);
      field[length++] = static_cast<char>('0' + units[i] % 10);
    }
    const int precision = std::clamp(dt_first_precision(qualifier), 0, 2 * DT_UNITS_SIZE);
    for (int k = precision - length; k > 0; --k)
      *out++ = '0';
    const int shown = std::min(precision, length);
    std::memcpy(out, field + length - shown, static_cast<size_t>(shown));
    out += shown;
    for (int unit = walk_start + 2; unit <= dt_last_whole_unit(qualifier); unit += 2) {
      *out++ = dtdelim[unit / 2 - 1];
      two_digits(dt_get_pair(units.data(), pairs, dt_unit_index(qualifier, unit)));
    }
  }
  const int fraction_digits = dt_fraction_digits(qualifier);
  if (fraction_digits > 0 || dt_starts_at_fraction(qualifier)) *out++ = '.';
  for (int taken = 0; taken < fraction_digits; ++taken) {
    const int v = dt_get_pair(units.data(), pairs, dt_unit_index(qualifier, TU_FRAC + taken / 2));
    *out++ = static_cast<char>('0' + (taken % 2 == 0 ? v / 10 % 10 : v % 10));
  }
  *out = '\0';
  return static_cast<int>(out - buffer);
}

/* Runs parse under the century rule `character` (validated against the
** rule in force) and puts the old rule back. */
template <typename Parse>
int with_century(int character, Parse parse) {
  const int current = getdbcentury();
  const char saved = dbcentury;
  dbcentury = static_cast<char>(validate_dbcentury(character, current));
  const int status = parse();
  dbcentury = saved;
  return status;
}

}  // namespace

const char *environment_dtime_format(int qualifier) {
  const int start = format_slot(TU_START(qualifier));
  const int end = format_slot(TU_END(qualifier));
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || start < 0 || end < 0) return nullptr;
  char *&entry = env->dtime_formats[start][end];
  if (entry == nullptr) entry = qualtofmt(qualifier, nullptr);
  return entry;
}

extern "C" {

/*
** Parses text as a DATETIME (is_datetime) or INTERVAL of qualifier into
** value. Returns 0 (value NULL for an empty or blank text), toerrno for an
** invalid qualifier, or -1261, -1262, -1263, -1264, -1271 and the century
** rule's -1204, -1205, -1206, -1218. A DATETIME under USE_DTENV is read by
** the environment's format instead.
*/
int rstrdinv(const char *text, dec_t *value, int qualifier, int is_datetime) {
  if (_chk_qual(is_datetime ? 0 : 1, qualifier) != 0) return get_toerrno();
  if (is_datetime && get_usedtenv() != 0) return parse_by_environment(text, value, qualifier);
  return parse_fixed(text, value, qualifier, is_datetime != 0);
}

int rstrdtime(const char *text, dec_t *value, int qualifier) {
  return rstrdinv(text, value, qualifier, 1);
}

int dvz_rstrdtime(const char *text, dec_t *value, int qualifier, int century) {
  return with_century(century, [&] { return rstrdtime(text, value, qualifier); });
}

/* An INTERVAL text, optionally with a leading minus sign: the value is
** then negative (sign 0) unless it is NULL. */
int rstrinv(const char *text, dec_t *value, int qualifier) {
  const char *p = skip_blanks(text);
  const bool negative = *p == '-';
  if (negative) ++p;
  const int status = rstrdinv(p, value, qualifier, 0);
  if (status == 0 && negative && value->sign != -1) value->sign = 0;
  return status;
}

/*
** DATETIME text of value under qualifier into buffer: through
** dttofmtasc (at most 80 characters and the NUL) when GL_DATETIME is set,
** else the fixed layout ("" for NULL). 0, -1268 or the formatter's error.
*/
int rdtimestr(const dec_t *value, int qualifier, char *buffer) {
  if (ggetenv("GL_DATETIME") != nullptr) {
    dtime_t work {};
    work.dt_qual = static_cast<uint16_t>(qualifier);
    work.dt_dec = *value;
    return dttofmtasc(&work, buffer, formatted_size, nullptr);
  }
  if (_chk_qual(0, qualifier) != 0) return get_toerrno();
  if (value->sign == -1) {
    buffer[0] = '\0';
    return 0;
  }
  write_fixed(value, qualifier, buffer);
  return 0;
}

/*
** INTERVAL text of value: a blank, the fixed layout with the first field's
** leading zeros blanked, and "-" before the first non-blank character of
** a negative value ("    -3 04:00:00" for DAY(5) TO SECOND). "" for NULL.
** 0 or -1268.
*/
int rinvstr(const dec_t *value, int qualifier, char *buffer) {
  if (_chk_qual(1, qualifier) != 0) return get_toerrno();
  if (value->sign == -1) {
    buffer[0] = '\0';
    return 0;
  }
  buffer[0] = ' ';
  write_fixed(value, qualifier, buffer + 1);
  int i = 1;
  while (buffer[i] == '0' && is_digit(buffer[i + 1]))
    buffer[i++] = ' ';
  if (value->sign == 0) buffer[i - 1] = '-';
  return 0;
}

int dtcvasc(const char *text, dtime_t *value) {
  const int status = chkglsinit();
  if (status < 0) return status;
  return rstrdtime(text, &value->dt_dec, value->dt_qual);
}

int dvz_dtcvasc(const char *text, dtime_t *value, int century) {
  return with_century(century, [&] { return dtcvasc(text, value); });
}

int incvasc(const char *text, intrvl_t *value) {
  return rstrinv(text, &value->in_dec, value->in_qual);
}

int dttoasc(const dtime_t *value, char *buffer) {
  const int status = chkglsinit();
  if (status < 0) return status;
  return rdtimestr(&value->dt_dec, value->dt_qual, buffer);
}

int intoasc(const intrvl_t *value, char *buffer) {
  return rinvstr(&value->in_dec, value->in_qual, buffer);
}
}
