/*
** The DBAPICODE character maps: a map file made by the test (the magic
** and two 256-byte maps) translates both ways; a wrong magic, a short
** file, a missing file and an unset variable are refused with their
** errors, and a refused load is tried again by the next translation.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime_fixture.h"
#include "sqli_errors.h"

namespace {

using sqli_test::put_message_file;
using sqli_test::RuntimeTest;

/* A map pair: database byte b shows as b + 1 on the host, and back. */
struct shifted_maps {
  unsigned char to_host[256];
  unsigned char to_db[256];
  shifted_maps() {
    for (int b = 0; b < 256; ++b) {
      to_host[b] = static_cast<unsigned char>(b + 1);
      to_db[b] = static_cast<unsigned char>(b - 1);
    }
  }
};

class DbapiMaps : public RuntimeTest {
 protected:
  void SetUp() override {
    RuntimeTest::SetUp();
    setenv("DBAPICODE", "shift.map", 1);
  }
  void TearDown() override {
    unsetenv("DBAPICODE");
    sqli_test::remove_message_file("shift.map");
    RuntimeTest::TearDown();
  }
  shifted_maps maps;
};

TEST_F(DbapiMaps, TranslateBothWaysAndTerminateAfterNBytes) {
  put_message_file("shift.map", sqli_test::dbapi_bytes(maps.to_host, maps.to_db));
  ASSERT_NE(start(), nullptr);
  EXPECT_EQ(usrconvarr[0x41], 0) << "the maps start as zeros";

  char out[8];
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(_sqDBtoVAR("ABC\xFF", out, 4), 0);
  EXPECT_EQ(ldtbl, 1);
  EXPECT_EQ(std::string(out, 5), std::string("BCD\0\0", 5));
  EXPECT_EQ(out[5], '#') << "n + 1 bytes written, no more";

  std::memset(out, '#', sizeof out);
  ASSERT_EQ(_sqVARtoDB("BCD\x00", out, 4), 0);
  EXPECT_EQ(std::string(out, 5), std::string("ABC\xFF\0", 5));
  EXPECT_EQ(out[5], '#');

  /* Loaded once: the file may go. */
  sqli_test::remove_message_file("shift.map");
  EXPECT_EQ(_sqDBtoVAR("a", out, 1), 0);
  EXPECT_EQ(out[0], 'b');
  EXPECT_EQ(SQLCODE, 0);
}

TEST_F(DbapiMaps, ConvtupleOfZeroBytesWritesOnlyTheTerminator) {
  char out[2] = {'#', '#'};
  convtuple("xyz", 0, out, maps.to_host);
  EXPECT_EQ(out[0], '\0');
  EXPECT_EQ(out[1], '#');
}

/* A refused file leaves ldtbl 0 and the maps as they were; the next
** translation reads the file again and takes a good one. */
TEST_F(DbapiMaps, RefusedFileIsTriedAgainByTheNextTranslation) {
  const std::string good = sqli_test::dbapi_bytes(maps.to_host, maps.to_db);
  struct row {
    const char *what;
    std::string bytes;
  };
  const row rows[] = {
      {"wrong magic", "crtc01" + good.substr(6)},
      {"magic only", "crtc00"},
      {"one map short of a byte", good.substr(0, good.size() - 1)},
      {"empty", ""},
  };
  for (const row &r : rows) {
    sqli_test::reset_runtime();
    ASSERT_NE(start(), nullptr);
    put_message_file("shift.map", r.bytes);
    char out[4] = {};
    EXPECT_EQ(_sqDBtoVAR("A", out, 1), -1) << r.what;
    EXPECT_EQ(SQLCODE, SQLI_E_DBAPIMAGIC) << r.what;
    EXPECT_EQ(ldtbl, 0) << r.what;
    EXPECT_EQ(usrconvarr[0x41], 0) << r.what;

    put_message_file("shift.map", good);
    EXPECT_EQ(_sqDBtoVAR("A", out, 1), 0) << r.what;
    EXPECT_EQ(out[0], 'B') << r.what;
  }
}

TEST_F(DbapiMaps, UnsetMissingAndUnnameableFilesAreRefused) {
  struct row {
    const char *what;
    const char *value; /* DBAPICODE, null: unset */
    int expected;
  };
  const std::string overlong(5000, 'x');
  const row rows[] = {
      {"unset", nullptr, SQLI_E_NOFILE},
      {"no such file", "absent.map", SQLI_E_DBAPIOPEN},
      {"no path can be formed", overlong.c_str(), SQLI_E_NOFILE},
  };
  for (const row &r : rows) {
    sqli_test::reset_runtime();
    ASSERT_NE(start(), nullptr);
    if (r.value != nullptr) {
      setenv("DBAPICODE", r.value, 1);
    } else {
      unsetenv("DBAPICODE");
    }
    EXPECT_EQ(ldconvtbl(), -1) << r.what;
    EXPECT_EQ(SQLCODE, r.expected) << r.what;
    EXPECT_EQ(sqlca.sqlcode, r.expected) << r.what;
    EXPECT_EQ(ldtbl, 0) << r.what;
  }
}

}  // namespace
