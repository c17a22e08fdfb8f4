/*
** Locale-aware number conversions: text to integer and double with the
** locale's signs, decimal point and thousands separators (grouping
** checked), integers to text with optional grouping, and the small helpers
** that the number, monetary and time code share (grouping arithmetic,
** digit and space tests, widths, the ASCII helpers, the parsers' directive
** readers and the multibyte front of the formatters).
** Callers: the number formatter and parser, monetary parsing, the value
** library. Calls: the character layer and the platform's strtoul/strtod on
** ASCII copies.
**
** The digits themselves are converted by the platform on an ASCII copy of
** the number, held in fixed buffers: an integer of more than 256
** characters is refused (error 7), wherever it stands in a longer text.
*/

#include "format_internal.h"
#include "gl_errors.h"
#include "gl_numbers.h"
#include "locale_internal.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace glslib {

namespace {

/* Room of the ASCII copies: a number of 256 characters and a terminator. */
constexpr int ascii_room = 257;
/* An integer candidate longer than this is refused. */
constexpr int integer_limit = 256;

/* Sizes of the groups that follow one another from the right; 0 when no
** further separator stands. */
class GroupWalker {
 public:
  GroupWalker(const gl_grouping &grouping, bool money) : g_(grouping), money_(money) {}
  int next() {
    if (ended_) return 0;
    if (index_ >= g_.count) return repeat();
    int size = g_.sizes[index_];
    bool last = index_ == g_.count - 1;
    ++index_;
    if (money_) {
      if (size < 1) return stop();
    } else if (size == -1) {
      return stop();
    } else if (size == 0) {
      if (!last || previous_ < 1) return stop();
      return previous_;
    } else if (size < 0) {
      return stop();
    }
    previous_ = size;
    return size;
  }

