/*
** conventions.cpp: the numeric and monetary conventions of the current
** locale environment (os_lconv.h).
**
** rmoninit loads them once per environment: the locale's conventions
** (gl_localeconv) copied one character per text, then DBMONEY's currency
** symbols and decimal separator laid over them, then every text checked
** and measured so that readers can trust lengths and widths. The loaded
** flag in the state block keeps a later DBMONEY change from touching an
** environment already loaded.
**
** DBMONEY is "front[sep]back": the front symbol ends at the first "." or
** "," (which becomes the decimal separator), or after 28 bytes, when the
** next character is the separator whatever it is; digits stand as "*" in
** the front symbol and are dropped from the back symbol. A byte that is no
** character of the locale counts as a one-byte character.
*/
#include "os_lconv.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "gl_chars.h"
#include "os_env.h"

extern "C" {
gls_lconv g_lconv_default;
}

namespace {

/* The longest currency symbol DBMONEY may give, in bytes. */
constexpr size_t dbmoney_symbol_max = 28;

/* The byte length of the character at s (at most its remaining bytes and
** 4), or -1 when it is none of the locale's; s is not empty. Without a
** locale every byte is a character. */
int char_length(gl_locale *loc, const char *s) {
  if (loc == nullptr) return 1;
  const size_t left = strnlen(s, 4);
  const int n =
      gl_full_mblen(loc, reinterpret_cast<const unsigned char *>(s), static_cast<int>(left));
  return n > 0 ? n : -1;
}

/* Copies the first character of text (nothing when text is NULL, empty or
** starts with an invalid sequence) into out, NUL-terminated; its length. */
int32_t first_char(gl_locale *loc, const char *text, char *out) {
  out[0] = '\0';
  if (text == nullptr || text[0] == '\0') return 0;
  const int n = char_length(loc, text);
  if (n < 0) return 0;
  memcpy(out, text, static_cast<size_t>(n));
  out[n] = '\0';
  return n;
}

/* Copies at most size - 1 bytes of source (none for NULL) into out,
** NUL-terminated, the rest of out cleared. */
template <size_t size>
void copy_cut(const char *source, char (&out)[size]) {
  memset(out, 0, size);
  if (source != nullptr) memcpy(out, source, strnlen(source, size - 1));
}

/* A grouping keeps at most three sizes and a terminator; a currency symbol
** is copied whole when shorter than 65 bytes, else its first 64. */
void copy_grouping(const char *source, char (&out)[4]) { copy_cut(source, out); }
void copy_symbol(const char *source, char (&out)[65]) { copy_cut(source, out); }

const char *mb(const gl_text_pair &pair) { return pair.mb; }

bool is_empty(const char *text) { return text == nullptr || text[0] == '\0'; }

/* True when the n bytes at s are a digit of the locale (ASCII without one). */
bool is_digit(gl_locale *loc, const char *s, int n) {
  if (loc == nullptr) return n == 1 && isdigit(static_cast<unsigned char>(*s)) != 0;
  return _gl_im_ismctype(loc, reinterpret_cast<const unsigned char *>(s), GL_CLASS_DIGIT) != 0;
}

/* One DBMONEY character: its bytes (an invalid byte alone). */
int dbmoney_char(gl_locale *loc, const char *s) {
  const int n = char_length(loc, s);
  return n > 0 ? n : 1;
}

/* True when text is exactly one character of the locale. */
bool is_one_char(gl_locale *loc, const char *text) {
  const int n = char_length(loc, text);
  return n > 0 && text[n] == '\0';
}

/* A decimal point: "." when empty or invalid, else its length and width. */
void measure_point(gl_locale *loc, char *text, int32_t &length, int32_t &width) {
  if (text[0] == '\0' || !is_one_char(loc, text)) {
    strcpy(text, ".");
    length = 1;
    width = 1;
    return;
  }
  length = static_cast<int32_t>(strlen(text));
  width = loc != nullptr ? gl_mbwidth(loc, reinterpret_cast<const unsigned char *>(text)) : 1;
}

/* A separator: emptied when invalid; its length. */
void measure_separator(gl_locale *loc, char *text, int32_t &length) {
  if (text[0] != '\0' && !is_one_char(loc, text)) text[0] = '\0';
  length = static_cast<int32_t>(strlen(text));
}

/* A sign: fallback when invalid (an empty sign stays empty); its length. */
void measure_sign(gl_locale *loc, char *text, int32_t &length, const char *fallback) {
  if (text[0] != '\0' && !is_one_char(loc, text)) strcpy(text, fallback);
  length = static_cast<int32_t>(strlen(text));
}

void measure_all(gl_locale *loc, gls_lconv &lc) {
  measure_point(loc, lc.decimal_point, lc.decimal_point_len, lc.decimal_point_width);
  measure_point(loc, lc.mon_decimal_point, lc.mon_decimal_point_len, lc.mon_decimal_point_width);
  measure_separator(loc, lc.thousands_sep, lc.thousands_sep_len);
  measure_separator(loc, lc.mon_thousands_sep, lc.mon_thousands_sep_len);
  measure_separator(loc, lc.locale_decimal_point, lc.locale_decimal_point_len);
  measure_sign(loc, lc.positive_sign, lc.positive_sign_len, "+");
  measure_sign(loc, lc.negative_sign, lc.negative_sign_len, "-");
}

/* The currency symbols and decimal separator of DBMONEY laid over lc. */
void apply_dbmoney(gl_locale *loc, std::string_view dbmoney, new_gls_env &state, gls_lconv &lc) {
  char *front = state.front_currency;
  char *back = state.back_currency;
  memset(state.front_currency, 0, sizeof state.front_currency);
  memset(state.back_currency, 0, sizeof state.back_currency);
  const char *p = dbmoney.data();
  const char *end = p + dbmoney.size();

  auto set_point = [&](const char *c, int n) {
    memcpy(lc.mon_decimal_point, c, static_cast<size_t>(n));
    lc.mon_decimal_point[n] = '\0';
    memcpy(lc.decimal_point, c, static_cast<size_t>(n));
    lc.decimal_point[n] = '\0';
  };

  size_t front_len = 0;
  bool separated = false;
  while (p < end && front_len < dbmoney_symbol_max) {
    if (*p == '.' || *p == ',') {
      set_point(p, 1);
      ++p;
      separated = true;
      break;
    }
    const int n = dbmoney_char(loc, p);
    if (is_digit(loc, p, n)) {
      front[front_len++] = '*';
    } else if (front_len + static_cast<size_t>(n) <= dbmoney_symbol_max) {
      memcpy(front + front_len, p, static_cast<size_t>(n));
      front_len += static_cast<size_t>(n);
    }
    p += n;
  }
  if (!separated && front_len == dbmoney_symbol_max && p < end) {
    const int n = dbmoney_char(loc, p);
    set_point(p, n);
    p += n;
  }

  size_t back_len = 0;
  while (p < end) {
    const int n = dbmoney_char(loc, p);
    if (!is_digit(loc, p, n)) {
      if (back_len + static_cast<size_t>(n) > dbmoney_symbol_max) break;
      memcpy(back + back_len, p, static_cast<size_t>(n));
      back_len += static_cast<size_t>(n);
    }
    p += n;
  }

  lc.p_cs_precedes = front_len > 0 ? 1 : 0;
  if (front_len > 0) copy_symbol(front, lc.currency_symbol);
  if (back_len > 0) copy_symbol(back, lc.currency_symbol);
  const char *separator = strcmp(lc.mon_decimal_point, ",") == 0 ? "." : ",";
  strcpy(lc.thousands_sep, separator);
  strcpy(lc.mon_thousands_sep, separator);
}

/* Records DBMONEY as the state's copy unless it already holds that text. */
void record_dbmoney(new_gls_env &state, const char *dbmoney) {
  char *&copy = state.vars[gls_var_dbmoney];
  if (copy == dbmoney || (copy != nullptr && strcmp(copy, dbmoney) == 0)) return;
  char *fresh = strdup(dbmoney);
  if (fresh == nullptr) return;
  free(copy);
  copy = fresh;
}

}  // namespace

