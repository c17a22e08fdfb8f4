/*
** Formatted DATETIME text: a DATETIME parsed from and written to text
** through a format in the locale library's time directives. The format is
** the caller's, else DBTIME, else GL_DATETIME (both normalised into the
** formatter's language first), else the locale's date-and-time format,
** else "%iY-%m-%d %H:%M:%S". Also the qualifier a format covers, a format
** cut down to the units of a qualifier (the locale environment's DATETIME
** format table is built from it) and the display width of a DATETIME.
**
** Callers: the fixed-layout text when USE_DTENV or GL_DATETIME is in
** force, the client environment (getdatetimefmt, qualtofmt), the type
** widths (_dtimedigits). Calls: the locale library's time formatter and
** parser, tmtodtdec/dtdectotm, dtextend, the century rule.
**
** Every function works on its own allocated copy of a format and frees it
** on every path. Formats of any length are handled: expansions and cut
** formats grow as they are written.
*/
#include <bit>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "date_internal.h"
#include "dtformat_internal.h"
#include "gen_datetime.h"
#include "gen_dectext.h"
#include "gen_dtarith.h"
#include "gen_dtformat.h"
#include "gl_errors.h"
#include "gl_numbers.h"
#include "gl_time.h"
#include "growing_text.h"
#include "os_env.h"
#include "os_glsenv.h"

namespace {

using dvz_genlib::directive;
using dvz_genlib::growing_text;
using dvz_genlib::is_alpha;
using dvz_genlib::is_digit;
using dvz_genlib::scan_directive;

/* The precision digit, else a single width digit, else -1. */
int fw_prec_digit(const directive &d) {
  if (d.point) return d.precision.size() == 1 ? d.precision[0] - '0' : -1;
  return d.width.size() == 1 ? d.width[0] - '0' : -1;
}

/* The locale library's error word of loc, 0 without a record. */
int locale_error(gl_locale *loc) { return loc != nullptr ? *_gl_ext_errno(loc) : 0; }
void clear_locale_error(gl_locale *loc) {
  if (loc != nullptr) *_gl_ext_errno(loc) = 0;
}

/* Locale time errors as the DATETIME functions report them (32, 43 and
** 44 have no name: the library never stores them). */
struct error_row {
  int first;
  int last;
  int result;
};
constexpr error_row datetime_error_table[] = {
    {GL_EDIRECTIVE, GL_EDIRECTIVE, dtfmt_err_format},
    {GL_ENOREGISTRY, GL_ENOREGISTRY, dtfmt_err_format},
    {GL_E2BIG, GL_E2BIG, value_err_buffer_short},
    {GL_ENOMEM, GL_ENOMEM, gls_err_date_memory},
    {GL_ECSMISMATCH, GL_ECSMISMATCH, gls_err_no_locale},
    {GL_EBADARG, GL_EBADARG, dt_err_range},
    {GL_ETFRACTION, 32, dt_err_range},
    {44, GL_EBADCHARS, dt_err_range},
    {GL_ENOFRACTION, GL_ENOYEAR, dtfmt_err_no_match},
    {GL_ENOMATCH, GL_ENOMATCH, dtfmt_err_no_match},
    {GL_ENOERA, GL_ENOERA, dtfmt_err_era_name},
    {43, 43, dtfmt_err_era},
    {GL_ENODECPOINT, GL_ENODECPOINT, dt_err_no_point},
};

}  // namespace

int dvz_genlib::datetime_locale_error(int gl_error) {
  for (const error_row &row : datetime_error_table)
    if (gl_error >= row.first && gl_error <= row.last) return row.result;
  return dt_err_range;
}

