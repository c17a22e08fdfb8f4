/*
** INT8 text: reading base-10 and base-16 text (`dvz_int8cvasc`) and
** writing it (`int8tostr`, `int8toasc` and their base-10 forms). Called by
** the value records (toint8), host variables and display text.
**
** The reader reads only the given length, under the numeric conventions
** in force (decimal point and thousands separator); its exponent part goes
** through rstol. Leading zeros and any exponent are handled by counting
** digits, never by scaling once per unit, so every text is answered in a
** few passes over it whatever its exponent.
*/
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "gen_dectext.h"
#include "gen_errors.h"
#include "gen_int8.h"
#include "int8_internal.h"
#include "number_conventions.h"
#include "os_glsenv.h"
#include "text_scan.h"

namespace {

using namespace dvz_genlib;

constexpr int max_decimal_digits = 19; /* 10^19 > 2^63 > 10^18 */
constexpr int text_capacity = 24; /* "0x" and 16 digits, or "-" and 20 */
constexpr size_t local_exponent = 40;

/* A separator or decimal point of the conventions, as bytes. */
struct Mark {
  const char *bytes;
  int length;

  /* Whether the mark starts at p, within [p, end). */
  bool at(const char *p, const char *end) const {
    return length > 0 && end - p >= length && *p == bytes[0] &&
           (length == 1 || std::memcmp(p + 1, bytes + 1, static_cast<size_t>(length - 1)) == 0);
  }
};

Mark make_mark(const char *bytes, int32_t length, size_t capacity) {
  return Mark {bytes,
               static_cast<int>(std::clamp<int32_t>(length, 0, static_cast<int32_t>(capacity)))};
}

/* The digit value of c in base 10 or 16, or -1. */
int digit_value(unsigned char c, int base) {
  int d = -1;
  if (c >= '0' && c <= '9') {
    d = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    d = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    d = c - 'A' + 10;
  }
  return d < base ? d : -1;
}

/* Calls digit(d) for every digit of [p, end), skipping thousands
** separators. Returns false on any other byte (a character of more than
** one byte included: it is no digit of any base). */
template <typename Digit>
bool scan_digits(const char *p, const char *end, int base, const Mark &separator, Digit digit) {
  while (p < end) {
    const int d = digit_value(static_cast<unsigned char>(*p), base);
    if (d >= 0) {
      digit(d);
      ++p;
    } else if (separator.at(p, end)) {
      p += separator.length;
    } else {
      return false;
    }
  }
  return true;
}

/* Reads the integer digits at p in base 10 or 16 (thousands separators
** skipped) into *m, all 64 bits, up to end or the first other byte; the
** address where it stopped. *wide tells that the value needs more than 64
** bits. Leading zeros do not count: only the significant digits are
** limited. */
template <int Base>
const char *read_whole(const char *p, const char *end, const Mark &separator, uint64_t *m,
                       bool *wide) {
  constexpr int64_t max_digits = Base == 10 ? 20 : 16;
  uint64_t value = 0;
  int64_t significant = 0;
  bool past = false;
  while (p < end) {
    const int d = digit_value(static_cast<unsigned char>(*p), Base);
    if (d < 0) {
      if (!separator.at(p, end)) break;
      p += separator.length;
      continue;
    }
    significant += static_cast<int64_t>(value != 0 || d != 0);
    if (Base == 10) {
      /* Only a twentieth significant digit can take the value past 64 bits. */
      past = past || (significant == max_digits &&
                      (__builtin_mul_overflow(value, uint64_t {10}, &value) ||
                       __builtin_add_overflow(value, static_cast<uint64_t>(d), &value)));
      if (significant < max_digits) value = value * 10 + static_cast<uint64_t>(d);
    } else {
      value = (value << 4) | static_cast<uint64_t>(d);
    }
    ++p;
  }
  *wide = past || significant > max_digits;
  *m = value;
  return p;
}

const char *read_whole(int base, const char *p, const char *end, const Mark &separator, uint64_t *m,
                       bool *wide) {
  return base == 10 ? read_whole<10>(p, end, separator, m, wide)
                    : read_whole<16>(p, end, separator, m, wide);
}

/* Whether [p, end) has the shape of an exponent: blanks, an optional
** sign, digits, blanks. rstol would stop at a blank and not look further. */
bool exponent_shape(const char *p, const char *end) {
  while (p < end && *p == ' ')
    ++p;
  if (p < end && (*p == '-' || *p == '+')) ++p;
  const char *digits = p;
  while (p < end && is_digit(*p))
    ++p;
  if (p == digits) return false;
  while (p < end && *p == ' ')
    ++p;
  return p == end;
}

/* The exponent text [p, end) read by rstol. Returns false when it is not
** of the shape of an exponent or rstol refuses it (beyond 32 bits). */
bool read_exponent(const char *p, const char *end, int32_t *exponent) {
  if (!exponent_shape(p, end)) return false;
  const size_t length = static_cast<size_t>(end - p);
  char local[local_exponent];
  std::string heap;
  const char *text = local;
  if (length < local_exponent) {
    std::memcpy(local, p, length);
    local[length] = '\0';
  } else {
    heap.assign(p, length);
    text = heap.c_str();
  }
  int32_t value = 0;
  if (rstol(text, &value) != 0 || value == INT32_MIN) return false;
  *exponent = value;
  return true;
}

/* Base-10 digits [int_first, int_end) and fraction [frac_first, frac_end)
** times 10^exponent, truncated toward zero, into *m. Returns 0, -1213 for
** a fraction character that is not a digit (or a bad integer character),
** or -1284 for a result of 2^63 or more. */
int scale_decimal(const char *int_first, const char *int_end, const char *frac_first,
                  const char *frac_end, int32_t exponent, const Mark &separator, uint64_t *m) {
  char kept[max_decimal_digits];
  int64_t significant = 0;
  auto keep = [&](int d) {
    if (significant == 0 && d == 0) return;
    if (significant < max_decimal_digits) kept[significant] = static_cast<char>(d);
    ++significant;
  };
  if (!scan_digits(int_first, int_end, 10, separator, keep)) return value_err_text;
  for (const char *p = frac_first; p < frac_end; ++p) {
    if (!is_digit(*p)) return value_err_text;
    keep(*p - '0');
  }
  /* Digits of the result before its decimal point. */
  const int64_t whole = significant + exponent - (frac_end - frac_first);
  if (significant == 0 || whole <= 0) {
    *m = 0;
    return 0;
  }
  if (whole > max_decimal_digits) return value_err_int8_overflow;
  uint64_t value = 0;
  for (int64_t i = 0; i < whole; ++i)
    value = value * 10 + (i < significant ? static_cast<uint64_t>(kept[i]) : 0);
  if (value >= int8_checked_limit) return value_err_int8_overflow;
  *m = value;
  return 0;
}

/* The text of a non-NULL value in base 10 or 16 into out (at least
** text_capacity bytes); its length. */
int format_value(const dvz_int8_t *v, char *out, int base) {
  const uint64_t m = int8_magnitude(v);
  const bool negative = v->sign < 0 && m != 0;
  char *p = out;
  if (base == 16) {
    /* Two's-complement pattern, always 16 digits. */
    const uint64_t pattern = negative ? 0 - m : m;
    *p++ = '0';
    *p++ = 'x';
    char digits[16];
    const auto written = std::to_chars(digits, digits + sizeof digits, pattern, 16).ptr - digits;
    std::memset(p, '0', static_cast<size_t>(16 - written));
    std::memcpy(p + (16 - written), digits, static_cast<size_t>(written));
    return 18;
  }
  if (negative) *p++ = '-';
  return static_cast<int>(std::to_chars(p, out + text_capacity, m).ptr - out);
}

}  // namespace

