/*
** float_text.cpp: doubles to text and the decimal point of formatted
** output. The platform's formatted output writes "."; rdecstr and
** gDecstrtoANSI move a text between that and the decimal point in force
** (DBMONEY may make it ","). _gftoasc and _gnftoasc give the text of a
** FLOAT or SMALLFLOAT value (display and conversion to character types);
** dvz_gl_format_double and chk_double_fmt serve the locale-library style
** entry points (the MONEY ones are in money_text.cpp).
**
** Every writer is bounded by the size it is given: a text that does not
** fit is an error, never a longer write.
*/
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_errors.h"
#include "gl_numbers.h"
#include "number_conventions.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "text_scan.h"

namespace {

using dvz_genlib::cut_trailing_blanks;
using dvz_genlib::is_digit;
using dvz_genlib::next_format_directive;

constexpr int rewrite_work_size = 1028;
constexpr int format_work_size = 400;
/* Magnitudes written through DECIMAL; others take the exponential form. */
constexpr double decimal_lowest = 1e-130;
constexpr double decimal_highest = 1e124;
/* Decimals of the exponential form when the room allows. */
constexpr int exponential_decimals = 15;

constexpr std::string_view format_flags = " #'+-";
constexpr std::string_view floating_conversions = "eEfgG";

bool within_decimal_range(double value) {
  double magnitude = std::fabs(value);
  return magnitude >= decimal_lowest && magnitude <= decimal_highest;
}

/* The value through DECIMAL (17 or 9 digits) into size - 1 bytes with
** its natural places, terminated after the last non-blank: 0, the
** conversion's error, or -1207 when it does not fit. */
int write_through_decimal(double value, bool is_double, char *buffer, int size) {
  dec_t converted;
  int status = is_double ? deccvdbl(value, &converted) : deccvflt(value, &converted);
  if (status != 0) return status;
  status = dectoasc(&converted, buffer, size - 1, -1);
  if (status == -1) return value_err_field_short;
  if (status != 0) return status;
  cut_trailing_blanks(buffer, size - 1);
  return 0;
}

/* The initialisation of the double readers and writers: 0, or the locale
** library's error (-23108 when it reports none). */
int initialise_locale() {
  if (chkglsinit() == 0) return 0;
  int error = get_glserror();
  return error != 0 ? error : gls_err_no_locale;
}

bool same_point(const gls_lconv &lc) {
  return lc.decimal_point_len == lc.locale_decimal_point_len &&
         std::memcmp(lc.decimal_point, lc.locale_decimal_point,
                     static_cast<size_t>(lc.decimal_point_len)) == 0;
}

/* Index just past the flags, width, precision and "l" modifiers of the
** directive whose "%" is at format[at]. */
size_t skip_modifiers(std::string_view format, size_t at) {
  size_t i = at + 1;
  while (i < format.size() && format_flags.find(format[i]) != std::string_view::npos)
    ++i;
  while (i < format.size() && is_digit(format[i]))
    ++i;
  if (i < format.size() && format[i] == '.') {
    ++i;
    while (i < format.size() && is_digit(format[i]))
      ++i;
  }
  while (i < format.size() && format[i] == 'l')
    ++i;
  return i;
}

}  // namespace

