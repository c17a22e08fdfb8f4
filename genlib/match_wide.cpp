/*
** match_wide.cpp: the rules every MATCHES and LIKE matcher shares (the
** blank class, the escape rule) and the byte and wide matchers built on
** the walker of match_internal.h. The operator (match_operator.cpp) calls
** the byte matcher in single-byte locales; rwildmatch serves readers of
** terminated multibyte text.
*/
#include <stdlib.h>

#include "gen_match.h"
#include "gl_chars.h"
#include "match_internal.h"
#include "os_gentcb.h"
#include "os_glsenv.h"

namespace dvz_genlib::match {

gl_locale *client_locale() {
  if (chkglsinit() < 0) return nullptr;
  gls_env *env = CheckGlsEnv();
  return env != nullptr ? env->locale : nullptr;
}

bool is_blank(gl_locale *loc, gl_wchar wc) {
  if (loc == nullptr) return wc == ' ';
  if (loc->class_map != nullptr) {
    if (wc > 255) {
      *_gl_ext_errno(loc) = 1;
      return false;
    }
    return (loc->class_map[wc] & GL_CLASS_BLANK) != 0;
  }
  return _gl_im_iswctype(loc, wc, GL_CLASS_BLANK) != 0;
}

escape_meaning escape_rule(gl_wchar e, gl_wchar many, gl_wchar one, gl_wchar escape, bool classes) {
  bool needed =
      e != 0 && (e == escape || e == many || e == one || (classes && (e == '[' || e == ']')));
  if (needed) return escape_meaning::literal;
  if (ansidb != 0) {
    set_toerrno(value_err_bad_escape);
    return escape_meaning::rest_matches;
  }
  gen_tcb *tcb = CheckGenInit();
  if (tcb != nullptr) tcb->escape_warning = 1;
  return e == 0 ? escape_meaning::rest_matches : escape_meaning::literal;
}

}  // namespace dvz_genlib::match

namespace {

using namespace dvz_genlib::match;

/* Length of a counted byte text that may end early at a zero byte. */
int byte_length(const char *s, int n) {
  if (s == nullptr || n <= 0) return 0;
  int k = 0;
  while (k < n && s[k] != 0)
    ++k;
  return k;
}

/* The escape rule with the value's character c (0: exhausted): 2, 1, 0. */
int escape_outcome(gl_wchar e, gl_wchar c, int many, int one, int escape) {
  if (escape_rule(e, many, one, escape, has_classes(many)) == escape_meaning::rest_matches)
    return 2;
  return e == c && c != 0 ? 1 : 0;
}

}  // namespace

extern "C" {

int rescfixstrmatch(const char *string, int slen, const char *pattern, int plen, int many, int one,
                    int escape) {
  slen = byte_length(string, slen);
  plen = byte_length(pattern, plen);
  walker<unsigned char> w(client_locale(), reinterpret_cast<const unsigned char *>(string), slen,
                          reinterpret_cast<const unsigned char *>(pattern), plen, many, one,
                          escape);
  return w.run(0, 0);
}

int chkescfixstr(const char *string, int slen, const char *pattern, int plen, int many, int one,
                 int escape) {
  slen = byte_length(string, slen);
  plen = byte_length(pattern, plen);
  gl_wchar e = plen > 0 ? static_cast<unsigned char>(pattern[0]) : 0;
  gl_wchar c = slen > 0 ? static_cast<unsigned char>(string[0]) : 0;
  return escape_outcome(e, c, many, one, escape);
}

int rescwildmatch(const uint32_t *string, const uint32_t *pattern, int many, int one, int escape) {
  if (CheckGenInit() == nullptr) {
    set_toerrno(os_err_no_memory);
    return 2;
  }
  walker<gl_wchar> w(client_locale(), string, wide_length(string), pattern, wide_length(pattern),
                     many, one, escape);
  return w.run(0, 0);
}

int checkescape(const uint32_t *string, const uint32_t *pattern, int many, int one, int escape) {
  gl_wchar e = pattern != nullptr ? pattern[0] : 0;
  gl_wchar c = string != nullptr ? string[0] : 0;
  return escape_outcome(e, c, many, one, escape);
}

int rwildmatch(const char *string, const char *pattern, int many, int one) {
  gl_locale *loc = client_locale();
  if (loc == nullptr || loc->mbstowcs_fn == nullptr || string == nullptr || pattern == nullptr)
    return -1;
  /* A character takes at least one byte: the byte count bounds the wide one. */
  auto convert = [loc](const char *text) -> gl_wchar * {
    size_t n = 0;
    while (text[n] != 0)
      ++n;
    auto *wide = static_cast<gl_wchar *>(malloc((n + 1) * sizeof(gl_wchar)));
    if (wide == nullptr) return nullptr;
    wide[0] = 0;
    if (n > 0 && loc->mbstowcs_fn(loc, wide, reinterpret_cast<const unsigned char *>(text),
                                  static_cast<int>(n + 1)) < 0) {
      free(wide);
      return nullptr;
    }
    return wide;
  };
  gl_wchar *ws = convert(string);
  gl_wchar *wp = ws != nullptr ? convert(pattern) : nullptr;
  int result = -1;
  if (wp != nullptr) result = rescwildmatch(ws, wp, many, one, '\\');
  free(ws);
  free(wp);
  return result == 2 ? -1 : result;
}
}