 private:
  int repeat() { return previous_ > 0 ? previous_ : stop(); }
  int stop() {
    ended_ = true;
    return 0;
  }
  const gl_grouping &g_;
  bool money_;
  int index_ = 0;
  int previous_ = 0;
  bool ended_ = false;
};

const gl_text_pair *thousands_of(gl_locale *loc, int which) {
  if (which == 0) return &loc->thousands_sep;
  if (which == 1) return &loc->mon_thousands_sep;
  return nullptr;
}

const gl_text_pair *decimal_of(gl_locale *loc, int which) {
  if (which == 0) return &loc->decimal_point;
  if (which == 1) return &loc->mon_decimal_point;
  return nullptr;
}

/* Length of symbol when it stands at wcs (forward) or ends at wcs
** (backward, no character before first is read); else 0. */
int match_symbol(const gl_wchar *symbol, const gl_wchar *wcs, int direction,
                 const gl_wchar *first) {
  int n = wide_length(symbol);
  if (n == 0 || wcs == nullptr) return 0;
  if (direction == 0) {
    for (int i = 0; i < n; ++i)
      if (wcs[i] != symbol[i]) return 0;
    return n;
  }
  if (first != nullptr && wcs - first < n - 1) return 0;
  for (int i = 0; i < n; ++i)
    if (wcs[-i] != symbol[n - 1 - i]) return 0;
  return n;
}

/* Length of a non-empty sign text at wcs, else 0. */
int sign_at(const gl_text_pair &sign, const gl_wchar *wcs) {
  return match_symbol(sign.wc, wcs, 0, nullptr);
}

/* Value of an ASCII digit or letter in bases up to 36, else 99. */
int base_digit(gl_wchar wc) {
  if (wc >= '0' && wc <= '9') return static_cast<int>(wc - '0');
  if (wc >= 'a' && wc <= 'z') return static_cast<int>(wc - 'a') + 10;
  if (wc >= 'A' && wc <= 'Z') return static_cast<int>(wc - 'A') + 10;
  return 99;
}

const gl_wchar *skip_spaces(gl_locale *loc, const gl_wchar *p) {
  while (is_space(loc, *p))
    ++p;
  return p;
}

/* The result of reading an integer's text. */
struct IntegerText {
  char ascii[ascii_room] = {}; /* sign and digits, terminated */
  int after[ascii_room] = {}; /* wide characters up to each ASCII one, from the start */
  bool too_long = false;
  bool bad_grouping = false;
};

/* Copies the number candidate at p (white space and a sign already
** skipped by the caller are counted in lead): the digits valid in base
** (an "0x" prefix in base 0 or 16); with grouping, the NUMERIC separators
** between them, which must stand exactly at the group boundaries. */
void read_integer_text(gl_locale *loc, const gl_wchar *start, const gl_wchar *p, int base,
                       bool grouping, IntegerText &r) {
  int limit = base == 0 ? 16 : base;
  char digits[ascii_room];
  int digit_count = 0;
  int separators_after[ascii_room];
  const gl_wchar *q = p;
  int candidate = 0;
  if ((base == 0 || base == 16) && q[0] == '0' && (q[1] == 'x' || q[1] == 'X') &&
      base_digit(q[2]) < 16) {
    digits[digit_count] = '0';
    separators_after[digit_count] = 0;
    r.after[digit_count++] = static_cast<int>(q + 1 - start);
    digits[digit_count] = 'x';
    separators_after[digit_count] = 0;
    r.after[digit_count++] = static_cast<int>(q + 2 - start);
    q += 2;
    candidate = 2;
    limit = 16;
  }
  for (;;) {
    if (base_digit(*q) < limit) {
      if (++candidate > integer_limit) {
        r.too_long = true;
        return;
      }
      digits[digit_count] = static_cast<char>(*q);
      separators_after[digit_count] = 0;
      r.after[digit_count++] = static_cast<int>(q + 1 - start);
      ++q;
      continue;
    }
    int sep = grouping && digit_count > 0 ? match_symbol(loc->thousands_sep.wc, q, 0, nullptr) : 0;
    if (sep > 0 && base_digit(q[sep]) < limit) {
      candidate += sep;
      if (candidate > integer_limit) {
        r.too_long = true;
        return;
      }
      separators_after[digit_count - 1] = 1;
      q += sep;
      continue;
    }
    break;
  }
  if (grouping && digit_count > 0) {
    /* From the right: each completed group must be followed by a separator
    ** on its left, and no separator may stand inside a group. */
    int sizes[ascii_room];
    int groups = group_sizes(loc->grouping, digit_count, false, sizes, ascii_room);
    int boundary = digit_count;
    bool expected[ascii_room] = {};
    for (int i = 0; i < groups; ++i) {
      boundary -= sizes[i];
      if (boundary > 0) expected[boundary - 1] = true;
    }
    for (int i = 0; i < digit_count; ++i) {
      if ((separators_after[i] != 0) != expected[i]) {
        r.bad_grouping = true;
        return;
      }
    }
  }
  std::memcpy(r.ascii, digits, static_cast<std::size_t>(digit_count));
  r.ascii[digit_count] = 0;
}

/* Reads sign and digits for the integer conversions: the wide end and the
** platform's value (errno ERANGE on overflow), as unsigned magnitude. */
struct IntegerResult {
  bool failed = false; /* grouping or length: error 7 stored */
  bool overflow = false;
  bool negative = false;
  bool converted = false;
  unsigned long long magnitude = 0;
  const gl_wchar *end = nullptr;
};

IntegerResult convert_integer(gl_locale *loc, const gl_wchar *wcs, int base, bool grouping,
                              bool take_locale_sign) {
  IntegerResult out;
  out.end = wcs;
  if (wcs == nullptr) return out;
  if (base != 0 && (base < 2 || base > 36)) {
    store_error(loc, GL_EBADARG);
    out.failed = true;
    return out;
  }
  const gl_wchar *p = skip_spaces(loc, wcs);
  int n = 0;
  if (take_locale_sign && (n = sign_at(loc->num_negative_sign, p)) > 0) {
    out.negative = true;
  } else if (take_locale_sign && (n = sign_at(loc->num_positive_sign, p)) > 0) {
  } else if (*p == '-') {
    out.negative = true;
    n = 1;
  } else if (*p == '+') {
    n = 1;
  }
  p += n;
  IntegerText text;
  read_integer_text(loc, wcs, p, base, grouping, text);
  if (text.too_long || text.bad_grouping) {
    store_error(loc, GL_EINVAL);
    out.failed = true;
    return out;
  }
  if (text.ascii[0] == 0) return out;
  char *stop = nullptr;
  errno = 0;
  out.magnitude = std::strtoull(text.ascii, &stop, base);
  if (stop == text.ascii) return out;
  out.converted = true;
  out.overflow = errno == ERANGE || out.magnitude > 0xffffffffull;
  out.end = wcs + text.after[stop - text.ascii - 1];
  return out;
}

}  // namespace

