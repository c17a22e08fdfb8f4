/*
** The shipped message catalogs and sample rc file, in the build's
** DOVARIZADIR tree and as `cmake --install` lays them out under
** share/dovariza/: the same bytes in both, every number the client
** environment raises found with its text, the fixed texts exact, the two
** fallback texts with their single directive, and a sample rc file that
** sets nothing.
**
** The message reader and the variable table look DOVARIZADIR up once per
** process, so every look-up runs in a forked child with its own
** environment; the child reports failures as text.
*/
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "locale_env.h"
#include "os_env.h"
#include "os_messages.h"
#include "temp_dir.h"

namespace {

const std::string build_dir = DVZ_BUILD_DIR;
const std::string build_tree = DVZ_BUILD_DOVARIZADIR;

const char *const shipped_files[] = {
    "msg/en_us/0333/os.iem",    "msg/en_us/0333/csql.iem",    "msg/en_us/0333/crds.iem",
    "msg/en_us/0333/csqli.iem", "msg/en_us/0333/nls.iem",     "msg/en_us/0333/ccals.iem",
    "msg/en_us/0333/cnals.iem", "msg/en_us/0333/cnetsrv.iem", "msg/en_us/0333/cnet.iem",
    "msg/en_us/0333/ccss.iem",  "msg/en_us/0333/ccsm.iem",    "etc/dovariza.rc",
};

/* Every number the client environment raises, as it is raised. */
std::vector<int32_t> raised_numbers() {
  std::vector<int32_t> numbers = {-202,  -406,  -916,  -922,   -941,  -1211,
                                  -1212, -1218, -7204, -23115, -34394};
  for (int32_t n = -1232; n <= -1227; ++n)
    numbers.push_back(n);
  for (int32_t n = -7209; n <= -7206; ++n)
    numbers.push_back(n);
  for (int32_t n = -23104; n <= -23101; ++n)
    numbers.push_back(n);
  for (int32_t n = -23113; n <= -23108; ++n)
    numbers.push_back(n);
  return numbers;
}

/* Runs body in a forked child whose environment names tree as DOVARIZADIR
** and sets no locale variable (so the locale initialises from the tree's
** gls/ unless body sets one); returns what body reported ("" when all
** was well). */
std::string in_child_at(const std::string &tree, const std::function<std::string()> &body) {
  return oslib_test::in_child([&tree, &body] {
    for (const char *name :
         {"CLIENT_LOCALE", "DB_LOCALE", "DBLANG", "LANG", "LC_ALL", "LC_CTYPE", "LC_COLLATE",
          "LC_MESSAGES", "DBNLS", "ENVIGNORE", "DBPATH", "DBDATE", "GL_DATE"}) {
      unsetenv(name);
    }
    setenv("DOVARIZADIR", tree.c_str(), 1);
    return body();
  });
}

/* The text of number, or a failure line in report. */
std::string text_of(int32_t number, std::string &report) {
  char buffer[1024];
  int32_t length = -1;
  const int result = rgetlmsg(number, buffer, sizeof buffer, &length);
  if (result != 0 || buffer[0] == '\0' || length <= 0) {
    report +=
        std::to_string(number) + ": result " + std::to_string(result) + ", text '" + buffer + "'\n";
  }
  return buffer;
}

/* Every raised number has a non-empty text; the fixed texts are exact; the
** fallback texts carry exactly one directive, the one they are formatted
** with. */
std::string check_catalogs() {
  std::string report;
  for (int32_t number : raised_numbers())
    text_of(number, report);
  const struct {
    int32_t number;
    const char *directive;
  } fallbacks[] = {{32765, "%s"}, {32766, "%d"}};
  for (const auto &f : fallbacks) {
    const std::string text = text_of(f.number, report);
    const size_t first = text.find('%');
    if (first == std::string::npos || text.compare(first, 2, f.directive) != 0 ||
        text.find('%', first + 1) != std::string::npos) {
      report +=
          std::to_string(f.number) + ": needs exactly one " + f.directive + ": '" + text + "'\n";
    }
  }
  rclosemsg();
  return report;
}

TEST(InstalledCatalogs, BuildTreeHoldsATextForEveryRaisedNumber) {
  EXPECT_EQ(in_child_at(build_tree, check_catalogs), "");
}

TEST(InstalledCatalogs, InstallLaysOutTheBuildTreeFilesUnderShareDovariza) {
  dvz_test::TempDir prefix;
  const std::string command = std::string(DVZ_CMAKE) + " --install '" + build_dir + "' --prefix '" +
                              prefix.path() + "' --component oslib-data > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  const std::string installed_tree = prefix.file("share/dovariza");
  for (const char *file : shipped_files) {
    const std::string built = dvz_test::read_file(build_tree + "/" + file);
    EXPECT_FALSE(built.empty()) << file;
    EXPECT_EQ(dvz_test::read_file(installed_tree + "/" + file), built) << file;
  }
  /* The locale data is installed apart; the build's serves. */
  ASSERT_EQ(symlink((build_tree + "/gls").c_str(), (installed_tree + "/gls").c_str()), 0);
  EXPECT_EQ(in_child_at(installed_tree, check_catalogs), "");
}

/* The catalog's text of each failure of the locale initialisation is the
** one the reader shows when that failure keeps it from the catalogs. The
** failures are made for real, each in a child of its own. */
TEST(InstalledCatalogs, FixedTextOfAnInitialisationFailureIsTheCatalogs) {
  const oslib_test::FailingLocaleTree failing_tree;
  struct row {
    int32_t number;
    std::string tree;
    const char *variable, *value;
  };
  const row rows[] = {
      {-23104, failing_tree.path(), "DB_LOCALE", "en_US.utf8"},
      {-23101, build_tree, "CLIENT_LOCALE", "xx_NONE.nothing"},
      {-1212, build_tree, "DBDATE", "MD"},
      {-23115, build_tree, "CLIENT_LOCALE",
       "GL_CTYPE = en_US.8859-1 ; GL_COLLATE = en_US.utf8 ; GL_NUMERIC = en_US.8859-1 ; "
       "GL_MONETARY = en_US.8859-1 ; GL_TIME = en_US.8859-1 ; GL_MESSAGES = en_US.8859-1 ; "},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.number);
    const std::string text = in_child_at(build_tree, [&r] {
      std::string report;
      const std::string found = text_of(r.number, report);
      return report.empty() ? found : "no text: " + report;
    });
    const std::string fixed = in_child_at(r.tree, [&r] {
      setenv(r.variable, r.value, 1);
      char buffer[1024] = "";
      int32_t length = -1;
      const int result = rgetlmsg(r.number, buffer, sizeof buffer, &length);
      if (result != r.number) return "result " + std::to_string(result);
      return std::string(buffer);
    });
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(fixed, text);
  }
}

/* The sample is all comments: read as the installation's rc file it sets
** nothing, so DBPATH keeps its built-in default. */
TEST(InstalledCatalogs, SampleRcFileSetsNothing) {
  const std::string sample = dvz_test::read_file(build_tree + "/etc/dovariza.rc");
  ASSERT_FALSE(sample.empty());
  std::istringstream lines(sample);
  std::string text;
  for (int line = 1; std::getline(lines, text); ++line) {
    EXPECT_EQ(text.substr(0, 1), "#") << "line " << line;
  }
  EXPECT_EQ(sample.back(), '\n');
  EXPECT_EQ(in_child_at(build_tree,
                        [] {
                          const char *dbpath = ggetenv("DBPATH");
                          return dbpath != nullptr && std::string(dbpath) == "."
                                     ? std::string()
                                     : std::string("DBPATH is ") + (dbpath ? dbpath : "unset");
                        }),
            "");
}

}  // namespace
