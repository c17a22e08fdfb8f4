/*
** The data-file search: the order of the paths tried (seen through a
** recording fopen in slot 7), path cookies, the platform-fopen variant,
** the 1024-byte path limit and the errors left in the record.
*/
#include "error_word.h"
#include "glslib.h"
#include "host_doubles.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace glstest;
using Paths = std::vector<std::string>;

namespace {

class FileSearch : public ::testing::Test {
 protected:
  gl_locale *record() { return record_.record(); }
  int error() const { return record_.err; }

  /* Returns whether a stream came back, closing it. */
  static bool opened(FILE *stream) {
    if (stream == nullptr) return false;
    std::fclose(stream);
    return true;
  }

  ErrorWord record_;
  dvz_test::TempDir dir_;
  TableGetenv env_;
};

}  // namespace

TEST_F(FileSearch, GlPathElementsInOrderEmptyOnesSkippedNeverDovarizadir) {
  RecordingFopen fopen_double(false);
  env_.set("GL_PATH", ":/a::/b");
  env_.set("DOVARIZADIR", dir_.path());
  EXPECT_FALSE(opened(gl_path_search(record(), "x.lco", "lc", "11")));
  EXPECT_EQ(fopen_double.tried(), (Paths {"/a/x.lco", "/b/x.lco"}));
  EXPECT_EQ(error(), 8);
}

TEST_F(FileSearch, GlPathStopsAtTheFirstElementThatOpens) {
  RecordingFopen fopen_double;
  dir_.write("two/x.lco", "data");
  dir_.write("three/x.lco", "data");
  env_.set("GL_PATH", dir_.file("one") + ":" + dir_.file("two") + ":" + dir_.file("three"));
  EXPECT_TRUE(opened(gl_path_search(record(), "x.lco", "lc", "11")));
  EXPECT_EQ(fopen_double.tried(), (Paths {dir_.file("one/x.lco"), dir_.file("two/x.lco")}));
  EXPECT_EQ(error(), 0);
}

TEST_F(FileSearch, WithoutGlPathTheVersionedThenThePlainDirectory) {
  struct Case {
    const char *dovarizadir; /* nullptr: unset */
    const char *directory, *version;
    Paths tried;
  } cases[] = {
      {nullptr, "lc", "11", {"/usr/dovariza/gls/lc11/n", "/usr/dovariza/gls/lc/n"}},
      {"", "cv", "9", {"/usr/dovariza/gls/cv9/n", "/usr/dovariza/gls/cv/n"}},
      {"/opt/dvz", "cm", "3", {"/opt/dvz/gls/cm3/n", "/opt/dvz/gls/cm/n"}},
  };
  for (const auto &c : cases) {
    RecordingFopen fopen_double(false);
    if (c.dovarizadir != nullptr)
      env_.set("DOVARIZADIR", c.dovarizadir);
    else
      env_.unset("DOVARIZADIR");
    record_.err = 0;
    EXPECT_FALSE(opened(gl_path_search(record(), "n", c.directory, c.version)));
    EXPECT_EQ(fopen_double.tried(), c.tried);
    EXPECT_EQ(error(), 8);
  }
}

TEST_F(FileSearch, DovarizadirTreeFindsVersionedFirstThenPlain) {
  env_.set("DOVARIZADIR", dir_.path());
  dir_.write("gls/lc/only_plain.lco", "p");
  dir_.write("gls/lc11/both.lco", "v");
  dir_.write("gls/lc/both.lco", "p");
  RecordingFopen fopen_double;
  EXPECT_TRUE(opened(gl_path_search(record(), "only_plain.lco", "lc", "11")));
  EXPECT_TRUE(opened(gl_path_search(record(), "both.lco", "lc", "11")));
  EXPECT_EQ(fopen_double.tried(),
            (Paths {dir_.file("gls/lc11/only_plain.lco"), dir_.file("gls/lc/only_plain.lco"),
                    dir_.file("gls/lc11/both.lco")}));
}

TEST_F(FileSearch, AbsoluteNameOpenedAsItStandsEvenWithGlPath) {
  env_.set("GL_PATH", "/a:/b");
  std::string path = dir_.write("abs.lco", "x");
  RecordingFopen fopen_double;
  EXPECT_TRUE(opened(gl_path_search(record(), path.c_str(), "lc", "11")));
  EXPECT_FALSE(opened(gl_path_search(record(), "/no/such/file", "lc", "11")));
  EXPECT_EQ(fopen_double.tried(), (Paths {path, "/no/such/file"}));
  EXPECT_EQ(error(), 8);
}

