/*
** The number formatter and parser: printf-like and scanf-like over wide
** text, with the locale's digits' display widths, thousands separator and
** grouping, decimal point and sign strings; and their multibyte entries.
** Callers: the value library. Calls: the directive engine
** (format_engine.cpp), the number conversions and the platform's
** snprintf for the digits of doubles.
*/

#include "format_internal.h"
#include "gl_errors.h"
#include "gl_numbers.h"
#include "locale_internal.h"

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>

using namespace glslib;

namespace {

/* Room of the platform's digits of one double. */
constexpr int float_room = 512;

/* The output of a formatter: out holds size characters and a terminator. */
struct Output {
  gl_locale *loc;
  gl_wchar *out;
  int size;
  int count = 0;
  bool put(gl_wchar wc) {
    if (count + 1 > size) {
      store_error(loc, GL_E2BIG);
      return false;
    }
    out[count++] = wc;
    return true;
  }
  bool put_text(const gl_wchar *text, int n) {
    for (int i = 0; i < n; ++i)
      if (!put(text[i])) return false;
    return true;
  }
  bool put_ascii(const char *text) {
    for (; *text != 0; ++text)
      if (!put(static_cast<unsigned char>(*text))) return false;
    return true;
  }
};

/* Inf and NaN: padded to the width with blanks; "-Inf" is never padded. */
bool format_special(Output &o, double value, int width, uint32_t flags) {
  if (std::isinf(value) && value < 0) return o.put_ascii("-Inf");
  const char *text = std::isnan(value) ? "NaN" : "Inf";
  int pads = width > 3 ? width - 3 : 0;
  if (!(flags & GL_FMT_LEFT))
    for (int i = 0; i < pads; ++i)
      if (!o.put(' ')) return false;
  if (!o.put_ascii(text)) return false;
  if (flags & GL_FMT_LEFT)
    for (int i = 0; i < pads; ++i)
      if (!o.put(' ')) return false;
  return true;
}

/* Columns of the platform's text, its decimal point counting as the
** locale's. */
int printed_width(gl_locale *loc, const char *text, char native_point) {
  int columns = 0;
  for (; *text != 0; ++text)
    columns += *text == native_point ? text_width(loc, loc->decimal_point.wc, -1) : 1;
  return columns;
}

/* Appends the decimal digits of a non-negative value. */
int append_number(char *at, int value) {
  char reversed[12];
  int n = 0;
  do {
    reversed[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (int i = 0; i < n; ++i)
    at[i] = reversed[n - 1 - i];
  return n;
}

int print_magnitude(char *buffer, double magnitude, uint32_t flags, int width, int precision,
                    char conversion) {
  char format[40];
  int n = 0;
  format[n++] = '%';
  if (flags & GL_FMT_ALT) format[n++] = '#';
  if (flags & GL_FMT_LEFT) format[n++] = '-';
  if (flags & GL_FMT_ZERO) format[n++] = '0';
  if (width >= 1) n += append_number(format + n, width);
  if (precision >= 0) {
    format[n++] = '.';
    n += append_number(format + n, precision);
  }
  format[n++] = conversion;
  format[n] = 0;
  return std::snprintf(buffer, float_room, format, magnitude);
}

bool format_float(Output &o, double value, int width, int precision, uint32_t flags,
                  char conversion) {
  gl_locale *loc = o.loc;
  /* The platform's digits must fit its buffer: a width of 100 or more, or a
  ** precision the buffer cannot hold, is refused before printing. */
  if (width >= 100 || precision >= float_room - 128) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  bool negative = std::signbit(value);
  double magnitude = std::fabs(value);
  const gl_wchar *sep = loc->thousands_sep.wc;
  int sep_len = wide_length(sep);
  bool grouping = (flags & GL_FMT_GROUP) && sep_len > 0;
  int separators = 0;
  if (grouping && conversion == 'f') {
    int digits = 0;
    for (double m = magnitude; m >= 1 && digits < 400; m /= 10)
      ++digits;
    separators = separator_count(loc->grouping, digits, false);
  }
  const gl_wchar *positive_sign = loc->num_positive_sign.wc;
  const gl_wchar *negative_sign = loc->num_negative_sign.wc;
  int sign_width = 0;
  if (negative)
    sign_width = text_width(loc, negative_sign, -1);
  else if (flags & GL_FMT_PLUS)
    sign_width = text_width(loc, positive_sign, -1);
  else if (flags & GL_FMT_SPACE)
    sign_width = wide_length(positive_sign);
  int room = width - sign_width - separators * text_width(loc, sep, -1);
  /* A "0" pad is written by the platform after the sign, so it is part of
  ** the platform's width; blanks likewise. */
  const char *platform_point = std::localeconv()->decimal_point;
  char native = platform_point != nullptr && platform_point[0] != 0 ? platform_point[0] : '.';
  char text[float_room];
  int n = print_magnitude(text, magnitude, flags, room >= 1 ? room : 0, precision, conversion);
  if (n < 0 || n >= float_room) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  int printed = printed_width(loc, text, native);
  if (room >= 1 && printed > room) {
    n = print_magnitude(text, magnitude, flags, 2 * room - printed, precision, conversion);
    if (n < 0 || n >= float_room) {
      store_error(loc, GL_E2BIG);
      return false;
    }
  }
  const char *t = text;
  while (*t == ' ')
    if (!o.put(static_cast<gl_wchar>(*t++))) return false;
  int longest = wide_length(positive_sign);
  if (wide_length(negative_sign) > longest) longest = wide_length(negative_sign);
  const gl_wchar *sign = nullptr;
  if (negative)
    sign = negative_sign;
  else if (flags & GL_FMT_PLUS)
    sign = positive_sign;
  if (sign != nullptr) {
    for (int i = wide_length(sign); i < longest; ++i)
      if (!o.put(' ')) return false;
    if (!o.put_text(sign, wide_length(sign))) return false;
  } else if (flags & GL_FMT_SPACE) {
    for (int i = 0; i < longest; ++i)
      if (!o.put(' ')) return false;
  }
  /* Integer digits, grouped. */
  int digits = 0;
  while (t[digits] >= '0' && t[digits] <= '9')
    ++digits;
  int sizes[float_room];
  int groups = grouping ? group_sizes(loc->grouping, digits, false, sizes, float_room) : 0;
  bool boundary[float_room] = {};
  int at = digits;
  for (int g = 0; g < groups; ++g) {
    at -= sizes[g];
    if (at > 0) boundary[at] = true;
  }
  for (int i = 0; i < digits; ++i) {
    if (boundary[i] && !o.put_text(sep, sep_len)) return false;
    if (!o.put(static_cast<gl_wchar>(t[i]))) return false;
  }
  t += digits;
  if (*t == native || *t == '.') {
    const gl_wchar *point = loc->decimal_point.wc;
    if (wide_length(point) == 0) {
      store_error(loc, GL_EILSEQ);
      return false;
    }
    if (!o.put_text(point, wide_length(point))) return false;
    ++t;
  }
  while (*t >= '0' && *t <= '9')
    if (!o.put(static_cast<gl_wchar>(*t++))) return false;
  if (*t == 'e' || *t == 'E') {
    if (!o.put(static_cast<gl_wchar>(*t++))) return false;
    if (*t == '+' || *t == '-') {
      const gl_wchar *s = *t == '+' ? positive_sign : negative_sign;
      if (!o.put_text(s, wide_length(s))) return false;
      ++t;
    }
    while (*t >= '0' && *t <= '9')
      if (!o.put(static_cast<gl_wchar>(*t++))) return false;
  }
  while (*t != 0)
    if (!o.put(static_cast<gl_wchar>(static_cast<unsigned char>(*t++)))) return false;
  return true;
}

bool format_char(Output &o, gl_wchar wc, int width, gl_wchar fill, uint32_t flags) {
  gl_locale *loc = o.loc;
  int char_columns = char_width(loc, wc);
  int fill_width = char_width(loc, fill);
  if (fill_width < 1) fill_width = 1;
  int64_t pads = 0;
  if (width >= char_columns)
    pads = (static_cast<int64_t>(width) - char_columns + fill_width / 2) / fill_width;
  if (o.count + pads + 1 > o.size) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  if (flags & GL_FMT_LEFT) {
    o.put(wc);
    for (int64_t i = 0; i < pads; ++i)
      o.put(' ');
  } else {
    for (int64_t i = 0; i < pads; ++i)
      o.put(fill);
    o.put(wc);
  }
  return true;
}

bool format_string(Output &o, const gl_wchar *s, int width, int precision, gl_wchar fill,
                   uint32_t flags) {
  gl_locale *loc = o.loc;
  int length = wide_length(s);
  int taken = length;
  if (precision >= 0) {
    if (precision < taken) taken = precision;
  } else if (width >= 1 && width < taken) {
    taken = width;
  }
  int columns = text_width(loc, s, taken);
  int64_t pads = width > columns ? static_cast<int64_t>(width) - columns : 0;
  if (o.count + multibyte_length(loc, s, taken) + pads > o.size) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  if (flags & GL_FMT_LEFT) {
    if (!o.put_text(s, taken)) return false;
    for (int64_t i = 0; i < pads; ++i)
      if (!o.put(' ')) return false;
  } else {
    for (int64_t i = 0; i < pads; ++i)
      if (!o.put(fill)) return false;
    if (!o.put_text(s, taken)) return false;
  }
  return true;
}

/* Base of an integer conversion letter ("d", "i" and "u" 10, "o" 8, "x"
** and "X" 16, "b" 2, "q" 4); 0 for any other letter. */
int integer_base(gl_wchar conversion) {
  switch (conversion) {
    case 'd':
    case 'i':
    case 'u':
      return 10;
    case 'o':
      return 8;
    case 'x':
    case 'X':
      return 16;
    case 'b':
      return 2;
    case 'q':
      return 4;
    default:
      return 0;
  }
}

/* The worker of the formatters; -1 with the error word set. */
int gl_wcsfnum1(gl_locale *loc, gl_wchar *out, int size, const gl_wchar *format, va_list *args) {
  Output o {loc, out, size};
  if (format == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return -1;
  }
  const gl_wchar *f = format;
  auto fail = [&]() {
    out[o.count] = 0;
    return -1;
  };
  while (*f != 0) {
    if (*f != '%') {
      if (!o.put(*f++)) return fail();
      continue;
    }
    ++f;
    if (*f == '%') {
      if (!o.put('%')) return fail();
      ++f;
      continue;
    }
    gl_wchar fill = ' ';
    int precision = -1;
    int justification = 0;
    int width = 0;
    uint32_t flags = GL_FMT_ARGS;
    if (_gl_scan_format_modifiers(loc, &f, &justification, &fill, &width, &precision, &flags,
                                  nullptr, args) != 0)
      return fail();
    bool is_long = false;
    bool is_short = false;
    if (!scan_size_letter(loc, &f, &is_long, &is_short)) return fail();
    gl_wchar conversion = *f++;
    const int base = integer_base(conversion);
    const bool is_signed = conversion != 'u';
    if (conversion == 'X') flags |= GL_FMT_UPPER;
    gl_wchar *at = out + o.count;
    if (base != 0) {
      int raw = va_arg(*args, int);
      uint32_t magnitude;
      bool negative = false;
      if (!is_signed) {
        magnitude = is_short ? static_cast<uint16_t>(raw) : static_cast<uint32_t>(raw);
      } else {
        int32_t v = is_short ? static_cast<int16_t>(raw) : raw;
        negative = v < 0;
        magnitude = negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
      }
      if (_gl_format_decimal(loc, magnitude, negative ? 1 : 0, base, &o.count, size, &at, width,
                             precision, flags) != 0)
        return fail();
      continue;
    }
    switch (conversion) {
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G': {
        double value = va_arg(*args, double);
        bool ok = std::isfinite(value) ? format_float(o, value, width, precision, flags,
                                                      static_cast<char>(conversion))
                                       : format_special(o, value, width, flags);
        if (!ok) return fail();
        break;
      }
      case 'c': {
        gl_wchar wc = 0;
        if (is_long) {
          wc = va_arg(*args, gl_wchar);
        } else {
          const unsigned char *mb = va_arg(*args, const unsigned char *);
          if (mb == nullptr) return fail();
          int n = gl_full_mbtowc(loc, &wc, mb, 4);
          if (n <= 0) return fail();
        }
        if (!format_char(o, wc, width, fill, flags)) return fail();
        break;
      }
      case 's': {
        if (is_long) {
          const gl_wchar *s = va_arg(*args, const gl_wchar *);
          if (s == nullptr) {
            store_error(loc, GL_ENULLPTR);
            return fail();
          }
          if (!format_string(o, s, width, precision, fill, flags)) return fail();
        } else {
          const unsigned char *s = va_arg(*args, const unsigned char *);
          gl_wchar *wide = widen_copy(loc, s);
          if (wide == nullptr) return fail();
          bool ok = format_string(o, wide, width, precision, fill, flags);
          _gl_free_ptr(wide);
          if (!ok) return fail();
        }
        break;
      }
      default:
        store_error(loc, GL_EDIRECTIVE);
        return fail();
    }
  }
  out[o.count] = 0;
  return o.count;
}

/* Reads one double field at *cursor. 0, or -1 (error word cleared, or 6
** on overflow, 45 when the precision is not met). */
int scan_float(gl_locale *loc, double *value, const gl_wchar **cursor, int width, int precision,
               uint32_t flags) {
  const gl_wchar *p = *cursor;
  if (is_space(loc, *p)) return -1;
  gl_wchar *end = const_cast<gl_wchar *>(p);
  int before = load_error(loc);
  store_error(loc, 0);
  double v = 0;
  int used = 0;
  if (width <= 0) {
    v = gl_wcstod(loc, p, &end, (flags & GL_FMT_GROUP) ? 1 : 0);
    used = static_cast<int>(end - p);
  } else {
    int copied = 0;
    for (int left = width; p[copied] != 0 && char_width(loc, p[copied]) <= left; ++copied)
      left -= char_width(loc, p[copied]);
    gl_wchar *temporary = alloc_zeroed<gl_wchar>(static_cast<std::size_t>(copied) + 1);
    if (temporary == nullptr) {
      store_error(loc, GL_ENOMEM);
      return -1;
    }
    std::memcpy(temporary, p, static_cast<std::size_t>(copied) * sizeof(gl_wchar));
    gl_wchar *tend = temporary;
    v = gl_wcstod(loc, temporary, &tend, (flags & GL_FMT_GROUP) ? 1 : 0);
    used = static_cast<int>(tend - temporary);
    _gl_free_ptr(temporary);
  }
  int error = load_error(loc);
  if (error == GL_ERANGE) return -1;
  if (used == 0 || error != 0) {
    store_error(loc, 0);
    return -1;
  }
  store_error(loc, before);
  int64_t missing = static_cast<int64_t>(precision) - used;
  const gl_wchar *b = p + used;
  for (; missing > 0 && is_space(loc, *b); ++b)
    --missing;
  if (missing > 0) {
    store_error(loc, GL_EBADCHARS);
    return -1;
  }
  *value = v;
  *cursor = p + used;
  return 0;
}

/* The worker of the parsers: the assignments made, or -1. */
int gl_wcspnum1(gl_locale *loc, const gl_wchar *text, const gl_wchar *format, va_list *args) {
  if (format == nullptr || text == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return -1;
  }
  const gl_wchar *f = format;
  const gl_wchar *t = text;
  int assigned = 0;
  int saved = 0;
  while (*f != 0) {
    if (is_space(loc, *f)) {
      while (is_space(loc, *f))
        ++f;
      while (is_space(loc, *t))
        ++t;
      continue;
    }
    if (*f != '%') {
      if (*f != *t) {
        store_error(loc, GL_EDIRECTIVE);
        return -1;
      }
      ++f;
      ++t;
      continue;
    }
    if (f[1] == '%') {
      f += 2;
      if (*t != 0) ++t;
      continue;
    }
    ++f;
    parse_modifiers mods;
    if (scan_parse_modifiers(loc, &f, &mods) != 0) return -1;
    int width = mods.width;
    int precision = mods.precision;
    uint32_t flags = mods.flags;
    bool is_long = false;
    bool is_short = false;
    if (!scan_size_letter(loc, &f, &is_long, &is_short)) return -1;
    gl_wchar conversion = *f++;
    bool suppress = flags & GL_FMT_SUPPRESS;
    const int base = integer_base(conversion);
    const bool is_unsigned = conversion == 'u';
    switch (conversion) {
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
      case 's':
        break;
      case 'c':
        if (width > 1 && precision >= 0) {
          store_error(loc, GL_EDIRECTIVE);
          return -1;
        }
        break;
      default:
        if (base != 0) break;
        store_error(loc, GL_EDIRECTIVE);
        return -1;
    }
    if (!(flags & (GL_FMT_LEFT | GL_FMT_ZERO)))
      while (is_space(loc, *t))
        ++t;
    if (base != 0) {
      if (load_error(loc) != 0) saved = load_error(loc);
      store_error(loc, 0);
      uint32_t magnitude = 0;
      int negative = 0;
      if (_gl_scan_decimal(loc, &magnitude, &negative, base, &t, width, precision) != 0)
        return load_error(loc) == GL_ENOMEM ? -1 : assigned;
      if (!suppress) {
        if (is_unsigned && negative) {
          store_error(loc, GL_EDIRECTIVE);
          return -1;
        }
        uint32_t v = negative ? 0u - magnitude : magnitude;
        if (is_short)
          *va_arg(*args, short *) = static_cast<short>(v & 0xFFFF);
        else
          *va_arg(*args, int *) = static_cast<int>(v);
        ++assigned;
      }
      continue;
    }
    switch (conversion) {
      case 's':
      case 'c': {
        bool string = conversion == 's' || width > 1;
        if (suppress) {
          if (!string) {
            if (*t != 0) ++t;
          }
          break;
        }
        const gl_wchar *start = t;
        if (string) {
          int columns = 0;
          while (*t != 0 && (conversion == 'c' || !is_space(loc, *t)) &&
                 (width < 1 || columns < width)) {
            columns += char_width(loc, *t);
            ++t;
          }
        } else if (*t != 0) {
          ++t;
        }
        int n = static_cast<int>(t - start);
        if (is_long) {
          gl_wchar *dest = va_arg(*args, gl_wchar *);
          std::memcpy(dest, start, static_cast<std::size_t>(n) * sizeof(gl_wchar));
          if (string) dest[n] = 0;
        } else {
          unsigned char *dest = va_arg(*args, unsigned char *);
          int bytes = 0;
          for (int i = 0; i < n; ++i) {
            int len = 1;
            if (loc->single_byte) {
              if (start[i] > 255) {
                store_error(loc, GL_EILSEQ);
                return assigned;
              }
              dest[bytes] = static_cast<unsigned char>(start[i]);
            } else if ((len = gl_full_wctomb(loc, dest + bytes, start[i])) < 0) {
              store_error(loc, GL_EILSEQ);
              return assigned;
            }
            bytes += len;
          }
          if (string) gl_mbsterm(loc, dest + bytes);
        }
        ++assigned;
        break;
      }
      default: {
        if (load_error(loc) != 0) saved = load_error(loc);
        store_error(loc, 0);
        double value = 0;
        if (scan_float(loc, &value, &t, width, precision, flags) != 0)
          return load_error(loc) == GL_ENOMEM ? -1 : assigned;
        if (!suppress) {
          *va_arg(*args, double *) = value;
          ++assigned;
        }
        break;
      }
    }
  }
  if (saved != 0 && load_error(loc) == 0) store_error(loc, saved);
  return assigned;
}

}  // namespace

extern "C" {

int gl_wcsfnum(gl_locale *loc, gl_wchar *out, int size, const gl_wchar *format, ...) {
  if (out == nullptr || size < 0) {
    store_error(loc, GL_E2BIG);
    return -1;
  }
  va_list args;
  va_start(args, format);
  int n = gl_wcsfnum1(loc, out, size, format, &args);
  va_end(args);
  return n;
}

int gl_mbsfnum(gl_locale *loc, unsigned char *out, int size, const unsigned char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = format_multibyte(loc, out, size, format, &args, gl_wcsfnum1);
  va_end(args);
  return n;
}

int gl_wcspnum(gl_locale *loc, const gl_wchar *text, const gl_wchar *format, ...) {
  store_error(loc, 0);
  va_list args;
  va_start(args, format);
  int n = gl_wcspnum1(loc, text, format, &args);
  va_end(args);
  return n;
}

int gl_mbspnum(gl_locale *loc, const unsigned char *text, const unsigned char *format, ...) {
  gl_wchar *wide_text = widen_copy(loc, text);
  if (wide_text == nullptr) return -1;
  gl_wchar *wide_format = widen_copy(loc, format);
  if (wide_format == nullptr) {
    _gl_free_ptr(wide_text);
    return -1;
  }
  va_list args;
  va_start(args, format);
  int n = gl_wcspnum1(loc, wide_text, wide_format, &args);
  va_end(args);
  _gl_free_ptr(wide_format);
  _gl_free_ptr(wide_text);
  return n;
}

}  // extern "C"
