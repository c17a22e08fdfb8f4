/*
** catalog_texts_test.cpp: every error number the value library raises, and
** the name lists it reads, has its text in the shipped catalogs of the
** build's tree, so that an operator sees words rather than a number.
*/
#include <array>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "os_messages.h"

namespace {

constexpr auto raised = std::to_array<int32_t>({
    -406,
    -415,
    -608,
    -647,
    -837,
    -1200,
    -1201,
    -1202,
    -1203,
    -1204,
    -1205,
    -1206,
    -1207,
    -1210,
    -1211,
    -1212,
    -1213,
    -1214,
    -1215,
    -1216,
    -1218,
    -1222,
    -1223,
    -1225,
    -1226,
    -1235,
    -1236,
    -1237,
    -1260,
    -1261,
    -1262,
    -1263,
    -1264,
    -1265,
    -1266,
    -1267,
    -1268,
    -1269,
    -1271,
    -1272,
    -1273,
    -1275,
    -1276,
    -1277,
    -1278,
    -1279,
    -1284,
    -1285,
    -1821,
    -5853,
    -5854,
    -5855,
    -9602,
    1200,
    1201,
    1206,
    1207,
    /* collections and rows */
    -1815,
    -9874,
    -9875,
    -9944,
    -9969,
    -9972,
    -9973,
    -9974,
    -9976,
    -9978,
    -9979,
    -9980,
    -9981,
    -9982,
    -9983,
    -9984,
    -9986,
    -9987,
    -9989,
    /* the expression evaluator */
    -1226,
});

TEST(CatalogTexts, EveryNumberTheValueLibraryRaisesHasItsText) {
  for (int32_t number : raised) {
    std::array<char, 512> text {};
    int32_t length = -1;
    EXPECT_EQ(rgetlmsg(number, text.data(), static_cast<int16_t>(text.size()), &length), 0)
        << number;
    EXPECT_GT(length, 0) << number;
  }
  rclosemsg();
}

}  // namespace
