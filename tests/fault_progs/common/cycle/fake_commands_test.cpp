/*
** The fake framework commands run through /bin/sh as the monitor runs
** them: the journal line of each (its arguments in the same escaped form
** as testbed::journal_escape), its exit status from <name>.rc, the signal
** of <name>.signal that ends its shell, and the node printed by
** dovariza_plaxnode.
*/
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/wait.h>

#include "testbed_support.h"

namespace {

class FakeCommandsTest : public ::testing::Test {
 protected:
  /* Runs a command line with the fakes first in PATH; its exit status. */
  int run(const std::string &line, const std::string &extra_env = "") {
    std::string command = "env PATH='" + testbed::bin_dir() + "/../fake_commands':\"$PATH\" " +
                          "FM_FAKE_JOURNAL='" + dir_.file("journal") + "' FM_FAKE_DIR='" +
                          dir_.path() + "' " + extra_env + " /bin/sh -c '" + line + "'";
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string journal() const { return dvz_test::read_file(dir_.file("journal")); }
  void rc(const std::string &name, const std::string &value) const {
    std::ofstream(dir_.file(name + ".rc")) << value;
  }
  dvz_test::TempDir dir_;
};

TEST_F(FakeCommandsTest, JournalShowsArgumentBoundaries) {
  EXPECT_EQ(0, run("dorvexq n1 dvz1 stop dovariza"));
  EXPECT_EQ(0, run("marnoping \"a b\" \"\" \"x\\\"y\""));
  EXPECT_EQ(
      "dorvexq n1 dvz1 stop dovariza\n"
      "marnoping " +
          testbed::journal_escape("a b") + " " + testbed::journal_escape("") + " " +
          testbed::journal_escape("x\"y") + "\n",
      journal());
}

TEST_F(FakeCommandsTest, ExitStatusComesFromRcFile) {
  const char *names[] = {"marnoping",         "kesmadm",        "dorvexq",
                         "dovariza_jorvswap", "dovariza_kelpo", "varnholt_vimtask"};
  for (const char *name : names) {
    EXPECT_EQ(0, run(name)) << name;
    rc(name, "98\n");
    EXPECT_EQ(98, run(name)) << name;
  }
}

TEST_F(FakeCommandsTest, PlaxnodeNamesTheNodeForCommandSubstitution) {
  EXPECT_EQ(0, run("kesmadm -g -s dovariza -l `dovariza_plaxnode dvz1` "));
  EXPECT_EQ(0, run("kesmadm -l `dovariza_plaxnode dvz1`", "FM_FAKE_NODE=node7"));
  EXPECT_EQ(
      "dovariza_plaxnode dvz1\nkesmadm -g -s dovariza -l node2\n"
      "dovariza_plaxnode dvz1\nkesmadm -l node7\n",
      journal());
}

/* A <name>.signal file: the shell that system() started dies by that
** signal, as the monitor sees a command killed under it; the journal line
** is written first, and the other commands go on as before. */
TEST_F(FakeCommandsTest, SignalFileKillsTheShellThatRunsTheCommand) {
  std::ofstream(dir_.file("dorvexq.signal")) << "TERM\n";
  const char *path = getenv("PATH");
  std::string saved_path = path ? path : "/usr/bin:/bin";
  setenv("PATH", (testbed::bin_dir() + "/../fake_commands:" + saved_path).c_str(), 1);
  setenv("FM_FAKE_JOURNAL", dir_.file("journal").c_str(), 1);
  setenv("FM_FAKE_DIR", dir_.path().c_str(), 1);
  int status = system("dorvexq n1 dvz1 stop dovariza");
  setenv("PATH", saved_path.c_str(), 1);
  unsetenv("FM_FAKE_JOURNAL");
  unsetenv("FM_FAKE_DIR");
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ("dorvexq n1 dvz1 stop dovariza\n", journal());
  EXPECT_EQ(0, run("marnoping h1"));
}

}  // namespace