int separator_count(const gl_grouping &grouping, int digits, bool money) {
  GroupWalker walk(grouping, money);
  int count = 0;
  for (int left = digits;;) {
    int size = walk.next();
    if (size <= 0 || left <= size) return count;
    ++count;
    left -= size;
  }
}

int group_sizes(const gl_grouping &grouping, int digits, bool money, int *sizes, int limit) {
  GroupWalker walk(grouping, money);
  int count = 0;
  for (int left = digits; count < limit;) {
    int size = walk.next();
    if (size <= 0 || left <= size) break;
    sizes[count++] = size;
    left -= size;
  }
  return count;
}

int digit_value(gl_locale *loc, gl_wchar wc) {
  if (loc->single_byte && wc > 255) {
    store_error(loc, GL_EILSEQ);
    return -1;
  }
  if (wc >= '0' && wc <= '9') return static_cast<int>(wc - '0');
  return -1;
}

bool is_space(gl_locale *loc, gl_wchar wc) {
  if (wc == 0) return false;
  if (wc == ' ' || (wc >= '\t' && wc <= '\r')) return true;
  if (wc < 128) return false;
  int saved = load_error(loc);
  bool space = _gl_im_iswctype(loc, wc, GL_CLASS_SPACE) != 0;
  store_error(loc, saved);
  return space;
}

int char_width(gl_locale *loc, gl_wchar wc) {
  if (wc >= 0x20 && wc < 0x7f) return 1;
  int saved = load_error(loc);
  int w = gl_wcwidth(loc, wc);
  store_error(loc, saved);
  return w < 0 ? 1 : w;
}

int text_width(gl_locale *loc, const gl_wchar *wcs, int n) {
  int total = 0;
  for (int i = 0; wcs != nullptr && (n < 0 || i < n) && wcs[i] != 0; ++i)
    total += char_width(loc, wcs[i]);
  return total;
}

int wide_length(const gl_wchar *wcs) { return gl_wcslen(wcs); }