extern "C" {

/* Rewrites "." as the decimal point in force, in place. Without keep, a
** fixed-point text that does not fit in size characters loses its
** fraction; an exponential text is never cut (its value would change):
** it is -1273 like any other text that still does not fit. */
int rdecstr(char *text, int size, int keep) {
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();
  if (lc.decimal_point_len == 1 && lc.decimal_point[0] == '.') return 0;
  if (size < 0) return value_err_buffer_short;
  char local[rewrite_work_size];
  std::unique_ptr<char[]> heap;
  char *work = local;
  int work_size = rewrite_work_size;
  if (size > rewrite_work_size) {
    heap.reset(new (std::nothrow) char[static_cast<size_t>(size) + 1]);
    if (!heap) return os_err_no_memory;
    work = heap.get();
    work_size = size + 1;
  }
  status = gdecimalpoint(text, ".", 1, lc.decimal_point, lc.decimal_point_len, work, work_size);
  bool fits = status == 0 && std::strlen(work) <= static_cast<size_t>(size);
  if (!fits) {
    if (keep) return value_err_buffer_short;
    const char *point = std::strchr(text, '.');
    if (point == nullptr || std::strpbrk(point, "eE") != nullptr) return value_err_buffer_short;
    /* The integer part alone: a copy without the fraction, rewritten. */
    size_t integer_length = static_cast<size_t>(point - text);
    if (integer_length >= static_cast<size_t>(work_size)) return value_err_buffer_short;
    std::unique_ptr<char[]> integer(new (std::nothrow) char[integer_length + 1]);
    if (!integer) return os_err_no_memory;
    std::memcpy(integer.get(), text, integer_length);
    integer[integer_length] = '\0';
    status = gdecimalpoint(integer.get(), ".", 1, lc.decimal_point, lc.decimal_point_len, work,
                           work_size);
    if (status != 0 || std::strlen(work) > static_cast<size_t>(size)) return value_err_buffer_short;
  }
  std::strcpy(text, work);
  return 0;
}

int gDecstrtoANSI(const char *text, char *out, int max) {
  int status = dvz_genlib::load_conventions();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();
  return gdecimalpoint(text, lc.decimal_point, lc.decimal_point_len, ".", 1, out, max);
}

/* The text of value in buffer (size bytes): through DECIMAL within the
** range, else "%<size-1>le". Returns the first non-blank of the text, or
** NULL with the error in toerrno (-1207 when it does not fit). */
char *_gftoasc(double value, char *buffer, int size) {
  if (size < 2) {
    set_toerrno(value_err_field_short);
    return nullptr;
  }
  if (within_decimal_range(value)) {
    int status = write_through_decimal(value, true, buffer, size);
    if (status != 0) {
      set_toerrno(status);
      return nullptr;
    }
    return buffer;
  }
  int written = std::snprintf(buffer, static_cast<size_t>(size), "%*e", size - 1, value);
  if (written < 0 || written >= size) {
    set_toerrno(value_err_field_short);
    return nullptr;
  }
  char *start = buffer;
  while (*start == ' ')
    ++start;
  return start;
}

/* The text of value (a widened float when is_double is 0) in buffer:
** through DECIMAL within the range, else exponential with as many of 15
** decimals as the room takes, in the decimal point in force; a field of
** "*" when not even the exponent fits. The buffer, or NULL. */
char *_gnftoasc(double value, char *buffer, int size, int is_double) {
  if (size < 2) return nullptr;
  if (within_decimal_range(value))
    return write_through_decimal(value, is_double != 0, buffer, size) == 0 ? buffer : nullptr;
  if (dvz_genlib::load_conventions() != 0) return nullptr;
  const gls_lconv &lc = dvz_genlib::conventions();
  int room = size - 1 - lc.decimal_point_len - 6 - (std::signbit(value) ? 1 : 0);
  if (room < 0) {
    std::memset(buffer, '*', static_cast<size_t>(size - 1));
    buffer[size - 1] = '\0';
    return buffer;
  }
  int decimals = room < exponential_decimals ? room : exponential_decimals;
  int written = std::snprintf(buffer, static_cast<size_t>(size), "%.*e", decimals, value);
  if (written < 0 || written >= size) return nullptr;
  return rdecstr(buffer, size - 1, 0) == 0 ? buffer : nullptr;
}

/* value as text in buffer (size bytes) through format, or "%G" without
** one, in the decimal point in force: 0, -415 (format refused or failed),
** -1207 (longer than size - 1), -1273 or an initialisation error. */
int dvz_gl_format_double(char *buffer, int size, double value, const char *format) {
  int status = initialise_locale();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();
  char work[format_work_size];
  int written = 0;
  if (format != nullptr) {
    if (chk_double_fmt(format) != 0) return value_err_bad_format;
    written = gl_mbsfnum(CheckGlsEnv()->locale, reinterpret_cast<unsigned char *>(work),
                         format_work_size, reinterpret_cast<const unsigned char *>(format), value);
    if (written < 1) return value_err_bad_format;
  } else {
    errno = 0;
    written = std::snprintf(work, sizeof work, "%G", value);
    if (written < 1 || errno != 0) return value_err_bad_format;
  }
  if (written > size - 1) return value_err_field_short;
  if (same_point(lc)) {
    std::memcpy(buffer, work, static_cast<size_t>(written) + 1);
    return 0;
  }
  return gdecimalpoint(work, lc.locale_decimal_point, lc.locale_decimal_point_len, lc.decimal_point,
                       lc.decimal_point_len, buffer, size);
}

int chk_double_fmt(const char *format) {
  if (format == nullptr) return -1;
  std::string_view text(format);
  size_t at = next_format_directive(text, 0);
  if (at == std::string_view::npos) return -1;
  size_t conversion = skip_modifiers(text, at);
  if (conversion >= text.size() ||
      floating_conversions.find(text[conversion]) == std::string_view::npos)
    return -1;
  return next_format_directive(text, conversion + 1) == std::string_view::npos ? 0 : -1;
}

}  // extern "C"
