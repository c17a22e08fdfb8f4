/*
** Multi-level tables and their lookups: a new table, and every lookup form
** (text, limited text, little-endian units, wide characters, descriptors)
** on a small table read from its exact text form.
*/
#include "glslib.h"
#include "host_doubles.h"
#include "table_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace glstest;

namespace {

class MultiTable : public TableTest {};

}  // namespace

TEST_F(MultiTable, CreateMakesAnEmptyTableWithItsDefault) {
  const unsigned char def[3] = {1, 2, 3};
  MultiPtr t(_gl_create_multi(3, 0, def));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->max_length, 0);
  EXPECT_EQ(t->min_length, 4);
  EXPECT_EQ(t->flags & GL_MULTI_VALID, GL_MULTI_VALID);
  EXPECT_EQ(t->entry_shift, 2);
  EXPECT_EQ(entry(t->default_entry, 3), (Bytes {1, 2, 3}));
  ASSERT_NE(t->root, nullptr);
  ASSERT_NE(t->root->flags, nullptr);
  EXPECT_EQ(std::count(t->root->flags, t->root->flags + 256, 0), 256);
  EXPECT_EQ(_gl_create_multi(0, 0, nullptr), nullptr);
  _gl_free_multi(nullptr);
}

TEST_F(MultiTable, PlainTextLookups) {
  MultiPtr t = read_ok(plain_table_text);
  EXPECT_EQ(_gl_multi_max_length(t.get()), 2);
  EXPECT_EQ(_gl_multi_min_length(t.get()), 1);
  EXPECT_EQ(_gl_multi_err(t.get()), 0);
  struct Case {
    Bytes text;
    Bytes want; /* empty: no character */
    int length, error;
  } cases[] = {
      {{'A', 0}, {0x0a, 0x0b}, 1, 0},     {{'B', 0}, {0xff, 0xff}, 1, 0},
      {{0x00, 0}, {0xff, 0xff}, 1, 0},    {{0x81, 0x40}, {0x12, 0x34}, 2, 0},
      {{0x81, 0x41}, {0xff, 0xff}, 2, 0}, {{0x82, 0xa2}, {0xff, 0xff}, 2, 0},
      {{0x80, 0x40}, {}, 1, 1},           {{0x81, 0x20}, {}, 2, 1},
      {{0x82, 0xa3}, {}, 2, 1},
  };
  for (const auto &c : cases) {
    int length = -1;
    EXPECT_EQ(entry(_gl_retrieve_text_multi(c.text.data(), t.get(), &length, record())), c.want);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(take_error(), c.error);
    EXPECT_EQ(entry(_gl_retrieve_text_multi_nl(c.text.data(), t.get(), record())), c.want);
    EXPECT_EQ(take_error(), c.error);
    EXPECT_EQ(_gl_retrieve_text_multi_nv(c.text.data(), t.get(), record()),
              c.want.empty() ? 0 : c.length);
    EXPECT_EQ(take_error(), c.error);
  }
  int d = 0, f = 0, o = 0;
  _gl_multi_node_count(t.get(), &d, &f, &o);
  EXPECT_EQ(d, 2);
  EXPECT_EQ(f, 3);
  EXPECT_EQ(o, 1);
}

TEST_F(MultiTable, LimitedLookupsNeverLookPastTheLimit) {
  MultiPtr t = read_ok(plain_table_text);
  /* Only the bytes inside the limit exist: a read past them is a
  ** sanitizer report. */
  struct Case {
    Bytes text;
    int limit;
    Bytes want;
    int length, error;
  } cases[] = {
      {{0x81, 0x40}, 1, {}, 1, 7},    {{0x81, 0x40}, 0, {}, 0, 7},
      {{0x81, 0x40}, -3, {}, 0, 7},   {{0x81, 0x40}, 2, {0x12, 0x34}, 2, 0},
      {{'A'}, 1, {0x0a, 0x0b}, 1, 0}, {{0x80}, 1, {}, 1, 1},
  };
  for (const auto &c : cases) {
    auto *bytes = new unsigned char[std::max(c.limit, 1)];
    std::copy_n(c.text.begin(), std::min<int>(std::max(c.limit, 0), c.text.size()), bytes);
    int length = 99;
    EXPECT_EQ(entry(_gl_retrieve_text_multi_limit(bytes, t.get(), c.limit, &length, record())),
              c.want);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(take_error(), c.error);
    EXPECT_EQ(entry(_gl_retrieve_text_multi_limit_nl(bytes, t.get(), c.limit, record())), c.want);
    EXPECT_EQ(take_error(), c.error);
    delete[] bytes;
  }
}

