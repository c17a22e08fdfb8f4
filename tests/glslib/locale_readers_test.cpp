/*
** The section readers of locale files: encoded strings, groupings, the
** header, CTYPE and TIME, and, through a load, the malformed sections that
** must fail their category with error 11 (or their own error) and leave
** nothing half-read.
*/
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace lcotest;

namespace {

/* The sections read through a load of a whole file into a record. */
class LoadedSections : public ::testing::Test {
 protected:
  Scene scene;
};

TEST(EncodedString, ReadsLengthSpaceAndHexPairs) {
  struct Case {
    const char *text;
    const char *bytes; /* nullptr: fails */
    int error;
  } cases[] = {
      {"0\n", "", 0},
      {"3 414243\n", "ABC", 0},
      {"3414243\n", nullptr, 8}, /* no space after the length */
      {"-1\n", nullptr, 11}, /* negative length */
      {"5 4142\n", nullptr, 11}, /* the data ends before the length */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    MemStream in(c.text);
    int error = 0;
    char *s = str_readallc(in.get(), &error);
    if (c.bytes == nullptr) {
      EXPECT_EQ(s, nullptr);
      EXPECT_EQ(error, c.error);
      continue;
    }
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, c.bytes);
    /* Four zero bytes end every string, whatever the code set. */
    EXPECT_EQ(std::memcmp(s + std::strlen(c.bytes), "\0\0\0\0", 4), 0);
    _gl_free_ptr(s);
  }
}

TEST(Grouping, ReadsSizesAndRefusesSixteen) {
  MemStream good("3 3 3 2\nrest");
  gl_grouping g {};
  int error = 0;
  ASSERT_EQ(read_group(good.get(), &g, &error), 0);
  EXPECT_EQ(g.count, 3);
  EXPECT_EQ(g.sizes[0], 3);
  EXPECT_EQ(g.sizes[1], 3);
  EXPECT_EQ(g.sizes[2], 2);
  EXPECT_EQ(good.rest(), "rest");

  std::string sixteen = "16";
  for (int i = 1; i <= 16; ++i)
    sixteen += " " + std::to_string(i);
  MemStream bad(sixteen + "\n");
  gl_grouping h {};
  EXPECT_EQ(read_group(bad.get(), &h, &error), -1);
  EXPECT_EQ(error, 4);
  EXPECT_EQ(h.count, 15); /* fifteen values were read */
  EXPECT_EQ(h.sizes[14], 15);

  MemStream negative("-2\n");
  EXPECT_EQ(read_group(negative.get(), &h, &error), -1);
  EXPECT_EQ(error, 11);
}

TEST(FileHeader, AcceptsOnlyTheLocaleFileOfThisVersion) {
  const std::string long_line(200, 'x');
  struct Case {
    std::string text;
    int ok;
    int error;
  } cases[] = {
      {header_text("8859-1"), 1, 0},
      {"FILE_TYPE=conversion_object\nCOMPILER_VERSION=11\nN=3\n8859-1\n", 0, 11},
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=10\nN=3\n8859-1\n", 0, 51},
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=2\n8859-1\n", 0, 11}, /* N below 3 */
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN 3\n8859-1\n", 0, 11}, /* no "=" */
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=4\n" + long_line + "\n8859-1\n", 0, 11},
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=3\nname-of-twenty-chars\n", 0, 11},
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\n", 0, 11}, /* cut short */
      {"FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=9\n8859-1\n", 0, 11}, /* lines missing */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text.substr(0, 70));
    MemStream in(c.text);
    char name[GL_CS_NAME_SLOT] = "unchanged";
    int error = 0;
    EXPECT_EQ(read_file_header(in.get(), name, &error), c.ok);
    if (c.ok) {
      EXPECT_STREQ(name, "8859-1");
    } else {
      EXPECT_EQ(error, c.error);
    }
  }
}

