/*
** The shipped locale files and the C library's locales they come from,
** for the suites that hold one against the other: a fixture that loads a
** file from the committed data (every category, error 0) beside its peer
** compiled by localedef at test time. What a file takes from a
** hand-authored overlay instead of its peer (glslib/gen/overlays/: the
** calendar with its month names, eras) is marked in its row.
*/
#ifndef DVZ_TESTS_GLSLIB_DATA_SHIPPED_LOCALES_SUPPORT_H
#define DVZ_TESTS_GLSLIB_DATA_SHIPPED_LOCALES_SUPPORT_H

#include "gl_chars.h"
#include "lco_builder.h"
#include "peer_locales.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <ostream>
#include <string>

namespace shipped {

struct Shipped {
  const char *file; /* under lc11/ */
  const char *source; /* the system's locale source */
  const char *charmap; /* the system's charmap */
  const char *codeset; /* the code-set name the file declares */
  const char *calendar = "gregorian\n"; /* langinfo item 73; another brings its months */
  bool eras = false; /* eras from an overlay */
};

constexpr Shipped single_byte_files[] = {
    {"default.lco", "POSIX", "ISO-8859-1", "iso-8859-1"},
    {"en_us/0333.lco", "en_US", "ISO-8859-1", "iso-8859-1"},
    {"de_de/0333.lco", "de_DE", "ISO-8859-1", "iso-8859-1"},
    {"fr_ca/0333.lco", "fr_CA", "ISO-8859-1", "iso-8859-1"},
    {"th_th/e01d.lco", "th_TH", "TIS-620", "thai620"},
    {"he_il/0394.lco", "he_IL", "ISO-8859-8", "8859-8", "hebrew\n"},
    {"ar_sa/0441.lco", "ar_SA", "ISO-8859-6", "8859-6", "islamic\n"},
};

constexpr Shipped multibyte_files[] = {
    {"en_us/e01c.lco", "en_US", "UTF-8", "utf8"},
    {"ja_jp/e006.lco", "ja_JP", "SHIFT_JIS", "sjis", "gregorian\n", true},
    {"ja_jp/e007.lco", "ja_JP", "EUC-JP", "ujis", "gregorian\n", true},
};

/* What a failing case prints for its parameter. */
inline void PrintTo(const Shipped &s, std::ostream *out) { *out << s.file; }

/* A test name for a file: "en_us/e01c.lco" gives "en_us_e01c". */
inline std::string name_of(const Shipped &s) {
  std::string name = s.file;
  name = name.substr(0, name.find('.'));
  for (char &c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

/* The file, loaded from the committed data, and its peer. */
class ShippedFixture : public ::testing::TestWithParam<Shipped> {
 protected:
  void SetUp() override {
    r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
    const std::string file = GetParam().file;
    ASSERT_EQ(lcotest::load(r.get(), GL_ALL, file.c_str()), lcotest::query_naming(file));
    ASSERT_EQ(r->error, 0);
    peer = glstest::peer_locale(GetParam().source, GetParam().charmap);
    ASSERT_NE(peer, nullptr);
  }
  void TearDown() override { gl_free_registry_cache(); }

  glstest::TableGetenv env;
  lcotest::LocalePtr r;
  locale_t peer = nullptr;
};

}  // namespace shipped

#endif