extern "C" {

void init_local_lconv(const glconv *conventions) {
  gls_env *env = CheckGlsEnv();
  if (conventions == nullptr || env == nullptr || env->state == nullptr ||
      env->state->lconv == nullptr)
    return;
  gl_locale *loc = env->locale;
  gls_lconv &lc = *env->state->lconv;
  const glconv &c = *conventions;

  lc.decimal_point_len = first_char(loc, mb(c.decimal_point), lc.decimal_point);
  lc.locale_decimal_point_len = first_char(loc, mb(c.decimal_point), lc.locale_decimal_point);
  lc.thousands_sep_len = first_char(loc, mb(c.thousands_sep), lc.thousands_sep);
  copy_grouping(c.grouping, lc.grouping);
  copy_symbol(mb(c.int_curr_symbol), lc.int_curr_symbol);
  copy_symbol(mb(c.currency_symbol), lc.currency_symbol);
  const char *mon_point =
      is_empty(mb(c.mon_decimal_point)) ? mb(c.decimal_point) : mb(c.mon_decimal_point);
  lc.mon_decimal_point_len = first_char(loc, mon_point, lc.mon_decimal_point);
  const char *mon_sep =
      is_empty(mb(c.mon_thousands_sep)) ? mb(c.thousands_sep) : mb(c.mon_thousands_sep);
  lc.mon_thousands_sep_len = first_char(loc, mon_sep, lc.mon_thousands_sep);
  copy_grouping(c.mon_grouping, lc.mon_grouping);
  lc.positive_sign_len = first_char(loc, mb(c.positive_sign), lc.positive_sign);
  lc.negative_sign_len = first_char(loc, mb(c.negative_sign), lc.negative_sign);
  lc.int_frac_digits = c.int_frac_digits;
  lc.frac_digits = c.frac_digits;
  lc.p_cs_precedes = c.p_cs_precedes;
  lc.p_sep_by_space = c.p_sep_by_space;
  lc.n_cs_precedes = c.n_cs_precedes;
  lc.n_sep_by_space = c.n_sep_by_space;
  lc.p_sign_posn = c.p_sign_posn;
  lc.n_sign_posn = c.n_sign_posn;
}

void getdbmoney(void) {
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->locale == nullptr) return;
  init_local_lconv(gl_localeconv(env->locale));
}