/* Scans the directive whose "%" lies just before p. */
dvz_genlib::directive dvz_genlib::scan_directive(const char *p) {
  directive d;
  if (*p == '-') {
    d.dash = true;
    ++p;
  }
  const char *w = p;
  while (is_digit(*p))
    ++p;
  d.width = std::string_view(w, static_cast<size_t>(p - w));
  if (*p == '.') {
    d.point = true;
    ++p;
    const char *q = p;
    while (is_digit(*p))
      ++p;
    d.precision = std::string_view(q, static_cast<size_t>(p - q));
  }
  if ((*p == 'E' || *p == 'O' || *p == 'i') && is_alpha(p[1])) {
    d.modifier = *p;
    ++p;
  }
  d.letter = *p;
  d.next = *p != '\0' ? p + 1 : p;
  return d;
}

namespace {

/* chkglsinit and the current locale record: 0 or the error to return. */
int locale_ready(gl_locale **loc) {
  int rc = chkglsinit();
  if (rc < 0) return rc;
  *loc = CheckGlsEnv()->locale;
  return *loc != nullptr ? 0 : gls_err_no_locale;
}

/* A malloc'd copy of format (NULL for NULL); false when it cannot be made. */
bool copy_format(const char *format, char **copy) {
  *copy = nullptr;
  if (format == nullptr) return true;
  *copy = strdup(format);
  return *copy != nullptr;
}

/* ---- Normalising a DBTIME-style format ------------------------------------------ */

/* Trailing era marker: its length 2 and era kind, or 0 for none. */
int era_marker(std::string_view text, int *kind, const char **year_form) {
  if (text.size() < 2) return 0;
  const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(text[text.size() - 2])));
  const char b = text.back();
  if (a == 'C' && b == '1') {
    *kind = 2;
    *year_form = "Eg";
  } else if (a == 'J' && b == '1') {
    *kind = 1;
    *year_form = "Eg";
  } else if (a == 'J' && b == '2') {
    *kind = 1;
    *year_form = "EC";
  } else {
    return 0;
  }
  return 2;
}

int normalise(std::string_view text, bool output, growing_text &out, int *era_kind) {
  const char *year_form = nullptr;
  *era_kind = 0;
  text.remove_suffix(static_cast<size_t>(era_marker(text, era_kind, &year_form)));
  const bool marker = year_form != nullptr;
  /* A view of the text without its marker, terminated for the scanner. */
  growing_text source;
  source.append(text);
  if (source.failed()) return gls_err_date_memory;
  const char *p = source.c_str();
  while (*p != '\0') {
    if (*p != '%') {
      out.push(*p++);
      continue;
    }
    ++p;
    if (*p == '\0') return dtfmt_err_format;
    const directive d = scan_directive(p);
    if (!is_alpha(d.letter)) {
      if (d.has_prefix()) return dtfmt_err_modifier;
      if (d.letter != '%') return dtfmt_err_format;
      out.append("%%");
      p = d.next;
      continue;
    }
    out.push('%');
    if (d.dash) out.push('-');
    const bool plain = d.modifier == 0;
    if (!d.width.empty()) {
      out.append(d.width);
    } else if (!output && d.point && !d.precision.empty()) {
      out.append(d.precision);
    } else if (!marker && plain) {
      if (std::strchr("HIMRSTdmy", d.letter) != nullptr) out.append("02");
      if (d.letter == 'Y') out.append("04");
    }
    if (output && d.point) {
      out.push('.');
      out.append(d.precision);
    }
    if (marker && plain && (d.letter == 'Y' || d.letter == 'y')) {
      out.append(year_form);
      if (!output)
        out.append("%Ey");
      else
        out.append(d.letter == 'Y' ? "%04.4Ey" : "%02.2Ey");
      p = d.next;
      continue;
    }
    if (d.letter == 'F' && plain && !output)
      out.push('i');
    else if (!plain)
      out.push(d.modifier);
    out.push(d.letter);
    p = d.next;
    if (d.letter == 'F' && plain && !d.has_prefix() && !is_digit(*p)) out.push('2');
  }
  return out.failed() ? gls_err_date_memory : 0;
}

/* ---- Expanding composite directives -------------------------------------------- */

