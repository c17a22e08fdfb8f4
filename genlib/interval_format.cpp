/*
** Formatted INTERVAL text: an INTERVAL read from and written to text
** through a format of %Y, %m, %d, %H (or %I), %M, %S and %F directives.
** Nothing in the client library calls it; it is kept for callers of the
** value library.
**
** Reading rewrites the text into the fixed layout (standardize) and
** parses that with incvasc; writing formats the value in the fixed layout
** (intoasc) and moves its fields into the format (customize). The format's
** qualifier is getfmtqual's with the first field widened to 9 digits, so
** that any first field fits; the value is then moved into or out of the
** caller's qualifier.
*/
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "dtformat_internal.h"
#include "gen_datetime.h"
#include "gen_dtarith.h"
#include "gen_dtformat.h"
#include "growing_text.h"
#include "os_env.h"
#include "os_glsenv.h"

namespace {

using dvz_genlib::directive;
using dvz_genlib::growing_text;
using dvz_genlib::is_digit;
using dvz_genlib::scan_directive;

/* The format used when neither the caller nor DBTIME gives one. */
constexpr const char *interval_default_format = "%Y-%m-%d %H:%M:%S";
/* Digits of a widened first field. */
constexpr int widened_first_field = 9;
/* The fixed-layout delimiter before each unit, by unit / 2. */
constexpr std::string_view unit_delimiters = "--  ::";

/* The fields of an INTERVAL: its sign, the digits of each whole unit by
** unit / 2 (YEAR to SECOND) and its fraction digits. */
struct interval_fields {
  bool negative = false;
  std::array<std::string_view, 6> units {};
  std::string_view fraction;
};

/* The whole unit a directive letter reads or writes; -1 for none. */
int letter_unit(char letter) {
  switch (letter) {
    case 'Y':
      return TU_YEAR;
    case 'm':
      return TU_MONTH;
    case 'd':
      return TU_DAY;
    case 'H':
    case 'I':
      return TU_HOUR;
    case 'M':
      return TU_MINUTE;
    case 'S':
      return TU_SECOND;
    default:
      return -1;
  }
}

/* The format (or DBTIME, or the default) as an allocated copy in *out;
** 0 or -1211. */
int validatefmt(const char *format, char **out) {
  if (format == nullptr) format = ggetenv("DBTIME");
  if (format == nullptr) format = interval_default_format;
  *out = strdup(format);
  return *out != nullptr ? 0 : gls_err_date_memory;
}

/* The format's qualifier with its first field widened: 0 for a format
** without units, or getfmtqual's error. */
int widened_qualifier(const char *format) {
  const int q = getfmtqual(format);
  if (q <= 0) return q;
  const int start = TU_START(q);
  const int end = TU_END(q);
  if (start == TU_FRAC) return q;
  return TU_ENCODE(end - start + widened_first_field, start, end);
}

/* Length of the digit run at the start of text. */
int firstflen(const char *text) {
  int n = 0;
  while (is_digit(text[n]))
    ++n;
  return n;
}

/* Advances *text past characters that are not digits. */
void striptodigit(const char **text) {
  while (**text != '\0' && !is_digit(**text))
    ++*text;
}

/* Advances *text to the next digit and returns the length of the digit
** run there. */
int getflen(const char **text) {
  striptodigit(text);
  return firstflen(*text);
}

/* The width of a directive's prefix: the number after an optional "-",
** else the number after "."; 0 when there is none. */
int getfwidth(const directive &d) {
  std::string_view digits = !d.width.empty() ? d.width : d.precision;
  int width = 0;
  for (char c : digits.substr(0, 4))
    width = width * 10 + (c - '0');
  return width;
}

/* One field of width digits from *text into field (width + 1 bytes,
** terminated): a two-digit field takes one or two digits (one gets a
** leading "0"), a wider one up to its width. A prefix width above the
** field's skips the extra characters before it, or with "-" after it.
** Returns the digits taken. */
int setdatebuf(const char **text, char *field, int width, const directive &d) {
  const int prefix_width = getfwidth(d);
  const int extra = prefix_width > width ? prefix_width - width : 0;
  if (!d.dash)
    for (int i = 0; i < extra && **text != '\0'; ++i)
      ++*text;
  int n = 0;
  while (n < width && is_digit((*text)[n]))
    ++n;
  if (width == 2 && n == 1) {
    field[0] = '0';
    field[1] = **text;
  } else {
    std::memcpy(field, *text, static_cast<size_t>(n));
  }
  const int kept = width == 2 && n == 1 ? 2 : n;
  field[kept] = '\0';
  *text += n;
  if (d.dash)
    for (int i = 0; i < extra && **text != '\0'; ++i)
      ++*text;
  return n;
}

/* Up to n fraction digits from *text into field (n + 1 bytes). */
int setfracbuf(const char **text, char *field, int n) {
  int taken = 0;
  while (taken < n && is_digit(**text))
    field[taken++] = *(*text)++;
  field[taken] = '\0';
  return taken;
}

/* The fraction digits a %F directive stands for: the digit after it, else
** its precision or single width digit, else those of the qualifier. */
int fraction_digits(const directive &d, int qualifier) {
  if (is_digit(*d.next)) return *d.next - '0';
  if (d.point && d.precision.size() == 1) return d.precision[0] - '0';
  if (!d.point && d.width.size() == 1) return d.width[0] - '0';
  return TU_END(qualifier) > TU_SECOND ? TU_END(qualifier) - TU_SECOND : 0;
}

/* The text rewritten into the fixed layout of qualifier, driven by the
** format's directives. 0, -1276 (%b, %p, %y) or -1277 (text that does not
** match the format). */
int standardize(const char *text, const char *format, int qualifier, growing_text &out) {
  const int start = TU_START(qualifier);
  const int end = TU_END(qualifier);
  bool negative = false;
  std::array<std::array<char, widened_first_field + 1>, 6> units {};
  std::array<char, 6> fraction {};
  const char *p = text;
  const char *f = format;
  while (*f != '\0') {
    if (*f != '%') {
      if (*p != *f) return dtfmt_err_no_match;
      ++p;
      ++f;
      continue;
    }
    const directive d = scan_directive(f + 1);
    f = d.next;
    const int unit = letter_unit(d.letter);
    if (d.letter == 'b' || d.letter == 'p' || d.letter == 'y') return dtfmt_err_format;
    if (d.letter == '%') {
      if (*p++ != '%') return dtfmt_err_no_match;
    } else if (d.letter == 'F') {
      const int n = fraction_digits(d, qualifier);
      if (is_digit(*f)) ++f;
      setfracbuf(&p, fraction.data(), n < 5 ? n : 5);
    } else if (unit == start) {
      if (*p == '-') {
        negative = true;
        ++p;
      }
      const int n = firstflen(p);
      if (n == 0) return dtfmt_err_no_match;
      if (n > widened_first_field) return dt_err_range;
      std::memcpy(units[unit / 2].data(), p, static_cast<size_t>(n));
      p += n;
    } else if (unit > start && unit <= end) {
      if (setdatebuf(&p, units[unit / 2].data(), 2, d) == 0) return dtfmt_err_no_match;
    }
  }
  while (*p == ' ')
    ++p;
  if (*p != '\0') return dtfmt_err_no_match;
  if (negative) out.push('-');
  if (start != TU_FRAC) {
    for (int unit = start; unit <= end && unit <= TU_SECOND; unit += 2) {
      if (unit != start) out.push(unit_delimiters[unit / 2]);
      const char *digits = units[unit / 2].data();
      out.append(*digits != '\0' ? digits : unit == start ? "0" : "00");
    }
  }
  if (end > TU_SECOND) {
    out.push('.');
    out.append(fraction.data());
  }
  return out.failed() ? gls_err_date_memory : 0;
}

/* Locates the fields of a fixed-layout INTERVAL text (intoasc's). */
interval_fields setpointers(const char *fixed, int qualifier) {
  interval_fields fields;
  const char *first_digit = fixed;
  striptodigit(&first_digit);
  fields.negative = std::memchr(fixed, '-', static_cast<size_t>(first_digit - fixed)) != nullptr;
  const int start = TU_START(qualifier);
  const int end = TU_END(qualifier);
  const char *p = fixed;
  if (start != TU_FRAC) {
    for (int unit = start; unit <= end && unit <= TU_SECOND; unit += 2) {
      const int n = getflen(&p);
      fields.units[unit / 2] = std::string_view(p, static_cast<size_t>(n));
      p += n;
    }
  }
  if (end > TU_SECOND) {
    const int n = getflen(&p);
    fields.fraction = std::string_view(p, static_cast<size_t>(n));
  }
  return fields;
}

/* Two digits of value. */
void inttodtbuf(int value, growing_text &out) {
  out.push(static_cast<char>('0' + value / 10 % 10));
  out.push(static_cast<char>('0' + value % 10));
}

/* The hour on a 12-hour clock when asked: 12 off an hour of 13 or more. */
int frommilitary(int hour, bool twelve_hour) {
  return twelve_hour && hour >= 13 ? hour - 12 : hour;
}

/* "." and n fraction digits from digits, padded with "0". */
void setfraction(std::string_view digits, int n, growing_text &out) {
  out.push('.');
  for (int i = 0; i < n; ++i)
    out.push(i < static_cast<int>(digits.size()) ? digits[i] : '0');
}

/* value by "%<prefix>d " (the directive's width and precision). -1275 when
** the prefix is too long to be one. */
int custom_fmt_num(const char *after_percent, int value, growing_text &out) {
  char prefix[DT_FW_PREC_SIZE];
  if (get_fw_prec(after_percent, prefix) == nullptr) return dtfmt_err_modifier;
  char conversion[DT_FW_PREC_SIZE + 4];
  std::snprintf(conversion, sizeof conversion, "%%%sd ", prefix);
  char number[64];
  const int n = std::snprintf(number, sizeof number, conversion, value);
  if (n < 0 || n >= static_cast<int>(sizeof number)) return dtfmt_err_modifier;
  out.append(std::string_view(number, static_cast<size_t>(n)));
  return 0;
}

int field_value(std::string_view digits) {
  int value = 0;
  for (char c : digits)
    value = value * 10 + (c - '0');
  return value;
}

/* The format with its directives replaced by the fields. 0 or -1275. */
int customize(const char *format, const interval_fields &fields, int qualifier, growing_text &out) {
  const int start = TU_START(qualifier);
  const char *f = format;
  while (*f != '\0') {
    if (*f != '%') {
      out.push(*f++);
      continue;
    }
    const char *after = f + 1;
    const directive d = scan_directive(after);
    const int unit = letter_unit(d.letter);
    if (d.letter == 'F') {
      const int n = fraction_digits(d, qualifier);
      f = is_digit(*d.next) ? d.next + 1 : d.next;
      setfraction(fields.fraction, n, out);
      continue;
    }
    f = d.next;
    if (d.letter == '%') {
      out.push('%');
      continue;
    }
    if (unit < 0) {
      out.append(std::string_view(after - 1, static_cast<size_t>(d.next - after + 1)));
      continue;
    }
    const std::string_view digits = fields.units[unit / 2];
    if (unit == start && fields.negative) out.push('-');
    const int value = frommilitary(field_value(digits), d.letter == 'I');
    if (d.has_prefix()) {
      const int rc = custom_fmt_num(after, value, out);
      if (rc != 0) return rc;
    } else if (unit == start) {
      out.append(digits.empty() ? "0" : digits);
    } else {
      inttodtbuf(value, out);
    }
  }
  return out.failed() ? gls_err_date_memory : 0;
}

struct format_copy {
  char *text = nullptr;
  ~format_copy() { std::free(text); }
};

}  // namespace