gl_wchar *widen_copy(gl_locale *loc, const unsigned char *text) {
  if (text == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  /* Every character has at least one byte: bytes + 1 wide slots suffice. */
  std::size_t bytes = 0;
  while (gl_ismbsterm(loc, text + bytes) == 0)
    ++bytes;
  gl_wchar *wide = alloc_zeroed<gl_wchar>(bytes + 1);
  if (wide == nullptr) {
    store_error(loc, GL_ENOMEM);
    return nullptr;
  }
  if (loc->mbstowcs_fn == nullptr ||
      loc->mbstowcs_fn(loc, wide, text, static_cast<int>(bytes + 1)) < 0) {
    if (loc->mbstowcs_fn == nullptr) store_error(loc, GL_EILSEQ);
    _gl_free_ptr(wide);
    return nullptr;
  }
  return wide;
}

int format_multibyte(gl_locale *loc, unsigned char *out, int size, const unsigned char *format,
                     va_list *args, wide_format_fn worker) {
  if (out == nullptr || size < 1) {
    store_error(loc, GL_E2BIG);
    return -1;
  }
  gl_wchar *wide_out = alloc_zeroed<gl_wchar>(static_cast<std::size_t>(size) + 1);
  if (wide_out == nullptr) {
    store_error(loc, GL_ENOMEM);
    return -1;
  }
  gl_wchar *wide_format = widen_copy(loc, format);
  if (wide_format == nullptr) {
    _gl_free_ptr(wide_out);
    return -1;
  }
  int n = worker(loc, wide_out, size, wide_format, args);
  if (n >= 0) n = _gl_get_mbstring(loc, out, size, wide_out);
  _gl_free_ptr(wide_format);
  _gl_free_ptr(wide_out);
  return n;
}

int scan_parse_modifiers(gl_locale *loc, const gl_wchar **cursor, parse_modifiers *m) {
  gl_wchar fill = ' ';
  int justification = 0;
  return _gl_scan_format_modifiers(loc, cursor, &justification, &fill, &m->width, &m->precision,
                                   &m->flags, nullptr, nullptr);
}

bool scan_size_letter(gl_locale *loc, const gl_wchar **cursor, bool *is_long, bool *is_short) {
  const gl_wchar *f = *cursor;
  if (*f == 0) {
    store_error(loc, GL_ENOREGISTRY);
    return false;
  }
  *is_long = false;
  *is_short = false;
  if (*f == 'l' || *f == 'L') {
    *is_long = true;
    ++f;
  } else if (*f == 'h' || *f == 'H') {
    *is_short = true;
    ++f;
  }
  *cursor = f;
  if (*f == 0) {
    store_error(loc, GL_EDIRECTIVE);
    return false;
  }
  return true;
}

int multibyte_length(gl_locale *loc, const gl_wchar *wcs, int n) {
  int bytes = 0;
  for (int i = 0; i < n && wcs[i] != 0; ++i) {
    int saved = load_error(loc);
    int len = gl_wclen(loc, wcs[i]);
    store_error(loc, saved);
    bytes += len > 0 ? len : 1;
  }
  return bytes;
}

void str_reverse(const char *in, char *out) {
  std::size_t n = std::strlen(in);
  for (std::size_t i = 0; i < n; ++i)
    out[i] = in[n - 1 - i];
  out[n] = 0;
}

void long_base_str(char *out, uint32_t value, int base) {
  static const char digit_chars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  char reversed[33];
  int n = 0;
  do {
    reversed[n++] = digit_chars[value % static_cast<uint32_t>(base)];
    value /= static_cast<uint32_t>(base);
  } while (value != 0);
  reversed[n] = 0;
  str_reverse(reversed, out);
}

void str_to_wcs(const char *in, gl_wchar *out, int n) {
  int i = 0;
  for (; i < n - 1 && in[i] != 0; ++i)
    out[i] = static_cast<unsigned char>(in[i]);
  if (n > 0) out[i] = 0;
}

int add_grp_sep(gl_locale *loc, gl_wchar *wcs, int size, int negative) {
  const gl_wchar *sep = loc->thousands_sep.wc;
  int sep_len = wide_length(sep);
  int lead = negative ? 1 : 0;
  int length = wide_length(wcs);
  int digits = length - lead;
  int sizes[ascii_room];
  int groups = group_sizes(loc->grouping, digits, false, sizes, ascii_room);
  if (sep_len == 0 || groups == 0) return 0;
  int total = length + groups * sep_len;
  if (total + 1 > size) return -1;
  /* Right to left: each group, then a separator before it. */
  int from = length;
  int to = total;
  wcs[to] = 0;
  for (int g = 0; g < groups; ++g) {
    for (int i = 0; i < sizes[g]; ++i)
      wcs[--to] = wcs[--from];
    for (int i = sep_len - 1; i >= 0; --i)
      wcs[--to] = sep[i];
  }
  return 0;
}

}  // namespace glslib

using namespace glslib;

extern "C" {

int gl_iswgrpsymb(gl_locale *loc, const gl_wchar *wcs, int direction, int which) {
  const gl_text_pair *sep = thousands_of(loc, which);
  return sep == nullptr ? 0 : match_symbol(sep->wc, wcs, direction, nullptr);
}

int gl_iswcdecml(gl_locale *loc, const gl_wchar *wcs, int direction, int which) {
  const gl_text_pair *point = decimal_of(loc, which);
  return point == nullptr ? 0 : match_symbol(point->wc, wcs, direction, nullptr);
}

int gl_iswcexponent(const gl_wchar *wcs) {
  if (wcs == nullptr || (wcs[0] != 'E' && wcs[0] != 'e')) return 0;
  return wcs[1] == '+' || wcs[1] == '-' ? 2 : 1;
}

int gl_getDecimalCharIndex(const char *text) {
  int i = 0;
  while (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))
    ++i;
  if (text[i] == '-' || text[i] == '+') ++i;
  while (text[i] >= '0' && text[i] <= '9')
    ++i;
  return text[i] == '.' || text[i] == ',' ? i : -1;
}