extern "C" {

/* length bytes of text to v. Empty or blank text: NULL and 0. Otherwise 0,
** -1213 malformed text (nothing written), -1284 overflow (nothing written)
** or a locale initialisation error. Base 10 truncates toward zero, the
** exponent applied to the whole number; base 16 reads a 64-bit
** two's-complement pattern, which a leading "-" then negates. */
int dvz_int8cvasc(const char *text, int length, dvz_int8_t *v) {
  const char *p = text;
  const char *end = text + std::max(length, 0);
  while (p < end && *p == ' ')
    ++p;
  if (p == end) {
    v->low = 0;
    v->high = 0;
    v->sign = 0;
    return 0;
  }
  /* The locale initialised, then its conventions loaded when they are not. */
  const int status = chkglsinit();
  if (status != 0) return status;
  const gls_lconv &lc = dvz_genlib::conventions();
  const Mark point = make_mark(lc.decimal_point, lc.decimal_point_len, sizeof lc.decimal_point);
  const Mark separator = make_mark(lc.thousands_sep, lc.thousands_sep_len, sizeof lc.thousands_sep);

  bool negative = false;
  if (*p == '-' || *p == '+') {
    negative = *p == '-';
    ++p;
  }
  if (p == end || (!is_digit(*p) && !point.at(p, end))) return value_err_text;
  int base = 10;
  if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    base = 16;
    p += 2;
  }

  /* Digits alone, perhaps with trailing blanks, take one pass. */
  uint64_t m = 0;
  bool wide = false;
  const char *stop = read_whole(base, p, end, separator, &m, &wide);
  const char *rest = stop;
  while (rest < end && *rest == ' ')
    ++rest;
  if (rest != end) {
    /* Where the number ends (the first "e" in base 10), and the last
    ** decimal point before that. */
    const char *number_end = end;
    const char *last_point = nullptr;
    for (const char *q = p; q < end; ++q) {
      if (base == 10 && (*q == 'e' || *q == 'E')) {
        number_end = q;
        break;
      }
      if (point.at(q, end)) last_point = q;
    }
    const bool has_exponent = number_end != end;
    int32_t exponent = 0;
    if (has_exponent && !read_exponent(number_end + 1, end, &exponent)) return value_err_text;
    while (number_end > p && number_end[-1] == ' ')
      --number_end;
    if (last_point != nullptr && last_point + point.length > number_end) last_point = nullptr;
    const char *int_end = last_point != nullptr ? last_point : number_end;
    if (has_exponent) {
      const char *frac_first = last_point != nullptr ? last_point + point.length : number_end;
      const int scaled = scale_decimal(p, int_end, frac_first, number_end, exponent, separator, &m);
      if (scaled != 0) return scaled;
      int8_store(v, m, negative);
      return 0;
    }
    /* The fraction is not read. */
    if (stop != int_end) return value_err_text;
  }
  if (wide) return value_err_int8_overflow;
  if (base == 16 && m >= int8_checked_limit) {
    /* The top bit set: a negative pattern, the top bit alone none. */
    if (m == int8_checked_limit) return value_err_int8_overflow;
    m = 0 - m;
    negative = !negative;
  } else if (m >= int8_checked_limit) {
    return value_err_int8_overflow;
  }
  int8_store(v, m, negative);
  return 0;
}

