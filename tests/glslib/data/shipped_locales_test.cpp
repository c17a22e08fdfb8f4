/*
** The shipped locale files side by side with the C library's own locales,
** compiled from the same sources with localedef into a temporary directory
** at test time: texts, conventions, and the tables through a write and
** read-back for every file; classes, case and widths byte by byte for the
** single-byte ones (the multibyte ones character by character in
** shipped_multibyte_locales_test); and the generator's output against the
** committed files.
*/
#include "shipped_locales_support.h"

#include <gnu/libc-version.h>
#include <langinfo.h>
#include <wchar.h>
#include <wctype.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using shipped::Shipped;

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

/* Every shipped file: the texts, conventions and tables. */
class ShippedLocale : public shipped::ShippedFixture {
 protected:
  std::string item(int n) {
    const char *t = gl_nl_langinfo(r.get(), n);
    return t == nullptr ? "(null)" : t;
  }
  std::string peer_item(nl_item n) { return nl_langinfo_l(n, peer); }
};

/* The C library's alternative digits: strftime's %Oy for the years 0..99
** while it differs from %y. */
std::vector<std::string> peer_alt_digits(locale_t peer) {
  locale_t previous = uselocale(peer);
  std::vector<std::string> digits;
  for (int n = 0; n < 100; ++n) {
    std::tm t {};
    t.tm_year = n;
    t.tm_mday = 1;
    char alt[64] = {};
    char plain[64] = {};
    std::strftime(alt, sizeof alt, "%Oy", &t);
    std::strftime(plain, sizeof plain, "%y", &t);
    if (std::strcmp(alt, plain) == 0) break;
    digits.emplace_back(alt);
  }
  uselocale(previous);
  return digits;
}

TEST_P(ShippedLocale, TextsEqualTheCLibrarys) {
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(item(GL_DAY_1 + i), peer_item(DAY_1 + i));
    EXPECT_EQ(item(GL_ABDAY_1 + i), peer_item(ABDAY_1 + i));
  }
  /* A calendar of an overlay brings its own month names
  ** (shipped_calendar_locales_test). */
  const bool gregorian = std::string(GetParam().calendar) == "gregorian\n";
  for (int i = 0; gregorian && i < 12; ++i) {
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
  EXPECT_EQ(item(GL_CODESET), GetParam().codeset);
  EXPECT_EQ(item(GL_CALENDAR), GetParam().calendar);

  /* The alternative digits themselves (Japanese has 100). */
  const std::vector<std::string> digits = peer_alt_digits(peer);
  const gl_text_list &list = r->ltime.alt_digits;
  ASSERT_EQ(list.count, static_cast<int>(digits.size()));
  std::string joined_digits;
  for (int i = 0; i < list.count; ++i) {
    EXPECT_EQ(list.mb[i], digits[i]) << i;
    joined_digits += (i > 0 ? "\n" : "") + digits[i];
  }
  /* Eras come from overlays only (shipped_calendar_locales_test holds
  ** them against the C library); the joined digits are built with them. */
  if (GetParam().eras) {
    EXPECT_NE(item(GL_ERA), "(null)");
    EXPECT_EQ(item(GL_ALT_DIGITS), joined_digits);
  } else {
    EXPECT_EQ(item(GL_ERA), "(null)");
    EXPECT_EQ(item(GL_ALT_DIGITS), "(null)");
  }

  /* The wide forms hold as many characters as the C library reads. */
  auto characters = [&](const char *text) {
    locale_t previous = uselocale(peer);
    std::mbstate_t state {};
    const std::size_t n = mbsrtowcs(nullptr, &text, 0, &state);
    uselocale(previous);
    return static_cast<int>(n);
  };
  std::vector<std::pair<const char *, const gl_wchar *>> widened;
  for (int i = 0; i < 7; ++i)
    widened.emplace_back(r->ltime.day[i], r->ltime.day_wc[i]);
  for (int i = 0; i < r->ltime.mon.count; ++i)
    widened.emplace_back(r->ltime.mon.mb[i], r->ltime.mon.wc[i]);
  for (int i = 0; i < list.count; ++i)
    widened.emplace_back(list.mb[i], list.wc[i]);
  widened.emplace_back(r->ltime.d_t_fmt, r->ltime.d_t_fmt_wc);
  for (const auto &[mb, wc] : widened) {
    ASSERT_NE(mb, nullptr);
    ASSERT_NE(wc, nullptr) << mb;
    EXPECT_EQ(gl_wcslen(wc), characters(mb)) << mb;
  }
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

/* The text form of a table as the library's writer gives it. */
std::string written(gl_multi_t *table) {
  char *text = nullptr;
  size_t size = 0;
  FILE *out = open_memstream(&text, &size);
  EXPECT_EQ(_gl_fprintf_multi(out, table, lcotest::u16_entry_writer), 0);
  std::fclose(out);
  std::string result(text, size);
  std::free(text);
  return result;
}

/* Each loaded table, written, read back and written again, gives the same
** text: the reader rebuilt exactly what the file holds. */
TEST_P(ShippedLocale, TablesReadBackAfterTheWriter) {
  for (gl_multi_t *table : {r->ctype_table, r->case_table, r->coll_table}) {
    ASSERT_NE(table, nullptr);
    const std::string text = written(table);
    glstest::MemStream in(text);
    const uint16_t zero = 0;
    gl_multi_t *copy = _gl_create_multi(2, GL_MULTI_VALID, &zero);
    ASSERT_EQ(_gl_fscanf_multi(in.get(), copy, 4, ub2_reader), 0);
    EXPECT_EQ(_gl_multi_max_length(copy), _gl_multi_max_length(table));
    EXPECT_EQ(_gl_multi_min_length(copy), _gl_multi_min_length(table));
    EXPECT_TRUE(written(copy) == text);
    _gl_free_multi(copy);
  }
}

INSTANTIATE_TEST_SUITE_P(SingleByte, ShippedLocale, ::testing::ValuesIn(shipped::single_byte_files),
                         [](const auto &info) { return shipped::name_of(info.param); });
INSTANTIATE_TEST_SUITE_P(Multibyte, ShippedLocale, ::testing::ValuesIn(shipped::multibyte_files),
                         [](const auto &info) { return shipped::name_of(info.param); });

/* The single-byte files byte by byte, against the C library's 8-bit
** tables and its wide functions on each byte's Unicode value. */
using ShippedSingleByteLocale = shipped::ShippedFixture;

TEST_P(ShippedSingleByteLocale, EveryByteHasTheCLibrarysClassesAndCase) {
  struct Bit {
    int (*test)(int, locale_t);
    int bit;
  };
  const Bit bits[] = {
      {isupper_l, GL_CLASS_UPPER},   {islower_l, GL_CLASS_LOWER}, {isalpha_l, GL_CLASS_ALPHA},
      {isdigit_l, GL_CLASS_DIGIT},   {isspace_l, GL_CLASS_SPACE}, {iscntrl_l, GL_CLASS_CNTRL},
      {ispunct_l, GL_CLASS_PUNCT},   {isgraph_l, GL_CLASS_GRAPH}, {isprint_l, GL_CLASS_PRINT},
      {isxdigit_l, GL_CLASS_XDIGIT}, {isblank_l, GL_CLASS_BLANK}};
  ASSERT_EQ(r->single_byte, 1);
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
    EXPECT_EQ(_gl_im_towupper(r.get(), b), static_cast<gl_wchar>(toupper_l(b, peer)));
    EXPECT_EQ(_gl_im_towlower(r.get(), b), static_cast<gl_wchar>(tolower_l(b, peer)));
  }
}

