/*
** Locale specifications: code-set numbers, locale file names, message
** directories, conversion file names and the pieces of a file name, with
** the built-in registry.
*/
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "glslib.h"
#include "registry_fixture.h"

namespace {

using regtest::ErrorWord;

constexpr uint16_t no_code_set = GL_CS_NONE;
const std::string cookie = "\xFF";

class LocaleSpecTest : public regtest::RegistryTest {
 protected:
  void SetUp() override { use_builtin_table(); }
};

struct FnameCase {
  std::string spec;
  const char *prefix;
  std::string fname; /* empty: fails with error 7 */
};

TEST_F(LocaleSpecTest, SpecificationToLocaleFileName) {
  const std::string long_spec = "GL_CTYPE = en_US.8859-1 ; GL_TIME = fr_FR.Latin-1@euro";
  const std::vector<FnameCase> cases = {
      {"en_US.8859-1", nullptr, "en_us/0333.lco"},
      {"de_DE.utf8@euro", nullptr, "de_de/e01ceuro.lco"},
      {"EN_us.LATIN-1", nullptr, "en_us/0333.lco"},
      {"ja_JP.sjis@a1", "/ignored", "ja_jp/e006a1.lco"}, /* short form: no prefix */
      {"xx_YY.819", nullptr, "xx_yy/0333.lco"}, /* digits rule */
      {long_spec, nullptr, "GL_CTYPE = en_us/0333.lco ; GL_TIME = fr_fr/0333euro.lco"},
      {long_spec + " ; ", nullptr, "GL_CTYPE = en_us/0333.lco ; GL_TIME = fr_fr/0333euro.lco ; "},
      {long_spec, "/opt/lc",
       "GL_CTYPE = /opt/lc" + cookie + "en_us/0333.lco ; GL_TIME = /opt/lc" + cookie +
           "fr_fr/0333euro.lco"},
      {long_spec, "", "GL_CTYPE = en_us/0333.lco ; GL_TIME = fr_fr/0333euro.lco"},
      /* failures */
      {"de_DE.utf8@euros", nullptr, ""}, /* five-character modifier */
      {"de_DE.utf8@", nullptr, ""},
      {"de_DE.utf8@eu-ro", nullptr, ""},
      {"en_US.8859-1 ", nullptr, ""}, /* must fill the text */
      {"en_US.nosuch", nullptr, ""},
      {"en_US.", nullptr, ""},
      {"en_US", nullptr, ""},
      {"e1_US.utf8", nullptr, ""},
      {"en-US.utf8", nullptr, ""},
      {"en_US.#utf8", nullptr, ""},
      {"en_US." + std::string(22, 'a'), nullptr, ""},
      {"", nullptr, ""},
      {"GL_CTYPE = en_US.8859-1 ; GL_CTYPE = en_US.8859-1", nullptr, ""}, /* key twice */
      {"GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.utf8", nullptr, ""}, /* code sets differ */
      {"GL_CTYPE=en_US.8859-1", nullptr, ""},
      {"GL_CTYPE = en_US.8859-1 ;GL_TIME = en_US.8859-1", nullptr, ""},
      {"GL_CTYPE = en_US.8859-1 ; junk", nullptr, ""},
      {"GL_CTYPE = en_US.8859-1 ; ; ", nullptr, ""},
      {"GL_CTYPE = utf8", nullptr, ""},
  };
  for (const FnameCase &c : cases) {
    ErrorWord w;
    char out[GL_LC_FSPEC_SIZE + 6 * 16] = {};
    int rc = gl_lc_spec2lc_fname(w.record(), c.spec.c_str(), out, nullptr, c.prefix);
    if (c.fname.empty()) {
      EXPECT_EQ(rc, -1) << c.spec;
      EXPECT_EQ(w.err, GL_EINVAL) << c.spec;
    } else {
      EXPECT_EQ(rc, 0) << c.spec;
      EXPECT_EQ(std::string(out), c.fname) << c.spec;
      EXPECT_EQ(w.err, 0) << c.spec;
    }
  }
}

TEST_F(LocaleSpecTest, SpecificationLongerThanTheLimitIsRefusedNotCut) {
  /* The longest well-formed specification: six entries with 21-character
  ** code-set names (the digits rule), four-character modifiers and " ; "
  ** after the last, exactly the limit. */
  const char *keys[] = {"GL_CTYPE",    "GL_COLLATE", "GL_TIME",
                        "GL_MONETARY", "GL_NUMERIC", "GL_MESSAGES"};
  const std::string codeset = std::string(18, '0') + "819";
  std::string longest;
  for (const char *k : keys)
    longest += std::string(k) + " = en_US." + codeset + "@euro ; ";
  ASSERT_EQ(longest.size(), static_cast<size_t>(GL_LC_SPEC_MAX));
  ErrorWord w;
  char out[512];
  EXPECT_EQ(gl_lc_spec2cs_num(w.record(), longest.c_str(), nullptr), 819);
  EXPECT_EQ(gl_lc_spec2lc_fname(w.record(), longest.c_str(), out, nullptr, nullptr), 0);
  EXPECT_EQ(w.err, 0);

  /* A seventh entry repeats a key: the text is malformed, though its
  ** first GL_LC_SPEC_MAX bytes are the valid one above. */
  const std::string text = longest + "GL_CTYPE = en_US.utf8 ; ";
  EXPECT_EQ(gl_lc_spec2cs_num(w.record(), text.c_str(), nullptr), no_code_set);
  EXPECT_EQ(w.err, GL_EINVAL);
  w.err = 0;
  EXPECT_EQ(gl_lc_spec2lc_fname(w.record(), text.c_str(), out, nullptr, nullptr), -1);
  EXPECT_EQ(w.err, GL_EINVAL);
}

struct CsNumCase {
  std::string spec;
  uint16_t number;
  int err;
};

TEST_F(LocaleSpecTest, SpecificationToCodeSetNumber) {
  const std::vector<CsNumCase> cases = {
      {"en_US.8859-1", 819, 0},
      {"de_DE.utf8@euro", 57372, 0},
      {"utf8", 57372, 0}, /* a plain code-set name */
      {"Latin-1", 819, 0},
      {"1252", 1252, 0},
      {"GL_CTYPE = en_US.8859-1 ; ", 819, 0},
      {"GL_CTYPE = en_US.8859-1 ; GL_TIME = fr_FR.latin-1@euro ; ", 819, 0},
      {"GL_CTYPE = en_US.8859-1", no_code_set,
       GL_EINVAL}, /* " ; " wanted after the last entry too */
      {"GL_CTYPE = en_US.8859-1 ; GL_TIME = fr_FR.latin-1", no_code_set, GL_EINVAL},
      {"GL_CTYPE = en_US.8859-1 ; GL_CTYPE = en_US.8859-1 ; ", no_code_set, GL_EINVAL},
      {"GL_CTYPE = en_US.8859-1 ; GL_TIME = en_US.utf8 ; ", no_code_set, GL_EINVAL},
      {"GL_CTYPE = en_US.8859-1 ; x", no_code_set, GL_EINVAL},
      {"en_US.nosuch", no_code_set, GL_EINVAL},
      {"en_US.utf8 x", no_code_set, GL_EINVAL}, /* the text after the short form is no name */
      {"", no_code_set, GL_EINVAL},
  };
  for (const CsNumCase &c : cases) {
    ErrorWord w;
    EXPECT_EQ(gl_lc_spec2cs_num(w.record(), c.spec.c_str(), nullptr), c.number) << c.spec;
    EXPECT_EQ(w.err, c.err) << c.spec;
    EXPECT_EQ(gl_lc_spec2cs_num(nullptr, c.spec.c_str(), nullptr), c.number) << c.spec;
  }
}

TEST_F(LocaleSpecTest, MessageDirectory) {
  struct Case {
    std::string spec;
    const char *prefix;
    const char *dname; /* nullptr: error 7 */
  };
  const std::vector<Case> cases = {
      {"en_US.8859-1", nullptr, "en_us/0333"},
      {"de_DE.utf8@euro", nullptr, "de_de/e01c"},
      {"GL_CTYPE = de_DE.utf8 ; GL_MESSAGES = fr_FR.utf8@euro", nullptr, "fr_fr/e01c"},
      {"GL_MESSAGES = fr_FR.utf8 ; GL_CTYPE = de_DE.utf8", "/some/dir", "fr_fr/e01c"},
      {"en_US.8859-1", "/some/dir", "en_us/0333"},
      {"GL_CTYPE = de_DE.utf8", nullptr, nullptr},
      {"en_US.bogus", nullptr, nullptr},
  };
  for (const Case &c : cases) {
    ErrorWord w;
    char out[GL_MSG_DNAME_SIZE + 8];
    std::fill(std::begin(out), std::end(out), '#');
    int rc = gl_lc_spec2msg_dname(w.record(), c.spec.c_str(), out, nullptr, c.prefix);
    if (c.dname == nullptr) {
      EXPECT_EQ(rc, -1) << c.spec;
      EXPECT_EQ(w.err, GL_EINVAL) << c.spec;
    } else {
      EXPECT_EQ(rc, 0) << c.spec;
      EXPECT_STREQ(out, c.dname) << c.spec;
      EXPECT_EQ(out[GL_MSG_DNAME_SIZE], '#') << "wrote past the directory";
    }
  }
}

TEST_F(LocaleSpecTest, ConversionFileName) {
  struct Case {
    uint16_t first, second;
    const char *prefix;
    std::string name;
  };
  const Case cases[] = {
      {819, 57372, nullptr, "0333e01c.cvo"},
      {819, 1252, "", "033304e4.cvo"},
      {0, 65535, "/usr/cv", "/usr/cv" + cookie + "0000ffff.cvo"},
  };
  for (const Case &c : cases) {
    ErrorWord w;
    char out[64];
    EXPECT_EQ(gl_cs_nums2cv_fname(w.record(), c.first, c.second, out, c.prefix), 0);
    EXPECT_EQ(std::string(out), c.name);
  }
}

TEST_F(LocaleSpecTest, FileNameToPieces) {
  struct Case {
    const char *fname;
    const char *lang_terr, *codeset, *modifier; /* lang_terr nullptr: error 7 */
  };
  const Case cases[] = {
      {"en_us/0333.lco", "en_US", "819", ""},
      {"de_de/e01ceuro.lco", "de_DE", "57372", "euro"},
      {"De_De\\E01C.lco", "de_DE", "57372", ""},
      {"fr_fr/333", "fr_FR", "819", ""},
      {"fr_fr/ffff", "fr_FR", "65535", ""},
      {"en_us-0333.lco", nullptr, nullptr, nullptr},
      {"en_us/.lco", nullptr, nullptr, nullptr},
      {"en_us/x333.lco", nullptr, nullptr, nullptr},
      {"e1_us/0333.lco", nullptr, nullptr, nullptr},
      {"en_us/0333euros.lco", nullptr, nullptr, nullptr}, /* a modifier has at most 4 */
      {"en_us", nullptr, nullptr, nullptr},
  };
  for (const Case &c : cases) {
    ErrorWord w;
    char lt[GL_LC_LANGTERR_SIZE], cs[GL_LC_CSTEXT_SIZE], mod[GL_LC_MODIFIER_SIZE];
    int rc = gl_lc_fname2lc_pieces(w.record(), c.fname, lt, cs, mod);
    if (c.lang_terr == nullptr) {
      EXPECT_EQ(rc, -1) << c.fname;
      EXPECT_EQ(w.err, GL_EINVAL) << c.fname;
      EXPECT_EQ(gl_lc_fname2lc_pieces(nullptr, c.fname, lt, cs, mod), -1);
    } else {
      ASSERT_EQ(rc, 0) << c.fname;
      EXPECT_STREQ(lt, c.lang_terr);
      EXPECT_STREQ(cs, c.codeset);
      EXPECT_STREQ(mod, c.modifier);
    }
  }
}

TEST_F(LocaleSpecTest, PiecesToSpecification) {
  struct Case {
    const char *lang_terr, *codeset, *modifier;
    const char *spec; /* nullptr: error 7 */
  };
  const Case cases[] = {
      {"en_US", "819", nullptr, "en_US.819"},
      {"en_US", "819", "", "en_US.819"},
      {"de_de", "57372", "euro", "de_de.57372@euro"},
      {"fr_FR", "e01c", "x", "fr_FR.e01c@x"},
      {"enUS", "819", nullptr, nullptr},
      {"en_US1", "819", nullptr, nullptr},
      {"en_US", "", nullptr, nullptr},
      {"en_US", "81g", nullptr, nullptr},
      {"en_US", "123456", nullptr, nullptr}, /* refused, not cut to five */
      {"en_US", "819", "euros", nullptr}, /* refused, not cut to four */
  };
  for (const Case &c : cases) {
    ErrorWord w;
    char out[32];
    int rc = gl_lc_pieces2lc_spec(w.record(), c.lang_terr, c.codeset, c.modifier, out);
    if (c.spec == nullptr) {
      EXPECT_EQ(rc, -1) << c.lang_terr << " " << c.codeset;
      EXPECT_EQ(w.err, GL_EINVAL);
    } else {
      EXPECT_EQ(rc, 0);
      EXPECT_STREQ(out, c.spec);
    }
  }
}

TEST(CategoryKeys, NumberedInTheParsersOwnOrder) {
  struct Case {
    const char *text;
    int key, length;
  };
  const Case cases[] = {
      {"GL_CTYPE = x", 1, 8}, {"GL_COLLATE", 2, 10},
      {"GL_TIME", 3, 7},      {"GL_MONETARY", 4, 11},
      {"GL_NUMERIC", 5, 10},  {"GL_MESSAGES =", 6, 11},
      {"GL_CTYPEX", 1, 8},    {"gl_ctype", 0, -1},
      {"GL_CTYP", 0, -1},     {"", 0, -1},
      {" GL_TIME", 0, -1},
  };
  for (const Case &c : cases) {
    int length = -1;
    EXPECT_EQ(_gl_is_category(c.text, &length), c.key) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
  }
}

TEST_F(LocaleSpecTest, XopenSpecAdvancesBothPointersAndWritesNoTerminator) {
  const char *text = "de_DE.utf8@euro ; rest";
  char buffer[32];
  std::fill(std::begin(buffer), std::end(buffer), '#');
  char *out = buffer;
  uint16_t number = 0;
  ErrorWord w;
  ASSERT_EQ(_gl_is_xopen_spec(w.record(), &text, &out, &number, nullptr), 1);
  EXPECT_STREQ(text, " ; rest");
  EXPECT_EQ(out - buffer, 18);
  EXPECT_EQ(std::string(buffer, 18), "de_de/e01ceuro.lco");
  EXPECT_EQ(buffer[18], '#');
  EXPECT_EQ(number, 57372);

  /* A failed lookup leaves its number and error, and moves nothing. */
  const char *bad = "de_DE.nosuch";
  const char *start = bad;
  out = buffer;
  ASSERT_EQ(_gl_is_xopen_spec(w.record(), &bad, &out, &number, nullptr), 0);
  EXPECT_EQ(number, no_code_set);
  EXPECT_EQ(w.err, GL_EINVAL);
  EXPECT_EQ(bad, start);
  EXPECT_EQ(out, buffer);
}

TEST_F(LocaleSpecTest, ShippedAliasesNeedTheRegistryFile) {
  std::string file = dir_.write("reg", "utf-8 57372\n");
  ErrorWord w;
  char out[GL_LC_FSPEC_SIZE];
  ASSERT_EQ(gl_lc_spec2lc_fname(w.record(), "en_US.UTF-8", out, file.c_str(), nullptr), -1);
  gl_free_registry_cache(); /* the file is read only without a cache */
  w.err = 0;
  ASSERT_EQ(gl_lc_spec2lc_fname(w.record(), "en_US.UTF-8", out, file.c_str(), nullptr), 0);
  EXPECT_STREQ(out, "en_us/e01c.lco");
}

}  // namespace
