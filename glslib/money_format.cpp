/*
** Monetary formatting: amounts written by strfmon-like directives in the
** MONETARY conventions of a locale (currency symbols, decimal point,
** separators and grouping, sign strings, the placement of symbol, sign
** and blanks), and the layouts that monetary parsing matches too.
** Callers: the MONEY value type and the value conversions. Calls: the
** number helpers, the character layer and the platform's snprintf for
** the fixed-notation digits.
**
** The working texts of one directive hold at most 255 characters: a value,
** a left precision or a field width that would need more is refused with
** error 14 rather than cut.
*/

#include "format_internal.h"
#include "gl_errors.h"
#include "gl_money.h"
#include "locale_internal.h"

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace glslib;

namespace {

/* Longest working text of a directive. */
constexpr int working_limit = 255;

/* Layouts by key (sign_posn x 10 + sep_by_space): "(" "$" symbol, "v"
** value, "s" sign, "_" blank, ")". */
struct LayoutRow {
  int key;
  const char *symbol_first;
  const char *symbol_after;
};
constexpr LayoutRow layout_rows[] = {
    {0, "($v)", "(v$)"},  {2, "($v)", "(v$)"},  {1, "($_v)", "(v_$)"}, {10, "s$v", "sv$"},
    {11, "s$_v", "sv_$"}, {12, "s_$v", "sv$"},  {20, "$vs", "v$s"},    {21, "$_vs", "v_$s"},
    {22, "$vs", "v$_s"},  {30, "s$v", "vs$"},   {31, "s$_v", "v_s$"},  {32, "s_$v", "vs_$"},
    {40, "$sv", "v$s"},   {41, "$s_v", "v_$s"}, {42, "$_sv", "v$_s"},
};

int part_code(char c) {
  switch (c) {
    case '(':
      return GL_MON_OPEN;
    case '$':
      return GL_MON_SYMBOL;
    case 'v':
      return GL_MON_VALUE;
    case 's':
      return GL_MON_SIGN;
    case '_':
      return GL_MON_BLANK;
    default:
      return GL_MON_CLOSE;
  }
}

/* A wide text of at most working_limit characters. */
struct Working {
  gl_wchar text[working_limit + 1] = {};
  int length = 0;
  bool overflow = false;
  void put(gl_wchar wc) {
    if (length >= working_limit) {
      overflow = true;
      return;
    }
    text[length++] = wc;
    text[length] = 0;
  }
  void put_text(const gl_wchar *s) {
    for (int i = 0; s != nullptr && s[i] != 0; ++i)
      put(s[i]);
  }
};

}  // namespace

namespace glslib {

/* Digits of the magnitude rounded half up at r fraction digits from its
** six-digit fixed text: integer digits into whole, r digits into fraction.
** false when the text needs more than the working room. */
bool round_dval(double magnitude, int r, char *whole, char *fraction) {
  char text[working_limit + 64];
  if (std::isinf(magnitude)) return false;
  int n = std::isnan(magnitude) ? std::snprintf(text, sizeof text, "0.000000")
                                : std::snprintf(text, sizeof text, "%.6f", magnitude);
  if (n < 0 || n > working_limit) return false;
  const char *point = std::strchr(text, '.');
  int digits = point != nullptr ? static_cast<int>(point - text) : n;
  const char *frac = point != nullptr ? point + 1 : "";
  int frac_len = static_cast<int>(std::strlen(frac));
  /* The integer digits, the r kept fraction digits and the one after. */
  char all[2 * working_limit + 4];
  std::memcpy(all, text, static_cast<std::size_t>(digits));
  for (int i = 0; i <= r; ++i)
    all[digits + i] = i < frac_len ? frac[i] : '0';
  int kept = digits + r;
  if (all[kept] >= '5') {
    int i = kept - 1;
    for (; i >= 0 && all[i] == '9'; --i)
      all[i] = '0';
    if (i >= 0) {
      ++all[i];
    } else {
      std::memmove(all + 1, all, static_cast<std::size_t>(kept));
      all[0] = '1';
      ++digits;
    }
  }
  if (digits > working_limit) return false;
  std::memcpy(whole, all, static_cast<std::size_t>(digits));
  whole[digits] = 0;
  std::memcpy(fraction, all + digits, static_cast<std::size_t>(r));
  fraction[r] = 0;
  return true;
}

}  // namespace glslib