void expand(gl_locale *loc, const char *format, growing_text &out) {
  const char *p = format;
  while (*p != '\0') {
    if (*p != '%') {
      out.push(*p++);
      continue;
    }
    const char *after = p + 1;
    const directive d = scan_directive(after);
    if (d.letter == '\0') {
      out.append(p);
      return;
    }
    const std::string_view prefix = d.prefix(after);
    const char *parts = nullptr;
    char separator = 0;
    int item = -1;
    if (d.modifier == 0) {
      switch (d.letter) {
        case 'R':
          parts = "HM";
          separator = ':';
          break;
        case 'T':
          parts = "HMS";
          separator = ':';
          break;
        case 'D':
          parts = "mdy";
          separator = '/';
          break;
        case 'c':
          item = GL_D_T_FMT;
          break;
        case 'x':
          item = GL_D_FMT;
          break;
        case 'X':
          item = GL_T_FMT;
          break;
        case 'r':
          item = GL_T_FMT_AMPM;
          break;
        default:
          break;
      }
    }
    if (parts != nullptr) {
      for (const char *part = parts; *part != '\0'; ++part) {
        if (part != parts) out.push(separator);
        out.push('%');
        out.append(prefix);
        out.push(*part);
      }
    } else if (item >= 0) {
      const char *locale_format = gl_get_ltime_fmts(loc, item);
      if (locale_format != nullptr) out.append(locale_format);
    } else {
      out.append(std::string_view(p, static_cast<size_t>(d.next - p)));
    }
    p = d.next;
  }
}

/* ---- The qualifier of a format ---------------------------------------------------- */

/* The units each directive names (its first and last unit position,
** FRACTION(n) at 10 + n); %F is read apart. Rows with `era` hold for the
** E form only, and are looked at first. */
struct unit_row {
  const char *letters;
  bool era;
  int first;
  int last;
};
constexpr unit_row directive_unit_table[] = {
    {"CgcxX", true, TU_YEAR, TU_F2},     {"CYynt", false, TU_YEAR, TU_YEAR},
    {"Bbhm", false, TU_MONTH, TU_MONTH}, {"de", false, TU_DAY, TU_DAY},
    {"HIp", false, TU_HOUR, TU_HOUR},    {"M", false, TU_MINUTE, TU_MINUTE},
    {"S", false, TU_SECOND, TU_SECOND},  {"AauD", false, TU_YEAR, TU_DAY},
    {"R", false, TU_HOUR, TU_MINUTE},    {"T", false, TU_HOUR, TU_SECOND},
    {"cjrwxX", false, TU_YEAR, TU_F2},
};

/* The unit range a directive names, or false. */
bool directive_units(const directive &d, int *first, int *last) {
  for (const unit_row &row : directive_unit_table) {
    if (row.era && d.modifier != 'E') continue;
    if (d.letter == '\0' || std::strchr(row.letters, d.letter) == nullptr) continue;
    *first = row.first;
    *last = row.last;
    return true;
  }
  return false;
}

int format_qualifier(const char *format) {
  int start = INT_MAX;
  int end = -1;
  const char *p = format;
  while (*p != '\0') {
    if (*p++ != '%') continue;
    const directive d = scan_directive(p);
    if (d.letter == '\0') break;
    p = d.next;
    int first = 0;
    int last = 0;
    if (d.letter == 'F') {
      int n = 2;
      if (is_digit(*p)) {
        n = *p++ - '0';
        if (n < 1 || n > 5) return dtfmt_err_modifier;
      } else {
        const int digit = fw_prec_digit(d);
        if (digit >= 1 && digit <= 5) n = digit;
      }
      first = last = TU_SECOND + n;
    } else if (!directive_units(d, &first, &last)) {
      continue;
    }
    if (first < start) start = first;
    if (last > end) end = last;
  }
  if (end < 0) return 0;
  if (start > TU_SECOND) start = TU_FRAC;
  const int w = start == TU_YEAR ? 4 : 2;
  return TU_ENCODE(end - start + w, start, end);
}

/* ---- A format cut to a qualifier -------------------------------------------------- */

