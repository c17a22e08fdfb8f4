/*
** The shipped registry file: the generator writes the committed bytes every
** time, the library caches it without error and every name resolves, and
** the build's DOVARIZADIR tree holds it where the search finds it.
*/
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "glslib.h"
#include "registry_fixture.h"

namespace {

using regtest::ErrorWord;

const std::string committed_registry = std::string(GLS_SOURCE_DATA) + "/cm3/registry";

struct Alias {
  const char *name;
  int number;
};
constexpr Alias shipped_aliases[] = {{"utf-8", 57372}, {"iso-8859-1", 819}, {"ccsid933", 933}};

int run_generator(const std::string &root) {
  std::string command = std::string("'") + GLS_GEN_PATH + "' '" + root + "'";
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(GlsData, GeneratorWritesTheCommittedRegistryByteForByteEveryTime) {
  const std::string committed = dvz_test::read_file(committed_registry);
  ASSERT_FALSE(committed.empty());
  dvz_test::TempDir out;
  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(run_generator(out.path()), 0);
    EXPECT_EQ(dvz_test::read_file(out.file("cm3/registry")), committed) << "run " << run;
    EXPECT_FALSE(std::filesystem::exists(out.file("cm3/registry.tmp")));
  }
}

TEST(GlsData, GeneratorFailsOnAnUnwritableTree) {
  dvz_test::TempDir out;
  out.write("cm3", "a file where the directory belongs");
  EXPECT_NE(run_generator(out.path()), 0);
}

class ShippedRegistryTest : public regtest::RegistryTest {};

TEST_F(ShippedRegistryTest, CachesWithoutErrorAndResolvesEveryBuiltInNameAndAlias) {
  gl_cache_registry(word_.record(), committed_registry.c_str());
  ASSERT_EQ(word_.err, 0);
  ASSERT_NE(gls_registry_list_cache, nullptr);
  for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r) {
    EXPECT_EQ(gl_cs_name2cs_num(word_.record(), r->name, nullptr), r->number) << r->name;
  }
  for (const Alias &a : shipped_aliases) {
    EXPECT_EQ(gl_cs_name2cs_num(word_.record(), a.name, nullptr), a.number) << a.name;
  }
  EXPECT_EQ(word_.err, 0);
  /* The file lists the built-in table in its order, then the aliases. */
  const registry_entry *e = gls_registry_list_cache;
  for (const gl_registry_row *r = gls_canned_registry; r->name != nullptr; ++r, e = e->next) {
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->name, r->name);
  }
  for (const Alias &a : shipped_aliases) {
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->name, a.name);
    e = e->next;
  }
  EXPECT_EQ(e, nullptr);
}

TEST_F(ShippedRegistryTest, BuildTreeHoldsTheRegistryWhereTheSearchFindsIt) {
  env_.set("DOVARIZADIR", GLS_BUILD_DOVARIZADIR);
  EXPECT_EQ(dvz_test::read_file(std::string(GLS_BUILD_DOVARIZADIR) + "/gls/cm3/registry"),
            dvz_test::read_file(committed_registry));
  gl_cache_registry(word_.record(), nullptr);
  EXPECT_EQ(word_.err, 0);
  EXPECT_EQ(gl_lc_spec2cs_num(word_.record(), "en_US.UTF-8", nullptr), 57372);
  char fname[GL_LC_FSPEC_SIZE];
  EXPECT_EQ(gl_lc_spec2lc_fname(word_.record(), "ko_KR.ccsid933", fname, nullptr, nullptr), 0);
  EXPECT_STREQ(fname, "ko_kr/03a5.lco");
  EXPECT_EQ(word_.err, 0);
}

}  // namespace
