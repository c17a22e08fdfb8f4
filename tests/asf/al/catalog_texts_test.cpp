/*
** Every number the association layer and the sqlhosts services raise has
** its text in the shipped catalogs of the build's tree (-406 and -27004
** live in the SQL and network catalogs, owned elsewhere).
*/
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "asf_al.h"
#include "os_messages.h"

namespace {

constexpr auto raised = std::to_array<int32_t>({
    ASF_ERR_BADASSOC,
    ASF_ERR_BADARGS,
    ASF_ERR_HOSTSOPEN,
    ASF_ERR_SVRNAMELEN,
    ASF_ERR_NOSERVER,
    ASF_ERR_BADENTRY,
    ASF_ERR_NOSVRENV,
    ASF_ERR_ENVSERVER,
    ASF_ERR_MEMORY,
});

TEST(CatalogTexts, EveryNumberTheAssociationLayerRaisesHasItsText) {
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
