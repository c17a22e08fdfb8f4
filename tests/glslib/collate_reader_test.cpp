/*
** The COLLATE section reader: the kind line, pass flags, the equivalence
** and ignorable lists built from equal and ignored rows, elements and
** expansions joining their classes, and the malformed sections that must
** fail with error 11.
*/
#include "lco_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace lcotest;

namespace {

TEST(CollateSection, ThaiKindReadsNothingFurther) {
  LocalePtr r = new_record();
  MemStream in("thai_smo\n### LC_NUMERIC\n");
  EXPECT_EQ(read_collate(in.get(), r.get()), 0);
  EXPECT_EQ(r->coll_kind, 2);
  EXPECT_EQ(in.rest(), "### LC_NUMERIC\n");

  LocalePtr s = new_record();
  MemStream other("by_magic\n");
  EXPECT_NE(read_collate(other.get(), s.get()), 0);
  EXPECT_EQ(s->coll_kind, 0);
  EXPECT_EQ(s->error, 0); /* the loader reports it */
}

TEST(CollateSection, PassFlagsFollowOneAnother) {
  CollateToy c = toy_collate();
  c.passes = 2;
  c.flags = {1, 0};
  c.weights = {{2, 2}, {3, 3}, {4, 4}};
  std::string text = c.text();
  ASSERT_NE(text.find("00010000\n"), std::string::npos);
  LocalePtr r = new_record();
  MemStream in(text);
  ASSERT_EQ(read_collate(in.get(), r.get()), 0);
  EXPECT_EQ(r->pass_count, 2);
  EXPECT_EQ(r->pass_flags[0], 1);
  EXPECT_EQ(r->pass_flags[1], 0);
  EXPECT_EQ(r->weights[1][2], 4);
  EXPECT_EQ(r->ignorable_chars, nullptr);
  EXPECT_EQ(r->equivalent_chars, nullptr);
}

TEST(CollateSection, EqualRowsMakeOnePairAndIgnoreRowsTheIgnorableList) {
  CollateToy c = toy_collate();
  c.order = 0;
  c.passes = 2;
  c.flags = {1, 1};
  c.highest_row = 3;
  c.rows = {{key({'1'}), 3}, {key({'A'}), 1}, {key({'a'}), 2}};
  /* Row 0 (every other byte) apart, A and a equal on both passes, 1 ignored. */
  c.weights = {{2, 2}, {3, 5}, {3, 5}, {1, 1}};
  LocalePtr r = new_record();
  MemStream in(c.text());
  ASSERT_EQ(read_collate(in.get(), r.get()), 0);
  ASSERT_NE(r->equivalent_chars, nullptr);
  EXPECT_STREQ(r->equivalent_chars[0].member, "A");
  EXPECT_STREQ(r->equivalent_chars[0].representative, "a");
  EXPECT_EQ(r->equivalent_chars[1].member, nullptr);
  ASSERT_NE(r->ignorable_chars, nullptr);
  EXPECT_STREQ(r->ignorable_chars[0], "1");
  EXPECT_EQ(r->ignorable_chars[1], nullptr);
}

TEST(CollateSection, ElementsAndExpansionsJoinTheirClasses) {
  CollateToy c = toy_collate();
  c.order = 0;
  c.highest_row = 4;
  c.rows = {{key({'1'}), 0}, {key({'A'}), 1}, {key({'a'}), 2}};
  c.elements = {{3, {'A', 'a'}}}; /* "Aa" collates as row 3 */
  c.expansions = {{'a', 'a'}}; /* expansion 0 */
  /* Row 3 equals row 1; row 4 names expansion 0 and is 'A'... no char. */
  c.weights = {{2}, {3}, {6}, {3}, {0x4000}};
  c.rows[key({'1'})] = 4; /* '1' stands for the expansion */
  LocalePtr r = new_record();
  MemStream in(c.text());
  ASSERT_EQ(read_collate(in.get(), r.get()), 0);
  EXPECT_DOUBLE_EQ(r->coll_expansion, 2.0);
  ASSERT_NE(r->equivalent_chars, nullptr);
  /* Class of row 1: the element "Aa" is saved first, then 'A'. */
  EXPECT_STREQ(r->equivalent_chars[0].member, "Aa");
  EXPECT_STREQ(r->equivalent_chars[0].representative, "A");
  /* Class of row 4: the expansion's characters, then '1'. */
  EXPECT_STREQ(r->equivalent_chars[1].member, "aa");
  EXPECT_STREQ(r->equivalent_chars[1].representative, "1");
  EXPECT_EQ(r->equivalent_chars[2].member, nullptr);
  ASSERT_NE(r->element_candidates, nullptr);
  EXPECT_EQ(r->element_candidates['A'], 1);
  EXPECT_EQ(r->element_candidates['a'], 0);
  ASSERT_NE(r->expansion_candidates[0], nullptr);
  EXPECT_EQ(r->expansion_candidates[0]['1'], &r->expansions[0]);
  EXPECT_EQ(r->expansion_candidates[0]['A'], nullptr);
}

TEST(CollateSection, MalformedInputFailsWithSyntaxError) {
  std::vector<std::pair<const char *, CollateToy>> cases;
  {
    CollateToy c = toy_collate();
    c.passes = 9;
    c.flags.assign(9, 1);
    for (auto &w : c.weights)
      w.assign(9, 2);
    cases.emplace_back("nine passes", c);
  }
  {
    CollateToy c = toy_collate();
    c.rows[key({'a'})] = 7; /* past highest_row */
    cases.emplace_back("table row past highest_row", c);
  }
  {
    CollateToy c = toy_collate();
    c.elements = {{9, {'A', 'a'}}};
    cases.emplace_back("element row past highest_row", c);
  }
  {
    CollateToy c = toy_collate();
    c.weights[1] = {0x4001}; /* names expansion 1 of none */
    cases.emplace_back("expansion index out of range", c);
  }
  {
    CollateToy c = toy_collate();
    c.highest_row = -1;
    cases.emplace_back("negative highest_row", c);
  }
  {
    CollateToy c = toy_collate();
    c.weights.pop_back();
    c.highest_row = 40; /* counts that the data does not follow */
    cases.emplace_back("rows missing", c);
  }
  for (const auto &[what, c] : cases) {
    SCOPED_TRACE(what);
    LocalePtr r = new_record();
    MemStream in(c.text());
    EXPECT_NE(read_collate(in.get(), r.get()), 0);
    EXPECT_EQ(r->error, 11);
  }
  /* A negative element count in the six numbers. */
  CollateToy c = toy_collate();
  std::string text = c.text();
  text.replace(text.find("1 2 1 0 0 257"), 13, "1 2 1 -3 0 257");
  LocalePtr r = new_record();
  MemStream in(text);
  EXPECT_NE(read_collate(in.get(), r.get()), 0);
  EXPECT_EQ(r->error, 11);
}

}  // namespace
