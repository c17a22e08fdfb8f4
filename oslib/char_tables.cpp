/*
** The 8-bit character tables of the client library's locale-blind code
** (_ixctype, _ix2lowmap, _ix2upmap), their loaders, and the helpers that
** set the platform's locale categories from the environment (DBNLS mode).
**
** The tables start as built-in data (7-bit ASCII classes; bytes 0x80-0xAD
** lower case, 0xAE-0xFF punctuation) and are rebuilt at most once per
** process by rldctype, from the platform's LC_CTYPE when DBNLS asks for it.
** Readers: the environment's rc-file reader, the value library and the
** runtime. Calls: ggetenv (environment), setlocale and the C library's
** classification.
*/
#include <cctype>
#include <clocale>
#include <cstring>

#include "os_context.h"
#include "os_env.h"
#include "os_errors.h"

namespace {

/* Built-in class of byte c. Only the space has the printable bit; the
** digits lack the hexadecimal one. */
constexpr unsigned char builtin_class(int c) {
  if (c == ' ') return os_ct_space | os_ct_print;
  if (c >= 0x09 && c <= 0x0D) return os_ct_cntrl | os_ct_space;
  if (c < 0x20 || c == 0x7F) return os_ct_cntrl;
  if (c >= '0' && c <= '9') return os_ct_digit;
  if (c >= 'A' && c <= 'F') return os_ct_upper | os_ct_xdigit;
  if (c >= 'G' && c <= 'Z') return os_ct_upper;
  if (c >= 'a' && c <= 'f') return os_ct_lower | os_ct_xdigit;
  if (c >= 'g' && c <= 'z') return os_ct_lower;
  if (c >= 0x80 && c <= 0xAD) return os_ct_lower;
  return os_ct_punct; /* the rest of 0x21-0x7E, and 0xAE-0xFF */
}

constexpr unsigned char builtin_lower(int c) {
  return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

constexpr unsigned char builtin_upper(int c) {
  return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c);
}

}  // namespace

/* Sixteen entries f(b) .. f(b + 15), so the initial tables are constant
** data computed from the functions above. */
#define OS_ROW(f, b)                                                                              \
  f((b) + 0), f((b) + 1), f((b) + 2), f((b) + 3), f((b) + 4), f((b) + 5), f((b) + 6), f((b) + 7), \
      f((b) + 8), f((b) + 9), f((b) + 10), f((b) + 11), f((b) + 12), f((b) + 13), f((b) + 14),    \
      f((b) + 15)
#define OS_TABLE(f)                                                                        \
  OS_ROW(f, 0x00), OS_ROW(f, 0x10), OS_ROW(f, 0x20), OS_ROW(f, 0x30), OS_ROW(f, 0x40),     \
      OS_ROW(f, 0x50), OS_ROW(f, 0x60), OS_ROW(f, 0x70), OS_ROW(f, 0x80), OS_ROW(f, 0x90), \
      OS_ROW(f, 0xA0), OS_ROW(f, 0xB0), OS_ROW(f, 0xC0), OS_ROW(f, 0xD0), OS_ROW(f, 0xE0), \
      OS_ROW(f, 0xF0)

extern "C" {

unsigned char _ixctype[OS_CTYPE_SIZE] = {0, OS_TABLE(builtin_class), 0};
unsigned char _ix2lowmap[OS_CASEMAP_SIZE] = {OS_TABLE(builtin_lower), 0};
unsigned char _ix2upmap[OS_CASEMAP_SIZE] = {OS_TABLE(builtin_upper), 0};

}  // extern "C"

#undef OS_TABLE
#undef OS_ROW

namespace {

/* One platform category set from the environment variable of its name. */
struct nls_category {
  int category;
  const char *variable;
  int error;
};

/* The order in which _setallocale sets them. */
constexpr nls_category nls_categories[] = {
    {LC_COLLATE, "LC_COLLATE", nls_err_collate},
    {LC_CTYPE, "LC_CTYPE", nls_err_ctype},
    {LC_MONETARY, "LC_MONETARY", nls_err_monetary},
    {LC_NUMERIC, "LC_NUMERIC", nls_err_numeric},
    {LC_TIME, "LC_TIME", nls_err_time},
};

}  // namespace