int32_t gl_wcstol(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int base, int grouping) {
  IntegerResult r = convert_integer(loc, wcs, base, grouping != 0, true);
  if (end != nullptr) *end = const_cast<gl_wchar *>(r.end);
  if (r.failed) return 0x7fffffff;
  if (!r.converted) return 0;
  unsigned long long limit = r.negative ? 0x80000000ull : 0x7fffffffull;
  if (r.overflow || r.magnitude > limit) {
    store_error(loc, GL_ERANGE);
    return r.negative ? INT32_MIN : INT32_MAX;
  }
  return r.negative ? static_cast<int32_t>(-static_cast<int64_t>(r.magnitude))
                    : static_cast<int32_t>(r.magnitude);
}

uint32_t gl_wcstoul(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int base, int grouping) {
  IntegerResult r = convert_integer(loc, wcs, base, grouping != 0, false);
  if (end != nullptr) *end = const_cast<gl_wchar *>(r.end);
  if (r.failed) return 0x7fffffffu;
  if (!r.converted) return 0;
  if (r.overflow) {
    store_error(loc, GL_ERANGE);
    return 0xffffffffu;
  }
  uint32_t value = static_cast<uint32_t>(r.magnitude);
  return r.negative ? 0u - value : value;
}

}  // extern "C"

namespace {

/* Byte position in s of the wide position end within wide (the wide form
** of s). */
unsigned char *map_end(gl_locale *loc, const unsigned char *s, const gl_wchar *wide,
                       const gl_wchar *end) {
  return const_cast<unsigned char *>(s) + multibyte_length(loc, wide, static_cast<int>(end - wide));
}

/* The wide form of a non-empty multibyte number text, or NULL with error 6
** (empty) or the conversion's error. */
gl_wchar *widen_number(gl_locale *loc, const unsigned char *s) {
  if (s == nullptr || s[0] == 0) {
    store_error(loc, GL_ERANGE);
    return nullptr;
  }
  return widen_copy(loc, s);
}

}  // namespace

