/*
** The locale record's lifecycle: a new record (every category null, the
** static record when memory runs out), copying categories between records
** (refused without a change when a category is missing or already there)
** and freeing source and target in every order.
*/
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <string>

using namespace lcotest;

namespace {

constexpr const char *empty_query =
    "GL_CTYPE =  ; GL_COLLATE =  ; GL_NUMERIC =  ; GL_MONETARY =  ; GL_TIME =  ; GL_MESSAGES =  ; ";

class Copying : public ToyLocales {};

TEST(NullRecord, QueryOfANewRecordNamesNothing) {
  LocalePtr r = new_record();
  EXPECT_EQ(load(r.get(), 1, nullptr), empty_query);
  EXPECT_EQ(load(r.get(), GL_TIME, nullptr), "");
  EXPECT_EQ(load(r.get(), 8, nullptr), "(null)");
  EXPECT_EQ(r->error, 9);
  EXPECT_EQ(gl_mb_loc_max(r.get()), 0);
  EXPECT_EQ(gl_mb_loc_min(r.get()), 4);
  EXPECT_EQ(r->mon_ints[GL_N_SIGN_POSN], GL_MON_NA);
  EXPECT_DOUBLE_EQ(r->case_expansion, 1.0);
}

TEST(NullRecord, FailingAllocatorHandsOutTheStaticRecord) {
  gl_locale *r = nullptr;
  {
    glstest::FailingAllocator fail(1);
    EXPECT_EQ(gl_create_null_locale_4(&r), -1);
  }
  EXPECT_EQ(r, &loc_nomem);
  EXPECT_EQ(r->error, 3);
  gl_lc_unload(r); /* does nothing */
  EXPECT_EQ(loc_nomem.error, 3);
  EXPECT_EQ(gl_setlocale_4(&loc_nomem, 1, "toy.lco"), nullptr);
  EXPECT_EQ(loc_nomem.error, 3);
}

TEST_F(Copying, ChecksChangeNothingOnFailure) {
  LocalePtr s = new_record();
  ASSERT_NE(load(s.get(), 1, "toy.lco"), "(null)");
  LocalePtr t = new_record();
  ASSERT_NE(load(t.get(), GL_CTYPE, "toy.lco"), "(null)");
  EXPECT_EQ(gl_copy_cat(t.get(), s.get(), 1), -1);
  EXPECT_EQ(t->error, 19);
  EXPECT_STREQ(t->file_names[1], "");
  EXPECT_EQ(t->shared_categories, 0);

  LocalePtr partial = new_record();
  ASSERT_NE(load(partial.get(), GL_CTYPE, "toy.lco"), "(null)");
  LocalePtr u = new_record();
  EXPECT_EQ(gl_copy_cat(u.get(), partial.get(), GL_NUMERIC), -1);
  EXPECT_EQ(u->error, 18);
  EXPECT_EQ(gl_copy_cat(u.get(), partial.get(), 1), -1);
  EXPECT_EQ(u->error, 18);
  EXPECT_EQ(gl_copy_cat(u.get(), partial.get(), GL_CTYPE), 0);
  EXPECT_EQ(u->ctype_table, partial->ctype_table);
  EXPECT_EQ(u->class_map[static_cast<unsigned char>('A')], partial->class_map['A']);
  EXPECT_NE(u->class_map, partial->class_map); /* maps are the target's own */
}

/* Load, copy, reload and unload in every order of source and target: the
** target never frees what it shares, nothing is freed twice (ASan). */
TEST_F(Copying, SurvivesEveryOrderOfFreeing) {
  enum Order {
    TargetFirst,
    SourceFirst,
    TargetReloadedThenSourceFirst,
    NonsharedFree,
    SourceReloadsOwn
  };
  for (Order order :
       {TargetFirst, SourceFirst, TargetReloadedThenSourceFirst, NonsharedFree, SourceReloadsOwn}) {
    SCOPED_TRACE(order);
    Lco eras = toy_locale();
    eras.time = toy_time(12, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey"}, {"0", "1"});
    scene.write("eras.lco", eras);
    gl_locale *s = nullptr;
    gl_locale *t = nullptr;
    ASSERT_EQ(gl_create_null_locale_4(&s), 0);
    ASSERT_EQ(gl_create_null_locale_4(&t), 0);
    ASSERT_NE(load(s, 1, "eras.lco"), "(null)");
    ASSERT_EQ(gl_copy_cat(t, s, 1), 0);
    EXPECT_EQ(t->error, 0);
    EXPECT_EQ(t->shared_categories, 0x3f);
    EXPECT_EQ(t->ltime.eras.records, nullptr);
    EXPECT_STREQ(gl_nl_langinfo(t, GL_MON_1), "Month1");
    EXPECT_STREQ(gl_localeconv(t)->decimal_point.mb, ".");
    EXPECT_NE(gl_localeconv(t)->decimal_point.mb, gl_localeconv(s)->decimal_point.mb);
    switch (order) {
      case TargetFirst:
        gl_lc_unload(t);
        gl_lc_unload(s);
        break;
      case SourceFirst:
        /* The target's data dangles now; freeing it touches none of it. */
        gl_lc_unload(s);
        gl_lc_unload(t);
        break;
      case TargetReloadedThenSourceFirst:
        EXPECT_EQ(load(t, 1, "toy.lco").substr(0, 8), "GL_CTYPE");
        EXPECT_EQ(t->shared_categories, 0);
        gl_lc_unload(s);
        EXPECT_STREQ(gl_nl_langinfo(t, GL_MON_1), "Month1");
        gl_lc_unload(t);
        break;
      case NonsharedFree:
        gl_free_nonshared_loc(t);
        gl_lc_unload(s);
        break;
      case SourceReloadsOwn:
        gl_lc_unload(t);
        EXPECT_NE(load(s, 1, "toy.lco"), "(null)");
        gl_lc_unload(s);
        break;
    }
  }
}

}  // namespace