extern "C" {

int incvfmtasc(const char *text, const char *format, intrvl_t *value) {
  if (text == nullptr || *text == '\0' || value == nullptr) return dtfmt_err_argument;
  if (chkglsinit() < 0) return gls_err_no_locale;
  format_copy ready;
  int rc = validatefmt(format, &ready.text);
  if (rc != 0) return rc;
  const int qualifier = widened_qualifier(ready.text);
  if (qualifier < 0) return qualifier;
  if (qualifier == 0) return dtfmt_err_no_match;
  growing_text fixed;
  rc = standardize(text, ready.text, qualifier, fixed);
  if (rc != 0) return rc;
  intrvl_t parsed {};
  parsed.in_qual = static_cast<uint16_t>(qualifier);
  rc = incvasc(fixed.c_str(), &parsed);
  if (rc != 0) return rc;
  return invextend(&parsed, value);
}

int intofmtasc(const intrvl_t *value, char *buffer, int size, const char *format) {
  if (buffer == nullptr || size < 0) return value_err_buffer_short;
  if (value == nullptr) return dtfmt_err_argument;
  if (chkglsinit() < 0) return gls_err_no_locale;
  format_copy ready;
  int rc = validatefmt(format, &ready.text);
  if (rc != 0) return rc;
  if (std::strlen(ready.text) > static_cast<size_t>(size)) return value_err_buffer_short;
  if (value->in_dec.sign == -1) {
    buffer[0] = '\0';
    return 0;
  }
  const int qualifier = widened_qualifier(ready.text);
  if (qualifier < 0) return qualifier;
  if (qualifier == 0) {
    std::memcpy(buffer, ready.text, std::strlen(ready.text) + 1);
    return 0;
  }
  intrvl_t converted {};
  converted.in_qual = static_cast<uint16_t>(qualifier);
  rc = invextend(value, &converted);
  if (rc != 0) return rc;
  char fixed[64];
  rc = intoasc(&converted, fixed);
  if (rc != 0) return rc;
  growing_text out;
  rc = customize(ready.text, setpointers(fixed, qualifier), qualifier, out);
  if (rc != 0) return rc;
  if (out.size() > static_cast<size_t>(size)) return value_err_buffer_short;
  std::memcpy(buffer, out.c_str(), out.size() + 1);
  return 0;
}

}  // extern "C"