extern "C" {

int32_t gl_mbstol(gl_locale *loc, const unsigned char *s, unsigned char **end, int base,
                  int grouping) {
  if (end != nullptr) *end = const_cast<unsigned char *>(s);
  gl_wchar *wide = widen_number(loc, s);
  if (wide == nullptr) return 0x7fffffff;
  int saved = load_error(loc);
  store_error(loc, 0);
  gl_wchar *wend = wide;
  int32_t value = gl_wcstol(loc, wide, &wend, base, grouping);
  if (end != nullptr) *end = map_end(loc, s, wide, wend);
  _gl_free_ptr(wide);
  if (load_error(loc) == GL_ERANGE) return 0x7fffffff;
  if (load_error(loc) == 0) store_error(loc, saved);
  return value;
}

uint32_t gl_mbstoul(gl_locale *loc, const unsigned char *s, unsigned char **end, int base,
                    int grouping) {
  if (end != nullptr) *end = const_cast<unsigned char *>(s);
  gl_wchar *wide = widen_number(loc, s);
  if (wide == nullptr) return 0xffffffffu;
  int saved = load_error(loc);
  store_error(loc, 0);
  gl_wchar *wend = wide;
  uint32_t value = gl_wcstoul(loc, wide, &wend, base, grouping);
  if (end != nullptr) *end = map_end(loc, s, wide, wend);
  _gl_free_ptr(wide);
  if (load_error(loc) == GL_ERANGE) return 0xffffffffu;
  if (load_error(loc) == 0) store_error(loc, saved);
  return value;
}

double gl_wcstod(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int grouping) {
  return gl_wcstod_num_mon(loc, wcs, end, grouping, 0);
}

double gl_wcstod_num_mon(gl_locale *loc, const gl_wchar *wcs, gl_wchar **end, int grouping,
                         int which) {
  if (end != nullptr) *end = const_cast<gl_wchar *>(wcs);
  if (wcs == nullptr) return 0.0;
  const gl_text_pair *negative_sign = which == 1 ? &loc->negative_sign : &loc->num_negative_sign;
  const gl_text_pair *positive_sign = which == 1 ? &loc->positive_sign : &loc->num_positive_sign;
  const gl_text_pair *separator = thousands_of(loc, which);
  const gl_grouping &groups = which == 1 ? loc->mon_grouping : loc->grouping;

  const gl_wchar *p = skip_spaces(loc, wcs);
  bool negative = false;
  int n = 0;
  if ((n = sign_at(*negative_sign, p)) > 0) {
    negative = true;
  } else if (*p == '-') {
    negative = true;
    n = 1;
  } else if ((n = sign_at(*positive_sign, p)) > 0) {
  } else if (*p == '+') {
    n = 1;
  }
  p += n;

  /* The ASCII copy and, for each of its characters, the wide position
  ** after it. */
  HostVec<char> ascii;
  HostVec<const gl_wchar *> after;
  auto put = [&](char c, const gl_wchar *next) {
    if (!ascii.push(c) || !after.push(next)) {
      store_error(loc, GL_ENOMEM);
      return false;
    }
    return true;
  };
  if (gl_iswcdecml(loc, p, 0, which) == 0) {
    if (!grouping) {
      while (*p >= '0' && *p <= '9') {
        if (!put(static_cast<char>(*p), p + 1)) return 0.0;
        ++p;
      }
    } else {
      /* Digits and separators, at most 256 characters, then the grouping
      ** check from the right. */
      char digits[ascii_room];
      bool sep_after[ascii_room] = {};
      const gl_wchar *digit_end[ascii_room];
      int count = 0;
      int taken = 0;
      int sep_len = 0;
      for (;;) {
        if (*p >= '0' && *p <= '9') {
          if (++taken > integer_limit) {
            store_error(loc, GL_EINVAL);
            return 0.0;
          }
          digits[count] = static_cast<char>(*p);
          digit_end[count++] = p + 1;
          ++p;
        } else if (count > 0 && separator != nullptr &&
                   (sep_len = match_symbol(separator->wc, p, 0, nullptr)) > 0 &&
                   p[sep_len] >= '0' && p[sep_len] <= '9') {
          taken += sep_len;
          if (taken > integer_limit) {
            store_error(loc, GL_EINVAL);
            return 0.0;
          }
          sep_after[count - 1] = true;
          p += sep_len;
        } else {
          break;
        }
      }
      int sizes[ascii_room];
      int group_count = group_sizes(groups, count, which == 1, sizes, ascii_room);
      bool expected[ascii_room] = {};
      int boundary = count;
      for (int i = 0; i < group_count; ++i) {
        boundary -= sizes[i];
        if (boundary > 0) expected[boundary - 1] = true;
      }
      for (int i = 0; i < count; ++i) {
        if (sep_after[i] != expected[i]) {
          store_error(loc, GL_EINVAL);
          return 0.0;
        }
      }
      for (int i = 0; i < count; ++i)
        if (!put(digits[i], digit_end[i])) return 0.0;
    }
  }
  int point = gl_iswcdecml(loc, p, 0, which);
  if (point > 0) {
    if (!put('.', p + point)) return 0.0;
    p += point;
    while (*p >= '0' && *p <= '9') {
      if (!put(static_cast<char>(*p), p + 1)) return 0.0;
      ++p;
    }
  }
  int exponent = gl_iswcexponent(p);
  if (exponent > 0 && p[exponent] >= '0' && p[exponent] <= '9' && ascii.size() > 0) {
    for (int i = 0; i < exponent; ++i)
      if (!put(static_cast<char>(p[i]), p + i + 1)) return 0.0;
    p += exponent;
    while (*p >= '0' && *p <= '9') {
      if (!put(static_cast<char>(*p), p + 1)) return 0.0;
      ++p;
    }
  }
  if (!put(0, p)) return 0.0;
  /* The platform reads its own decimal point. */
  const char *platform_point = std::localeconv()->decimal_point;
  char native = platform_point != nullptr && platform_point[0] != 0 ? platform_point[0] : '.';
  for (std::size_t i = 0; i < ascii.size(); ++i)
    if (ascii[i] == '.') ascii[i] = native;
  char *stop = nullptr;
  errno = 0;
  double value = std::strtod(ascii.data(), &stop);
  std::size_t used = static_cast<std::size_t>(stop - ascii.data());
  if (used == 0) {
    if (wcs[0] != 0) store_error(loc, GL_ENOMATCH);
    return 0.0;
  }
  if (errno == ERANGE && std::isinf(value)) store_error(loc, GL_ERANGE);
  if (end != nullptr) *end = const_cast<gl_wchar *>(after[used - 1]);
  return negative ? -value : value;
}

double gl_mbstod(gl_locale *loc, const unsigned char *s, unsigned char **end, int grouping) {
  if (end != nullptr) *end = const_cast<unsigned char *>(s);
  gl_wchar *wide = widen_number(loc, s);
  if (wide == nullptr) return load_error(loc) == GL_ERANGE ? 2147483647.0 : 0.0;
  int saved = load_error(loc);
  store_error(loc, 0);
  gl_wchar *wend = wide;
  double value = gl_wcstod(loc, wide, &wend, grouping);
  if (end != nullptr) *end = map_end(loc, s, wide, wend);
  _gl_free_ptr(wide);
  if (load_error(loc) == GL_ERANGE) return 2147483647.0;
  if (load_error(loc) == 0) store_error(loc, saved);
  return value;
}

}  // extern "C"