extern "C" {

int DBNLSset(void) {
  const char *value = ggetenv("DBNLS");
  if (value == nullptr) return 0;
  if (std::strcmp(value, "1") == 0) return 1;
  if (std::strcmp(value, "2") == 0) return 2;
  return 0;
}

/* A byte is printable (bit 128) when it is a letter, digit, punctuation
** or a blank, the tab included though it is also a control character. */
int ldctypearr(void) {
  if (CheckOsInit() == nullptr) return -1;
  std::memset(_ixctype, 0, sizeof _ixctype);
  for (int c = 0; c < 256; ++c) {
    unsigned char bits = 0;
    if (std::isupper(c)) bits |= os_ct_upper;
    if (std::islower(c)) bits |= os_ct_lower;
    if (std::isdigit(c)) bits |= os_ct_digit;
    if (std::isspace(c)) bits |= os_ct_space;
    if (std::ispunct(c)) bits |= os_ct_punct;
    if (std::iscntrl(c)) bits |= os_ct_cntrl;
    if (std::isxdigit(c)) bits |= os_ct_xdigit;
    if ((bits & (os_ct_upper | os_ct_lower | os_ct_digit | os_ct_punct)) != 0 || std::isblank(c))
      bits |= os_ct_print;
    _ixctype[c + 1] = bits;
    _ix2lowmap[c] = static_cast<unsigned char>(std::tolower(c));
    _ix2upmap[c] = static_cast<unsigned char>(std::toupper(c));
  }
  return 0;
}

void rld8bitarr(void) {
  for (int c = 0x80; c < 256; ++c)
    _ixctype[c + 1] = builtin_class(c);
}

int rldctype(void) {
  static bool done = false;
  if (done) return 0;
  done = true;
  const int mode = DBNLSset();
  if (mode != 1 && mode != 2) {
    rld8bitarr();
    return 0;
  }
  const bool set = std::setlocale(LC_CTYPE, "") != nullptr;
  if (ldctypearr() != 0) return -1;
  return set ? 0 : -1;
}

int rldnlsctype(const char *name) {
  if (std::setlocale(LC_CTYPE, name) == nullptr) return nls_err_ctype;
  if (ldctypearr() != 0) return os_err_no_memory;
  return 0;
}

int gtolower(int c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if ((_ixctype[byte + 1] & os_ct_upper) != 0) return _ix2lowmap[byte];
  return static_cast<signed char>(byte);
}

int gtoupper(int c) {
  const unsigned char byte = static_cast<unsigned char>(c);
  if ((_ixctype[byte + 1] & os_ct_lower) != 0) return _ix2upmap[byte];
  return static_cast<signed char>(byte);
}

/* An unset variable leaves the category to the platform's own default
** ("", which reads the process environment). */
int _setnlslocale(int category, const char *variable, int error) {
  const char *value = ggetenv(variable);
  if (std::setlocale(category, value != nullptr ? value : "") == nullptr) return error;
  return 0;
}

int _setallocale(void) {
  for (const nls_category &c : nls_categories) {
    const int result = _setnlslocale(c.category, c.variable, c.error);
    if (result != 0) return result;
  }
  return 0;
}

int _osetcollate(const char *name, int *error) {
  const int result = std::setlocale(LC_COLLATE, name) != nullptr ? 0 : nls_err_collate;
  if (error != nullptr) *error = result;
  return result;
}

int _nlsinit(void) {
  const int result = _setallocale();
  if (result != 0) return result;
  const int mode = DBNLSset();
  if (mode != 1 && mode != 2) return 0;
  if (CheckOsInit() != nullptr) ostcb->nls_flags |= os_nls_from_dbnls;
  return mode;
}

/* The categories were just set from the environment: the stored database
** settings are reset without loading anything again. */
int _nlsinit_be(void) {
  const int result = _nlsinit();
  if (result <= 0) return result;
  const int reset = OS_resetlang(0);
  return reset != 0 ? reset : result;
}

}  // extern "C"
