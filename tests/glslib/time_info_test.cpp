/*
** The time information of a locale: copies of its name lists, its format
** strings and its era count, and a list that cannot be copied whole.
*/
#include "gl_time.h"
#include "host_doubles.h"
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

/* The list of item as strings, or {"-1"} when the call fails. */
std::vector<std::string> info(gl_locale *loc, int item) {
  char **list = reinterpret_cast<char **>(1);
  int count = -7;
  if (gl_mbstimeinfo(loc, item, &list, &count) != 0) {
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
    return {"-1"};
  }
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    out.emplace_back(list[i] != nullptr ? list[i] : "(null)");
    _gl_free_ptr(list[i]);
  }
  _gl_free_ptr(list);
  return out;
}

class TimeInformation : public ::testing::Test {
 protected:
  lcotest::Scene scene;
  lcotest::LocalePtr make(const lcotest::TimeToy &toy, const char *name) {
    lcotest::Lco file = lcotest::toy_locale();
    file.time = toy.text();
    scene.write(name, file);
    lcotest::LocalePtr r = lcotest::new_record();
    EXPECT_NE(lcotest::load(r.get(), GL_ALL, name), "(null)");
    EXPECT_EQ(r->error, 0);
    return r;
  }
  lcotest::LocalePtr plain = make({}, "plain.lco");
  lcotest::LocalePtr rich = [this] {
    lcotest::TimeToy toy;
    toy.month_count = 13;
    toy.eras = {"+:1:2019/05/01:+*:Reiwa:R:%EC%Ey", "+:1:1989/01/08:2019/04/30:Heisei::%Ey"};
    toy.alt_digits = {"zero", "one", "two"};
    toy.d_fmt = "%d.%m";
    return make(toy, "rich.lco");
  }();
};

TEST_F(TimeInformation, ItemsCopyTheirLists) {
  using V = std::vector<std::string>;
  EXPECT_EQ(info(plain.get(), GL_TIMEINFO_DAY).size(), 7U);
  EXPECT_EQ(info(plain.get(), GL_TIMEINFO_DAY)[3], "Wednesday");
  EXPECT_EQ(info(plain.get(), GL_TIMEINFO_ABDAY)[0], "Sun");
  EXPECT_EQ(info(rich.get(), GL_TIMEINFO_MON).size(), 13U);
  EXPECT_EQ(info(rich.get(), GL_TIMEINFO_ABMON)[12], "M13");
  EXPECT_EQ(info(rich.get(), GL_TIMEINFO_ERA_NAME), (V {"Reiwa", "Heisei"}));
  EXPECT_EQ(info(rich.get(), GL_TIMEINFO_ERA_NAME2), (V {"R", ""}));
  EXPECT_EQ(info(rich.get(), GL_TIMEINFO_ALT_DIGITS), (V {"zero", "one", "two"}));
  EXPECT_EQ(info(plain.get(), GL_TIMEINFO_AM_PM), (V {"AM", "PM"}));
}

TEST_F(TimeInformation, UnknownItemsAndEmptyListsFail) {
  for (int item : {0, 9, -1})
    EXPECT_EQ(info(plain.get(), item), std::vector<std::string> {"-1"}) << item;
  for (int item : {GL_TIMEINFO_ERA_NAME, GL_TIMEINFO_ERA_NAME2, GL_TIMEINFO_ALT_DIGITS})
    EXPECT_EQ(info(plain.get(), item), std::vector<std::string> {"-1"}) << item;
}

TEST_F(TimeInformation, ACopyThatCannotBeMadeFailsTheWholeList) {
  /* Call 1 is the array; calls 2.. the copies. */
  for (int fail_at : {1, 2, 5, 8}) {
    char **list = nullptr;
    int count = -1;
    glstest::FailingAllocator allocator(fail_at);
    plain->error = 0;
    EXPECT_EQ(gl_mbstimeinfo(plain.get(), GL_TIMEINFO_DAY, &list, &count), -1) << fail_at;
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(plain->error, GL_ENOMEM);
    EXPECT_EQ(allocator.outstanding(), 0) << fail_at;
  }
}

TEST_F(TimeInformation, FormatsAndEraCount) {
  EXPECT_STREQ(gl_get_ltime_fmts(rich.get(), 61), "%d.%m");
  EXPECT_STREQ(gl_get_ltime_fmts(plain.get(), 0), "%a %d %b %Y %H:%M:%S");
  EXPECT_STREQ(gl_get_ltime_fmts(plain.get(), 63), "%I:%M:%S %p");
  EXPECT_STREQ(gl_get_ltime_fmts(plain.get(), 69), "%ET");
  EXPECT_STREQ(gl_get_ltime_fmts(plain.get(), 64), "");
  EXPECT_EQ(gl_get_era_count(rich.get()), 2);
  EXPECT_EQ(gl_get_era_count(plain.get()), 0);
  EXPECT_EQ(gl_get_era_count(nullptr), -1);
}

}  // namespace