/* The text of v in base 16 (after "0x", 16 digits, the two's-complement
** pattern of a negative value) or else base 10, into buffer: text and
** terminator when it fits size; size "*" and -1207 when not; nothing for
** size 0. NULL: size blanks, no terminator, 0. */
int int8tostr(const dvz_int8_t *v, char *buffer, int size, int base) {
  if (v->sign == 0) {
    if (size > 0) std::memset(buffer, ' ', static_cast<size_t>(size));
    return 0;
  }
  if (size <= 0) return 0;
  char text[text_capacity];
  const int written = format_value(v, text, base == 16 ? 16 : 10);
  if (written > size) {
    std::memset(buffer, '*', static_cast<size_t>(size));
    return value_err_field_short;
  }
  std::memcpy(buffer, text, static_cast<size_t>(written));
  buffer[written] = '\0';
  return 0;
}

/* int8tostr, then blanks from the terminator up to size bytes for a
** non-NULL value that fitted. */
int int8toasc(const dvz_int8_t *v, char *buffer, int size, int base) {
  const int status = int8tostr(v, buffer, size, base);
  if (status != 0 || v->sign == 0 || size <= 0) return status;
  const size_t used = std::strlen(buffer);
  if (used < static_cast<size_t>(size))
    std::memset(buffer + used, ' ', static_cast<size_t>(size) - used);
  return 0;
}

int dvz_int8tostr(const dvz_int8_t *v, char *buffer, int size) {
  return int8tostr(v, buffer, size, 10);
}

int dvz_int8toasc(const dvz_int8_t *v, char *buffer, int size) {
  return int8toasc(v, buffer, size, 10);
}

}  // extern "C"