TEST(CtypeSection, CaseExpansionFromTheRestOfTheLine) {
  struct Case {
    std::string after;
    int ok;
    double expansion;
  } cases[] = {{"", 1, 4.0}, {" 1.5", 1, 1.5}, {" lots", 0, 0}, {" -3", 0, 0}, {" nan", 0, 0}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.after);
    CtypeToy toy = toy_ctype();
    toy.after_pairs = c.after;
    LocalePtr r = new_record();
    MemStream in(toy.text());
    if (c.ok) {
      ASSERT_EQ(read_ctype(in.get(), r.get()), 0);
      EXPECT_DOUBLE_EQ(r->case_expansion, c.expansion);
      EXPECT_EQ(r->case_pair_count, 1);
      EXPECT_EQ(r->case_pairs[1].upper, 0x41u);
      EXPECT_EQ(r->case_pairs[1].lower, 0x61u);
    } else {
      EXPECT_NE(read_ctype(in.get(), r.get()), 0);
      EXPECT_EQ(r->error, 11);
    }
  }
}

TEST(CtypeSection, ReadsNamedClasses) {
  CtypeToy toy = toy_ctype();
  toy.named = {{0, "full_width"}, {3, "kana"}};
  LocalePtr r = new_record();
  MemStream in(toy.text());
  ASSERT_EQ(read_ctype(in.get(), r.get()), 0);
  ASSERT_EQ(r->class_count, 2);
  EXPECT_EQ(r->classes[0].number, 0);
  EXPECT_STREQ(r->classes[0].name, "full_width");
  EXPECT_EQ(r->classes[1].number, 3);
  EXPECT_STREQ(r->classes[1].name, "kana");
}

/* Validation of what the readers index with: each case must fail with 11. */
TEST(CtypeSection, MalformedInputFailsWithSyntaxError) {
  std::vector<std::pair<const char *, std::string>> cases;
  {
    CtypeToy t = toy_ctype();
    t.case_index[key({'1'})] = 2; /* an index past the single pair */
    cases.emplace_back("case index past pairs", t.text());
  }
  {
    CtypeToy t = toy_ctype();
    std::string text = t.text();
    std::string classes = table_text(t.classes);
    cases.emplace_back("negative class count", classes + "-1\n" + text.substr(classes.size() + 2));
  }
  {
    CtypeToy t = toy_ctype();
    t.named = {{1, std::string(80, 'n')}}; /* longer than a class name may be */
    cases.emplace_back("long class name", t.text());
  }
  {
    CtypeToy t = toy_ctype();
    t.pairs.clear();
    t.case_index.clear();
    std::string text = t.text();
    text.replace(text.rfind("0\n"), 2, "-4\n");
    cases.emplace_back("negative pair count", text);
  }
  {
    CtypeToy t = toy_ctype();
    std::string text = t.text();
    cases.emplace_back("cut inside the pairs", text.substr(0, text.size() - 12));
  }
  for (const auto &[what, text] : cases) {
    SCOPED_TRACE(what);
    LocalePtr r = new_record();
    MemStream in(text);
    EXPECT_NE(read_ctype(in.get(), r.get()), 0);
    EXPECT_EQ(r->error, 11);
  }
}

TEST(TimeSection, CalendarNamesAndMonthCounts) {
  struct Case {
    const char *calendar;
    int result;
    int id_or_error;
  } cases[] = {{"gregorian", 0, 1}, {"hebrew", 0, 2},   {"islamic", 0, 3},
               {"arabic", 0, 4},    {"julian", -1, 50}, {"Gregorian", -1, 50}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.calendar);
    MemStream in(toy_time(13, {}, {}, c.calendar));
    gl_ltime t {};
    int error = 0;
    EXPECT_EQ(_gl_read_time(in.get(), &t, &error), c.result);
    if (c.result == 0) {
      EXPECT_EQ(t.calendar, c.id_or_error);
      EXPECT_EQ(t.mon.count, 13);
      EXPECT_STREQ(t.mon.mb[12], "Month13");
    } else {
      EXPECT_EQ(error, c.id_or_error);
    }
    /* Free what was read (the record's freeing is tested with loading). */
    gl_locale *r = nullptr;
    ASSERT_EQ(gl_create_null_locale_4(&r), 0);
    r->ltime = t;
    gl_lc_unload(r);
  }
}

