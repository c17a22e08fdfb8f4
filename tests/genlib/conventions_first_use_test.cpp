/*
** conventions_first_use_test.cpp: the currency symbol lengths asked for
** before anything has initialised the client locale (as the display-width
** table does) must not load half the conventions: a later number text
** still gets both decimal points right. Runs in its own process under
** DBMONEY "$,", where the point in force differs from the locale's.
*/
#include <array>
#include <string>

#include <gtest/gtest.h>

#include "gen_dectext.h"

namespace {

TEST(ConventionsFirstUse, SymbolLengthsBeforeTheLocaleLeaveTheDecimalPointsIntact) {
  EXPECT_EQ(rbacklen(), 0);
  (void)rfrontlen();
  std::array<char, 32> text {};
  ASSERT_EQ(dvz_gl_format_double(text.data(), static_cast<int>(text.size()), -2.5, nullptr), 0);
  EXPECT_EQ(std::string(text.data()), "-2,5");
  EXPECT_EQ(rfrontlen(), 1) << "the front symbol $ once the locale is loaded";
}

}  // namespace
