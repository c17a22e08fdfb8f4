/*
** The shipped locale files side by side with the C library's own locales,
** compiled from the same sources with localedef into a temporary directory
** (LOCPATH) at test time: texts, conventions, classes, case and widths;
** their tables through a write and read-back; and the generator's output
** against the committed files.
*/
#include "gl_chars.h"
#include "lco_builder.h"

#include <gnu/libc-version.h>
#include <gtest/gtest.h>
#include <langinfo.h>
#include <locale.h>
#include <wchar.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

/* newlocale keeps its LOCPATH list for good; not a leak of ours. */
extern "C" const char *__lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }
extern "C" const char *__lsan_default_options() { return "print_suppressions=0"; }

namespace {

using lcotest::LocalePtr;

struct Shipped {
  const char *file; /* under lc11/ */
  const char *source; /* the system's locale source */
};
constexpr Shipped shipped_files[] = {
    {"default.lco", "POSIX"},
    {"en_us/0333.lco", "en_US"},
    {"de_de/0333.lco", "de_DE"},
};

/* The C library's locale of a shipped file, compiled with localedef on
** first use (each test process compiles only what it asks for) and freed,
** with its directory, at exit. */
class PeerLocales {
 public:
  locale_t get(std::size_t i) {
    if (locales_[i] != nullptr) return locales_[i];
    std::string name = std::string("peer_") + shipped_files[i].source;
    std::string cmd = std::string("localedef -i ") + shipped_files[i].source + " -f ISO-8859-1 '" +
                      dir_.file(name) + "' >/dev/null 2>&1";
    int status = std::system(cmd.c_str());
    /* Exit status 1 means warnings only (the POSIX source has some). */
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << cmd;
    setenv("LOCPATH", dir_.path().c_str(), 1);
    locales_[i] = newlocale(LC_ALL_MASK, name.c_str(), nullptr);
    unsetenv("LOCPATH");
    EXPECT_NE(locales_[i], nullptr) << cmd;
    return locales_[i];
  }
  ~PeerLocales() {
    for (locale_t l : locales_) {
      if (l != nullptr) freelocale(l);
    }
  }

 private:
  dvz_test::TempDir dir_;
  locale_t locales_[std::size(shipped_files)] = {};
};

locale_t peer_locale(std::size_t i) {
  static PeerLocales peers;
  return peers.get(i);
}

/* This library's form of a C library time format (the generator's rewrite,
** restated independently). */
std::string rewritten(std::string f) {
  const std::pair<const char *, const char *> replace[] = {
      {" %Z", ""},        {"%Z", ""},      {" %z", ""},        {"%z", ""},
      {"%T", "%H:%M:%S"}, {"%R", "%H:%M"}, {"%F", "%Y-%m-%d"}, {"%k", "%H"},
      {"%l", "%I"},       {"%P", "%p"},    {"%s", ""},         {"%G", ""},
      {"%V", ""},         {"%U", ""},      {"%W", ""},         {"%+", ""}};
  for (const auto &[from, to] : replace) {
    for (std::size_t at; (at = f.find(from)) != std::string::npos;)
      f.replace(at, std::strlen(from), to);
  }
  return f;
}

class ShippedLocale : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
    std::string file = shipped().file;
    ASSERT_EQ(lcotest::load(r.get(), GL_ALL, file.c_str()), lcotest::query_naming(file));
    ASSERT_EQ(r->error, 0);
    peer = peer_locale(GetParam());
    ASSERT_NE(peer, nullptr);
  }
  void TearDown() override { gl_free_registry_cache(); }
  const Shipped &shipped() const { return shipped_files[GetParam()]; }
  std::string item(int n) {
    const char *t = gl_nl_langinfo(r.get(), n);
    return t == nullptr ? "(null)" : t;
  }
  std::string peer_item(nl_item n) { return nl_langinfo_l(n, peer); }

  glstest::TableGetenv env;
  LocalePtr r;
  locale_t peer = nullptr;
};