/* Widths 1 and 2 as wcwidth gives them; its 0 (combining) is 1 here. */
TEST_P(ShippedSingleByteLocale, WidthsEqualWcwidth) {
  locale_t previous = uselocale(peer);
  for (int b = 1; b < 256; ++b) {
    SCOPED_TRACE(b);
    r->error = 0;
    const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
    const glstest::PeerChar c = glstest::peer_decode(peer, s, 1);
    if (c.length == 1 && iswprint_l(c.ucs, peer) != 0) {
      const int expected = wcwidth(static_cast<wchar_t>(c.ucs)) == 2 ? 2 : 1;
      EXPECT_EQ(gl_wcwidth(r.get(), b), expected);
      EXPECT_EQ(gl_mbwidth(r.get(), s), expected);
    } else {
      EXPECT_EQ(gl_wcwidth(r.get(), b), -1);
      EXPECT_EQ(r->error, GL_EINVAL);
      EXPECT_EQ(gl_mbwidth(r.get(), s), 1);
    }
  }
  uselocale(previous);
  EXPECT_EQ(gl_mbwidth(r.get(), reinterpret_cast<const unsigned char *>("")), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, ShippedSingleByteLocale,
                         ::testing::ValuesIn(shipped::single_byte_files),
                         [](const auto &info) { return shipped::name_of(info.param); });

/* The Thai file's COLLATE is the one line that selects the Thai comparer. */
TEST(ShippedThaiLocale, CollatesWithTheThaiComparer) {
  glstest::TableGetenv env;
  lcotest::LocalePtr r = lcotest::new_shipped_record(env, GLS_SOURCE_DATA);
  ASSERT_EQ(lcotest::load(r.get(), GL_ALL, "th_th/e01d.lco"),
            lcotest::query_naming("th_th/e01d.lco"));
  EXPECT_EQ(r->error, 0);
  EXPECT_EQ(r->coll_kind, 2);
  EXPECT_EQ(r->pass_count, 0);
  gl_free_registry_cache();
}

/* regen-gls-data's locale step, run twice into fresh directories, writes
** exactly the committed files. */
TEST(LocaleGenerator, WritesTheCommittedFilesByteForByte) {
  const std::string committed = GLS_SOURCE_DATA;
  std::string header = dvz_test::read_file(committed + "/lc11/en_us/0333.lco");
  std::string version_line = std::string("GLIBC_VERSION=") + gnu_get_libc_version() + "\n";
  if (header.find(version_line) == std::string::npos) {
    GTEST_SKIP() << "the committed files come from another C library version";
  }
  std::vector<std::string> files;
  for (const Shipped &s : shipped::single_byte_files)
    files.push_back(std::string("/lc11/") + s.file);
  for (const Shipped &s : shipped::multibyte_files)
    files.push_back(std::string("/lc11/") + s.file);
  std::string outputs[2];
  for (std::string &output : outputs) {
    dvz_test::TempDir gls;
    dvz_test::TempDir work;
    gls.write("cm3/registry", dvz_test::read_file(committed + "/cm3/registry"));
    std::string cmd = std::string(GLS_GEN_LOCALES_PATH) + " '" + gls.path() + "' '" + work.path() +
                      "' '" + GLS_GEN_OVERLAYS + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (const std::string &file : files) {
      std::string written = dvz_test::read_file(gls.path() + file);
      EXPECT_TRUE(written == dvz_test::read_file(committed + file)) << file;
      output += written;
    }
  }
  EXPECT_TRUE(outputs[0] == outputs[1]);
}

}  // namespace