/* What qualtofmt does with a directive: copies it always, copies it with
** its unit, with YEAR TO DAY (weekdays and days of the year), with a
** FRACTION end, or drops it (every letter not listed). */
enum class cut_kind { copy, unit, weekday, fraction, drop };
struct cut_row {
  const char *letters;
  cut_kind kind;
  int unit;
};
constexpr cut_row cut_table[] = {
    {"%nt", cut_kind::copy, -1},          {"CYyg", cut_kind::unit, TU_YEAR},
    {"Bbhm", cut_kind::unit, TU_MONTH},   {"de", cut_kind::unit, TU_DAY},
    {"HIp", cut_kind::unit, TU_HOUR},     {"M", cut_kind::unit, TU_MINUTE},
    {"S", cut_kind::unit, TU_SECOND},     {"F", cut_kind::fraction, -1},
    {"Aajuw", cut_kind::weekday, TU_DAY},
};

cut_kind cut_class(const directive &d, int *unit) {
  for (const cut_row &row : cut_table) {
    if (d.letter == '\0' || std::strchr(row.letters, d.letter) == nullptr) continue;
    *unit = row.unit;
    return row.kind;
  }
  return cut_kind::drop;
}

/* Appends to out the directives of expanded that write the qualifier's
** units, each followed by its separator while more units are to come. */
void cut_to_qualifier(int qualifier, const char *expanded, growing_text &out) {
  const int start = TU_START(qualifier);
  const int end = TU_END(qualifier);
  const bool to_fraction = end > TU_SECOND;
  const int units_spanned = to_fraction ? (TU_SECOND - start) / 2 + 2 : (end - start) / 2 + 1;
  unsigned copied_units = 0; /* bit per unit position */
  auto copied_count = [&] { return std::popcount(copied_units); };
  const char *p = expanded;
  while (*p != '\0') {
    if (*p != '%') {
      ++p;
      continue;
    }
    const char *after = p + 1;
    const directive d = scan_directive(after);
    if (d.letter == '\0') break;
    const char *next = d.next;
    int unit = -1;
    bool keep = false;
    const cut_kind kind = cut_class(d, &unit);
    switch (kind) {
      case cut_kind::copy:
        keep = true;
        break;
      case cut_kind::unit:
        keep = unit == TU_YEAR ? start == TU_YEAR : start <= unit && unit <= end;
        break;
      case cut_kind::weekday:
        keep = start == TU_YEAR && end >= TU_DAY;
        break;
      case cut_kind::fraction:
        keep = to_fraction;
        break;
      case cut_kind::drop:
        break;
    }
    if (!keep) {
      if (kind == cut_kind::fraction && is_digit(*next)) ++next;
      p = next;
      continue;
    }
    out.push('%');
    out.append(d.prefix(after));
    if (d.modifier != 0) out.push(d.modifier);
    out.push(d.letter);
    if (kind == cut_kind::fraction) {
      int digit = 3;
      if (is_digit(*next)) digit = *next++ - '0';
      const int n = end - TU_SECOND;
      out.push(static_cast<char>('0' + (digit < n ? digit : n)));
      unit = end;
      copied_units |= 1u << unit;
    } else if (kind == cut_kind::unit) {
      copied_units |= 1u << unit;
    }
    if (kind != cut_kind::copy) {
      const bool goes_on = unit < end;
      if ((goes_on || copied_count() < units_spanned) && *next != '\0' && *next != '%')
        out.push(*next++);
    }
    p = next;
  }
}

/* The format in force for DATETIME display, or NULL. */
char *format_in_force() {
  char *format = nullptr;
  if (getdatetimefmt(&format) != 0) return nullptr;
  return format;
}

