/*
** Monetary parsing: amounts read back by strfmon-like directives, each
** matched against the locale's positive and negative layouts (currency
** symbol, sign string, blanks, parentheses) with the monetary number
** conversion for the value.
** Callers: the MONEY value type. Calls: the directive scanner, the number
** conversions and the layouts of money_format.cpp.
*/

#include "format_internal.h"
#include "gl_errors.h"
#include "gl_money.h"
#include "gl_numbers.h"
#include "locale_internal.h"

#include <cstring>

using namespace glslib;

namespace {

/* The outcome of matching one layout. */
struct Match {
  bool found = false;
  double value = 0;
  const gl_wchar *end = nullptr;
};

/* Walks layout over text until either ends; found when a value was read.
** The error word is left as it was. */
Match mon_maskmatch(gl_locale *loc, const int *layout, const gl_wchar *text, const gl_wchar *symbol,
                    const gl_wchar *sign, bool grouping) {
  Match m;
  const gl_wchar *p = text;
  for (int i = 0; layout[i] != 0 && *p != 0; ++i) {
    switch (layout[i]) {
      case GL_MON_OPEN:
      case GL_MON_CLOSE:
        if (*p != (layout[i] == GL_MON_OPEN ? '(' : ')')) return Match {};
        ++p;
        break;
      case GL_MON_SYMBOL: {
        if (symbol == nullptr) return Match {};
        int n = _gl_compare_wc_to_mb(p, symbol);
        if (n > 0) p += n;
        break;
      }
      case GL_MON_VALUE: {
        int saved = load_error(loc);
        store_error(loc, 0);
        gl_wchar *end = const_cast<gl_wchar *>(p);
        double v = gl_wcstod_num_mon(loc, p, &end, grouping ? 1 : 0, 1);
        bool clean = load_error(loc) == 0;
        store_error(loc, saved);
        if (end == p || !clean) return Match {};
        m.found = true;
        m.value = v;
        p = end;
        break;
      }
      case GL_MON_SIGN: {
        if (sign == nullptr || sign[0] == 0) break;
        int n = _gl_compare_wc_to_mb(p, sign);
        if (n < 0) return Match {};
        p += n;
        break;
      }
      case GL_MON_BLANK:
        if (!is_space(loc, *p)) return Match {};
        ++p;
        break;
      default:
        break;
    }
  }
  m.end = p;
  return m;
}

/* The worker of the parsers: the position after the last character
** consumed, or NULL. */
const gl_wchar *gl_wcspmon1(gl_locale *loc, const gl_wchar *text, const gl_wchar *format,
                            va_list *args) {
  if (text == nullptr || format == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return nullptr;
  }
  const gl_wchar *t = text;
  const gl_wchar *f = format;
  while (*f != 0) {
    if (is_space(loc, *f)) {
      while (is_space(loc, *f))
        ++f;
      while (is_space(loc, *t))
        ++t;
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      if (*t != *f) {
        store_error(loc, GL_EDIRECTIVE);
        return nullptr;
      }
      f += *f == '%' ? 2 : 1;
      ++t;
      continue;
    }
    ++f;
    parse_modifiers mods;
    if (scan_parse_modifiers(loc, &f, &mods) != 0) return nullptr;
    int width = mods.width;
    uint32_t flags = mods.flags;
    if (*f == 0) {
      store_error(loc, GL_EDIRECTIVE);
      return nullptr;
    }
    if (!(flags & (GL_FMT_LEFT | GL_FMT_ZERO)))
      while (is_space(loc, *t))
        ++t;
    gl_wchar conversion = *f++;
    if (conversion != 'i' && conversion != 'n') {
      store_error(loc, GL_EDIRECTIVE);
      return nullptr;
    }
    const gl_wchar *symbol = conversion == 'i' ? loc->int_curr_symbol.wc : loc->currency_symbol.wc;
    int positive_layout[7];
    int negative_layout[7];
    mon_mask(positive_layout, loc->mon_ints[GL_P_CS_PRECEDES], loc->mon_ints[GL_P_SIGN_POSN],
             loc->mon_ints[GL_P_SEP_BY_SPACE]);
    mon_mask(negative_layout, loc->mon_ints[GL_N_CS_PRECEDES], loc->mon_ints[GL_N_SIGN_POSN],
             loc->mon_ints[GL_N_SEP_BY_SPACE]);
    if (positive_layout[0] == 0 || negative_layout[0] == 0) return nullptr;
    /* With a width, only the characters within it take part. */
    gl_wchar *limited = nullptr;
    const gl_wchar *field = t;
    if (width > 0) {
      int n = 0;
      for (int columns = 0; t[n] != 0 && n < width; ++n) {
        columns += char_width(loc, t[n]);
        if (columns > width) break;
      }
      limited = alloc_zeroed<gl_wchar>(static_cast<std::size_t>(n) + 1);
      if (limited == nullptr) {
        store_error(loc, GL_ENOMEM);
        return nullptr;
      }
      std::memcpy(limited, t, static_cast<std::size_t>(n) * sizeof(gl_wchar));
      field = limited;
    }
    bool grouping = flags & GL_FMT_GROUP;
    Match positive =
        mon_maskmatch(loc, positive_layout, field, symbol, loc->positive_sign.wc, grouping);
    Match negative =
        mon_maskmatch(loc, negative_layout, field, symbol, loc->negative_sign.wc, grouping);
    if (positive.found && positive.value < 0) positive.found = false;
    if (negative.found && negative.value < 0) negative.found = false;
    const gl_wchar *consumed_end = nullptr;
    double value = 0;
    bool retry_ends = false;
    if (positive.found && (!negative.found || positive.end >= negative.end)) {
      value = positive.value;
      consumed_end = positive.end;
    } else if (negative.found) {
      value = -negative.value;
      consumed_end = negative.end;
    } else {
      Match bare = mon_maskmatch(loc, positive_layout, field, symbol, nullptr, grouping);
      if (bare.found && bare.value >= 0) {
        value = bare.value;
        consumed_end = bare.end;
        retry_ends = true;
      }
    }
    int consumed = consumed_end != nullptr ? static_cast<int>(consumed_end - field) : 0;
    _gl_free_ptr(limited);
    if (consumed_end == nullptr) {
      store_error(loc, GL_EBADARG);
      return nullptr;
    }
    *va_arg(*args, double *) = value;
    t += consumed;
    if (retry_ends) return t;
  }
  return t;
}

}  // namespace

extern "C" {

gl_wchar *gl_wcspmon(gl_locale *loc, const gl_wchar *text, const gl_wchar *format, ...) {
  va_list args;
  va_start(args, format);
  const gl_wchar *end = gl_wcspmon1(loc, text, format, &args);
  va_end(args);
  return const_cast<gl_wchar *>(end);
}

unsigned char *gl_mbspmon(gl_locale *loc, const unsigned char *text, const unsigned char *format,
                          ...) {
  gl_wchar *wide_text = widen_copy(loc, text);
  if (wide_text == nullptr) return nullptr;
  gl_wchar *wide_format = widen_copy(loc, format);
  if (wide_format == nullptr) {
    _gl_free_ptr(wide_text);
    return nullptr;
  }
  va_list args;
  va_start(args, format);
  const gl_wchar *end = gl_wcspmon1(loc, wide_text, wide_format, &args);
  va_end(args);
  unsigned char *result = nullptr;
  if (end != nullptr)
    result = const_cast<unsigned char *>(text) +
             multibyte_length(loc, wide_text, static_cast<int>(end - wide_text));
  _gl_free_ptr(wide_format);
  _gl_free_ptr(wide_text);
  return result;
}

}  // extern "C"
