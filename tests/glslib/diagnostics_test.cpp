/*
** The diagnostics switches GLSLOG and GLSDEBUG, gl_message and gls.log:
** which values switch the log and the printing on, that the switches are
** read once, and the lines a data-file search leaves. The switches are
** read once per process, so every case runs in a forked child whose
** working directory is a fresh temporary directory; the parent reads what
** it left.
*/
#include "child_process.h"
#include "glslib.h"
#include "temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

using namespace glstest;

namespace {

struct ChildEnv {
  const char *glslog = nullptr; /* nullptr: unset */
  const char *glsdebug = nullptr;
};

/* Runs body in a child process with the CWD in dir, the given switches in
** the real environment and standard output going to dir/stdout. Returns
** true when the child ended normally with status 0. */
bool run_child(const dvz_test::TempDir &dir, ChildEnv env, const std::function<void()> &body) {
  return run_in_child(dir.path(), [&] {
    int out = open("stdout", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(3);
    close(out);
    /* A fresh process as far as the library can tell: defaults in
    ** force, switches not read yet. */
    gl_setextfunc(nullptr, GL_EXT_GETENV, nullptr);
    gls_debug_initialized = gls_logging = gls_popups = 0;
    unsetenv("GL_PATH");
    unsetenv("DOVARIZADIR");
    if (env.glslog)
      setenv("GLSLOG", env.glslog, 1);
    else
      unsetenv("GLSLOG");
    if (env.glsdebug)
      setenv("GLSDEBUG", env.glsdebug, 1);
    else
      unsetenv("GLSDEBUG");
    body();
  });
}

const std::regex log_header(
    "----\nGLS log started [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} "
    "[0-9]{4}\n----\n");

/* The log without its header; "<no header>" when the header is missing. */
std::string log_lines(const dvz_test::TempDir &dir) {
  std::string log = dvz_test::read_file(dir.file("gls.log"));
  std::smatch m;
  if (!std::regex_search(log, m, log_header, std::regex_constants::match_continuous))
    return "<no header>";
  return m.suffix();
}

}  // namespace

TEST(Diagnostics, GlslogOnInAnyCaseWritesHeaderThenOneLinePerMessage) {
  for (const char *value : {"ON", "On", "oN", "on", "onion"}) {
    dvz_test::TempDir dir;
    ASSERT_TRUE(run_child(dir, {value, nullptr}, [] {
      gl_message("first");
      gl_message("second line");
    }));
    EXPECT_EQ(log_lines(dir), "first\nsecond line\n") << value;
    EXPECT_EQ(dvz_test::read_file(dir.file("stdout")), "") << value;
  }
}

TEST(Diagnostics, GlslogOtherValuesWriteNothing) {
  for (const char *value : {"o", "off", "yes", "", "n", static_cast<const char *>(nullptr)}) {
    dvz_test::TempDir dir;
    ASSERT_TRUE(run_child(dir, {value, "off"}, [] { gl_message("text"); }));
    EXPECT_FALSE(std::ifstream(dir.file("gls.log")).good()) << (value ? value : "(unset)");
    EXPECT_EQ(dvz_test::read_file(dir.file("stdout")), "");
  }
}

TEST(Diagnostics, SwitchesAreReadOnceAtTheFirstLine) {
  dvz_test::TempDir on_dir;
  ASSERT_TRUE(run_child(on_dir, {"on", nullptr}, [] {
    gl_message("one");
    unsetenv("GLSLOG");
    gl_message("two");
  }));
  EXPECT_EQ(log_lines(on_dir), "one\ntwo\n");
  dvz_test::TempDir off_dir;
  ASSERT_TRUE(run_child(off_dir, {nullptr, nullptr}, [] {
    gl_message("one");
    setenv("GLSLOG", "on", 1);
    gl_message("two");
  }));
  EXPECT_FALSE(std::ifstream(off_dir.file("gls.log")).good());
}

TEST(Diagnostics, GlsdebugPrintsEachLineOnStandardOutput) {
  dvz_test::TempDir dir;
  ASSERT_TRUE(run_child(dir, {nullptr, "on"}, [] {
    gl_message("hello");
    gl_message("Opened: /x");
  }));
  EXPECT_EQ(dvz_test::read_file(dir.file("stdout")), "GLS: hello\nGLS: Opened: /x\n");
  EXPECT_FALSE(std::ifstream(dir.file("gls.log")).good());
  dvz_test::TempDir off;
  ASSERT_TRUE(run_child(off, {nullptr, "off"}, [] { gl_message("hello"); }));
  EXPECT_EQ(dvz_test::read_file(off.file("stdout")), "");
}

TEST(Diagnostics, LogThatCannotBeOpenedIsSkipped) {
  dvz_test::TempDir dir;
  ASSERT_EQ(mkdir(dir.file("gls.log").c_str(), 0755), 0); /* a directory in its place */
  ASSERT_TRUE(run_child(dir, {"on", "on"}, [] { gl_message("still printed"); }));
  EXPECT_EQ(dvz_test::read_file(dir.file("stdout")), "GLS: still printed\n");
}

TEST(Diagnostics, LogShowsTheSearchOrder) {
  struct Case {
    const char *gl_path; /* nullptr: unset */
    const char *name;
    std::string lines;
  } cases[] = {
      {":/a::/b", "x.lco",
       "Could not open: /a/x.lco\nCould not open: /b/x.lco\nCould not open: x.lco\n"},
      {nullptr, "x.lco",
       "Could not open: /usr/dovariza/gls/lc11/x.lco\nCould not open: /usr/dovariza/gls/lc/x.lco\n"
       "Could not open: x.lco\n"},
  };
  for (const auto &c : cases) {
    dvz_test::TempDir dir;
    ASSERT_TRUE(run_child(dir, {"on", nullptr}, [&] {
      if (c.gl_path) setenv("GL_PATH", c.gl_path, 1);
      setenv("DOVARIZADIR", "", 1);
      FILE *f = gl_path_search(nullptr, c.name, "lc", "11");
      if (f != nullptr) _exit(4);
    }));
    EXPECT_EQ(log_lines(dir), c.lines);
  }
}

TEST(Diagnostics, LogShowsOpenedFilesAndOverlongPathsWhole) {
  dvz_test::TempDir dir;
  dir.write("en_us/0333.lco", "x");
  const std::string long_element = "/" + std::string(1100, 'q');
  ASSERT_TRUE(run_child(dir, {"on", nullptr}, [&] {
    FILE *f = gl_open_file(nullptr,
                           "en_us\xff"
                           "0333.lco");
    if (f == nullptr) _exit(4);
    std::fclose(f);
    setenv("GL_PATH", (long_element + ":.").c_str(), 1);
    f = gl_path_search(nullptr, "en_us/0333.lco", "lc", "11");
    if (f == nullptr) _exit(5);
    std::fclose(f);
  }));
  EXPECT_EQ(log_lines(dir), "Opened: en_us/0333.lco\nCould not open: " + long_element +
                                "/en_us/0333.lco\nOpened: ./en_us/0333.lco\n");
}