/* Shared by dttofmtasc and dvz_gl_format_datetime: writes value through a
** ready format. 0 or the locale library's error word after a failure
** (-1 when none is set); an empty text on failure. */
int write_datetime(gl_locale *loc, char *buffer, int size, const char *format, const dtime_t *value,
                   int qualifier, int *dt_error) {
  gl_time_rec record {};
  record.tm_mday = 1;
  *dt_error = 0;
  if (qualifier != 0) {
    dtime_t extended {};
    extended.dt_qual = static_cast<uint16_t>(qualifier);
    const int rc = dtextend(value, &extended);
    if (rc != 0) {
      *dt_error = rc;
      return -1;
    }
    dtdectotm(&record, &extended.dt_dec, qualifier);
  }
  clear_locale_error(loc);
  const int room = size < INT_MAX ? size + 1 : INT_MAX;
  const int written = gl_mbsftime(loc, reinterpret_cast<unsigned char *>(buffer), room,
                                  reinterpret_cast<const unsigned char *>(format), &record);
  if (written > 0) return 0;
  buffer[0] = '\0';
  const int error = locale_error(loc);
  if (written == 0 && error == 0) return 0;
  return error != 0 ? error : -1;
}

/* Shared by dtcvfmtasc and dvz_gl_convert_datetime: reads text through a
** ready format into record. 0, or the locale error word (-1 when none),
** or -2 for characters left over. */
int read_datetime(gl_locale *loc, const char *text, const char *format, gl_time_rec *record) {
  *record = gl_time_rec {};
  record->tm_mday = 1;
  clear_locale_error(loc);
  const unsigned char *end =
      gl_mbsptime(loc, reinterpret_cast<const unsigned char *>(text),
                  reinterpret_cast<const unsigned char *>(format), record, getdbcentury());
  if (end == nullptr) {
    const int error = locale_error(loc);
    return error != 0 ? error : -1;
  }
  while (*end == ' ')
    ++end;
  return *end == '\0' ? 0 : -2;
}

/* Frees a format copy when it goes out of scope. */
struct format_holder {
  char *text = nullptr;
  ~format_holder() { std::free(text); }
};

/* Copies format into ready and makes it ready with validateglsfmt: 0 or
** the error to return. */
int ready_format(const char *format, int output, format_holder *ready) {
  if (!copy_format(format, &ready->text)) return gls_err_date_memory;
  const int rc = validateglsfmt(&ready->text, output, 1);
  if (rc != 0) return rc;
  return ready->text != nullptr ? 0 : dtfmt_err_format;
}

/* The qualifier YEAR TO end. */
int year_to(int end) { return TU_ENCODE(end - TU_YEAR + 4, TU_YEAR, end); }

}  // namespace

