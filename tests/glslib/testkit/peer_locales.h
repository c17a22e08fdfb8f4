/*
** The C library's own locales as peers of the shipped locale files: a
** locale source compiled with a charmap by localedef into a temporary
** directory of the test process, at first use, and opened with newlocale.
** Single-byte and multibyte charmaps alike ("ISO-8859-1", "UTF-8",
** "SHIFT_JIS", "EUC-JP", "TIS-620").
**
** Linking this module also gives the test program the leak checker's
** suppression of the C library's LOCPATH list (newlocale keeps it for good):
** a test that uses it defines no __lsan_default_suppressions of its own.
*/
#ifndef DVZ_TESTS_GLSLIB_PEER_LOCALES_H
#define DVZ_TESTS_GLSLIB_PEER_LOCALES_H

#include <locale.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "temp_dir.h"

namespace glstest {

/* Compiled locales of one temporary directory, freed with it. */
class PeerLocales {
 public:
  PeerLocales() = default;
  ~PeerLocales();
  PeerLocales(const PeerLocales &) = delete;
  PeerLocales &operator=(const PeerLocales &) = delete;

  /* The locale of source (e.g. "ja_JP") in charmap (e.g. "SHIFT_JIS"),
  ** compiled on the first request and kept. nullptr, with a test failure
  ** recorded, when localedef fails or the result does not open. */
  locale_t get(std::string_view source, std::string_view charmap);

 private:
  dvz_test::TempDir dir_;
  std::map<std::string, locale_t> locales_;
};

/* The same from one set for the whole test process (freed at exit). */
locale_t peer_locale(std::string_view source, std::string_view charmap);

/* The Unicode value of the character at the n bytes at s in loc, with its
** length (mbrtowc): length 0 for the null character, -1 for bytes that are
** no character, -2 for bytes that begin one but end too soon. */
struct PeerChar {
  int length = -1;
  uint32_t ucs = 0;
};
PeerChar peer_decode(locale_t loc, const unsigned char *s, std::size_t n);

/* The bytes of Unicode value ucs in loc (wcrtomb) written to out (room for
** 8 bytes, no terminator): their count, or -1 when loc has no such
** character. */
int peer_encode(locale_t loc, uint32_t ucs, unsigned char *out);

}  // namespace glstest

#endif
