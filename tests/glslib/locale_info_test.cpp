/*
** Queries on loaded records: langinfo items (multibyte and wide), the
** conventions record, the version strings, the character lengths.
*/
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace lcotest;

namespace {

class Queries : public ::testing::Test {
 protected:
  Queries() {
    scene.write("toy.lco", toy_locale());
    Lco thirteen = toy_locale();
    thirteen.time = toy_time(13, {}, {"zero", "one"}, "hebrew");
    scene.write("thirteen.lco", thirteen);
    r = new_record();
    EXPECT_NE(load(r.get(), 1, "toy.lco"), "(null)");
  }
  Scene scene;
  LocalePtr r;
};

TEST_F(Queries, ItemsAnswerTheirTexts) {
  struct Case {
    int item;
    const char *text;
  } cases[] = {
      {GL_D_T_FMT, "%a %d %b %Y %H:%M:%S"},
      {GL_DAY_1, "Sunday"},
      {GL_DAY_1 + 6, "Saturday"},
      {GL_ABDAY_1, "Sun"},
      {GL_MON_1, "Month1"},
      {GL_MON_1 + 11, "Month12"},
      {GL_ABMON_1 + 11, "M12"},
      {GL_RADIXCHAR, "."},
      {GL_THOUSEP, ","},
      {GL_YESSTR, "yes"},
      {GL_NOSTR, "no"},
      {GL_CRNCYSTR, "$"},
      {GL_CODESET, "8859-1"},
      {GL_D_FMT, "%m/%d/%y"},
      {GL_T_FMT, "%H:%M:%S"},
      {GL_T_FMT_AMPM, "%I:%M:%S %p"},
      {GL_AM_STR, "AM"},
      {GL_PM_STR, "PM"},
      {GL_ERA_D_FMT, "%EC"},
      {GL_ERA_D_T_FMT, "%EC %ET"},
      {GL_ERA_T_FMT, "%ET"},
      {GL_YESEXPR, "^[yY]"},
      {GL_NOEXPR, "^[nN]"},
      {GL_CALENDAR, "gregorian\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.item);
    const char *mb = gl_nl_langinfo(r.get(), c.item);
    ASSERT_NE(mb, nullptr);
    EXPECT_STREQ(mb, c.text);
    const gl_wchar *wc = gl_wc_nl_langinfo(r.get(), c.item);
    ASSERT_NE(wc, nullptr);
    size_t n = std::strlen(c.text);
    for (size_t i = 0; i <= n; ++i)
      EXPECT_EQ(wc[i], static_cast<gl_wchar>(static_cast<unsigned char>(c.text[i])));
  }
  EXPECT_EQ(r->error, 0);
}

TEST_F(Queries, ItemsOutOfRangeLeaveTheErrorWordAlone) {
  r->error = 42;
  EXPECT_EQ(gl_nl_langinfo(r.get(), 74), nullptr);
  EXPECT_EQ(gl_nl_langinfo(r.get(), 1000), nullptr);
  EXPECT_EQ(gl_nl_langinfo(r.get(), -1), nullptr);
  EXPECT_EQ(gl_wc_nl_langinfo(r.get(), 74), nullptr);
  EXPECT_EQ(r->error, 42);
  EXPECT_EQ(gl_nl_langinfo(nullptr, GL_RADIXCHAR), nullptr);
  EXPECT_EQ(gl_nl_langinfo(nullptr, GL_DAY_1), nullptr);
  EXPECT_EQ(gl_wc_nl_langinfo(nullptr, GL_RADIXCHAR), nullptr);
  /* No eras: the joined texts do not exist. */
  EXPECT_EQ(gl_nl_langinfo(r.get(), GL_ERA), nullptr);
  EXPECT_EQ(gl_nl_langinfo(r.get(), GL_ALT_DIGITS), nullptr);
  EXPECT_EQ(r->error, 42);
}

TEST_F(Queries, MonthItemsStopAtTheListsCount) {
  r->error = 0;
  EXPECT_STREQ(gl_nl_langinfo(r.get(), 26), "Month12");
  EXPECT_EQ(gl_nl_langinfo(r.get(), 27), nullptr);
  EXPECT_EQ(r->error, 9);
  r->error = 0;
  EXPECT_EQ(gl_wc_nl_langinfo(r.get(), 35 + 12), nullptr);
  EXPECT_EQ(r->error, 9);

  LocalePtr h = new_record();
  ASSERT_NE(load(h.get(), 1, "thirteen.lco"), "(null)");
  EXPECT_STREQ(gl_nl_langinfo(h.get(), 27), "Month13");
  EXPECT_STREQ(gl_nl_langinfo(h.get(), 35 + 12), "M13");
  EXPECT_STREQ(gl_nl_langinfo(h.get(), GL_CALENDAR), "hebrew\n");
  /* Alternative digits without eras: no joined text. */
  EXPECT_EQ(h->ltime.alt_digits.count, 2);
  EXPECT_EQ(gl_nl_langinfo(h.get(), GL_ALT_DIGITS), nullptr);
}

TEST_F(Queries, NullCategoriesGiveNull) {
  LocalePtr n = new_record();
  ASSERT_NE(load(n.get(), GL_CTYPE, "toy.lco"), "(null)");
  for (int item : {GL_D_T_FMT, GL_DAY_1, GL_RADIXCHAR, GL_CRNCYSTR, GL_YESEXPR, GL_CALENDAR})
    EXPECT_EQ(gl_nl_langinfo(n.get(), item), nullptr) << item;
  EXPECT_STREQ(gl_nl_langinfo(n.get(), GL_CODESET), "");
}

TEST_F(Queries, ConventionsRecord) {
  const glconv *c = gl_localeconv(r.get());
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->decimal_point.mb, ".");
  EXPECT_STREQ(c->thousands_sep.mb, ",");
  EXPECT_STREQ(c->grouping, "\3\3");
  EXPECT_STREQ(c->int_curr_symbol.mb, "USD ");
  EXPECT_STREQ(c->currency_symbol.mb, "$");
  EXPECT_STREQ(c->mon_grouping, "\3\3");
  EXPECT_STREQ(c->positive_sign.mb, "");
  EXPECT_STREQ(c->negative_sign.mb, "-");
  EXPECT_STREQ(c->num_positive_sign.mb, "+");
  EXPECT_STREQ(c->num_negative_sign.mb, "-");
  ASSERT_NE(c->currency_symbol.wc, nullptr);
  EXPECT_EQ(c->currency_symbol.wc[0], static_cast<gl_wchar>('$'));
  const signed char ints[] = {c->int_frac_digits, c->frac_digits,   c->p_cs_precedes,
                              c->p_sep_by_space,  c->n_cs_precedes, c->n_sep_by_space,
                              c->p_sign_posn,     c->n_sign_posn};
  const signed char expected[] = {2, 2, 1, 0, 1, 0, 1, 1};
  EXPECT_EQ(std::memcmp(ints, expected, sizeof ints), 0);

  /* Not available (the file's 2147483647) is 127; a null MONETARY too. */
  Lco na = toy_locale();
  na.monetary = enc("") + enc("") + enc("") + enc("") + "0\n" + enc("") + enc("") +
                "2147483647 2147483647 2147483647 2147483647 2147483647 2147483647 -1 300\n";
  scene.write("na.lco", na);
  LocalePtr m = new_record();
  ASSERT_NE(load(m.get(), 1, "na.lco"), "(null)");
  const glconv *d = gl_localeconv(m.get());
  EXPECT_EQ(d->int_frac_digits, 127);
  EXPECT_EQ(d->n_sep_by_space, 127);
  EXPECT_EQ(d->p_sign_posn, -1);
  EXPECT_EQ(d->n_sign_posn, static_cast<signed char>(300 & 0xFF));
  EXPECT_EQ(d->mon_grouping, nullptr); /* a count of 0 */
  EXPECT_STREQ(d->currency_symbol.mb, "");
}

TEST(Versions, AreTheLibrarysOwn) {
  EXPECT_STREQ(gl_version(), "glslib-3.12.UC1");
  EXPECT_STREQ(gl_cm_version(), "3");
  EXPECT_STREQ(gl_lc_version(), "11");
  EXPECT_STREQ(gl_cv_version(), "9");
}

TEST(TwoByteCodeSet, LoadsAndAnswersInItsOwnTerminators) {
  Scene scene;
  Lco f = two_byte_locale();
  scene.write("two.lco", f);
  LocalePtr r = new_record();
  ASSERT_NE(load(r.get(), 1, "two.lco"), "(null)")
      << r->error << " " << r->file_names[0] << r->file_names[1] << r->file_names[2]
      << r->file_names[3] << r->file_names[4];
  EXPECT_EQ(r->error, 0);
  EXPECT_EQ(gl_mb_loc_min(r.get()), 2);
  EXPECT_EQ(gl_mb_loc_max(r.get()), 2);
  EXPECT_EQ(r->single_byte, 0);
  EXPECT_EQ(r->class_map, nullptr);
  EXPECT_EQ(r->mbstowcs_fn, _gl_im_mbstowcs);
  const char *radix = gl_nl_langinfo(r.get(), GL_RADIXCHAR);
  ASSERT_NE(radix, nullptr);
  EXPECT_EQ(std::memcmp(radix, "\0.\0\0", 4), 0);
  const gl_wchar *wradix = gl_wc_nl_langinfo(r.get(), GL_RADIXCHAR);
  ASSERT_NE(wradix, nullptr);
  EXPECT_EQ(wradix[0], static_cast<gl_wchar>('.'));
  EXPECT_EQ(wradix[1], 0u);
  /* The era parsed from two-byte text; joined texts end with two-byte newlines. */
  ASSERT_NE(r->ltime.eras.records, nullptr);
  EXPECT_EQ(r->ltime.eras.records[0]->start_year, 1989);
  EXPECT_EQ(std::memcmp(r->ltime.eras.records[0]->era_name, "\0A\0\0", 4), 0);
  const char *digits = gl_nl_langinfo(r.get(), GL_ALT_DIGITS);
  ASSERT_NE(digits, nullptr);
  EXPECT_EQ(std::memcmp(digits,
                        "\0"
                        "1\0\0\0\0",
                        6),
            0);
  const glconv *conv = gl_localeconv(r.get());
  EXPECT_EQ(std::memcmp(conv->decimal_point.mb, "\0.\0\0\0\0", 6), 0);
}

}  // namespace
