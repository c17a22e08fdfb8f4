/*
** The client environment library as production links it, read with nm:
** the value library's five datetime services are called and left
** undefined (oslib defines none of them), and the locale-environment,
** conversion and trace services the rest of the library calls each have
** exactly one definition, a strong one, in the library itself.
*/
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

namespace {

/* One symbol's uses in the archive: members that leave it undefined, and
** the type letters of its definitions. */
struct uses {
  int undefined = 0;
  std::string definitions;
};

/* Every symbol of the archive, from `nm -P -A`: lines of
** "archive[member]: name type [value size]". */
std::map<std::string, uses> archive_symbols() {
  std::map<std::string, uses> symbols;
  const std::string command = std::string(DVZ_NM) + " -P -A '" DVZ_OSLIB_ARCHIVE "' 2>&1";
  FILE *pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return symbols;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string where, name, type;
    if (!(fields >> where >> name >> type) || type.size() != 1) continue;
    if (type == "U") {
      ++symbols[name].undefined;
    } else {
      symbols[name].definitions += type;
    }
  }
  pclose(pipe);
  return symbols;
}

TEST(LibrarySymbols, DatetimeServicesAreCalledButNotDefined) {
  const auto symbols = archive_symbols();
  ASSERT_FALSE(symbols.empty()) << "nm read nothing from " << DVZ_OSLIB_ARCHIVE;
  for (const char *name :
       {"get_usedtenv", "getdatetimefmt", "qualtofmt", "rdtcurrent", "dvz_localtime"}) {
    const auto found = symbols.find(name);
    ASSERT_NE(found, symbols.end()) << name << " is not referenced";
    EXPECT_GT(found->second.undefined, 0) << name;
    EXPECT_EQ(found->second.definitions, "") << name << " is defined in oslib";
  }
}

TEST(LibrarySymbols, LocaleConversionAndTraceServicesHaveOneStrongDefinition) {
  const auto symbols = archive_symbols();
  ASSERT_FALSE(symbols.empty()) << "nm read nothing from " << DVZ_OSLIB_ARCHIVE;
  /* Text, data, read-only data or BSS; weak (W, V) would let a second
  ** definition elsewhere take over unnoticed. */
  const std::string strong = "TtDdBbRr";
  for (const char *name : {"CheckGlsEnv", "chkglsinit", "glsenv_savearea", "_sqdbgsetup",
                           "gcv_malloc", "gcvaccess", "gcvchdir", "is8bitstr"}) {
    const auto found = symbols.find(name);
    ASSERT_NE(found, symbols.end()) << name << " is missing";
    const std::string &types = found->second.definitions;
    EXPECT_EQ(types.size(), 1u) << name << " has definitions of types '" << types << "'";
    if (types.size() == 1) {
      EXPECT_NE(strong.find(types), std::string::npos) << name << " is defined as " << types;
    }
  }
}

}  // namespace
