/*
** money_text.cpp: MONEY text. rdecmon decorates a decimal text with the
** currency symbols and the monetary decimal point; rmondec strips them
** again. dvz_gl_convert_money and dvz_gl_format_money are the
** locale-library style entry points (0, or -1 with the locale's error
** number set), through an optional monetary format or through these two.
** Callers: the value conversions and display of MONEY values.
**
** The symbols come from DBMONEY or the locale (os_lconv.h); the monetary
** decimal point may be longer than the decimal point in force, so the
** writers here are bounded by their output's size.
*/
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "gen_decimal.h"
#include "gen_dectext.h"
#include "gen_errors.h"
#include "gl_chars.h"
#include "gl_errors.h"
#include "gl_money.h"
#include "number_conventions.h"
#include "os_glsenv.h"
#include "os_lconv.h"

namespace {

constexpr int money_field_size = 80;
constexpr size_t local_text_size = 256;
/* The longest character of a locale: the most a decimal point can take. */
constexpr size_t max_char_bytes = 4;

/* The locale error a failed decimal reading of MONEY text leaves. */
struct ReadingError {
  int status;
  int locale_error;
};
constexpr ReadingError reading_errors[] = {{value_err_text, GL_EBADARG},
                                           {value_err_exponent, GL_EBADARG},
                                           {value_err_overflow, GL_E2BIG},
                                           {value_err_underflow, GL_E2BIG}};

int locale_error_of(int status) {
  for (const ReadingError &e : reading_errors)
    if (e.status == status) return e.locale_error;
  return GL_EBADARG;
}

bool same_char(const unsigned char *at, int length, const char *bytes, int bytes_length) {
  return length == bytes_length && length > 0 &&
         std::memcmp(at, bytes, static_cast<size_t>(length)) == 0;
}

/* Byte length of the character at p with remaining bytes left: at least 1
** (an invalid or cut byte stands alone), at most remaining. */
int char_length(gl_locale *loc, const unsigned char *p, size_t remaining) {
  int length = loc != nullptr ? gl_full_mblen(loc, p, static_cast<int>(remaining)) : 1;
  if (length < 1) return 1;
  return static_cast<size_t>(length) > remaining ? static_cast<int>(remaining) : length;
}

/* Appends length bytes to out (capacity bytes, terminator included) at
** *written: false, with nothing written, when they do not fit. */
bool append(char *out, size_t capacity, size_t *written, const void *bytes, size_t length) {
  if (*written + length + 1 > capacity) return false;
  std::memcpy(out + *written, bytes, length);
  *written += length;
  return true;
}

/* rdecmon into out of capacity bytes: 0, or -1 when the text does not
** fit (out then holds nothing useful). */
int decimal_to_money(const char *text, char *out, size_t capacity) {
  /* Without an initialised locale the conventions are the defaults. */
  (void)dvz_genlib::load_conventions();
  gls_env *env = CheckGlsEnv();
  const gls_lconv &lc = dvz_genlib::conventions();
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + std::strlen(text);
  size_t written = 0;
  if (!append(out, capacity, &written, env->state->front_currency,
              std::strlen(env->state->front_currency)))
    return -1;
  while (p < end) {
    int length = char_length(env->locale, p, static_cast<size_t>(end - p));
    bool ok = same_char(p, length, lc.decimal_point, lc.decimal_point_len)
                  ? append(out, capacity, &written, lc.mon_decimal_point,
                           static_cast<size_t>(lc.mon_decimal_point_len))
                  : append(out, capacity, &written, p, static_cast<size_t>(length));
    if (!ok) return -1;
    p += length;
  }
  if (!append(out, capacity, &written, env->state->back_currency,
              std::strlen(env->state->back_currency)))
    return -1;
  out[written] = '\0';
  return 0;
}

/* rmondec into out of capacity bytes (at least 1): reading stops before
** a character whose text would not fit. The address where reading
** stopped. */
const char *money_to_decimal(const char *text, int length, char *out, size_t capacity) {
  /* Without an initialised locale the conventions are the defaults. */
  (void)dvz_genlib::load_conventions();
  gls_env *env = CheckGlsEnv();
  const gls_lconv &lc = dvz_genlib::conventions();
  const char *front = env->state->front_currency;
  const char back_first = env->state->back_currency[0];
  const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
  const unsigned char *end = p + (length > 0 ? length : 0);
  while (p < end && *p == ' ')
    ++p;
  for (const char *f = front; *f != '\0' && p < end && *p == static_cast<unsigned char>(*f); ++f)
    ++p;
  size_t written = 0;
  while (p < end && *p != '\0' &&
         (back_first == '\0' || *p != static_cast<unsigned char>(back_first))) {
    int n = char_length(env->locale, p, static_cast<size_t>(end - p));
    bool ok = true;
    if (same_char(p, n, lc.mon_decimal_point, lc.mon_decimal_point_len)) {
      ok = append(out, capacity, &written, lc.decimal_point,
                  static_cast<size_t>(lc.decimal_point_len));
    } else if (!same_char(p, n, lc.mon_thousands_sep, lc.mon_thousands_sep_len)) {
      ok = append(out, capacity, &written, p, static_cast<size_t>(n));
    }
    if (!ok) break;
    p += n;
  }
  out[written] = '\0';
  return reinterpret_cast<const char *>(p);
}

/* A work buffer of the given size, on the stack when it is small. */
class WorkText {
 public:
  explicit WorkText(size_t size) : size_(size) {
    if (size > local_text_size) heap_.reset(new (std::nothrow) char[size]);
  }
  char *data() { return size_ > local_text_size ? heap_.get() : local_; }
  size_t size() const { return size_; }

