/*
** What the update after each load rebuilds from the categories: the
** choice of collation routines, the check that the categories share
** CTYPE's code set (by number, or by name where no registry resolves
** them) and the wide forms of a category's texts.
*/
#include "error_word.h"
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <string>

using namespace lcotest;

namespace {

TEST(CollationChoice, FirstMatchingRowOfTheTable) {
  gl_locale r {};
  struct Case {
    int kind, single, elements, expansions, flag;
    gl_mbscoll_func expected;
  } cases[] = {
      {2, 1, 0, 0, 1, _gl_thaismocoll},         {1, 0, 0, 0, 1, _gl_im_mbscoll},
      {1, 1, 0, 3, 1, _gl_is_mbscoll_exp},      {1, 1, 2, 0, 1, _gl_is_mbscoll_elem},
      {1, 1, 0, 0, 2, _gl_is_mbscoll_back},     {1, 1, 0, 0, 1, _gl_is_mbscoll_back},
      {1, 1, 2, 3, 1, _gl_is_mbscoll_exp_elem}, {1, 1, 2, 3, 2, _gl_im_mbscoll},
      {1, 1, 0, 3, 2, _gl_im_mbscoll},
  };
  for (const Case &c : cases) {
    r.coll_kind = c.kind;
    r.single_byte = c.single;
    r.element_count = c.elements;
    r.expansion_count = c.expansions;
    r.pass_count = 1;
    r.pass_flags[0] = c.flag;
    set_collation_fp(&r);
    EXPECT_EQ(r.mbscoll_fn, c.expected)
        << c.kind << c.single << c.elements << c.expansions << c.flag;
    EXPECT_EQ(r.mbsxfrm_fn, c.kind == 2 ? _gl_thaismoxfrm : gl_full_mbsxfrm);
  }
}

/* The code sets of a record's categories must agree with CTYPE's: a
** category read from a file of another code set is refused (error 58),
** and CTYPE reloaded alone from another code set loads but leaves error
** 12. Without a registry no code-set name resolves, so the names are
** compared themselves, case-folded: the answers are those of a registry,
** and the same name in another case is no mismatch. */
TEST(CodeSetChecks, AnswerAlikeWithAndWithoutARegistry) {
  /* A long specification: every category from latin1.lco but one. */
  const auto all_but = [](int odd_category, const char *odd_file) {
    std::string spec;
    for (int c = GL_CTYPE; c <= GL_MESSAGES; ++c)
      spec += std::string(category_keys[c - GL_CTYPE]) + " = " +
              (c == odd_category ? odd_file : "latin1.lco") + " ; ";
    return spec;
  };
  struct Case {
    const char *what;
    std::string spec;
    int error; /* 0: all six load */
  } cases[] = {
      {"one code set", all_but(0, ""), 0},
      {"NUMERIC in another code set", all_but(GL_NUMERIC, "utf8.lco"), GL_ECTYPECS},
      {"TIME in another code set", all_but(GL_TIME, "utf8.lco"), GL_ECTYPECS},
      {"MESSAGES in another code set", all_but(GL_MESSAGES, "utf8.lco"), GL_ECTYPECS},
      {"CTYPE in another code set", all_but(GL_CTYPE, "utf8.lco"), GL_ECTYPECS},
      {"NUMERIC's name in upper case", all_but(GL_NUMERIC, "upper.lco"), 0},
      {"CTYPE's name in upper case", all_but(GL_CTYPE, "upper.lco"), 0},
  };
  for (Registry registry : {Registry::built_in, Registry::none}) {
    SCOPED_TRACE(registry == Registry::none ? "no registry" : "built-in registry");
    Scene scene(registry);
    scene.write("latin1.lco", toy_locale("latin-1"));
    scene.write("upper.lco", toy_locale("LATIN-1"));
    scene.write("utf8.lco", toy_locale("utf8"));
    glstest::ErrorWord word;
    const uint16_t latin1 = gl_cs_name2cs_num(word.record(), "latin-1", nullptr);
    if (registry == Registry::none) {
      ASSERT_EQ(latin1, GL_CS_NONE);
      ASSERT_EQ(word.err, GL_ENOREGISTRY);
    } else {
      ASSERT_EQ(latin1, 819);
    }

    for (const Case &c : cases) {
      SCOPED_TRACE(c.what);
      LocalePtr r = new_record();
      const std::string query = load(r.get(), GL_ALL, c.spec.c_str());
      EXPECT_EQ(r->error, c.error);
      EXPECT_EQ(query, c.error == 0 ? c.spec : "(null)");
    }
    /* One category reloaded from another code set. */
    LocalePtr r = new_record();
    ASSERT_NE(load(r.get(), GL_ALL, "latin1.lco"), "(null)");
    ASSERT_EQ(r->error, 0);
    EXPECT_EQ(load(r.get(), GL_NUMERIC, "utf8.lco"), "(null)");
    EXPECT_EQ(r->error, GL_ECTYPECS);
    EXPECT_EQ(load(r.get(), GL_CTYPE, "utf8.lco"), "utf8.lco");
    EXPECT_EQ(r->error, GL_ECSMISMATCH);
    r->error = 0;
    EXPECT_EQ(load(r.get(), GL_CTYPE, "upper.lco"), "upper.lco");
    EXPECT_EQ(r->error, 0);
  }
}

/* A string whose last character runs into the four zero bytes that end it
** (a code set where zero bytes continue characters) is widened within its
** own block: it has no wide form, and nothing past the block is read. */
TEST(WideForms, StringEndingInsideACharacterStaysInItsBlock) {
  Scene scene;
  Lco file = toy_locale();
  CtypeToy ctype;
  ctype.classes = {
      {key({0, 0}), 32}, {key({0, '.'}), 64 | 128 | 256}, {key({'A', 0, 0, 0}), 4 | 128 | 256}};
  file.ctype = ctype.text();
  file.collate.reset();
  file.numeric = enc("A") + enc(std::string_view("\0.", 2)) + "0\n" + enc("") + enc("");
  scene.write("zero_tail.lco", file);
  LocalePtr r = new_record();
  ASSERT_NE(load(r.get(), GL_CTYPE, "zero_tail.lco"), "(null)");
  ASSERT_EQ(r->ctype_table->min_length, 2);
  load(r.get(), GL_NUMERIC, "zero_tail.lco");
  ASSERT_NE(r->decimal_point.mb, nullptr);
  EXPECT_EQ(r->decimal_point.wc, nullptr); /* "A" alone is no character */
  ASSERT_NE(r->thousands_sep.wc, nullptr);
  EXPECT_EQ(r->thousands_sep.wc[0], 0x2eu);
  EXPECT_EQ(r->thousands_sep.wc[1], 0u);
}

}  // namespace