namespace {

/* Display widths of a layout's parts before and after the value. */
struct LayoutWidths {
  int before = 0;
  int after = 0;
};

LayoutWidths layout_widths(gl_locale *loc, const int *layout, const gl_wchar *symbol,
                           const gl_wchar *sign, bool value_starts_blank) {
  LayoutWidths w;
  bool after = false;
  for (int i = 0; layout[i] != 0; ++i) {
    int part = layout[i];
    int *slot = after ? &w.after : &w.before;
    switch (part) {
      case GL_MON_VALUE:
        after = true;
        break;
      case GL_MON_OPEN:
        *slot += 1;
        break;
      case GL_MON_CLOSE:
        if (after) *slot += 1;
        break;
      case GL_MON_SYMBOL:
        *slot += text_width(loc, symbol, -1);
        break;
      case GL_MON_SIGN:
        *slot += text_width(loc, sign, -1);
        break;
      case GL_MON_BLANK:
        if (!(!after && layout[i + 1] == GL_MON_VALUE && value_starts_blank)) *slot += 1;
        break;
      default:
        break;
    }
  }
  return w;
}

/* Parses the flags, width and precisions of one directive. */
struct Directive {
  gl_wchar fill = ' ';
  bool left = false;
  bool grouping = true;
  bool symbol = true;
  bool plus = false;
  int negative_rule = 0; /* 0 as the locale says, 1 '+', 2 '(' (the later) */
  int width = 0;
  int left_precision = -1;
  int right_precision = -1;
  gl_wchar conversion = 0;
};

int read_digits(gl_locale *loc, const gl_wchar **f) {
  int value = 0;
  for (int d; (d = digit_value(loc, **f)) >= 0; ++*f)
    value = value > (GL_FMT_NUMBER_LIMIT - d) / 10 ? GL_FMT_NUMBER_LIMIT : value * 10 + d;
  return value;
}

void read_directive(gl_locale *loc, const gl_wchar **cursor, Directive &d) {
  const gl_wchar *f = *cursor;
  for (bool more = true; more;) {
    switch (*f) {
      case '=':
        if (f[1] == 0) {
          more = false;
          continue;
        }
        d.fill = f[1];
        ++f;
        break;
      case '^':
        d.grouping = false;
        break;
      case '+':
        d.plus = true;
        d.negative_rule = 1;
        break;
      case '(':
        d.negative_rule = 2;
        break;
      case '!':
        d.symbol = false;
        break;
      case '-':
        d.left = true;
        break;
      default:
        more = false;
        continue;
    }
    ++f;
  }
  d.width = read_digits(loc, &f);
  if (*f == '#') {
    ++f;
    d.left_precision = read_digits(loc, &f);
  }
  if (*f == '.') {
    ++f;
    d.right_precision = read_digits(loc, &f);
  }
  d.conversion = *f;
  if (*f != 0) ++f;
  *cursor = f;
}

/* The text of one directive into out; false with the error word set. */
bool format_directive(gl_locale *loc, const Directive &d, double value, HostVec<gl_wchar> &out) {
  bool international = d.conversion == 'i';
  int r = d.right_precision;
  if (r < 0) {
    r = loc->mon_ints[international ? GL_INT_FRAC_DIGITS : GL_FRAC_DIGITS];
    if (r < 0 || r == GL_MON_NA) r = 2;
  }
  if (r > working_limit) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  char whole[working_limit + 2];
  char fraction[working_limit + 2];
  if (!round_dval(std::fabs(value), r, whole, fraction)) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  /* The integer part, grouped from the units. */
  const gl_wchar *sep = d.grouping ? loc->mon_thousands_sep.wc : nullptr;
  int sep_len = wide_length(sep);
  int digits = static_cast<int>(std::strlen(whole));
  int sizes[working_limit + 1];
  int groups = sep_len > 0 ? group_sizes(loc->mon_grouping, digits, true, sizes, working_limit) : 0;
  bool boundary[working_limit + 2] = {};
  for (int g = 0, at = digits; g < groups; ++g) {
    at -= sizes[g];
    if (at > 0) boundary[at] = true;
  }
  Working integer;
  for (int i = 0; i < digits; ++i) {
    if (boundary[i]) integer.put_text(sep);
    integer.put(static_cast<unsigned char>(whole[i]));
  }
  /* The left precision's fill. */
  Working text;
  if (d.left_precision >= 0) {
    if (d.left_precision > working_limit) {
      store_error(loc, GL_E2BIG);
      return false;
    }
    int pad =
        d.left_precision +
        (sep_len > 0 ? separator_count(loc->mon_grouping, d.left_precision, true) * sep_len : 0) -
        integer.length;
    for (int i = 0; i < pad; ++i)
      text.put(d.fill);
  }
  text.put_text(integer.text);
  if (r > 0) text.put_text(loc->mon_decimal_point.wc);
  for (int i = 0; i < r; ++i)
    text.put(static_cast<unsigned char>(fraction[i]));
  if (integer.overflow || text.overflow) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  const gl_wchar *symbol = nullptr;
  if (d.symbol) symbol = international ? loc->int_curr_symbol.wc : loc->currency_symbol.wc;

  int p_posn = loc->mon_ints[GL_P_SIGN_POSN];
  int n_posn = loc->mon_ints[GL_N_SIGN_POSN];
  if (d.plus && p_posn == 0) p_posn = 1;
  if (d.negative_rule == 1 && n_posn == 0) n_posn = 1;
  if (d.negative_rule == 2) n_posn = 0;
  int positive_layout[7];
  int negative_layout[7];
  mon_mask(positive_layout, loc->mon_ints[GL_P_CS_PRECEDES], p_posn,
           loc->mon_ints[GL_P_SEP_BY_SPACE]);
  mon_mask(negative_layout, loc->mon_ints[GL_N_CS_PRECEDES], n_posn,
           loc->mon_ints[GL_N_SEP_BY_SPACE]);

  bool positive = value >= 0;
  const int *layout = positive ? positive_layout : negative_layout;
  const gl_wchar *sign =
      positive ? (d.plus ? loc->positive_sign.wc : nullptr) : loc->negative_sign.wc;
  if (layout[0] == 0) return true;
  bool starts_blank = text.length > 0 && is_space(loc, text.text[0]);

  LayoutWidths align;
  bool aligned = d.left_precision >= 0;
  if (aligned) {
    LayoutWidths pw =
        layout_widths(loc, positive_layout, symbol, loc->positive_sign.wc, starts_blank);
    LayoutWidths nw =
        layout_widths(loc, negative_layout, symbol, loc->negative_sign.wc, starts_blank);
    align.before = pw.before > nw.before ? pw.before : nw.before;
    align.after = pw.after > nw.after ? pw.after : nw.after;
  }
  LayoutWidths own = layout_widths(loc, layout, symbol, sign, starts_blank);

  HostVec<gl_wchar> assembled;
  bool ok = true;
  auto put = [&](gl_wchar wc) { ok = ok && assembled.push(wc); };
  auto put_text = [&](const gl_wchar *s) {
    for (int i = 0; s != nullptr && s[i] != 0; ++i)
      put(s[i]);
  };
  if (aligned)
    for (int i = own.before; i < align.before; ++i)
      put(' ');
  for (int i = 0; layout[i] != 0; ++i) {
    switch (layout[i]) {
      case GL_MON_OPEN:
        put('(');
        break;
      case GL_MON_CLOSE:
        put(')');
        break;
      case GL_MON_SYMBOL:
        put_text(symbol);
        break;
      case GL_MON_SIGN:
        put_text(sign);
        break;
      case GL_MON_BLANK:
        if (!(layout[i + 1] == GL_MON_VALUE && starts_blank)) put(' ');
        break;
      case GL_MON_VALUE:
        put_text(text.text);
        break;
      default:
        break;
    }
  }
  if (aligned)
    for (int i = own.after; i < align.after; ++i)
      put(' ');
  if (!ok) {
    store_error(loc, GL_ENOMEM);
    return false;
  }
  /* The field width: blanks, never the fill character. */
  int columns = text_width(loc, assembled.data(), static_cast<int>(assembled.size()));
  int64_t pads = d.width > columns ? static_cast<int64_t>(d.width) - columns : 0;
  if (pads > working_limit) {
    store_error(loc, GL_E2BIG);
    return false;
  }
  if (!d.left)
    for (int64_t i = 0; i < pads; ++i)
      ok = ok && out.push(' ');
  for (std::size_t i = 0; i < assembled.size(); ++i)
    ok = ok && out.push(assembled[i]);
  if (d.left)
    for (int64_t i = 0; i < pads; ++i)
      ok = ok && out.push(' ');
  if (!ok) {
    store_error(loc, GL_ENOMEM);
    return false;
  }
  return true;
}

}  // namespace

