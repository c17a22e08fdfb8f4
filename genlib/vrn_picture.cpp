/*
** Varnholt-style format pictures (YYYY, MM, HH24 and the like) translated
** into the time directives of the locale library's formatter. Nothing in
** the client library calls it; it is kept for callers of the value library.
**
** A picture is read as runs of punctuation (copied), quoted text (copied
** without its quotes) and elements, each element replaced by its directive
** from conv_tbl. The translation grows in a buffer of its own and is
** copied to the caller's output only when it fits there whole.
*/
#include <algorithm>
#include <cstring>
#include <string_view>

#include "gen_dtformat.h"
#include "gl_chars.h"
#include "gl_locale.h"
#include "growing_text.h"
#include "os_glsenv.h"

namespace {

using dvz_genlib::growing_text;

/* An element and its directive, in matching order. */
struct conversion {
  const char *element;
  const char *directive;
};
constexpr conversion conv_tbl[] = {
    {"YYYY", "%iY"}, {"YY", "%iy"},  {"RR", "%iy"}, {"MM", "%m"}, {"MONTH", "%B"}, {"MON", "%b"},
    {"DAY", "%A"},   {"DD", "%e"},   {"DY", "%a"},  {"D", "%w"},  {"AM", "%p"},    {"PM", "%p"},
    {"HH12", "%I"},  {"HH24", "%H"}, {"HH", "%I"},  {"MI", "%M"}, {"SS", "%S"},
};

/* Elements without an equivalent, compared over their stored length. */
struct no_equivalent {
  const char *element;
  int length;
};
constexpr no_equivalent no_equiv_tbl[] = {
    {"CC", 2},   {"SCC", 3},   {"SYYYY", 5}, {"Y", 1},     {"YYY", 3},   {"IYYY", 4},
    {"IYY", 3},  {"IY", 2},    {"I", 1},     {"Y,YYY", 5}, {"SYEAR", 5}, {"YEAR", 4},
    {"BC", 2},   {"AD", 2},    {"B.C.", 3},  {"A.D.", 3},  {"Q", 1},     {"RM", 2},
    {"WW", 2},   {"IW", 2},    {"W", 1},     {"DDD", 3},   {"J", 1},     {"A.M.", 4},
    {"P.M.", 4}, {"SSSSS", 5}, {"TH", 2},    {"SP", 2},    {"SPTH", 4},  {"THSP", 4},
};

/* Elements refused before conv_tbl is looked at. */
constexpr const char *refused_elements[] = {"DDD", "SSSSS"};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

/* The bytes of the character at p (1 for an invalid one), reading no
** further than its terminator. */
int char_length(gl_locale *loc, const char *p) {
  if (loc == nullptr || loc->single_byte == 1) return 1;
  const int n = gl_full_mblen(loc, reinterpret_cast<const unsigned char *>(p),
                              static_cast<int>(std::strlen(p)));
  return n > 0 ? n : 1;
}

/* 0 when the first n bytes of a and b (each cut at its NUL, and at 255
** bytes) are the same text without regard to case. */
int is_casencmp(const char *a, const char *b, int n) {
  char left[256] = {};
  char right[256] = {};
  const int limit = std::clamp(n, 0, 255);
  for (int i = 0; i < limit && a[i] != '\0'; ++i)
    left[i] = upper(a[i]);
  for (int i = 0; i < limit && b[i] != '\0'; ++i)
    right[i] = upper(b[i]);
  return std::strcmp(left, right);
}

/* Non-zero when the character at p is neither a letter nor a digit of the
** locale, nor a double quote, nor the terminator. */
int is_punctuation(gl_locale *loc, const char *p) {
  if (*p == '\0' || *p == '"') return 0;
  const auto *s = reinterpret_cast<const unsigned char *>(p);
  const int n = char_length(loc, p);
  return _dvz_gl_im_ismctype(loc, s, n, GL_CLASS_ALPHA | GL_CLASS_DIGIT) == 0;
}

/* Non-zero when the picture at p starts with an element that has no
** equivalent directive. */
int is_no_equiv(const char *p) {
  for (const no_equivalent &row : no_equiv_tbl)
    if (is_casencmp(p, row.element, row.length) == 0) return 1;
  return 0;
}

/* Copies the punctuation at *p; whether any was copied. */
bool copy_punctuations(gl_locale *loc, const char **p, growing_text &out) {
  const char *start = *p;
  while (is_punctuation(loc, *p)) {
    const int n = char_length(loc, *p);
    out.append(std::string_view(*p, static_cast<size_t>(n)));
    *p += n;
  }
  return *p != start;
}

/* Copies quoted runs without their quotes: 1 when any was copied, 0 when
** none stands at *p, -5854 for a quote never closed. */
int convert_literals(const char **p, growing_text &out) {
  int copied = 0;
  while (**p == '"') {
    const char *close = std::strchr(*p + 1, '"');
    if (close == nullptr) return vrn_err_unknown;
    out.append(std::string_view(*p + 1, static_cast<size_t>(close - *p - 1)));
    *p = close + 1;
    copied = 1;
  }
  return copied;
}

/* Replaces one element at *p by its directive: 1 when one was replaced,
** 0 when none matches, -5853 for an element refused outright. */
int convert_vrn_to_dvz(const char **p, growing_text &out) {
  for (const char *refused : refused_elements)
    if (is_casencmp(*p, refused, static_cast<int>(std::strlen(refused))) == 0)
      return vrn_err_no_equivalent;
  for (const conversion &row : conv_tbl) {
    const int length = static_cast<int>(std::strlen(row.element));
    if (is_casencmp(*p, row.element, length) == 0) {
      out.append(row.directive);
      *p += length;
      return 1;
    }
  }
  return 0;
}

}  // namespace

extern "C" {

/*
** Translates picture into out (size bytes with the NUL). 0; -1 when the
** locale cannot be initialised; -5853 an element without an equivalent,
** -5854 an unknown element or an unclosed quote, -5855 no output or a
** translation that does not fit. out is written only on success.
*/
int dvz_to_gl_datetime(const char *picture, char *out, int size) {
  if (chkglsinit() < 0) return -1;
  if (out == nullptr || size <= 0) return vrn_err_output;
  if (picture == nullptr || *picture == '\0') {
    out[0] = '\0';
    return 0;
  }
  gl_locale *loc = CheckGlsEnv()->locale;
  growing_text work;
  const char *p = picture;
  while (*p != '\0') {
    bool consumed = copy_punctuations(loc, &p, work);
    const int literals = convert_literals(&p, work);
    if (literals < 0) return literals;
    consumed = consumed || literals > 0;
    const int element = convert_vrn_to_dvz(&p, work);
    if (element < 0) return element;
    consumed = consumed || element > 0;
    if (!consumed) return is_no_equiv(p) ? vrn_err_no_equivalent : vrn_err_unknown;
  }
  if (work.failed() || work.size() >= static_cast<size_t>(size)) return vrn_err_output;
  std::memcpy(out, work.c_str(), work.size() + 1);
  return 0;
}

}  // extern "C"
