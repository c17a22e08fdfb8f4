/*
** The number helpers (digit counts, integer and floating powers) and the
** character-descriptor helpers (offsets that carry and borrow across
** bytes, equality, packing into a wide character).
*/
#include "glslib.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(NumberHelpers, DigitCounts) {
  struct Case {
    int32_t n, base;
    int digits;
  } cases[] = {{0, 10, 1},   {9, 10, 1},          {10, 10, 2}, {-500, 10, 1}, {255, 16, 2},
               {256, 16, 3}, {INT32_MAX, 10, 10}, {8, 2, 4},   {5, 1, 1},     {5, 0, 1}};
  for (const auto &c : cases)
    EXPECT_EQ(_gl_digits(c.n, c.base), c.digits) << c.n << " base " << c.base;
  EXPECT_EQ(_gl_udigits(UINT32_MAX, 10), 10);
  EXPECT_EQ(_gl_udigits(0, 10), 1);
  EXPECT_EQ(_gl_udigits(UINT32_MAX, 16), 8);
}

TEST(NumberHelpers, PowersWrapAndCountDown) {
  EXPECT_EQ(_gl_ipow(10, 3), 1000);
  EXPECT_EQ(_gl_ipow(7, 0), 1);
  EXPECT_EQ(_gl_ipow(7, -2), 1);
  EXPECT_EQ(_gl_ipow(2, 31), INT32_MIN);
  EXPECT_EQ(_gl_ipow(2, 32), 0);
  EXPECT_EQ(_gl_ipow(-3, 3), -27);
  EXPECT_EQ(_gl_ipow(3, 21), static_cast<int32_t>(10460353203ull & 0xFFFFFFFFu));
  EXPECT_DOUBLE_EQ(_gl_fpow(10.0, 3), 1000.0);
  EXPECT_DOUBLE_EQ(_gl_fpow(10.0, -2), 0.01 * 1.0);
  EXPECT_DOUBLE_EQ(_gl_fpow(2.5, 0), 1.0);
}

TEST(CharDescriptors, OffsetCarriesAndBorrowsAcrossBytes) {
  struct Case {
    gl_char_desc in;
    int32_t delta;
    gl_char_desc out;
  } cases[] = {
      {{2, {0x12, 0xFF}}, 1, {2, {0x13, 0x00}}},
      {{2, {0x12, 0x34}}, 0x102, {2, {0x13, 0x36}}},
      {{1, {0xFF}}, 1, {1, {0x00}}}, /* the carry leaves the first byte */
      {{3, {0x01, 0x00, 0x00}}, -1, {3, {0x00, 0xFF, 0xFF}}},
      {{2, {0x00, 0x00}}, -1, {2, {0xFF, 0xFF}}},
      {{2, {0x41, 0x42}}, 0, {2, {0x41, 0x42}}},
      {{0, {0x41}}, 5, {0, {0x41}}},
      {{4, {0x00, 0x00, 0xFF, 0xFF}}, 0x7FFFFFFF, {4, {0x80, 0x00, 0xFF, 0xFE}}},
  };
  for (const auto &c : cases) {
    gl_char_desc out {};
    _gl_desc_offset(&c.in, c.delta, &out);
    EXPECT_EQ(_gl_desc_eq(&out, &c.out), 1) << "delta " << c.delta;
  }
}

TEST(CharDescriptors, EqualityAndPacking) {
  gl_char_desc a {2, {0xC3, 0xA9}}, b {2, {0xC3, 0xA9, 0x55}}, c {3, {0xC3, 0xA9}};
  EXPECT_EQ(_gl_desc_eq(&a, &b), 1); /* bytes past the count do not matter */
  EXPECT_EQ(_gl_desc_eq(&a, &c), 0);
  EXPECT_EQ(_gl_desc_to_gl_wchar(&a), 0xC3A9u);
  gl_char_desc four {4, {0x81, 0x30, 0x81, 0x30}}, none {0, {0x41}};
  EXPECT_EQ(_gl_desc_to_gl_wchar(&four), 0x81308130u);
  EXPECT_EQ(_gl_desc_to_gl_wchar(&none), 0u);
}
