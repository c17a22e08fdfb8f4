/*
** Conversions between specification forms: normal forms, short to long
** and back, one category, the syntax check, and file specifications back
** to locale specifications.
*/
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "glslib.h"
#include "registry_fixture.h"

namespace {

using regtest::ErrorWord;

class SpecFormsTest : public regtest::RegistryTest {
 protected:
  void SetUp() override { use_builtin_table(); }
};

/* One conversion applied to a table of inputs; an empty expectation means
** failure with the given error. */
struct Case {
  std::string in;
  std::string out;
  int err = GL_EINVAL;
};

template <typename Convert>
void run_cases(const std::vector<Case> &cases, Convert convert) {
  for (const Case &c : cases) {
    ErrorWord w;
    char out[1024] = {};
    int rc = convert(w.record(), c.in.c_str(), out);
    if (c.out.empty()) {
      EXPECT_EQ(rc, -1) << c.in;
      EXPECT_EQ(w.err, c.err) << c.in;
    } else {
      EXPECT_EQ(rc, 0) << c.in << " error " << w.err;
      EXPECT_EQ(std::string(out), c.out) << c.in;
    }
  }
}

const std::string all_819 =
    "GL_MESSAGES = en_US.819 ; GL_TIME = en_US.latin-1 ; GL_CTYPE = EN_us.8859-1 ; "
    "GL_NUMERIC = en_US.c ; GL_COLLATE = en_US.posix ; GL_MONETARY = en_US.819@euro";

TEST_F(SpecFormsTest, ShortNormalFormWritesTheCodeSetAsItsNumber) {
  run_cases(
      {
          {"en_US.8859-1", "en_US.819"},
          {"EN_us.Latin-1@euro", "en_US.819@euro"},
          {"de_DE.utf8", "de_DE.57372"},
          {"de_DE.bogus", ""},
          {"de_DE.utf8 ", ""},
      },
      [](gl_locale *r, const char *in, char *out) {
        return _gl_lc_short_spec2lc_short_norm(r, in, out, nullptr);
      });
}

TEST_F(SpecFormsTest, NormalFormOfShortAndCompleteLongSpecifications) {
  run_cases(
      {
          {"en_US.latin-1", "en_US.819"},
          {all_819,
           "GL_CTYPE = en_US.819 ; GL_COLLATE = en_US.819 ; GL_NUMERIC = en_US.819 ; "
           "GL_MONETARY = en_US.819@euro ; GL_TIME = en_US.819 ; GL_MESSAGES = en_US.819 ; "},
          {"GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.8859-1", ""}, /* not all six */
          {"GL_CTYPE = en_US.819 ; GL_COLLATE = en_US.819 ; GL_TIME = en_US.819 ; "
           "GL_NUMERIC = en_US.819 ; GL_MONETARY = en_US.819 ; GL_MESSAGES = en_US.utf8",
           ""}, /* differing code sets */
      },
      [](gl_locale *r, const char *in, char *out) {
        return gl_lc_spec2lc_norm(r, in, out, nullptr);
      });
}

TEST_F(SpecFormsTest, ShortToLongNamesAllSixCategoriesInLowerCase) {
  const auto long_of = [](const std::string &s) {
    return "GL_CTYPE = " + s + " ; GL_COLLATE = " + s + " ; GL_NUMERIC = " + s +
           " ; GL_MONETARY = " + s + " ; GL_TIME = " + s + " ; GL_MESSAGES = " + s;
  };
  run_cases(
      {
          {"en_US.8859-1", long_of("en_us.8859-1")},
          {"De_DE.UTF8@Euro", long_of("de_de.utf8@euro")},
          {"en_US", long_of("en_us")}, /* language and territory alone */
          {"en_US.nosuch", ""},
          {"en_US@euro", ""},
          {"GL_CTYPE = en_US.utf8", ""},
      },
      [](gl_locale *r, const char *in, char *out) {
        return gl_lc_short2lc_long(r, in, out, nullptr);
      });
}

TEST_F(SpecFormsTest, SyntaxCheckNeedsNoRegistry) {
  struct SyntaxCase {
    const char *text;
    bool ok;
  };
  const SyntaxCase cases[] = {
      {"en_US.nosuch", true}, /* unknown code sets are no syntax fault */
      {"en_US.utf8@euro", true},
      {"GL_CTYPE = en_US.x ; GL_TIME = fr_FR.y", true},
      {"GL_CTYPE = en_US.x ; GL_TIME = fr_FR.y ; ", true},
      {"GL_CTYPE = en_US.x ; GL_CTYPE = fr_FR.y", false},
      {"GL_CTYPE = en_US.x ;", false},
      {"en_US", false},
      {"en_US.utf8@toolong", false},
      {"", false},
  };
  for (const SyntaxCase &c : cases) {
    ErrorWord w;
    EXPECT_EQ(gl_is_lc_spec(w.record(), c.text), c.ok ? 0 : -1) << c.text;
    EXPECT_EQ(w.err, c.ok ? 0 : GL_EINVAL) << c.text;
  }
  ErrorWord w;
  EXPECT_EQ(gl_is_lc_spec(w.record(), nullptr), -1);
  EXPECT_EQ(w.err, GL_ENULLPTR);
}

TEST_F(SpecFormsTest, LongToShortWhenAllEntriesNameOneLocale) {
  run_cases(
      {
          {"en_US.8859-1", "en_US.8859-1"},
          {"GL_CTYPE = en_US.8859-1 ; GL_TIME = EN_us.latin-1 ; ", "en_US.8859-1"},
          {"GL_CTYPE = en_US.8859-1 ; GL_TIME = en_GB.8859-1", ""},
          {"GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.8859-1@euro", ""},
          {"en_US.bogus", ""},
      },
      [](gl_locale *r, const char *in, char *out) {
        return gl_lc_spec2lc_short(r, in, out, nullptr);
      });
}

TEST_F(SpecFormsTest, OneCategoryOfASpecification) {
  const std::string spec = "GL_CTYPE = en_US.8859-1 ; GL_NUMERIC = de_DE.latin-1@euro";
  struct CatCase {
    std::string spec;
    int category;
    const char *out; /* nullptr: fails with err */
    int err;
  };
  const CatCase cases[] = {
      {spec, 2, "en_US.8859-1", 0},
      {spec, 4, "de_DE.latin-1@euro", 0}, /* NUMERIC is category 4 of the locale record */
      {spec, 6, nullptr, GL_EINVAL}, /* no TIME entry */
      {spec, 1, nullptr, GL_EBADARG},
      {spec, 8, nullptr, GL_EBADARG},
      {"fr_FR.utf8", 7, "fr_FR.utf8", 0},
  };
  for (const CatCase &c : cases) {
    ErrorWord w;
    char out[64];
    int rc = gl_lc_spec2category(w.record(), c.spec.c_str(), c.category, out, nullptr);
    if (c.out == nullptr) {
      EXPECT_EQ(rc, -1) << c.category;
      EXPECT_EQ(w.err, c.err) << c.category;
    } else {
      EXPECT_EQ(rc, 0) << c.category;
      EXPECT_STREQ(out, c.out);
    }
  }
}

TEST_F(SpecFormsTest, FileSpecificationBackToLocaleSpecificationWhenTheFilesOpen) {
  /* Locale files under a directory given explicitly, and under the search. */
  dvz_test::TempDir files;
  files.write("en_us/0333.lco", "x");
  files.write("de_de/e01ceuro.lco", "x");
  dir_.write("gls/lc11/en_us/0333.lco", "x"); /* DOVARIZADIR of the fixture */
  const std::string dir = files.path();
  const std::string cookie = "\xFF";
  struct FileCase {
    std::string fspec;
    const char *directory;
    const char *out;
    int err;
  };
  const FileCase cases[] = {
      {"en_us/0333.lco", dir.c_str(), "en_US.819", 0},
      {"en_us/0333.lco", nullptr, "en_US.819", 0},
      {dir + cookie + "de_de/e01ceuro.lco", nullptr, "de_DE.57372@euro", 0},
      {"GL_CTYPE = en_us/0333.lco ; GL_TIME = " + dir + cookie + "de_de/e01ceuro.lco", nullptr,
       "GL_CTYPE = en_US.819 ; GL_TIME = de_DE.57372@euro", 0},
      {"de_de/e01ceuro.lco", nullptr, nullptr, GL_ENOFILE}, /* not under the search */
      {"GL_CTYPE = en_us/0333.lco ; GL_CTYPE = en_us/0333.lco", dir.c_str(), nullptr, GL_EINVAL},
      {"en_us/0333.lcx", dir.c_str(), nullptr, GL_EINVAL},
      {"en_us-0333.lco", dir.c_str(), nullptr, GL_EINVAL},
  };
  for (const FileCase &c : cases) {
    ErrorWord w;
    char out[256];
    int rc = gl_lc_fname2lc_spec(w.record(), c.fspec.c_str(), out, c.directory);
    if (c.out == nullptr) {
      EXPECT_EQ(rc, -1) << c.fspec;
      EXPECT_EQ(w.err, c.err) << c.fspec;
    } else {
      EXPECT_EQ(rc, 0) << c.fspec << " error " << w.err;
      EXPECT_STREQ(out, c.out);
    }
  }
}

}  // namespace
