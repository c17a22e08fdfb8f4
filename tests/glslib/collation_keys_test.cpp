/*
** Collation keys (gl_wcsxfrm, gl_full_mbsxfrm): their layout (digits per
** weight, the byte 1 between passes, the 0 after the key), the size limit,
** and keys of elements that tie on the code point, which must sort where
** the comparer puts them.
*/
#include "collation_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace colltest;

namespace {

CollateToy two_letters(uint32_t highest_weight, uint16_t a_weight) {
  CollateToy c;
  c.order = 0;
  c.passes = 2;
  c.flags = {1, 1};
  c.highest_weight = highest_weight;
  c.rows = {{lcotest::key({'a'}), 1}, {lcotest::key({'b'}), 2}};
  c.weights = {{250, 250}, {a_weight, 2}, {3, 3}};
  c.highest_row = 2;
  return c;
}

TEST(CollationKeys, SizeLimitsWhatIsWrittenNeverTheLength) {
  ToyCollation loc(two_letters(250, 2));
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  /* a b | a b: one byte per weight (value - 2 + 2), one byte 1 between. */
  const std::string expected = std::string("\x02\x03\x01\x02\x03", 5);
  const gl_wchar w[] = {'a', 'b', 0};
  for (int size : {0, 3, 5, 6, 9}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> out(12, 0xEE);
    EXPECT_EQ(gl_wcsxfrm(r, out.data(), w, size), 5);
    const int written = std::min(size, 5);
    EXPECT_EQ(std::string(out.begin(), out.begin() + written), expected.substr(0, written));
    const std::size_t after = static_cast<std::size_t>(written);
    if (size > 5) {
      EXPECT_EQ(out[after], 0);
      EXPECT_EQ(out[after + 1], 0xEE);
    } else {
      EXPECT_EQ(out[after], 0xEE);
    }
  }
  EXPECT_EQ(gl_wcsxfrm(r, nullptr, w, 0), 5);
  EXPECT_EQ(std::count(expected.begin(), expected.end(), '\x01'), 1);
  EXPECT_EQ(key_of(r, "ab"), expected);
}

TEST(CollationKeys, DigitsPerWeightFollowTheHighestWeight) {
  struct Case {
    uint32_t highest;
    uint16_t weight;
    std::string first_pass; /* the digits of 'a' on pass 0 */
  };
  const Case cases[] = {
      {250, 200, "\xC8"}, /* 198 + 2 */
      {253, 2, "\x02"},
      {300, 2, std::string("\x02\x02", 2)},
      {300, 260, "\x03\x06"}, /* 258 = 1 x 254 + 4 */
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.highest);
    ToyCollation loc(two_letters(c.highest, c.weight));
    ASSERT_TRUE(loc.loaded());
    const std::string key = key_of(loc.get(), "a");
    /* Pass 1 weighs 'a' 2: the value 0 in as many digits. */
    const std::string zero(c.first_pass.size(), '\x02');
    EXPECT_EQ(key, c.first_pass + "\x01" + zero);
  }
}

TEST(CollationKeys, AnElementTiedOnTheCodeSortsBeforeHigherCodes) {
  /* d, e and the byte 0x01 share a weight with bit 15; so does the element
  ** "ch", whose code is 1: the comparer puts it before d and e. */
  CollateToy c;
  c.order = 0;
  c.passes = 1;
  c.flags = {1};
  c.highest_weight = 250;
  c.rows = {{lcotest::key({'d'}), 1}, {lcotest::key({'e'}), 2}, {lcotest::key({1}), 3}};
  c.weights = {{250}, {0x8005}, {0x8005}, {0x8005}, {0x8005}};
  c.elements = {{4, {'c', 'h'}}};
  c.highest_row = 4;
  ToyCollation loc(c);
  ASSERT_TRUE(loc.loaded());
  gl_locale *r = loc.get();
  const std::pair<const char *, const char *> smaller_first[] = {
      {"ch", "d"}, {"ch", "e"}, {"\x01", "d"}, {"d", "e"}, {"chd", "dd"}, {"ch", "chd"}};
  for (const auto &[a, b] : smaller_first) {
    SCOPED_TRACE(std::string(a) + " before " + b);
    EXPECT_EQ(sign(_gl_im_mbscoll(r, u(a), u(b))), -1);
    EXPECT_EQ(sign(r->mbscoll_fn(r, u(a), u(b))), -1);
    EXPECT_EQ(key_sign(key_of(r, a), key_of(r, b)), -1);
  }
  /* Weight 5 (byte 5), then the code in two digits: 1 as the smallest. */
  EXPECT_EQ(key_of(r, "ch"), "\x05\x02\x02");
  EXPECT_EQ(key_of(r, "d"), "\x05\x02\x64"); /* 0x64 - 2 = 98, + 2 */
}

}  // namespace