 private:
  char local_[local_text_size];
  std::unique_ptr<char[]> heap_;
  size_t size_;
};

/* Fails a locale-library style entry point with error. */
int fail(int error) {
  dvz_genlib::set_locale_error(error);
  return -1;
}

}  // namespace

extern "C" {

/* The caller's out must hold the symbols and the text with every decimal
** point widened to the monetary one. */
int rdecmon(const char *text, char *out) { return decimal_to_money(text, out, SIZE_MAX); }

/* out holds length + 1 bytes; a character that would not fit there (a
** monetary decimal point shorter than the one in force) ends the
** reading, which the returned address shows. */
const char *rmondec(const char *text, int length, char *out) {
  return money_to_decimal(text, length, out, static_cast<size_t>(length > 0 ? length : 0) + 1);
}

int check_mon_fmt(const char *format) {
  if (format == nullptr) return 0;
  std::string_view text(format);
  size_t first = dvz_genlib::next_format_directive(text, 0);
  if (first == std::string_view::npos) return 0;
  return dvz_genlib::next_format_directive(text, first + 1) == std::string_view::npos ? 0 : -1;
}

/* MONEY text to DECIMAL: through format (at most one directive, else
** error 22), or by stripping the symbols and reading the decimal text
** (-1213/-1216 give error 9, overflow and underflow 14). 0 or -1. */
int dvz_gl_convert_money(dec_t *result, const char *text, const char *format) {
  if (format != nullptr && check_mon_fmt(format) != 0) return fail(GL_EDIRECTIVE);
  if (dvz_genlib::load_conventions() != 0) return -1;
  if (format != nullptr) {
    double amount = 0;
    if (gl_mbspmon(CheckGlsEnv()->locale, reinterpret_cast<const unsigned char *>(text),
                   reinterpret_cast<const unsigned char *>(format), &amount) == nullptr)
      return -1;
    return deccvdbl(amount, result) == 0 ? 0 : fail(GL_EBADARG);
  }
  size_t length = std::strlen(text);
  if (length > INT32_MAX / max_char_bytes) return fail(GL_EBADARG);
  WorkText work(length * max_char_bytes + 1);
  if (work.data() == nullptr) return fail(GL_ENOMEM);
  money_to_decimal(text, static_cast<int>(length), work.data(), work.size());
  int status = deccvasc(work.data(), static_cast<int>(std::strlen(work.data())), result);
  return status == 0 ? 0 : fail(locale_error_of(status));
}

/* DECIMAL to MONEY text in buffer (size bytes; 0 stands for 80): through
** format, or with the locale's MONEY places between the currency symbols.
** A field without room for the symbols and one digit is error 9; a text
** that does not fit, 14. 0 or -1. */
int dvz_gl_format_money(char *buffer, int size, const dec_t *value, const char *format) {
  if (format != nullptr && check_mon_fmt(format) != 0) return fail(GL_EDIRECTIVE);
  if (dvz_genlib::load_conventions() != 0) return -1;
  if (format != nullptr) {
    double amount = 0;
    if (dectodbl(value, &amount) != 0) return fail(GL_EBADARG);
    return gl_mbsfmon(CheckGlsEnv()->locale, reinterpret_cast<unsigned char *>(buffer), size,
                      reinterpret_cast<const unsigned char *>(format), amount) < 0
               ? -1
               : 0;
  }
  if (size < 0) return fail(GL_EBADARG);
  int field = size == 0 || size > money_field_size ? money_field_size : size;
  int room = field - rfrontlen() - rbacklen() - 1;
  if (room < 1) return fail(GL_EBADARG);
  char digits[money_field_size + 1];
  if (dectoasc(value, digits, room, genlcscale()) != 0) return fail(GL_EBADARG);
  dvz_genlib::cut_trailing_blanks(digits, room);
  return decimal_to_money(digits, buffer, static_cast<size_t>(field)) == 0 ? 0 : fail(GL_E2BIG);
}

}  // extern "C"
