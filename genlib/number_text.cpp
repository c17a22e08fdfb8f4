/*
** number_text.cpp: the number-text services under the conventions of the
** current locale environment that the DECIMAL and float conversions rest
** on: the currency symbol lengths, the translation of a decimal point
** between the form in force and the locale's own, and text to double.
**
** The platform's and the locale library's number readers use the
** locale's own decimal point; texts in the form in force (DBMONEY may
** change it) are rewritten before they are read.
*/
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "gen_dectext.h"
#include "gen_errors.h"
#include "gen_types.h"
#include "gl_chars.h"
#include "gl_errors.h"
#include "gl_numbers.h"
#include "number_conventions.h"
#include "os_gentcb.h"
#include "os_glsenv.h"
#include "os_lconv.h"

namespace {

constexpr int local_text_size = 401;

bool same_bytes(const char *text, const char *bytes, int length) {
  return length > 0 && std::strncmp(text, bytes, static_cast<size_t>(length)) == 0;
}

/* The text a format read must have: an optional sign, digits and blanks,
** one decimal point, one exponent mark followed by at most one sign, and
** no sign or exponent mark at the end. */
bool plain_number_text(const char *text, const gls_lconv &lc) {
  const char *p = text;
  if (lc.negative_sign_len > 0 && same_bytes(p, lc.negative_sign, lc.negative_sign_len)) {
    p += lc.negative_sign_len;
  } else if (*p == '-') {
    ++p;
  } else if (lc.positive_sign_len > 0 && same_bytes(p, lc.positive_sign, lc.positive_sign_len)) {
    p += lc.positive_sign_len;
  } else if (lc.positive_sign_len == 0 && *p == '+') {
    ++p;
  }
  bool seen_point = false;
  bool seen_exponent = false;
  bool sign_allowed = false;
  bool ends_open = false;
  while (*p != '\0') {
    if ((*p >= '0' && *p <= '9') || *p == ' ') {
      ++p;
      sign_allowed = false;
      ends_open = false;
    } else if (same_bytes(p, lc.decimal_point, lc.decimal_point_len) && !seen_point &&
               !seen_exponent) {
      p += lc.decimal_point_len;
      seen_point = true;
      sign_allowed = false;
    } else if ((*p == 'e' || *p == 'E') && !seen_exponent) {
      ++p;
      seen_exponent = true;
      sign_allowed = true;
      ends_open = true;
    } else if ((*p == '-' || *p == '+') && sign_allowed) {
      ++p;
      sign_allowed = false;
      ends_open = true;
    } else {
      return false;
    }
  }
  return !ends_open;
}

}  // namespace

extern "C" {

int rfrontlen(void) {
  const gls_env *env = CheckGlsEnv();
  if (env->state->lconv_loaded == 0) (void)dvz_genlib::load_conventions();
  return static_cast<int>(std::strlen(env->state->front_currency));
}

int rbacklen(void) {
  const gls_env *env = CheckGlsEnv();
  if (env->state->lconv_loaded == 0) (void)dvz_genlib::load_conventions();
  return static_cast<int>(std::strlen(env->state->back_currency));
}

/* Copies text into out (max bytes), character by character: from becomes
** to, the thousands separator is dropped, an invalid byte goes alone. */
int gdecimalpoint(const char *text, const char *from, int from_length, const char *to,
                  int to_length, char *out, int max) {
  const gls_lconv &lc = dvz_genlib::conventions();
  gl_locale *loc = CheckGlsEnv()->locale;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  int read = 0;
  int written = 0;
  while (*p != '\0' && read < max) {
    int remaining = static_cast<int>(std::strlen(reinterpret_cast<const char *>(p)));
    int char_length = loc != nullptr ? gl_full_mblen(loc, p, remaining) : 1;
    if (char_length < 1) char_length = 1;
    const char *at = reinterpret_cast<const char *>(p);
    if (char_length == from_length && same_bytes(at, from, from_length)) {
      if (written + to_length >= max) return value_err_buffer_short;
      std::memcpy(out + written, to, static_cast<size_t>(to_length));
      written += to_length;
    } else if (char_length == lc.thousands_sep_len &&
               same_bytes(at, lc.thousands_sep, lc.thousands_sep_len)) {
    } else {
      if (written + char_length >= max) return value_err_buffer_short;
      std::memcpy(out + written, at, static_cast<size_t>(char_length));
      written += char_length;
    }
    p += char_length;
    read += char_length;
  }
  if (*p != '\0') return value_err_buffer_short;
  out[written] = '\0';
  return 0;
}

/* Reads text as a double: hexadecimal after "0x", else through format
** (with a check of the text's shape) or the platform's reader. */
int dvz_gl_convert_double(double *result, const char *text, const char *format) {
  if (chkglsinit() != 0) {
    int error = get_glserror();
    return error != 0 ? error : gls_err_no_locale;
  }
  const gls_lconv &lc = dvz_genlib::conventions();
  while (*text == ' ')
    ++text;
  if (*text == '\0') {
    std::memcpy(result, fltnull, sizeof(double));
    return 0;
  }
  char local[local_text_size];
  std::unique_ptr<char[]> heap;
  const char *reading = text;
  if (lc.decimal_point_len != lc.locale_decimal_point_len ||
      std::memcmp(lc.decimal_point, lc.locale_decimal_point,
                  static_cast<size_t>(lc.decimal_point_len)) != 0) {
    size_t length = std::strlen(text);
    char *work = local;
    int size = local_text_size;
    if (length >= local_text_size) {
      heap.reset(new (std::nothrow) char[length + 1]);
      if (!heap) return os_err_no_memory;
      work = heap.get();
      size = static_cast<int>(length + 1);
    }
    int status = gdecimalpoint(text, lc.decimal_point, lc.decimal_point_len,
                               lc.locale_decimal_point, lc.locale_decimal_point_len, work, size);
    if (status != 0) return status;
    reading = work;
  }
  if (reading[0] == '0' && (reading[1] == 'x' || reading[1] == 'X')) {
    unsigned int word = 0;
    if (reading[2] == '\0' || std::sscanf(reading, "%x", &word) != 1) return value_err_text;
    *result = static_cast<double>(static_cast<uint32_t>(word));
    return 0;
  }
  if (format != nullptr) {
    double value = 0;
    gl_locale *loc = CheckGlsEnv()->locale;
    if (gl_mbspnum(loc, reinterpret_cast<const unsigned char *>(reading),
                   reinterpret_cast<const unsigned char *>(format), &value) != 1)
      return value_err_text;
    if (!plain_number_text(text, lc)) return value_err_text;
    *result = value;
    return 0;
  }
  char *end = nullptr;
  double value = std::strtod(reading, &end);
  if (end == reading) {
    dvz_genlib::set_locale_error(GL_EBADARG);
    return value_err_text;
  }
  while (*end == ' ')
    ++end;
  if (*end == '\n') ++end;
  if (*end != '\0') {
    dvz_genlib::set_locale_error(GL_EBADARG);
    return value_err_text;
  }
  *result = value;
  return 0;
}

int rstod(const char *text, double *result) { return dvz_gl_convert_double(result, text, "%e"); }

}  // extern "C"
