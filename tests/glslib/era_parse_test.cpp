/*
** Era strings of a TIME section, through a load: each parsed field by
** field into its era record, the joined texts and the era-name tree, and
** the malformed eras (a missing sign, separator or "/", a signed date
** field) that fail the TIME category.
*/
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace lcotest;

namespace {

class EraStrings : public ::testing::Test {
 protected:
  /* A new record with all six categories of the toy locale whose TIME has
  ** the one era given; *query receives the load's query string. */
  LocalePtr load_era(const char *era, std::string *query) {
    Lco file = toy_locale();
    file.time = toy_time(12, {era});
    scene.write("one_era.lco", file);
    LocalePtr r = new_record();
    *query = load(r.get(), 1, "one_era.lco");
    return r;
  }
  Scene scene;
};

TEST_F(EraStrings, ParseFieldByField) {
  Lco file = toy_locale();
  file.time = toy_time(12, {"+:1:1989/01/08:+*:Heisei:HS:%EC%Ey", "-:-2:5/12/31:100/1/1:Old:O:%Ey"},
                       {"zero", "one"});
  scene.write("era.lco", file);
  LocalePtr r = new_record();
  ASSERT_NE(load(r.get(), 1, "era.lco"), "(null)");
  EXPECT_EQ(r->error, 0);
  const gl_ltime &t = r->ltime;
  ASSERT_EQ(t.eras.count, 2);
  ASSERT_NE(t.eras.records, nullptr);
  const era_record &e = *t.eras.records[0];
  EXPECT_EQ(e.direction, 1);
  EXPECT_EQ(e.offset, 1);
  EXPECT_EQ(e.start_year, 1989);
  EXPECT_EQ(e.start_month, 1);
  EXPECT_EQ(e.start_day, 8);
  EXPECT_EQ(e.end_kind, 1);
  EXPECT_EQ(e.end_year, 0);
  EXPECT_STREQ(e.era_name, "Heisei");
  EXPECT_STREQ(e.era_name2, "HS");
  EXPECT_STREQ(e.era_year_format, "%EC%Ey");
  ASSERT_NE(e.era_year_format_wc, nullptr);
  EXPECT_EQ(e.era_year_format_wc[0], static_cast<gl_wchar>('%'));
  const era_record &f = *t.eras.records[1];
  EXPECT_EQ(f.direction, -1);
  EXPECT_EQ(f.offset, -2);
  EXPECT_EQ(f.start_year, 5);
  EXPECT_EQ(f.end_kind, 0);
  EXPECT_EQ(f.end_year, 100);
  EXPECT_EQ(f.end_month, 1);
  EXPECT_STREQ(t.era_joined.mb,
               "+:1:1989/01/08:+*:Heisei:HS:%EC%Ey\n-:-2:5/12/31:100/1/1:Old:O:%Ey");
  EXPECT_STREQ(t.alt_digits_joined.mb, "zero\none");
  /* The era trees answer with the era's index. */
  const gl_wchar text[] = {'O', 'l', 'd', 0}; /* no case pair for O here */
  int length = 0, index = -1;
  EXPECT_EQ(
      _gl_validate_wc_string(r.get(), t.lookup_trees[GL_TREE_ERA_NAME], text, &length, &index), 0);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(length, 3);
}

TEST_F(EraStrings, MalformedOnesFailTheTimeCategory) {
  struct Case {
    const char *era;
    int error;
  } cases[] = {
      {"*:1:1989/01/08:+*:A:B:C", 49}, /* no direction */
      {"+1:1989/01/08:+*:A:B:C", 49}, /* missing separator */
      {"+:1:1989-01-08:+*:A:B:C", 49}, /* a date without "/" */
      {"+:1:1989/01/08:+*:A", 3}, /* a name with no ":" after it */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.era);
    std::string query;
    LocalePtr r = load_era(c.era, &query);
    EXPECT_EQ(query, "(null)");
    EXPECT_EQ(r->error, c.error);
    EXPECT_EQ(r->ltime.eras.records, nullptr);
  }
}

/* Only an era's offset takes a minus sign: a signed year, month or day in
** its start or end date (an era starting in month -1) is as malformed as
** any other bad era and fails the TIME category with error 49. */
TEST_F(EraStrings, DatesTakeNoSignButTheOffsetDoes) {
  struct Case {
    const char *era;
    int error; /* 0: loads */
  } cases[] = {
      {"+:1:-1989/01/08:+*:A:B:C", 49}, /* start year */
      {"+:1:1989/-1/08:+*:A:B:C", 49}, /* start month */
      {"+:1:1989/01/-8:+*:A:B:C", 49}, /* start day */
      {"-:1:2000/01/01:-1989/01/08:A:B:C", 49}, /* end year */
      {"-:1:2000/01/01:1989/-1/08:A:B:C", 49}, /* end month */
      {"-:1:2000/01/01:1989/01/-8:A:B:C", 49}, /* end day */
      {"+:-3:1989/01/08:+*:A:B:C", 0}, /* a signed offset */
      {"-:-3:2000/01/01:1989/01/08:A:B:C", 0}, /* a signed offset with an end date */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.era);
    std::string query;
    LocalePtr r = load_era(c.era, &query);
    EXPECT_EQ(r->error, c.error);
    if (c.error != 0) {
      EXPECT_EQ(query, "(null)");
      EXPECT_EQ(r->ltime.eras.records, nullptr);
      EXPECT_EQ(r->ltime.calendar, 0); /* the category is null again */
    } else {
      EXPECT_NE(query, "(null)");
      ASSERT_NE(r->ltime.eras.records, nullptr);
      EXPECT_EQ(r->ltime.eras.records[0]->offset, -3);
      EXPECT_EQ(r->ltime.eras.records[0]->start_year, c.era[0] == '+' ? 1989 : 2000);
    }
  }
}

}  // namespace