TEST_F(FileSearch, PathCookieOpensRelativeToTheCwdThroughSlot7ForBothSearches) {
  dir_.write("en_us/0333.lco", "locale");
  dvz_test::ScopedChdir cwd(dir_.path());
  env_.set("GL_PATH", "/a");
  RecordingFopen fopen_double;
  const char name[] =
      "en_us\xff"
      "0333.lco";
  EXPECT_EQ(has_path_cookie(name), 1);
  EXPECT_EQ(has_path_cookie("en_us/0333.lco"), 0);
  EXPECT_TRUE(opened(gl_path_search(record(), name, "lc", "11")));
  EXPECT_TRUE(opened(gl_path_search_no_ext(record(), name, "cm", "3")));
  EXPECT_TRUE(opened(gl_open_file(record(), name)));
  EXPECT_EQ(fopen_double.tried(), (Paths(3, "en_us/0333.lco")));
  EXPECT_EQ(error(), 0);
  EXPECT_FALSE(opened(gl_open_file(record(),
                                   "fr_fr\xff"
                                   "0333.lco")));
  EXPECT_EQ(error(), 8);
}

TEST_F(FileSearch, NoExtOpensWithThePlatformNotSlot7) {
  env_.set("DOVARIZADIR", dir_.path());
  dir_.write("gls/cm3/registry", "utf8 57372\n");
  RecordingFopen fopen_double(false); /* would refuse everything */
  EXPECT_TRUE(opened(gl_path_search_no_ext(record(), "registry", "cm", "3")));
  EXPECT_TRUE(fopen_double.tried().empty());
  EXPECT_FALSE(opened(gl_path_search(record(), "registry", "cm", "3")));
  EXPECT_EQ(fopen_double.tried().size(), 2u);
}

TEST_F(FileSearch, ComposedPathOf1024BytesOrMoreIsNeverTried) {
  dir_.write("x", "data");
  RecordingFopen fopen_double(false);
  /* element + "/" + "x": 1023 bytes is tried, 1024 is not, nor any cut form. */
  std::string fits(1021, 'a'), too_long(1022, 'b');
  fits[0] = too_long[0] = '/';
  env_.set("GL_PATH", too_long + ":" + fits);
  EXPECT_FALSE(opened(gl_path_search(record(), "x", "lc", "11")));
  EXPECT_EQ(fopen_double.tried(), (Paths {fits + "/x"}));
  EXPECT_EQ(error(), 8);

  RecordingFopen base_double(false);
  env_.unset("GL_PATH");
  env_.set("DOVARIZADIR", "/" + std::string(1013, 'd')); /* lc11 too long, lc fits */
  gl_path_search(record(), "x", "lc", "11");
  EXPECT_EQ(base_double.tried(), (Paths {"/" + std::string(1013, 'd') + "/gls/lc/x"}));
}

TEST_F(FileSearch, GlPathIsUsedWholeBeyond1024Bytes) {
  dir_.write("found/x", "data");
  std::string gl_path;
  while (gl_path.size() < 3000)
    gl_path += "/nowhere/" + std::to_string(gl_path.size()) + ":";
  gl_path += dir_.file("found");
  env_.set("GL_PATH", gl_path);
  EXPECT_TRUE(opened(gl_path_search(record(), "x", "lc", "11")));
}

TEST_F(FileSearch, NullRecordAndAllocationFailure) {
  RecordingFopen fopen_double(false);
  EXPECT_FALSE(opened(gl_path_search(nullptr, "x", "lc", "11")));
  EXPECT_FALSE(opened(gl_open_file(nullptr,
                                   "a\xff"
                                   "b")));
  FailingAllocator allocator(1);
  EXPECT_FALSE(opened(gl_open_file(record(),
                                   "a\xff"
                                   "b")));
  EXPECT_EQ(error(), 3);
  EXPECT_EQ(fopen_double.tried(),
            (Paths {"/usr/dovariza/gls/lc11/x", "/usr/dovariza/gls/lc/x", "a/b"}));
}
