/*
** Loading conversion descriptors: the code sets of two specifications, the
** file found by the search or in a directory, the header fields, the
** stand-ins for unknown code sets and memory failure, the diagnostics of a
** bad header, malformed files refused with error 11, every allocation of a
** load failing in turn, unloading, the size queries and opening by names.
*/
#include "child_process.h"
#include "conversion_internal.h"
#include "cvo_builder.h"
#include "lco_builder.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

using cvotest::Cvo;
using cvotest::DescPtr;
using cvotest::to;

namespace {

/* A scene with the built-in registry; files written into its directory
** are found by the search (GL_PATH) or loaded from the directory. */
class ConversionLoad : public ::testing::Test {
 protected:
  /* Loads 8859-1 -> utf8 (0333e01c.cvo); the result in *rc. */
  DescPtr load(int *rc, const char *directory = nullptr) {
    gl_cv_desc *cd = nullptr;
    *rc = gl_cv_load(&cd, "en_US.utf8", "en_US.819", nullptr, directory);
    return DescPtr(cd);
  }
  DescPtr load_text(const std::string &text, int *rc) {
    scene.write("0333e01c.cvo", text);
    return load(rc);
  }
  lcotest::Scene scene;
};

/* A two-byte target with shift states, every header field its own value. */
Cvo stateful_file() {
  Cvo file;
  file.target_shift = 1;
  file.sequences = {cvotest::Bytes {0x0e}, {0x0f}, {0xaa, 0xbb, 0xcc}, {0x01, 0x02, 0x03, 0x04}};
  file.target_min = 1;
  file.target_max = 2;
  file.unused1 = 7;
  file.unused2 = 9;
  file.factor = "2.5";
  file.base[{0x00}] = to({0x00}, GL_CV_END);
  file.base[{'a'}] = to({'a'});
  file.base[{'X'}] = to({0x81, 0x82}, GL_CV_SHIFTED);
  return file;
}

TEST_F(ConversionLoad, ReadsEveryHeaderFieldFromTheSearchOrADirectory) {
  scene.write("0333e01c.cvo", stateful_file().text());
  for (const char *directory : {static_cast<const char *>(nullptr), scene.dir().path().c_str()}) {
    SCOPED_TRACE(directory != nullptr ? directory : "search");
    glstest::RecordingFopen opens;
    int rc = 0;
    DescPtr cd = load(&rc, directory);
    ASSERT_EQ(rc, 1);
    ASSERT_EQ(opens.tried().size(), 1u);
    EXPECT_EQ(opens.tried()[0], scene.dir().file("0333e01c.cvo"));
    EXPECT_EQ(cd->err, 0);
    EXPECT_EQ(cd->source_shift, 0);
    EXPECT_EQ(cd->target_shift, 1);
    const int lengths[4] = {1, 1, 3, 4};
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(cd->shift_len[i], lengths[i]);
    EXPECT_EQ(cd->shift_seq[0][0], 0x0e);
    EXPECT_EQ(cd->shift_seq[1][0], 0x0f);
    EXPECT_EQ(cd->shift_seq[2][2], 0xcc);
    EXPECT_EQ(cd->shift_seq[3][3], 0x04);
    EXPECT_EQ(cd->target_min_len, 1);
    EXPECT_EQ(cd->target_max_len, 2);
    EXPECT_EQ(cd->unused[0], 7);
    EXPECT_EQ(cd->unused[1], 9);
    EXPECT_EQ(cd->source_min_len, 1);
    EXPECT_EQ(cd->source_max_len, 1);
    EXPECT_FLOAT_EQ(cd->factor, 2.5f);
    EXPECT_NE(cd->base_table, nullptr);
    EXPECT_EQ(cd->shifted_table, nullptr);
    EXPECT_EQ(cd->fast_map, nullptr);
  }
}

/* gls.log is switched on once per process: read back in a child. */
TEST_F(ConversionLoad, EqualCodeSetsNeedNoDescriptorAndTryNoFile) {
  dvz_test::TempDir cwd;
  EXPECT_TRUE(glstest::run_in_child(cwd.path(), [&] {
    gls_debug_initialized = 0;
    gls_logging = 0;
    scene.env().set("GLSLOG", "on");
    gl_cv_desc *cd = &cd_einval;
    const int rc = gl_cv_load(&cd, "en_US.819", "de_DE.819", nullptr, nullptr);
    gl_message("done");
    _exit(rc == 0 && cd == nullptr ? 0 : 4);
  }));
  const std::string log = dvz_test::read_file(cwd.file("gls.log"));
  EXPECT_NE(log.find("done\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("open"), std::string::npos) << log;
}

TEST_F(ConversionLoad, UnknownCodeSetGivesTheInvalidStandIn) {
  for (auto [target, source] :
       {std::pair {"en_US.nosuchset", "en_US.819"}, std::pair {"en_US.utf8", "en_US.nosuchset"}}) {
    gl_cv_desc *cd = nullptr;
    EXPECT_EQ(gl_cv_load(&cd, target, source, nullptr, nullptr), -1);
    EXPECT_EQ(cd, &cd_einval);
    EXPECT_EQ(cd->err, GL_EINVAL);
    EXPECT_EQ(gl_cv_unload(cd), 0);
  }
}

TEST_F(ConversionLoad, MissingFileGivesItsOwnDescriptorWithError8) {
  int rc = 0;
  DescPtr cd = load(&rc);
  EXPECT_EQ(rc, -1);
  ASSERT_NE(cd.get(), nullptr);
  EXPECT_FALSE(cd.get() == &cd_fileerr);
  EXPECT_EQ(cd->err, GL_ENOFILE);
  EXPECT_EQ(cd->base_table, nullptr);
}

struct HeaderCase {
  const char *name;
  Cvo file;
  int error;
  const char *message;
};

/* Bad headers and the target length out of range: their diagnostics, read
** back from gls.log in a child per case. */
TEST_F(ConversionLoad, BadHeadersAndTargetLengthWriteTheirDiagnostics) {
  std::vector<HeaderCase> cases;
  cases.push_back(
      {"file type", stateful_file(), GL_ENOFILE, "Invalid CVO file. Wrong FILE_TYPE.\n"});
  cases.back().file.file_type = "FILE_TYPE=locale_object";
  cases.push_back({"version", stateful_file(), GL_ENOFILE, "Invalid CVO file. Wrong Version.\n"});
  cases.back().file.version = "COMPILER_VERSION=8";
  cases.push_back(
      {"tmax 5", stateful_file(), GL_EBADFILE, "cv->target_max_len should be in range 1..4\n"});
  cases.back().file.target_max = 5;
  cases.push_back(
      {"tmax 0", stateful_file(), GL_EBADFILE, "cv->target_max_len should be in range 1..4\n"});
  cases.back().file.target_max = 0;
  cases.push_back({"good", stateful_file(), 0, "CVO file loaded successfully.\n"});
  for (const HeaderCase &c : cases) {
    SCOPED_TRACE(c.name);
    scene.write("0333e01c.cvo", c.file.text());
    dvz_test::TempDir cwd;
    EXPECT_TRUE(glstest::run_in_child(cwd.path(), [&] {
      gls_debug_initialized = 0;
      gls_logging = 0;
      scene.env().set("GLSLOG", "on");
      int rc = 0;
      DescPtr cd = load(&rc);
      const bool ok = c.error == 0 ? rc == 1 : rc == -1 && cd->err == c.error;
      _exit(ok ? 0 : 4);
    }));
    const std::string log = dvz_test::read_file(cwd.file("gls.log"));
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
  }
}

/* The good file with one thing spoilt. */
template <typename Spoil>
std::string spoilt(Spoil spoil) {
  Cvo f = stateful_file();
  spoil(f);
  return f.text();
}

/* Whatever the converters index with is checked at load. */
TEST_F(ConversionLoad, MalformedFilesAreRefused) {
  struct Case {
    const char *name;
    std::string (*text)();
    int error;
  };
  const Case cases[] = {
      {"shift sequence of 5 bytes",
       [] { return spoilt([](Cvo &f) { f.sequence_text = "50102030405000"; }); }, GL_EBADFILE},
      {"shift length not hex", [] { return spoilt([](Cvo &f) { f.sequence_text = "g000"; }); },
       GL_EBADFILE},
      {"shift byte not hex", [] { return spoilt([](Cvo &f) { f.sequence_text = "10x000"; }); },
       GL_EBADFILE},
      {"entry longer than tmax",
       [] {
         return spoilt([](Cvo &f) {
           f.entry_size = 5;
           f.base[{'b'}] = to({1, 2, 3});
         });
       },
       GL_EBADFILE},
      {"entry of 7 bytes in the root",
       [] {
         return spoilt([](Cvo &f) {
           f.entry_size = 8;
           f.base[{'c'}] = cvotest::Entry {0x07, {1, 2, 3, 4, 5, 6, 7}};
         });
       },
       GL_EBADFILE},
      {"target min 0", [] { return spoilt([](Cvo &f) { f.target_min = 0; }); }, GL_EBADFILE},
      {"target min above max", [] { return spoilt([](Cvo &f) { f.target_min = 3; }); },
       GL_EBADFILE},
      {"source min 0", [] { return spoilt([](Cvo &f) { f.source_min = 0; }); }, GL_EBADFILE},
      {"source max 5", [] { return spoilt([](Cvo &f) { f.source_max = 5; }); }, GL_EBADFILE},
      {"source min above max", [] { return spoilt([](Cvo &f) { f.source_min = 2; }); },
       GL_EBADFILE},
      {"factor not finite", [] { return spoilt([](Cvo &f) { f.factor = "inf"; }); }, GL_EBADFILE},
      {"factor negative", [] { return spoilt([](Cvo &f) { f.factor = "-1"; }); }, GL_EBADFILE},
      {"keys longer than 4",
       [] {
         std::string t = stateful_file().text();
         return t.replace(t.find("2.5\n") + 4, 1, "5");
       },
       GL_EKEYLEN},
      {"third header line without =",
       [] {
         std::string t = stateful_file().text();
         return t.replace(t.find("HEADER_LINES="), 13, "HEADER_LINES ");
       },
       GL_ENOFILE},
      {"header longer than the file",
       [] {
         std::string t = stateful_file().text();
         return t.replace(t.find("HEADER_LINES=4"), 14, "HEADER_LINES=400");
       },
       GL_ENOFILE},
      {"shifted table missing",
       [] {
         std::string t = stateful_file().text();
         return t.replace(t.find("0 1\n"), 4, "1 1\n");
       },
       GL_EBADFILE},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    int rc = 0;
    DescPtr cd = load_text(c.text(), &rc);
    EXPECT_EQ(rc, -1);
    ASSERT_NE(cd.get(), nullptr);
    EXPECT_EQ(cd->err, c.error);
  }
}

TEST_F(ConversionLoad, TruncatedFilesAreRefusedAtEveryLength) {
  Cvo file = stateful_file();
  file.shared = true;
  const std::string text = file.text();
  for (std::size_t n = 0; n < text.size() - 1; ++n) {
    SCOPED_TRACE(n);
    int rc = 0;
    DescPtr cd = load_text(text.substr(0, n), &rc);
    EXPECT_EQ(rc, -1);
    EXPECT_NE(cd->err, 0);
  }
  int rc = 0;
  DescPtr cd = load_text(text, &rc);
  EXPECT_EQ(rc, 1);
}

TEST_F(ConversionLoad, EveryAllocationOfALoadMayFail) {
  Cvo file = stateful_file();
  file.source_shift = 1;
  file.shifted[{0x0f}] = to({}, GL_CV_TOGGLE);
  file.shifted[{0x81, 0x82}] = to({'X'});
  scene.write("0333e01c.cvo", file.text());
  int total = 0;
  {
    glstest::FailingAllocator count;
    int rc = 0;
    DescPtr cd = load(&rc);
    ASSERT_EQ(rc, 1);
    cd.reset();
    total = count.calls();
    EXPECT_EQ(count.outstanding(), 0);
  }
  ASSERT_GT(total, 5);
  for (int n = 1; n <= total; ++n) {
    SCOPED_TRACE(n);
    glstest::FailingAllocator fail(n);
    int rc = 0;
    DescPtr cd = load(&rc);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(cd->err, GL_ENOMEM);
    /* The name, then the descriptor: the stand-in; later, the descriptor. */
    EXPECT_EQ(cd.get() == &cd_enomem, n <= 2);
    cd.reset();
    EXPECT_EQ(fail.outstanding(), 0);
    EXPECT_FALSE(fail.freed_unknown());
  }
}

TEST(ConversionUnload, StandInsStayAndNullIsRefused) {
  for (gl_cv_desc *cd : {&cd_enomem, &cd_fileerr, &cd_einval})
    EXPECT_EQ(gl_cv_unload(cd), 0);
  EXPECT_EQ(cd_enomem.err, GL_ENOMEM);
  EXPECT_EQ(cd_fileerr.err, GL_ENOFILE);
  EXPECT_EQ(cd_einval.err, GL_EINVAL);
  EXPECT_EQ(gl_cv_unload(nullptr), -1);
}

TEST(ConversionSize, OutputLengthRoundsTheFactorUpFirst) {
  struct Case {
    float factor;
    int n;
    int bytes;
  };
  const Case cases[] = {
      {1.0f, 10, 10}, {1.2f, 10, 20}, {1.5f, 10, 20}, {3.0f, 0, 0}, {4.0f, 1 << 30, INT32_MAX}};
  for (const Case &c : cases) {
    gl_cv_desc cd {};
    cd.factor = c.factor;
    EXPECT_EQ(gl_cv_outbuflen(&cd, c.n), c.bytes) << c.factor << " x " << c.n;
    EXPECT_DOUBLE_EQ(gl_iconv_expansion(&cd), static_cast<double>(c.factor));
  }
}

TEST_F(ConversionLoad, OpensByCodeSetNames) {
  scene.write("8859-1_utf8.cvo", stateful_file().text());
  gl_cv_desc *cd = &cd_einval;
  EXPECT_EQ(gl_cv_open(&cd, "en_US.utf8@euro", "de_DE.8859-1"), 1);
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(cd->target_max_len, 2);
  gl_cv_unload(cd);

  EXPECT_EQ(gl_cv_open(&cd, "en_US.utf8", "fr_FR.utf8 more"), 0);
  EXPECT_EQ(cd, nullptr);
  EXPECT_EQ(gl_cv_open(&cd, "en_US", "fr_FR.utf8"), -1);
  EXPECT_EQ(cd, &cd_fileerr);
  const std::string long_name = "en_US." + std::string(1020, 'x');
  EXPECT_EQ(gl_cv_open(&cd, long_name.c_str(), "fr_FR.utf8"), -1);
  EXPECT_EQ(cd, &cd_fileerr);

  EXPECT_EQ(gl_iconv_open(&cd, "utf8", "nosuch"), -1);
  ASSERT_NE(cd, nullptr);
  EXPECT_EQ(cd->err, GL_ENOFILE);
  gl_cv_unload(cd);
}

}  // namespace