TEST_P(ShippedLocale, TextsEqualTheCLibrarys) {
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(item(GL_DAY_1 + i), peer_item(DAY_1 + i));
    EXPECT_EQ(item(GL_ABDAY_1 + i), peer_item(ABDAY_1 + i));
  }
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(item(GL_MON_1 + i), peer_item(MON_1 + i));
    EXPECT_EQ(item(GL_ABMON_1 + i), peer_item(ABMON_1 + i));
  }
  const std::pair<int, nl_item> same[] = {
      {GL_AM_STR, AM_STR}, {GL_PM_STR, PM_STR}, {GL_RADIXCHAR, RADIXCHAR}, {GL_THOUSEP, THOUSEP},
      {GL_YESSTR, YESSTR}, {GL_NOSTR, NOSTR},   {GL_YESEXPR, YESEXPR},     {GL_NOEXPR, NOEXPR}};
  for (const auto &[ours, theirs] : same)
    EXPECT_EQ(item(ours), peer_item(theirs)) << ours;
  const std::pair<int, nl_item> formats[] = {
      {GL_D_T_FMT, D_T_FMT},       {GL_D_FMT, D_FMT},         {GL_T_FMT, T_FMT},
      {GL_T_FMT_AMPM, T_FMT_AMPM}, {GL_ERA_D_FMT, ERA_D_FMT}, {GL_ERA_D_T_FMT, ERA_D_T_FMT},
      {GL_ERA_T_FMT, ERA_T_FMT}};
  for (const auto &[ours, theirs] : formats)
    EXPECT_EQ(item(ours), rewritten(peer_item(theirs))) << ours;

  locale_t previous = uselocale(peer);
  std::string currency = localeconv()->currency_symbol;
  uselocale(previous);
  EXPECT_EQ(item(GL_CRNCYSTR), currency);
  EXPECT_EQ(item(GL_CODESET), "iso-8859-1");
  EXPECT_EQ(item(GL_CALENDAR), "gregorian\n");
  EXPECT_EQ(item(GL_ERA), "(null)");
  EXPECT_EQ(item(GL_ALT_DIGITS), "(null)"); /* built only together with eras */
}

TEST_P(ShippedLocale, ConventionsEqualLocaleconv) {
  locale_t previous = uselocale(peer);
  const lconv lc = *localeconv();
  uselocale(previous);
  const glconv *c = gl_localeconv(r.get());
  ASSERT_NE(c, nullptr);
  const std::pair<const gl_text_pair *, const char *> texts[] = {
      {&c->decimal_point, lc.decimal_point},         {&c->thousands_sep, lc.thousands_sep},
      {&c->int_curr_symbol, lc.int_curr_symbol},     {&c->currency_symbol, lc.currency_symbol},
      {&c->mon_decimal_point, lc.mon_decimal_point}, {&c->mon_thousands_sep, lc.mon_thousands_sep},
      {&c->positive_sign, lc.positive_sign},         {&c->negative_sign, lc.negative_sign}};
  for (const auto &[ours, theirs] : texts) {
    ASSERT_NE(ours->mb, nullptr) << theirs;
    EXPECT_STREQ(ours->mb, theirs);
  }
  /* An empty grouping is NULL here. */
  EXPECT_STREQ(c->grouping != nullptr ? c->grouping : "", lc.grouping);
  EXPECT_STREQ(c->mon_grouping != nullptr ? c->mon_grouping : "", lc.mon_grouping);
  const std::pair<signed char, char> ints[] = {
      {c->int_frac_digits, lc.int_frac_digits}, {c->frac_digits, lc.frac_digits},
      {c->p_cs_precedes, lc.p_cs_precedes},     {c->p_sep_by_space, lc.p_sep_by_space},
      {c->n_cs_precedes, lc.n_cs_precedes},     {c->n_sep_by_space, lc.n_sep_by_space},
      {c->p_sign_posn, lc.p_sign_posn},         {c->n_sign_posn, lc.n_sign_posn}};
  for (const auto &[ours, theirs] : ints)
    EXPECT_EQ(ours, theirs == CHAR_MAX ? 127 : theirs);
  EXPECT_STREQ(c->num_positive_sign.mb, "+");
  EXPECT_STREQ(c->num_negative_sign.mb, "-");
}

TEST_P(ShippedLocale, EveryByteHasTheCLibrarysClassesAndCase) {
  struct Bit {
    int (*test)(int, locale_t);
    int bit;
  };
  const Bit bits[] = {
      {isupper_l, GL_CLASS_UPPER},   {islower_l, GL_CLASS_LOWER}, {isalpha_l, GL_CLASS_ALPHA},
      {isdigit_l, GL_CLASS_DIGIT},   {isspace_l, GL_CLASS_SPACE}, {iscntrl_l, GL_CLASS_CNTRL},
      {ispunct_l, GL_CLASS_PUNCT},   {isgraph_l, GL_CLASS_GRAPH}, {isprint_l, GL_CLASS_PRINT},
      {isxdigit_l, GL_CLASS_XDIGIT}, {isblank_l, GL_CLASS_BLANK}};
  ASSERT_NE(r->class_map, nullptr);
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    int expected = 0;
    for (const Bit &bit : bits) {
      if (bit.test(b, peer) != 0) expected |= bit.bit;
    }
    EXPECT_EQ(r->class_map[b], expected);
    const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
    EXPECT_EQ(_gl_im_ismctype(r.get(), s, 0xFFFF), expected); /* the table walk agrees */
    EXPECT_EQ(r->upper_map[b], toupper_l(b, peer));
    EXPECT_EQ(r->lower_map[b], tolower_l(b, peer));
    EXPECT_EQ(_gl_im_towupper(r.get(), b),
              static_cast<gl_wchar>(towupper_l(b, peer) < 256 ? toupper_l(b, peer) : b));
  }
}

