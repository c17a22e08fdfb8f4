/*
** The catalogs the project's compiler wrote into the build's DOVARIZADIR,
** decoded by the tests' own decoder and read through the catalog reader:
** both must see the same numbers and texts, so neither the compiler nor
** the reader is checked only against itself. The reader finds each number
** through the file index and the search under DOVARIZADIR, so every number
** must also sit in the catalog the index names for it.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "catalog_encoder.h"
#include "os_messages.h"
#include "temp_dir.h"

namespace {

TEST(CompiledCatalogs, ReaderAndDecoderAgreeOnEveryEntry) {
  const std::string dir = DVZ_BUILD_DOVARIZADIR;
  ASSERT_EQ(setenv("DOVARIZADIR", dir.c_str(), 1), 0);
  for (const char *name : {"DBLANG", "LANG", "CLIENT_LOCALE", "DBNLS"})
    unsetenv(name);
  for (const char *leaf : {"os.iem", "csql.iem", "crds.iem", "csqli.iem", "nls.iem", "ccals.iem",
                           "cnals.iem", "cnetsrv.iem", "cnet.iem", "ccss.iem", "ccsm.iem"}) {
    SCOPED_TRACE(leaf);
    std::optional<std::vector<catalog_test::message>> messages =
        catalog_test::decode_catalog(dvz_test::read_file(dir + "/msg/en_us/0333/" + leaf));
    ASSERT_TRUE(messages.has_value());
    ASSERT_FALSE(messages->empty());
    for (const catalog_test::message &m : *messages) {
      std::vector<char> buffer(m.text.size() + 1, 'Z');
      int32_t length = -1;
      EXPECT_EQ(rgetlmsg(m.number, buffer.data(), static_cast<int16_t>(buffer.size()), &length), 0)
          << m.number;
      EXPECT_EQ(std::string(buffer.data()), m.text) << m.number;
      EXPECT_EQ(length, static_cast<int32_t>(m.text.size()));
    }
  }
  rclosemsg();
}

}  // namespace