void rmoninit(int unused) {
  (void)unused;
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->state == nullptr || env->state->lconv == nullptr) return;
  new_gls_env &state = *env->state;
  if (state.lconv_loaded != 0) return;
  gls_lconv &lc = *state.lconv;
  gl_locale *loc = env->locale;
  /* Without a locale there are no conventions to lay DBMONEY over: loading
  ** now would leave the locale's own decimal point empty for the life of
  ** the environment. The defaults stand until the locale is initialised. */
  if (loc == nullptr) return;

  const char *dbmoney = ggetenv("DBMONEY");
  if (is_empty(dbmoney)) {
    getdbmoney();
    memset(state.front_currency, 0, sizeof state.front_currency);
    memset(state.back_currency, 0, sizeof state.back_currency);
    if (lc.p_cs_precedes != 0)
      copy_symbol(lc.currency_symbol, state.front_currency);
    else
      copy_symbol(lc.currency_symbol, state.back_currency);
    state.lconv_loaded = 2;
  } else {
    record_dbmoney(state, dbmoney);
    getdbmoney();
    /* The copy may have replaced the text ggetenv returned: read it there. */
    const char *text =
        state.vars[gls_var_dbmoney] != nullptr ? state.vars[gls_var_dbmoney] : dbmoney;
    apply_dbmoney(loc, text, state, lc);
    state.lconv_loaded = 1;
  }
  measure_all(loc, lc);
}

int genlcscale(void) {
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->state == nullptr || env->state->lconv == nullptr) return 0;
  if (env->state->lconv_loaded == 0) rmoninit(0);
  const int digits = env->state->lconv->frac_digits;
  return digits >= 32 ? 32 : digits;
}

void init_dflt_lconv(void) {
  gls_env *env = CheckGlsEnv();
  if (env == nullptr || env->state == nullptr || env->state->lconv == nullptr) return;
  gls_lconv &lc = *env->state->lconv;
  lc = gls_lconv {};
  strcpy(lc.decimal_point, ".");
  lc.decimal_point_len = 1;
  lc.decimal_point_width = 1;
  strcpy(lc.locale_decimal_point, ".");
  lc.locale_decimal_point_len = 1;
  strcpy(lc.mon_decimal_point, ".");
  lc.mon_decimal_point_len = 1;
  lc.mon_decimal_point_width = 1;
  /* Groups of three digits: the size as a byte, as the locale gives it. */
  lc.grouping[0] = 3;
  lc.mon_grouping[0] = 3;
  strcpy(lc.positive_sign, "+");
  lc.positive_sign_len = 1;
  strcpy(lc.negative_sign, "-");
  lc.negative_sign_len = 1;
  lc.p_cs_precedes = 1;
}

}  // extern "C"