extern "C" {

/* ---- The format in force ------------------------------------------------------------ */

int dbtime_to_gl_date(const char *source, int output, char **out, int *era_kind, int flag) {
  (void)flag;
  if (source == nullptr || out == nullptr || era_kind == nullptr) return dtfmt_err_argument;
  growing_text text;
  const int rc = normalise(source, output != 0, text, era_kind);
  if (rc != 0) return rc;
  char *result = text.release();
  if (result == nullptr) return gls_err_date_memory;
  *out = result;
  return 0;
}

/*
** The source is *format, else DBTIME, else GL_DATETIME, normalised; else
** a copy of the locale's date-and-time format, else of the default. On
** success *format is the new allocation and the old one is freed; on
** failure *format is left as it was.
*/
int validateglsfmt(char **format, int output, int flag) {
  if (format == nullptr) return dtfmt_err_argument;
  if (chkglsinit() < 0) return gls_err_no_locale;
  const char *source = *format;
  if (source == nullptr) source = ggetenv("DBTIME");
  if (source == nullptr) source = ggetenv("GL_DATETIME");
  if (source != nullptr) {
    char *normalised = nullptr;
    int era_kind = 0;
    const int rc = dbtime_to_gl_date(source, output, &normalised, &era_kind, flag);
    if (rc != 0) return rc;
    std::free(*format);
    *format = normalised;
    return 0;
  }
  gl_locale *loc = CheckGlsEnv()->locale;
  const char *locale_format = loc != nullptr ? gl_nl_langinfo(loc, GL_D_T_FMT) : nullptr;
  if (locale_format == nullptr || *locale_format == '\0') locale_format = DT_DEFAULT_FORMAT;
  char *copy = strdup(locale_format);
  if (copy == nullptr) return gls_err_date_memory;
  *format = copy;
  return 0;
}

int getdatetimefmt(char **format) {
  if (format == nullptr) return dtfmt_err_argument;
  *format = nullptr;
  return validateglsfmt(format, 1, 1);
}

/* 0 on any failure: no locale, no format, or a format the formatter
** cannot measure. */
int _dtimedigits(void) {
  char *format = format_in_force();
  gl_locale *loc = CheckGlsEnv()->locale;
  if (format == nullptr || loc == nullptr) {
    std::free(format);
    return 0;
  }
  const int digits = gl_mbsfmtexpand(loc, 1, reinterpret_cast<const unsigned char *>(format));
  std::free(format);
  return digits > 0 ? digits : 0;
}

/* ---- Directives ---------------------------------------------------------------------- */

const char *get_fw_prec(const char *p, char *buffer) {
  if (p == nullptr || buffer == nullptr) return nullptr;
  const directive d = scan_directive(p);
  const std::string_view prefix = d.prefix(p);
  if (prefix.size() >= DT_FW_PREC_SIZE) {
    buffer[0] = '\0';
    return nullptr;
  }
  std::memcpy(buffer, prefix.data(), prefix.size());
  buffer[prefix.size()] = '\0';
  return p + prefix.size();
}

int get_prec(const char *fw_prec) {
  if (fw_prec == nullptr) return -1;
  const directive d = scan_directive(fw_prec);
  return fw_prec_digit(d);
}

int expandformat(const char *format, char *out, int size) {
  if (format == nullptr) return dtfmt_err_argument;
  gl_locale *loc = nullptr;
  if (locale_ready(&loc) != 0) return gls_err_no_locale;
  growing_text text;
  expand(loc, format, text);
  if (text.failed()) return gls_err_date_memory;
  if (text.size() > INT_MAX - 1) return value_err_buffer_short;
  if (out != nullptr && size > 0) {
    const size_t n = text.size() < static_cast<size_t>(size) ? text.size() : size - 1;
    std::memcpy(out, text.c_str(), n);
    out[n] = '\0';
  }
  return static_cast<int>(text.size());
}

int getfmtqual(const char *format) {
  const int rc = chkglsinit();
  if (rc < 0) return rc;
  if (format == nullptr) return 0;
  return format_qualifier(format);
}

/*
** Returns a malloc'd format holding only the directives of format (NULL:
** the format in force) that write the qualifier's units, each with the
** separator written after it; NULL when no format can be had or memory
** is short. The result is sized as it is written.
*/
char *qualtofmt(int qualifier, char *format) {
  gl_locale *loc = nullptr;
  if (locale_ready(&loc) != 0) return nullptr;
  format_holder fetched;
  if (format == nullptr) {
    fetched.text = format_in_force();
    if (fetched.text == nullptr) return nullptr;
    format = fetched.text;
  }
  growing_text expanded;
  expand(loc, format, expanded);
  if (expanded.failed()) return nullptr;
  growing_text result;
  cut_to_qualifier(qualifier, expanded.c_str(), result);
  return result.release();
}

/* ---- Parsing and formatting ------------------------------------------------------------ */

int dtcvfmtasc(const char *text, const char *format, dtime_t *value) {
  gl_locale *loc = nullptr;
  const int init = locale_ready(&loc);
  if (init != 0) return init;
  if (text == nullptr || *text == '\0' || value == nullptr) return dtfmt_err_argument;
  format_holder ready;
  const int rc = ready_format(format, 0, &ready);
  if (rc != 0) return rc;
  if (*ready.text == '\0') return dtfmt_err_no_match;
  const int qualifier = format_qualifier(ready.text);
  if (qualifier < 0) return qualifier;
  gl_time_rec record;
  const int read = read_datetime(loc, text, ready.text, &record);
  if (read == -2) return dt_err_range;
  if (read != 0) return dvz_genlib::datetime_locale_error(read);
  dtime_t parsed {};
  parsed.dt_qual = static_cast<uint16_t>(qualifier);
  if (qualifier == 0 || tmtodtdec(&record, &parsed.dt_dec, qualifier) != 0) return dt_err_range;
  return dtextend(&parsed, value);
}

int dvz_dtcvfmtasc(const char *text, const char *format, dtime_t *value, int century) {
  dvz_genlib::century_override rule(century);
  return dtcvfmtasc(text, format, value);
}

int dttofmtasc(const dtime_t *value, char *buffer, int size, const char *format) {
  gl_locale *loc = nullptr;
  const int init = locale_ready(&loc);
  if (init != 0) return init;
  if (buffer == nullptr || size < 0) return value_err_buffer_short;
  if (value == nullptr) return dtfmt_err_argument;
  format_holder ready;
  int rc = ready_format(format, 1, &ready);
  if (rc != 0) return rc;
  const int qualifier = format_qualifier(ready.text);
  if (qualifier < 0) return qualifier;
  if (value->dt_dec.sign == -1) {
    buffer[0] = '\0';
    return 0;
  }
  int dt_error = 0;
  rc = write_datetime(loc, buffer, size, ready.text, value, qualifier, &dt_error);
  if (dt_error != 0) return dt_error;
  return rc == 0 ? 0 : dvz_genlib::datetime_locale_error(rc);
}

int dvz_dttofmtasc(const dtime_t *value, char *buffer, int size, const char *format, int century) {
  dvz_genlib::century_override rule(century);
  return dttofmtasc(value, buffer, size, format);
}

/* ---- Locale-error variants --------------------------------------------------------------- */

int dvz_gl_convert_datetime(dtime_t *value, const char *text, const char *format) {
  gl_locale *loc = nullptr;
  if (locale_ready(&loc) != 0) return -1;
  auto fail = [loc](int error) {
    *_gl_ext_errno(loc) = error;
    return -1;
  };
  if (value == nullptr || text == nullptr) return fail(GL_ENULLPTR);
  format_holder ready;
  if (ready_format(format, 0, &ready) != 0) return fail(GL_EDIRECTIVE);
  const int qualifier = format_qualifier(ready.text);
  if (qualifier <= 0) return fail(GL_EDIRECTIVE);
  gl_time_rec record;
  const int read = read_datetime(loc, text, ready.text, &record);
  if (read == -2) return fail(GL_ENOMATCH);
  if (read != 0) return -1;
  const int year_to_end = year_to(TU_END(qualifier));
  dtime_t result {};
  result.dt_qual = static_cast<uint16_t>(year_to_end);
  if (tmtodtdec(&record, &result.dt_dec, year_to_end) != 0) return fail(GL_ENOYEAR);
  *value = result;
  return 0;
}

int dvz_gl_format_datetime(char *buffer, int size, const dtime_t *value, const char *format) {
  gl_locale *loc = nullptr;
  if (locale_ready(&loc) != 0) return -1;
  auto fail = [loc](int error) {
    *_gl_ext_errno(loc) = error;
    return -1;
  };
  if (buffer == nullptr || size < 0) return fail(GL_E2BIG);
  if (value == nullptr) return fail(GL_ENULLPTR);
  format_holder ready;
  if (ready_format(format, 1, &ready) != 0) return fail(GL_EDIRECTIVE);
  const int qualifier = format_qualifier(ready.text);
  if (qualifier <= 0) return fail(GL_EDIRECTIVE);
  if (value->dt_dec.sign == -1) {
    buffer[0] = '\0';
    return 0;
  }
  int dt_error = 0;
  const int rc =
      write_datetime(loc, buffer, size, ready.text, value, year_to(TU_END(qualifier)), &dt_error);
  if (dt_error != 0) return fail(GL_ENOYEAR);
  return rc == 0 ? 0 : -1;
}

}  // extern "C"
