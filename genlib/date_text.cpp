/*
** date_text.cpp: DATE text in the format in force and through a locale
** format: rdatestr/rstrdate and their century variant, the locale-format
** reader and writer dcvfmtasc/dtofmtasc with their dvz_gl_ forms, the
** calendar-aware triple rgetglsdate, the day and month name lists of the
** message catalog, and the mapping of the locale library's time errors.
**
** The format in force comes from the current locale environment's state
** block (gls_fmtstr); formats of the DBDATE style are read by the DBDATE
** scanner (date_scan.cpp), others by the locale library's time parser.
** Every writer here assumes the 1024-byte buffer of its public contract
** unless it is given a size; the NULL DATE writes "" and never reaches the
** formatter (whose %b would index the month names at -1).
*/
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "date_internal.h"
#include "date_scan.h"
#include "gen_datetime.h"
#include "gen_dectext.h"
#include "gl_locale.h"
#include "gl_time.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_messages.h"

namespace {

/* A locale time error and the DATE error it stands for. */
struct locale_error_row {
  int gl_error;
  int date_error;
};

/* Numbers 32, 39 and 43 are never stored by the locale library; the table
** maps them all the same. */
constexpr locale_error_row locale_error_map[] = {{GL_EDIRECTIVE, dtfmt_err_format},
                                                 {GL_ENOREGISTRY, dtfmt_err_format},
                                                 {GL_E2BIG, value_err_buffer_short},
                                                 {GL_ENOMEM, gls_err_date_memory},
                                                 {GL_ECSMISMATCH, gls_err_no_locale},
                                                 {GL_EBADARG, gls_err_date_argument},
                                                 {GL_ETFRACTION, dtfmt_err_era},
                                                 {GL_ETSECOND, dt_err_range},
                                                 {GL_ETMINUTE, dt_err_range},
                                                 {GL_ETHOUR, dt_err_range},
                                                 {GL_ETWDAY, dt_err_range},
                                                 {GL_ETYDAY, dt_err_range},
                                                 {32, dt_err_range},
                                                 {GL_ETMDAY, date_err_day},
                                                 {GL_ENOMDAY, date_err_day},
                                                 {GL_ETMONTH, date_err_month},
                                                 {GL_ENOMONTH, date_err_month},
                                                 {GL_ETYEAR, date_err_year},
                                                 {GL_ENOYEAR, date_err_year},
                                                 {GL_ENOFRACTION, gls_err_date_argument},
                                                 {GL_ENOSECOND, gls_err_date_argument},
                                                 {GL_ENOMINUTE, gls_err_date_argument},
                                                 {GL_ENOHOUR, gls_err_date_argument},
                                                 {GL_ENOWDAY, gls_err_date_argument},
                                                 {39, gls_err_date_argument},
                                                 {GL_ENOERA, dtfmt_err_era_name},
                                                 {43, dtfmt_err_era}};

/* The locale error word for a DATE error of the day-number functions, for
** the dvz_gl_ forms, which report through that word. */
int locale_error_for(int date_error) {
  switch (date_error) {
    case date_err_day:
      return GL_ETMDAY;
    case date_err_month:
      return GL_ETMONTH;
    case date_err_year:
    case value_err_date_range:
      return GL_ETYEAR;
    case gls_err_date_memory:
      return GL_ENOMEM;
    default:
      return GL_EBADARG;
  }
}

void set_locale_errno(int error) {
  gl_locale *loc = dvz_genlib::date_locale();
  if (loc != nullptr) *_gl_ext_errno(loc) = error;
}

const unsigned char *bytes(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

/* Field order of a locale-form date format: the first day, month and year
** directives in the order they appear; {month, day, year} when one is
** missing. */
void order_of_format(const char *format, int32_t order[3]) {
  int found = 0;
  bool seen[4] = {};
  for (const char *p = format; *p != '\0' && found < 3; ++p) {
    if (*p != '%') continue;
    ++p;
    while (*p != '\0' && std::strchr("0123456789.EOi", *p) != nullptr)
      ++p;
    int kind = 0;
    if (*p == 'd' || *p == 'e')
      kind = 1;
    else if (*p == 'm' || *p == 'b' || *p == 'B' || *p == 'h')
      kind = 2;
    else if (*p == 'y' || *p == 'Y')
      kind = 3;
    if (kind != 0 && !seen[kind]) {
      seen[kind] = true;
      order[found++] = kind;
    }
    if (*p == '\0') break;
  }
  if (found < 3) {
    order[0] = 2;
    order[1] = 1;
    order[2] = 3;
  }
}

}  // namespace

namespace dvz_genlib {

int date_locale_error(int gl_error) {
  for (const locale_error_row &row : locale_error_map)
    if (row.gl_error == gl_error) return row.date_error;
  return gls_err_date_argument;
}

int date_gls_init() {
  if (chkglsinit() == 0) return 0;
  int error = get_glserror();
  return error != 0 ? error : gls_err_no_locale;
}

gl_locale *date_locale() {
  gls_env *env = CheckGlsEnv();
  return env != nullptr ? env->locale : nullptr;
}

int date_locale_errno() {
  gl_locale *loc = date_locale();
  return loc != nullptr ? *_gl_ext_errno(loc) : 0;
}

int load_name_lists() {
  if (_inmdflag) return 0;
  if (_initmdarray(1200, _dayarray, 7) != 0 || _initmdarray(1201, _monarray, 12) != 0 ||
      initxby(1206, _montharray, 12) != 0)
    return -1;
  _inmdflag = 1;
  return 0;
}

century_override::century_override(int character) : saved_(dbcentury) {
  dbcentury = static_cast<char>(validate_dbcentury(character, getdbcentury()));
}

century_override::~century_override() { dbcentury = saved_; }

}  // namespace dvz_genlib

extern "C" {

/* ---- Name lists ---------------------------------------------------------------- */

/* The catalog's day names (1200), month abbreviations (1201) and month
** names (1206, 1207), loaded once (_inmdflag). */
char *_dayarray[7];
char *_monarray[12];
char *_montharray[12];
int _inmdflag;

namespace {

constexpr int16_t name_message_size = 256;

/* Texts of the loaded messages; the arrays point into them. */
char day_text[name_message_size];
char abmon_text[name_message_size];
char month_text[2][name_message_size];

/* Splits the '|'-separated message text in place into at most count
** entries of array; returns the number of entries. */
int split_names(char *text, char **array, int count) {
  int taken = 0;
  char *p = text;
  while (taken < count && *p != '\0') {
    array[taken++] = p;
    char *bar = std::strchr(p, '|');
    if (bar == nullptr) {
      p[std::strcspn(p, "\r\n")] = '\0';
      break;
    }
    *bar = '\0';
    p = bar + 1;
  }
  return taken;
}

}  // namespace

/* Loads message number into the static text kept for it and splits it
** into count entries of array. */
int _initmdarray(int number, char **array, int count) {
  char *text = number == 1200   ? day_text
               : number == 1201 ? abmon_text
               : number == 1206 ? month_text[0]
               : number == 1207 ? month_text[1]
                                : nullptr;
  if (text == nullptr) return -1;
  if (rgetmsg(number, text, name_message_size) != 0) return -1;
  return split_names(text, array, count) == count ? 0 : -1;
}

/* count names from the messages number, number + 1, ... in turn, each
** giving count / parts names (the full month names come in two halves). */
int initxby(int number, char **array, int count) {
  constexpr int parts = 2;
  int per_message = count / parts;
  for (int i = 0; i < parts; ++i)
    if (_initmdarray(number + i, array + i * per_message, per_message) != 0) return -1;
  return 0;
}

/* ---- Century rule --------------------------------------------------------------- */

int validate_dbcentury(int caller, int current) {
  auto is_rule = [](int c) { return c == 'R' || c == 'C' || c == 'F' || c == 'P'; };
  if (is_rule(caller)) return caller;
  if (is_rule(current)) return current;
  return 'R';
}

/* ---- Locale formats ------------------------------------------------------------- */

/* REQUIRES: format and text terminated. Reads text by the locale-form
** format under the century rule: 0, the mapped locale error, or
** rmdyjul's. *date is written only on success. */
int dcvfmtasc(int32_t *date, const char *format, const char *text) {
  gl_locale *loc = dvz_genlib::date_locale();
  if (loc == nullptr || format == nullptr || text == nullptr) return gls_err_date_argument;
  gl_time_rec rec {};
  *_gl_ext_errno(loc) = 0;
  if (gl_mbsptime(loc, bytes(text), bytes(format), &rec, getdbcentury()) == nullptr)
    return dvz_genlib::date_locale_error(*_gl_ext_errno(loc));
  const int16_t mdy[3] = {static_cast<int16_t>(rec.tm_mon + 1), static_cast<int16_t>(rec.tm_mday),
                          static_cast<int16_t>(rec.tm_year + 1900)};
  return rmdyjul(mdy, date);
}

/* Writes date by the locale-form format into buffer (size bytes with the
** NUL): 0, rjulmdy's error or the mapped locale error. The NULL DATE
** writes "" (when size allows) and gives 0. */
int dtofmtasc(int32_t date, const char *format, char *buffer, int size) {
  if (date == DATE_NULL) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    return 0;
  }
  int16_t mdy[3];
  int status = rjulmdy(date, mdy);
  if (status != 0) return status;
  gl_locale *loc = dvz_genlib::date_locale();
  if (loc == nullptr || format == nullptr || buffer == nullptr) return gls_err_date_argument;
  int16_t jan1[3] = {1, 1, mdy[2]};
  int32_t first = 0;
  rmdyjul(jan1, &first);
  gl_time_rec rec {};
  rec.tm_mday = mdy[1];
  rec.tm_mon = mdy[0] - 1;
  rec.tm_year = mdy[2] - 1900;
  rec.tm_wday = rdayofweek(date);
  rec.tm_yday = date - first;
  *_gl_ext_errno(loc) = 0;
  int written =
      gl_mbsftime(loc, reinterpret_cast<unsigned char *>(buffer), size, bytes(format), &rec);
  int error = *_gl_ext_errno(loc);
  if (written < 0 || (written == 0 && error != 0)) return dvz_genlib::date_locale_error(error);
  return 0;
}

int dvz_gl_convert_date(int32_t *date, const char *text, const char *format) {
  if (format == nullptr && gls_fmtstr(const_cast<char **>(&format), nullptr, nullptr) != 0) {
    set_locale_errno(GL_EBADARG);
    return -1;
  }
  gl_locale *loc = dvz_genlib::date_locale();
  if (loc != nullptr) *_gl_ext_errno(loc) = 0;
  int status = dcvfmtasc(date, format, text);
  if (status == 0) return 0;
  if (dvz_genlib::date_locale_errno() == 0) set_locale_errno(locale_error_for(status));
  return -1;
}

int dvz_gl_format_date(char *buffer, int size, const int32_t *date, const char *format) {
  if (date == nullptr || buffer == nullptr) {
    set_locale_errno(GL_ENULLPTR);
    return -1;
  }
  if (*date == DATE_NULL) {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  if (format == nullptr && gls_fmtstr(const_cast<char **>(&format), nullptr, nullptr) != 0) {
    set_locale_errno(GL_EBADARG);
    return -1;
  }
  gl_locale *loc = dvz_genlib::date_locale();
  if (loc != nullptr) *_gl_ext_errno(loc) = 0;
  int status = dtofmtasc(*date, format, buffer, size);
  if (status == 0) return 0;
  if (dvz_genlib::date_locale_errno() == 0) set_locale_errno(locale_error_for(status));
  return -1;
}

/* ---- The format in force ------------------------------------------------------- */

int rdatestr(int32_t date, char *buffer) {
  int status = dvz_genlib::date_gls_init();
  if (status != 0) return status;
  buffer[0] = '\0';
  char *format = nullptr;
  if (gls_fmtstr(&format, nullptr, nullptr) != 0) return gls_err_bad_dbdate;
  return dtofmtasc(date, format, buffer, date_text_size);
}

int rstrdate(const char *text, int32_t *date) {
  int status = dvz_genlib::date_gls_init();
  if (status != 0) return status;
  *date = DATE_NULL;
  char *format = nullptr;
  int32_t order[3] = {2, 1, 3};
  int32_t era_kind = 0;
  if (gls_fmtstr(&format, order, &era_kind) != 0) return gls_err_bad_dbdate;
  const new_gls_env *state = CheckGlsEnv()->state;
  if (text == nullptr) text = "";
  if (state->dbdate_style == 0) return dcvfmtasc(date, format, text);
  if (era_kind == 0 && state->gregorian != 0 && fastscan(date, order, text, 0) == 0) return 0;
  return scandate(date, order, era_kind, text, 0);
}

int dvz_strdate(const char *text, int32_t *date, int century) {
  dvz_genlib::century_override rule(century);
  return rstrdate(text, date);
}

/* The DATE written in the format in force and read back as the scanner
** sees it: month, day and year of the locale's calendar. */
int rgetglsdate(int32_t date, int16_t mdy[3]) {
  mdy[0] = mdy[1] = mdy[2] = 0;
  char text[date_text_size];
  int status = rdatestr(date, text);
  if (status != 0) return status;
  char *format = nullptr;
  int32_t order[3] = {0, 0, 0};
  int32_t era_kind = 0;
  if (gls_fmtstr(&format, order, &era_kind) != 0) return gls_err_bad_dbdate;
  if (CheckGlsEnv()->state->dbdate_style == 0) order_of_format(format, order);
  int32_t unused = DATE_NULL;
  return scanstrmdy(&unused, order, era_kind, text, mdy, 1, 0);
}

}  // extern "C"
