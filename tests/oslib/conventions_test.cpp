/*
** Numeric and monetary conventions of a connection's environment: those of
** a generated locale against the C library's localeconv() of the locale it
** was generated from, DBMONEY laid over them, the copy of a locale's
** conventions one character per text, and the built-in defaults. Every
** case connects (dvz_connect_glsenv) under its own variables, so each gets
** an environment of its own whose conventions load once.
*/
#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect_fixture.h"
#include "os_glsenvs.h"
#include "os_lconv.h"
#include "peer_locales.h"

namespace {

class Conventions : public connect_test::ConnectTest {
 protected:
  /* The environment of a connect under the variables set now. */
  static gls_env *connected() {
    gls_env *env = nullptr;
    EXPECT_EQ(connect(&env), 0);
    return env;
  }
};

TEST_F(Conventions, WithoutDbmoneyTheyAreTheCLibrarysOfTheSourceLocale) {
  struct Row {
    const char *client_locale;
    const char *source;
    const char *charmap;
  };
  const Row rows[] = {{"en_US.8859-1", "en_US", "ISO-8859-1"},
                      {"de_DE.8859-1", "de_DE", "ISO-8859-1"},
                      {"fr_CA.8859-1", "fr_CA", "ISO-8859-1"},
                      {"en_US.utf8", "en_US", "UTF-8"}};
  for (const Row &r : rows) {
    SCOPED_TRACE(r.client_locale);
    setenv("CLIENT_LOCALE", r.client_locale, 1);
    gls_env *env = connected();
    ASSERT_NE(env, nullptr);
    locale_t peer = glstest::peer_locale(r.source, r.charmap);
    ASSERT_NE(peer, nullptr);
    locale_t previous = uselocale(peer);
    const lconv theirs = *localeconv();
    uselocale(previous);

    const new_gls_env &state = *env->state;
    const gls_lconv &ours = *state.lconv;
    EXPECT_EQ(state.lconv_loaded, 2);
    EXPECT_STREQ(ours.decimal_point, theirs.decimal_point);
    EXPECT_EQ(ours.decimal_point_len, static_cast<int32_t>(strlen(theirs.decimal_point)));
    EXPECT_STREQ(ours.locale_decimal_point, theirs.decimal_point);
    EXPECT_STREQ(ours.thousands_sep, theirs.thousands_sep);
    EXPECT_EQ(std::string(ours.grouping), std::string(theirs.grouping).substr(0, 3));
    EXPECT_STREQ(ours.currency_symbol, theirs.currency_symbol);
    EXPECT_STREQ(ours.int_curr_symbol, theirs.int_curr_symbol);
    EXPECT_STREQ(ours.mon_decimal_point, theirs.mon_decimal_point);
    EXPECT_EQ(std::string(ours.mon_grouping), std::string(theirs.mon_grouping).substr(0, 3));
    EXPECT_EQ(ours.frac_digits, theirs.frac_digits == CHAR_MAX ? 127 : theirs.frac_digits);
    EXPECT_EQ(ours.p_cs_precedes, theirs.p_cs_precedes == CHAR_MAX ? 127 : theirs.p_cs_precedes);
    /* The locale's symbol stands on the side the locale puts it. */
    const bool front = theirs.p_cs_precedes != 0;
    EXPECT_STREQ(front ? state.front_currency : state.back_currency, theirs.currency_symbol);
    EXPECT_STREQ(front ? state.back_currency : state.front_currency, "");
    EXPECT_EQ(genlcscale(), theirs.frac_digits);
  }
}

struct DbmoneyRow {
  const char *dbmoney;
  const char *front;
  const char *back;
  const char *point; /* decimal point and monetary decimal point */
  const char *separator; /* thousands and monetary thousands separator */
  const char *symbol; /* currency symbol in force */
  int precedes;
};

void expect_dbmoney(const gls_env *env, const DbmoneyRow &r) {
  SCOPED_TRACE(r.dbmoney);
  ASSERT_NE(env, nullptr);
  const new_gls_env &state = *env->state;
  const gls_lconv &lc = *state.lconv;
  EXPECT_EQ(state.lconv_loaded, 1);
  EXPECT_STREQ(state.vars[gls_var_dbmoney], r.dbmoney);
  EXPECT_STREQ(state.front_currency, r.front);
  EXPECT_STREQ(state.back_currency, r.back);
  EXPECT_STREQ(lc.decimal_point, r.point);
  EXPECT_STREQ(lc.mon_decimal_point, r.point);
  EXPECT_EQ(lc.decimal_point_len, static_cast<int32_t>(strlen(r.point)));
  EXPECT_EQ(lc.mon_decimal_point_len, static_cast<int32_t>(strlen(r.point)));
  EXPECT_EQ(lc.decimal_point_width, 1);
  EXPECT_STREQ(lc.thousands_sep, r.separator);
  EXPECT_STREQ(lc.mon_thousands_sep, r.separator);
  EXPECT_EQ(lc.thousands_sep_len, 1);
  EXPECT_STREQ(lc.currency_symbol, r.symbol);
  EXPECT_EQ(lc.p_cs_precedes, r.precedes);
  EXPECT_STREQ(lc.locale_decimal_point, ".") << "the locale's own stays";
}

TEST_F(Conventions, DbmoneyGivesTheSymbolsAndTheDecimalSeparator) {
  const std::string letters28 = "ABCDEFGHIJKLMNOPQRSTUVWXYZab";
  const std::string long_front = letters28 + ";EUR";
  const std::string no_separator = letters28 + "cd";
  const DbmoneyRow rows[] = {
      {"DM,", "DM", "", ",", ".", "DM", 1},
      {",DM", "", "DM", ",", ".", "DM", 0},
      {"US1$.", "US*$", "", ".", ",", "US*$", 1}, /* a digit stands as "*" in front */
      {".DM5", "", "DM", ".", ",", "DM", 0}, /* and is dropped behind */
      {"$", "$", "", ".", ",", "$", 1}, /* no separator: the locale's point */
      {"A.B", "A", "B", ".", ",", "B", 1}, /* the back symbol wins */
      {"12,", "**", "", ",", ".", "**", 1},
      /* After 28 bytes the next character is the separator, whatever it is. */
      {long_front.c_str(), letters28.c_str(), "EUR", ";", ",", "EUR", 1},
      {no_separator.c_str(), letters28.c_str(), "d", "c", ",", "d", 1},
  };
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  for (const DbmoneyRow &r : rows) {
    setenv("DBMONEY", r.dbmoney, 1);
    expect_dbmoney(connected(), r);
  }
}

TEST_F(Conventions, DbmoneyReadsCharactersOfTheLocale) {
  const std::string euro = "\xE2\x82\xAC";
  std::string nine_euros;
  for (int i = 0; i < 9; ++i)
    nine_euros += euro;
  /* 27 bytes: a tenth euro does not fit and is left out. */
  const std::string ten_euros = nine_euros + euro + ",X";
  const std::string euro_separator = "ABCDEFGHIJKLMNOPQRSTUVWXYZab" + euro;
  const DbmoneyRow rows[] = {
      {"\xE2\x82\xAC,", "\xE2\x82\xAC", "", ",", ".", "\xE2\x82\xAC", 1},
      /* Bytes that are no character count as one-byte characters. */
      {"\xFF\xFE,", "\xFF\xFE", "", ",", ".", "\xFF\xFE", 1},
      {ten_euros.c_str(), nine_euros.c_str(), "X", ",", ".", "X", 1},
  };
  setenv("CLIENT_LOCALE", "en_US.utf8", 1);
  for (const DbmoneyRow &r : rows) {
    setenv("DBMONEY", r.dbmoney, 1);
    expect_dbmoney(connected(), r);
  }

  /* A character of three bytes as the separator: one column wide. */
  setenv("DBMONEY", euro_separator.c_str(), 1);
  gls_env *env = connected();
  ASSERT_NE(env, nullptr);
  EXPECT_STREQ(env->state->lconv->decimal_point, euro.c_str());
  EXPECT_EQ(env->state->lconv->decimal_point_len, 3);
  EXPECT_EQ(env->state->lconv->decimal_point_width, 1);

  /* An invalid byte as the separator falls back to ".". */
  const std::string invalid_separator = "ABCDEFGHIJKLMNOPQRSTUVWXYZab\xFF";
  setenv("DBMONEY", invalid_separator.c_str(), 1);
  env = connected();
  ASSERT_NE(env, nullptr);
  EXPECT_STREQ(env->state->lconv->decimal_point, ".");
  EXPECT_EQ(env->state->lconv->decimal_point_len, 1);
  EXPECT_EQ(env->state->lconv->decimal_point_width, 1);
  EXPECT_STREQ(env->state->lconv->mon_decimal_point, ".");
}

TEST_F(Conventions, LoadOncePerEnvironmentAndEmptyDbmoneyIsUnset) {
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  setenv("DBMONEY", "DM,", 1);
  gls_env *env = connected();
  ASSERT_NE(env, nullptr);
  setenv("DBMONEY", "FF.", 1);
  rmoninit(0);
  EXPECT_STREQ(env->state->front_currency, "DM") << "loaded already: DBMONEY no longer read";
  EXPECT_STREQ(env->state->lconv->decimal_point, ",");

  setenv("DBMONEY", "", 1);
  env = connected();
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(env->state->lconv_loaded, 2);
  EXPECT_STREQ(env->state->front_currency, "$");
  EXPECT_STREQ(env->state->lconv->decimal_point, ".");
}

/* A locale's conventions copied into the current block, one character per
** one-character text. */
TEST_F(Conventions, LocaleConventionsAreCopiedOneCharacterPerText) {
  setenv("CLIENT_LOCALE", "en_US.utf8", 1);
  gls_env *env = connected();
  ASSERT_NE(env, nullptr);
  ASSERT_EQ(CheckGlsEnv(), env);

  auto text = [](const char *mb) { return gl_text_pair {const_cast<char *>(mb), nullptr}; };
  const std::string long_symbol(70, 'I');
  char grouping[] = "\x01\x02\x03\x04";
  char mon_grouping[] = "\x03";
  glconv c {};
  c.decimal_point = text("\xC2\xB7x"); /* a two-byte character and more */
  c.thousands_sep = text("");
  c.grouping = grouping;
  c.int_curr_symbol = text(long_symbol.c_str());
  c.currency_symbol = text("\xE2\x82\xAC");
  c.mon_decimal_point = text("");
  c.mon_thousands_sep = text(nullptr);
  c.mon_grouping = mon_grouping;
  c.positive_sign = text("\xFF+");
  c.negative_sign = text("-");
  c.frac_digits = 127;
  c.int_frac_digits = 3;
  c.p_cs_precedes = 0;
  c.n_sign_posn = 4;

  init_local_lconv(&c);
  const gls_lconv &lc = *env->state->lconv;
  EXPECT_STREQ(lc.decimal_point, "\xC2\xB7");
  EXPECT_EQ(lc.decimal_point_len, 2);
  EXPECT_STREQ(lc.locale_decimal_point, "\xC2\xB7");
  EXPECT_STREQ(lc.thousands_sep, "");
  EXPECT_STREQ(lc.grouping, "\x01\x02\x03") << "three sizes and a terminator";
  EXPECT_STREQ(lc.mon_grouping, "\x03") << "the numeric and monetary groupings stay apart";
  EXPECT_EQ(std::string(lc.int_curr_symbol), long_symbol.substr(0, 64));
  EXPECT_STREQ(lc.currency_symbol, "\xE2\x82\xAC");
  EXPECT_STREQ(lc.mon_decimal_point, "\xC2\xB7")
      << "an empty monetary point takes the decimal point";
  EXPECT_STREQ(lc.mon_thousands_sep, "");
  EXPECT_STREQ(lc.positive_sign, "") << "an invalid first character gives nothing";
  EXPECT_STREQ(lc.negative_sign, "-");
  EXPECT_EQ(lc.int_frac_digits, 3);
  EXPECT_EQ(lc.p_cs_precedes, 0);
  EXPECT_EQ(lc.n_sign_posn, 4);
  EXPECT_EQ(genlcscale(), 32) << "127 fraction digits";
  c.frac_digits = 2;
  init_local_lconv(&c);
  EXPECT_EQ(genlcscale(), 2);

  init_local_lconv(nullptr);
  EXPECT_EQ(lc.frac_digits, 2) << "nothing for NULL";
}

TEST_F(Conventions, BuiltInDefaults) {
  setenv("CLIENT_LOCALE", "de_DE.8859-1", 1);
  gls_env *env = connected();
  ASSERT_NE(env, nullptr);
  init_dflt_lconv();
  const gls_lconv &lc = *env->state->lconv;
  for (const char *point : {lc.decimal_point, lc.locale_decimal_point, lc.mon_decimal_point})
    EXPECT_STREQ(point, ".");
  EXPECT_STREQ(lc.grouping, "\x03");
  EXPECT_STREQ(lc.mon_grouping, "\x03");
  EXPECT_STREQ(lc.thousands_sep, "");
  EXPECT_STREQ(lc.currency_symbol, "");
  EXPECT_STREQ(lc.positive_sign, "+");
  EXPECT_STREQ(lc.negative_sign, "-");
  const signed char bytes[8] = {lc.int_frac_digits, lc.frac_digits,   lc.p_cs_precedes,
                                lc.p_sep_by_space,  lc.n_cs_precedes, lc.n_sep_by_space,
                                lc.p_sign_posn,     lc.n_sign_posn};
  const signed char expected[8] = {0, 0, 1, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(bytes[i], expected[i]) << i;
}

}  // namespace