TEST_P(ShippedLocale, WidthsEqualWcwidth) {
  locale_t previous = uselocale(peer);
  for (int b = 1; b < 256; ++b) {
    SCOPED_TRACE(b);
    r->error = 0;
    const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
    if (iswprint_l(b, peer) != 0) {
      EXPECT_EQ(gl_wcwidth(r.get(), b), wcwidth(b));
      EXPECT_EQ(gl_mbwidth(r.get(), s), wcwidth(b));
    } else {
      EXPECT_EQ(gl_wcwidth(r.get(), b), -1);
      EXPECT_EQ(r->error, GL_EINVAL);
      EXPECT_EQ(gl_mbwidth(r.get(), s), 1);
    }
  }
  uselocale(previous);
  EXPECT_EQ(gl_mbwidth(r.get(), reinterpret_cast<const unsigned char *>("")), 0);
}

TEST_P(ShippedLocale, TablesReadBackAfterTheWriter) {
  for (gl_multi_t *table : {r->ctype_table, r->case_table, r->coll_table}) {
    ASSERT_NE(table, nullptr);
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    ASSERT_EQ(_gl_fprintf_multi(out, table, lcotest::u16_entry_writer), 0);
    std::fclose(out);
    glstest::MemStream in(std::string(text, size));
    std::free(text);
    const uint16_t zero = 0;
    gl_multi_t *copy = _gl_create_multi(2, GL_MULTI_VALID, &zero);
    ASSERT_EQ(_gl_fscanf_multi(in.get(), copy, 4, ub2_reader), 0);
    EXPECT_EQ(_gl_multi_max_length(copy), _gl_multi_max_length(table));
    EXPECT_EQ(_gl_multi_min_length(copy), _gl_multi_min_length(table));
    int word = 0;
    auto *scratch = reinterpret_cast<gl_locale *>(&word);
    for (int b = 0; b < 256; ++b) {
      const unsigned char key[2] = {static_cast<unsigned char>(b), 0};
      int length_a = -1;
      int length_b = -1;
      void *a = _gl_retrieve_text_multi(key, table, &length_a, scratch);
      void *c = _gl_retrieve_text_multi(key, copy, &length_b, scratch);
      ASSERT_EQ(a == nullptr, c == nullptr) << b;
      EXPECT_EQ(length_a, length_b);
      if (a != nullptr) {
        EXPECT_EQ(std::memcmp(a, c, 2), 0) << b;
      }
    }
    _gl_free_multi(copy);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedLocale,
                         ::testing::Range<std::size_t>(0, std::size(shipped_files)),
                         [](const auto &info) {
                           return std::string(shipped_files[info.param].source);
                         });

/* regen-gls-data's locale step, run twice into fresh directories, writes
** exactly the committed files. */
TEST(LocaleGenerator, WritesTheCommittedFilesByteForByte) {
  const std::string committed = GLS_SOURCE_DATA;
  std::string header = dvz_test::read_file(committed + "/lc11/en_us/0333.lco");
  std::string version_line = std::string("GLIBC_VERSION=") + gnu_get_libc_version() + "\n";
  if (header.find(version_line) == std::string::npos) {
    GTEST_SKIP() << "the committed files come from another C library version";
  }
  std::string outputs[2];
  for (std::string &output : outputs) {
    dvz_test::TempDir gls;
    dvz_test::TempDir work;
    gls.write("cm3/registry", dvz_test::read_file(committed + "/cm3/registry"));
    std::string cmd =
        std::string(GLS_GEN_LOCALES_PATH) + " '" + gls.path() + "' '" + work.path() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (const Shipped &s : shipped_files) {
      std::string file = std::string("/lc11/") + s.file;
      std::string written = dvz_test::read_file(gls.path() + file);
      EXPECT_EQ(written, dvz_test::read_file(committed + file)) << file;
      output += written;
    }
  }
  EXPECT_EQ(outputs[0], outputs[1]);
}

}  // namespace
