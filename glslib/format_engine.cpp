/*
** The format-directive engine that the number, monetary and time code
** share: the "%" directive scanner, the integer field writer and reader,
** the conversion of a wide result into the caller's multibyte buffer, and
** the format expansion, which runs the time formatter in its size-only
** mode.
** Callers: number_format.cpp, the monetary code, the time formatter and
** parser. Calls: the number conversions and the character layer.
*/

#include "format_internal.h"
#include "gl_errors.h"
#include "gl_numbers.h"
#include "locale_internal.h"
#include "time_internal.h"

#include <cstring>

using namespace glslib;

namespace {

/* Adds a digit to a width or precision, saturating at the limit. */
int accumulate(int value, int digit) {
  if (value > (GL_FMT_NUMBER_LIMIT - digit) / 10) return GL_FMT_NUMBER_LIMIT;
  return value * 10 + digit;
}

/* Reads decimal digits at *p; -1 when none stands there. */
int read_number(gl_locale *loc, const gl_wchar **p) {
  int value = -1;
  for (int d; (d = digit_value(loc, **p)) >= 0; ++*p)
    value = accumulate(value < 0 ? 0 : value, d);
  return value;
}

bool is_ascii_letter(gl_wchar wc) { return (wc >= 'a' && wc <= 'z') || (wc >= 'A' && wc <= 'Z'); }

/* The sign text written before a number: NULL for none; blanks counts the
** blanks written in its place under the space flag. */
const gl_wchar *sign_text(gl_locale *loc, int negative, uint32_t flags, int *blanks) {
  *blanks = 0;
  if (negative) return loc->num_negative_sign.wc;
  if (flags & GL_FMT_PLUS) return loc->num_positive_sign.wc;
  if (flags & GL_FMT_SPACE) *blanks = wide_length(loc->num_positive_sign.wc);
  return nullptr;
}

}  // namespace

