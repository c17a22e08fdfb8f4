/*
** The runtime's shipped data: the SQLSTATE maps and the catalogs of the
** numbers it raises, in the build's DOVARIZADIR tree and as
** `cmake --install` lays them out beside the other catalogs under
** share/dovariza/; every number the runtime raises, and every standard
** text of a warning state, has its text.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime_fixture.h"
#include "sqli_errors.h"

namespace {

const char *const shipped_files[] = {
    "msg/en_us/0333/citoxmsg.pam", "msg/en_us/0333/itoxmsg.pam", "msg/en_us/0333/cutil.iem",
    "msg/en_us/0333/cxopen.iem",   "msg/en_us/0333/csql.iem",    "msg/en_us/0333/crds.iem",
    "msg/en_us/0333/csqli.iem",
};

TEST(InstalledData, InstallPutsTheMapsBesideTheCatalogs) {
  dvz_test::TempDir prefix;
  for (const char *component : {"sqli-data", "oslib-data"}) {
    const std::string command = std::string(DVZ_CMAKE) +
                                " --install '" DVZ_BUILD_DIR "' --prefix '" + prefix.path() +
                                "' --component " + component + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }
  for (const char *file : shipped_files) {
    const std::string built = dvz_test::read_file(std::string(DVZ_BUILD_DOVARIZADIR) + "/" + file);
    EXPECT_FALSE(built.empty()) << file;
    EXPECT_EQ(dvz_test::read_file(prefix.file(std::string("share/dovariza/") + file)), built)
        << file;
  }
}

using RuntimeTexts = sqli_test::RuntimeTest;

TEST_F(RuntimeTexts, EveryRaisedNumberAndWarningStateHasItsText) {
  const int32_t numbers[] = {SQLI_E_INPROGRESS, SQLI_E_NOFILE,     SQLI_E_DIAGITEM,
                             SQLI_E_MAPMAGIC,   SQLI_E_GENAPI,     SQLI_E_OSAPI,
                             SQLI_E_SQLIAPI,    SQLI_E_NOSTATEMAP, SQLI_E_DBAPIOPEN,
                             SQLI_E_DBAPIMAGIC, SQLI_E_NOMEM,      SQLI_E_PROTOCOL};
  for (int32_t number : numbers) {
    char text[512];
    int32_t length = 0;
    EXPECT_EQ(rgetlmsg(number, text, sizeof text, &length), 0) << number;
    EXPECT_GT(length, 0) << number;
  }
  for (const char *state : {"01000", "01I01", "01004", "01003", "01I03", "01I09", "01I04", "01I07",
                            "01I06", "01I05", "01I08", "01006", "01007"}) {
    const int number = srchWARN(state);
    ASSERT_GT(number, 0) << state;
    char text[512];
    int32_t length = 0;
    EXPECT_EQ(rgetlmsg(number, text, sizeof text, &length), 0) << state << " " << number;
    EXPECT_GT(length, 0) << state;
  }
}

}  // namespace