namespace glslib {

void mon_mask(int *layout, int cs_precedes, int sign_posn, int sep_by_space) {
  layout[0] = 0;
  if (cs_precedes != 0 && cs_precedes != 1) return;
  if (sign_posn < 0 || sign_posn > 4 || sep_by_space < 0 || sep_by_space > 2) return;
  int key = sign_posn * 10 + sep_by_space;
  for (const LayoutRow &row : layout_rows) {
    if (row.key != key) continue;
    const char *parts = cs_precedes == 1 ? row.symbol_first : row.symbol_after;
    int n = 0;
    for (; parts[n] != 0; ++n)
      layout[n] = part_code(parts[n]);
    layout[n] = 0;
    return;
  }
}

/* The worker of the formatters: characters written, or -1. */
int gl_wcsfmon1(gl_locale *loc, gl_wchar *out, int size, const gl_wchar *format, va_list *args) {
  if (format == nullptr || out == nullptr) {
    store_error(loc, GL_ENULLPTR);
    return -1;
  }
  int count = 0;
  out[0] = 0;
  for (const gl_wchar *f = format; *f != 0;) {
    if (*f != '%' || f[1] == '%') {
      if (count + 2 > size) {
        store_error(loc, GL_E2BIG);
        return -1;
      }
      out[count++] = *f;
      out[count] = 0;
      f += *f == '%' ? 2 : 1;
      continue;
    }
    ++f;
    Directive d;
    read_directive(loc, &f, d);
    if (d.conversion != 'i' && d.conversion != 'n') {
      store_error(loc, GL_EMONCONV);
      return -1;
    }
    double value = va_arg(*args, double);
    HostVec<gl_wchar> text;
    if (!format_directive(loc, d, value, text)) return -1;
    if (static_cast<int64_t>(count) + static_cast<int64_t>(text.size()) + 1 > size) {
      store_error(loc, GL_E2BIG);
      return -1;
    }
    for (std::size_t i = 0; i < text.size(); ++i)
      out[count++] = text[i];
    out[count] = 0;
  }
  return count;
}

}  // namespace glslib

extern "C" {

int gl_wcsfmon(gl_locale *loc, gl_wchar *buffer, int size, const gl_wchar *format, ...) {
  if (buffer == nullptr || size < 1) {
    store_error(loc, GL_E2BIG);
    return -1;
  }
  va_list args;
  va_start(args, format);
  int n = gl_wcsfmon1(loc, buffer, size, format, &args);
  va_end(args);
  return n;
}

int gl_mbsfmon(gl_locale *loc, unsigned char *buffer, int size, const unsigned char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = format_multibyte(loc, buffer, size, format, &args, gl_wcsfmon1);
  va_end(args);
  return n;
}

}  // extern "C"