extern "C" {

int _gl_scan_format_modifiers(gl_locale *loc, const gl_wchar **cursor, int *justification,
                              gl_wchar *fill, int *width, int *precision, uint32_t *flags,
                              int *position, va_list *args) {
  const gl_wchar *p = *cursor;
  /* Position: digits and "$". */
  const gl_wchar *mark = p;
  int number = read_number(loc, &p);
  if (number >= 0 && *p == '$') {
    if (position != nullptr) *position = number;
    ++p;
  } else {
    p = mark;
  }
  /* Flags; a "0" ends them. */
  for (bool more = true; more;) {
    switch (*p) {
      case '\'':
        *flags |= GL_FMT_GROUP;
        break;
      case '-':
        *flags |= GL_FMT_LEFT;
        break;
      case '+':
        *flags |= GL_FMT_PLUS;
        break;
      case ' ':
        *flags |= GL_FMT_SPACE;
        break;
      case '#':
        *flags |= GL_FMT_ALT;
        break;
      case '0':
        if (!(*flags & GL_FMT_LEFT)) *flags |= GL_FMT_ZERO;
        more = false;
        break;
      default:
        more = false;
        continue;
    }
    ++p;
  }
  /* Width. */
  if (*p == '*') {
    if ((*flags & GL_FMT_ARGS) && args != nullptr)
      *width = va_arg(*args, int);
    else
      *flags |= GL_FMT_SUPPRESS;
    ++p;
  } else if ((number = read_number(loc, &p)) >= 0) {
    *width = number;
  }
  /* Precision. */
  if (*p == '.') {
    ++p;
    if (*p == '*') {
      if (!(*flags & GL_FMT_ARGS) || args == nullptr) {
        *cursor = p;
        store_error(loc, GL_EBADCHARS);
        return -1;
      }
      *precision = va_arg(*args, int);
      ++p;
    } else if ((number = read_number(loc, &p)) >= 0) {
      *precision = number;
    } else if (is_ascii_letter(*p)) {
      *precision = 0;
    } else {
      *cursor = p;
      store_error(loc, GL_EBADCHARS);
      return -1;
    }
  }
  if (*flags & GL_FMT_LEFT) {
    *justification = -1;
    *fill = ' ';
  }
  if (*flags & GL_FMT_ZERO) {
    *justification = 0;
    *fill = '0';
  }
  *cursor = p;
  return 0;
}

int _gl_format_decimal(gl_locale *loc, uint32_t magnitude, int negative, int base, int *count,
                       int size, gl_wchar **out, int width, int precision, uint32_t flags) {
  if (base < 2 || base > 36) {
    store_error(loc, GL_EBADARG);
    return -1;
  }
  const char *digit_chars = flags & GL_FMT_UPPER ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                 : "0123456789abcdefghijklmnopqrstuvwxyz";
  char reversed[33];
  int digits = 0;
  do {
    reversed[digits++] = digit_chars[magnitude % static_cast<uint32_t>(base)];
    magnitude /= static_cast<uint32_t>(base);
  } while (magnitude != 0);
  int64_t digit_width = digits; /* ASCII digits are one column each */
  int zero_width = char_width(loc, '0');
  int64_t p = precision;
  if ((flags & GL_FMT_ALT) && base == 8 && p <= digit_width) p = digit_width + zero_width;
  const gl_wchar *sep = loc->thousands_sep.wc;
  int sep_len = wide_length(sep);
  int separators =
      (flags & GL_FMT_GROUP) && sep_len > 0 ? separator_count(loc->grouping, digits, false) : 0;
  int64_t zeros = p > digits ? p - digits : 0;
  int64_t characters = digits + zeros + static_cast<int64_t>(separators) * sep_len;
  int64_t columns = digit_width + zeros * zero_width +
                    static_cast<int64_t>(separators) * text_width(loc, sep, -1);
  int blanks = 0;
  const gl_wchar *sign = sign_text(loc, negative, flags, &blanks);
  int sign_len = sign != nullptr ? wide_length(sign) : blanks;
  characters += sign_len;
  columns += sign != nullptr ? text_width(loc, sign, -1) : blanks;
  bool hex_prefix = (flags & GL_FMT_ALT) && base == 16;
  if (hex_prefix) {
    characters += 2;
    columns += 2;
  }
  int fill_width = 1;
  gl_wchar fill = (flags & GL_FMT_ZERO) ? '0' : ' ';
  if (fill == '0') fill_width = zero_width > 0 ? zero_width : 1;
  int64_t pads = 0;
  if (width >= columns) pads = (width - columns + fill_width / 2) / fill_width;
  if (*count + characters + pads > size) {
    store_error(loc, GL_E2BIG);
    return -1;
  }
  gl_wchar *o = *out;
  auto put_sign = [&]() {
    if (sign != nullptr)
      for (int i = 0; i < sign_len; ++i)
        *o++ = sign[i];
    else
      for (int i = 0; i < blanks; ++i)
        *o++ = ' ';
  };
  auto put_number = [&]() {
    if (hex_prefix) {
      *o++ = '0';
      *o++ = (flags & GL_FMT_UPPER) ? 'X' : 'x';
    }
    for (int64_t i = 0; i < zeros; ++i)
      *o++ = '0';
    /* Digits from the left; a separator after each group boundary. */
    int sizes[33];
    int groups = separators > 0 ? group_sizes(loc->grouping, digits, false, sizes, 33) : 0;
    bool boundary[33] = {};
    int at = digits;
    for (int g = 0; g < groups; ++g) {
      at -= sizes[g];
      if (at > 0) boundary[at] = true;
    }
    for (int i = digits - 1, index = 0; i >= 0; --i, ++index) {
      if (boundary[index])
        for (int k = 0; k < sep_len; ++k)
          *o++ = sep[k];
      *o++ = static_cast<gl_wchar>(static_cast<unsigned char>(reversed[i]));
    }
  };
  bool left = flags & GL_FMT_LEFT;
  if (left) {
    put_sign();
    put_number();
    for (int64_t i = 0; i < pads; ++i)
      *o++ = ' ';
  } else if (fill == '0') {
    put_sign();
    for (int64_t i = 0; i < pads; ++i)
      *o++ = '0';
    put_number();
  } else {
    for (int64_t i = 0; i < pads; ++i)
      *o++ = ' ';
    put_sign();
    put_number();
  }
  *count += static_cast<int>(o - *out);
  *out = o;
  return 0;
}

int _gl_scan_decimal(gl_locale *loc, uint32_t *value, int *negative, int base,
                     const gl_wchar **cursor, int width, int precision) {
  const gl_wchar *p = *cursor;
  *negative = 0;
  auto sign_length = [&](const gl_wchar *at) {
    if (*at == '-') return 1;
    int n = wide_length(loc->num_negative_sign.wc);
    if (n == 0) return 0;
    for (int i = 0; i < n; ++i)
      if (at[i] != loc->num_negative_sign.wc[i]) return 0;
    return n;
  };
  const gl_wchar *digits_end = nullptr;
  if (width <= 0) {
    int n = sign_length(p);
    if (n > 0) {
      *negative = 1;
      p += n;
    }
    gl_wchar *end = const_cast<gl_wchar *>(p);
    int before = load_error(loc);
    store_error(loc, 0);
    uint32_t v = gl_wcstoul(loc, p, &end, base, 0);
    int error = load_error(loc);
    if (error != 0 || end == p) {
      if (error == 0) store_error(loc, before);
      return -1;
    }
    store_error(loc, before);
    *value = v;
    digits_end = end;
  } else {
    int left = width;
    while (left > 0 && is_space(loc, *p)) {
      left -= char_width(loc, *p);
      ++p;
    }
    int n = sign_length(p);
    if (n > 0) {
      *negative = 1;
      left -= text_width(loc, p, n);
      p += n;
    }
    if (left <= 0) return -1;
    int copied = 0;
    const gl_wchar *q = p;
    while (left > 0 && *q != 0) {
      bool digit = *q >= '0' && *q <= '9';
      bool letter = base > 10 && ((*q >= 'a' && *q < 'a' + static_cast<gl_wchar>(base - 10)) ||
                                  (*q >= 'A' && *q < 'A' + static_cast<gl_wchar>(base - 10)));
      if (!digit && !letter) break;
      left -= char_width(loc, *q);
      ++q;
      ++copied;
    }
    gl_wchar *temporary = alloc_zeroed<gl_wchar>(static_cast<std::size_t>(copied) + 1);
    if (temporary == nullptr) {
      store_error(loc, GL_ENOMEM);
      return -1;
    }
    std::memcpy(temporary, p, static_cast<std::size_t>(copied) * sizeof(gl_wchar));
    gl_wchar *end = temporary;
    int before = load_error(loc);
    store_error(loc, 0);
    uint32_t v = gl_wcstoul(loc, temporary, &end, base, 0);
    int error = load_error(loc);
    int used = static_cast<int>(end - temporary);
    _gl_free_ptr(temporary);
    if (error != 0 || used == 0) {
      if (error == 0) store_error(loc, before);
      return -1;
    }
    store_error(loc, before);
    *value = v;
    digits_end = p + used;
  }
  /* The precision: digits converted, then blanks that follow count too. */
  int64_t missing = static_cast<int64_t>(precision) - (digits_end - p);
  for (const gl_wchar *b = digits_end; missing > 0 && is_space(loc, *b); ++b)
    --missing;
  if (missing > 0) return -1;
  *cursor = digits_end;
  return 0;
}

int _gl_get_mbstring(gl_locale *loc, unsigned char *out, int size, const gl_wchar *wcs) {
  int terminator = gl_mb_loc_min(loc);
  if (terminator < 1) terminator = 1;
  int bytes = 0;
  unsigned char one[4];
  for (const gl_wchar *p = wcs; *p != 0; ++p) {
    int n = 1;
    if (loc->single_byte) {
      one[0] = static_cast<unsigned char>(*p & 0xFF);
    } else {
      n = gl_full_wctomb(loc, one, *p);
      if (n < 0) {
        store_error(loc, GL_EILSEQ);
        return -1;
      }
    }
    if (bytes + n + terminator > size) {
      store_error(loc, GL_E2BIG);
      return -1;
    }
    std::memcpy(out + bytes, one, static_cast<std::size_t>(n));
    bytes += n;
  }
  if (bytes + terminator > size) {
    store_error(loc, GL_E2BIG);
    return -1;
  }
  std::memset(out + bytes, 0, static_cast<std::size_t>(terminator));
  return bytes;
}

int _gl_compare_wc_to_mb(const gl_wchar *text, const gl_wchar *symbol) {
  int n = 0;
  if (symbol == nullptr) return 0;
  for (; symbol[n] != 0; ++n)
    if (text[n] != symbol[n]) return -1;
  return n;
}

int gl_wcsfmtexpand(gl_locale *loc, int mode, const gl_wchar *format) {
  if (mode != 1 || format == nullptr) return -1;
  return time_format_size(loc, format, false);
}

int gl_mbsfmtexpand(gl_locale *loc, int mode, const unsigned char *format) {
  if (mode != 1 || format == nullptr) return -1;
  gl_wchar *wide = widen_copy(loc, format);
  if (wide == nullptr) return -1;
  int largest = time_format_size(loc, wide, true);
  _gl_free_ptr(wide);
  return largest;
}

}  // extern "C"