TEST(TimeSection, NegativeListCountIsMalformed) {
  std::string text = toy_time();
  text.replace(text.find("\n12\n"), 4, "\n-12\n");
  MemStream in(text);
  gl_ltime t {};
  int error = 0;
  EXPECT_EQ(_gl_read_time(in.get(), &t, &error), -1);
  EXPECT_EQ(error, 11);
  gl_locale *r = nullptr;
  ASSERT_EQ(gl_create_null_locale_4(&r), 0);
  r->ltime = t;
  gl_lc_unload(r);
}

TEST_F(LoadedSections, MissingMarkerAndUnknownCalendar) {
  Lco file = toy_locale();
  file.time.reset();
  scene.write("no_time.lco", file);
  LocalePtr r = new_record();
  ASSERT_NE(load(r.get(), GL_CTYPE, "no_time.lco"), "(null)");
  EXPECT_EQ(load(r.get(), GL_TIME, "no_time.lco"), "(null)");
  EXPECT_EQ(r->error, 11);

  Lco julian = toy_locale();
  julian.time = toy_time(12, {}, {}, "julian");
  scene.write("julian.lco", julian);
  LocalePtr s = new_record();
  EXPECT_EQ(load(s.get(), 1, "julian.lco"), "(null)");
  EXPECT_EQ(s->error, 50);
  /* The category is null again, nothing half-read left behind. */
  EXPECT_EQ(s->ltime.calendar, 0);
  EXPECT_STREQ(s->codeset_names[GL_TIME - 2], "");
}

TEST_F(LoadedSections, BadMonetaryStringFailsTheCategory) {
  Lco file = toy_locale();
  file.monetary = enc("USD ") + "1 24\n" + enc(".") + enc(",") + "2 3 3\n" + enc("") + enc("-") +
                  "2 2 1 0 1 0 1 1\n";
  file.monetary->replace(file.monetary->find("1 24"), 4, "124"); /* no space */
  scene.write("bad_mon.lco", file);
  LocalePtr r = new_record();
  EXPECT_EQ(load(r.get(), 1, "bad_mon.lco"), "(null)");
  EXPECT_EQ(r->error, 8);
  EXPECT_STREQ(r->file_names[GL_NUMERIC - 2], "bad_mon.lco");
  EXPECT_EQ(r->int_curr_symbol.mb, nullptr);
  EXPECT_EQ(r->conv.int_curr_symbol.mb, nullptr);
  EXPECT_EQ(r->mon_ints[0], GL_MON_NA);
}

TEST_F(LoadedSections, MalformedFilesFailWithErrorElevenForEveryCategory) {
  /* Malformed sections through the loader: nothing may be left half-read. */
  std::vector<std::pair<const char *, Lco>> cases;
  {
    Lco f = toy_locale();
    CtypeToy t = toy_ctype();
    t.case_index[key({'1'})] = 5;
    f.ctype = t.text();
    cases.emplace_back("case index", f);
  }
  {
    Lco f = toy_locale();
    CollateToy c = toy_collate();
    c.weights[0] = {0x4007};
    f.collate = c.text();
    cases.emplace_back("expansion index", f);
  }
  {
    Lco f = toy_locale();
    f.numeric = enc(".") + "-1\n" + enc("+") + enc("-");
    cases.emplace_back("negative string length", f);
  }
  {
    Lco f = toy_locale();
    f.numeric = enc(".") + enc(",") + "-3\n" + enc("+") + enc("-");
    cases.emplace_back("negative grouping count", f);
  }
  {
    Lco f = toy_locale();
    f.header = "FILE_TYPE=locale_object\nCOMPILER_VERSION=11\nN=1\n8859-1\n";
    cases.emplace_back("header of one line", f);
  }
  for (const auto &[what, f] : cases) {
    SCOPED_TRACE(what);
    scene.write("malformed.lco", f);
    LocalePtr r = new_record();
    EXPECT_EQ(load(r.get(), 1, "malformed.lco"), "(null)");
    EXPECT_EQ(r->error, 11);
  }
}

}  // namespace
