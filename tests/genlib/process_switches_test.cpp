/*
** The switches read once per process, in a process that sets both:
** DVZ_USE_PREC_16=1 (doubles keep 16 significant digits and floats 8)
** and USE_DTENV=1. Their default (off) is checked by the other tests.
*/
#include <gtest/gtest.h>

#include "dec_repr.h"
#include "gen_dectext.h"

namespace {

TEST(SwitchesOn, SixteenDigitsForDoublesEightForFloats) {
  EXPECT_NE(get_useprec16(), 0);
  dec_t value {};
  ASSERT_EQ(deccvdbl(0.1, &value), 0);
  EXPECT_EQ(dec_test::repr(value), "+10@0");
  double back = 0;
  ASSERT_EQ(dectodbl(&value, &back), 0);
  EXPECT_EQ(back, 0.1);
  ASSERT_EQ(deccvflt(static_cast<double>(0.1f), &value), 0);
  EXPECT_EQ(dec_test::repr(value), "+10@0");
  ASSERT_EQ(deccvdbl(1.0 / 3.0, &value), 0);
  EXPECT_EQ(dec_test::repr(value), "+3333333333333333@0");
}

TEST(SwitchesOn, DatetimeEnvironmentSwitch) {
  EXPECT_NE(get_usedtenv(), 0);
  /* en_us's "%a %d %b %Y %r" at its widest, as "Sun 01 Jun 2024 10:20:30 AM". */
  EXPECT_EQ(_dtimedigits(), 27);
}

}  // namespace