TEST_F(MultiTable, LittleEndianUnitsDescendOnlyThroughARealChild) {
  MultiPtr t = read_ok(plain_table_text);
  struct Case {
    Bytes unit; /* b0 b1 */
    int limit;
    Bytes want;
    int error;
  } cases[] = {
      {{0x40, 0x81}, 2, {0x12, 0x34}, 0},
      {{0x20, 0x81}, 2, {0xff, 0xff}, 0}, /* the child's flags are not looked at */
      {{0xa1, 0x82}, 2, {0xff, 0xff}, 0}, /* child without data: the default */
      {{0x41, 0x41}, 2, {}, 1}, /* root flag 4, not a descent */
      {{0x41, 0x80}, 2, {}, 1}, /* root flag 0 */
      {{0x40, 0x81}, 1, {}, 7},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(
        entry(_gl_retrieve_little_endian_unicode_limit(c.unit.data(), t.get(), c.limit, record())),
        c.want);
    EXPECT_EQ(take_error(), c.error);
  }
}

TEST_F(MultiTable, WideCharactersWalkMinLengthOrTheirWidth) {
  MultiPtr t = read_ok(plain_table_text);
  struct Case {
    gl_wchar wc;
    Bytes want;
  } cases[] = {
      {0x41, {0x0a, 0x0b}}, {0x8140, {0x12, 0x34}}, {0x82a1, {0xff, 0xff}}, {0x80, {}},
      {0x81, {}},           {0x4142, {}},           {0x818140, {}},         {0x81408140u, {}}};
  for (const auto &c : cases) {
    EXPECT_EQ(entry(_gl_retrieve_wchar_multi_nl(record(), c.wc, t.get())), c.want)
        << std::hex << c.wc;
    EXPECT_EQ(take_error(), c.want.empty() ? 1 : 0);
  }
  /* Shortest key 2: the value 0x41 is the bytes 00 41. */
  MultiPtr two = read_ok(
      "2 2 1 0000\n1 0\n0000100101\n0000000\n"
      "1 1\n4100100104\n0000000\n410010015555\n0000000\n");
  EXPECT_EQ(entry(_gl_retrieve_wchar_multi_nl(record(), 0x41, two.get())), (Bytes {0x55, 0x55}));
  EXPECT_EQ(entry(_gl_retrieve_wchar_multi_nl(record(), 0x0041, two.get())), (Bytes {0x55, 0x55}));
  EXPECT_EQ(_gl_retrieve_wchar_multi_nl(record(), 0x4100, two.get()), nullptr);
  EXPECT_EQ(take_error(), 1);
}

TEST_F(MultiTable, DescriptorLookupsWantTheExactKey) {
  MultiPtr t = read_ok(plain_table_text);
  struct Case {
    gl_char_desc key;
    Bytes want;
  } cases[] = {{{1, {'A'}}, {0x0a, 0x0b}},
               {{2, {0x81, 0x40}}, {0x12, 0x34}},
               {{1, {0x81}}, {}},
               {{2, {'A', 0}}, {}},
               {{2, {0x81, 0x20}}, {}},
               {{0, {'A'}}, {}},
               {{5, {'A'}}, {}}};
  for (const auto &c : cases)
    EXPECT_EQ(entry(_gl_retrieve_desc_multi(&c.key, t.get())), c.want);
  EXPECT_EQ(take_error(), 0); /* no error stored */
}

TEST_F(MultiTable, RootWithOnlyTheEndMarkerHasNoCharacter) {
  MultiPtr t = read_ok("2 1 1 0000\n1 0\n0000000\n");
  for (int b = 0; b < 256; ++b) {
    const unsigned char s[2] = {static_cast<unsigned char>(b), 0};
    int length = 0;
    EXPECT_EQ(_gl_retrieve_text_multi(s, t.get(), &length, record()), nullptr);
    EXPECT_EQ(take_error(), 1);
    EXPECT_EQ(_gl_retrieve_text_multi_nv(s, t.get(), record()), 0);
    EXPECT_EQ(take_error(), 1);
    EXPECT_EQ(_gl_retrieve_text_multi_limit(s, t.get(), 2, &length, record()), nullptr);
    EXPECT_EQ(take_error(), 1);
    EXPECT_EQ(_gl_retrieve_wchar_multi_nl(record(), static_cast<gl_wchar>(b), t.get()), nullptr);
    EXPECT_EQ(take_error(), 1);
  }
}