namespace {

/* Integer to wide text: digits (and "-") of magnitude in base, grouped
** when asked; empty text when the base is outside 2-36 or it does not fit
** in size characters with the terminator. */
int integer_to_wide(gl_locale *loc, gl_wchar *out, int size, uint32_t magnitude, bool negative,
                    int base, bool grouping) {
  if (out == nullptr || size < 1) return 0;
  out[0] = 0;
  if (base < 2 || base > 36) return 0;
  char ascii[40];
  ascii[0] = '-';
  long_base_str(ascii + (negative ? 1 : 0), magnitude, base);
  int length = static_cast<int>(std::strlen(ascii));
  if (length + 1 > size) return 0;
  gl_wchar wide[ascii_room];
  str_to_wcs(ascii, wide, ascii_room);
  if (grouping) {
    if (add_grp_sep(loc, wide, ascii_room, negative ? 1 : 0) != 0) return 0;
    length = wide_length(wide);
    if (length + 1 > size) return 0;
  }
  std::memcpy(out, wide, static_cast<std::size_t>(length + 1) * sizeof(gl_wchar));
  return length;
}

int wide_to_mbs(gl_locale *loc, unsigned char *out, int size, const gl_wchar *wide) {
  if (out == nullptr || size < 1) return 0;
  int limit = size < 256 ? size : 256;
  int n = _gl_get_mbstring(loc, out, limit, wide);
  if (n < 0) {
    out[0] = 0;
    return 0;
  }
  return n;
}

}  // namespace

extern "C" {

int gl_ltowcs(gl_locale *loc, gl_wchar *out, int size, int32_t value, int base, int grouping) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  return integer_to_wide(loc, out, size, magnitude, value < 0, base, grouping != 0);
}

int gl_ultowcs(gl_locale *loc, gl_wchar *out, int size, uint32_t value, int base, int grouping) {
  return integer_to_wide(loc, out, size, value, false, base, grouping != 0);
}

int gl_ltombs(gl_locale *loc, unsigned char *out, int size, int32_t value, int base, int grouping) {
  gl_wchar wide[ascii_room];
  gl_ltowcs(loc, wide, ascii_room, value, base, grouping);
  return wide_to_mbs(loc, out, size, wide);
}

int gl_ultombs(gl_locale *loc, unsigned char *out, int size, uint32_t value, int base,
               int grouping) {
  gl_wchar wide[ascii_room];
  gl_ultowcs(loc, wide, ascii_room, value, base, grouping);
  return wide_to_mbs(loc, out, size, wide);
}

}  // extern "C"
