/*
** Code-set conversion services with the build's generated converters
** between 8859-1 and UTF-8: agreement with the C library's iconv (in
** process and as a command), errors of every buffer routine, copying
** without a converter, truncation, estimates, file calls with converted
** names, gcvgetc, conversion between locale specifications and the
** multibyte helpers.
*/
#include "os_conv.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "conversion_fixture.h"
#include "cvo_builder.h"
#include "gl_errors.h"
#include "gl_locale.h"
#include "isolation.h"
#include "os_context.h"
#include "os_env.h"
#include "os_gentcb.h"
#include "temp_dir.h"

namespace {

using namespace std::string_literals;
using oslib_test::EnvironmentConverter;
using oslib_test::Latin1ToUtf8;
using oslib_test::Utf8ToLatin1;

const std::string euro_utf8 = "\xE2\x82\xAC";

/* The bytes 0x20 to 0xFF in order. */
std::string printable_latin1() {
  std::string s;
  for (int b = 0x20; b <= 0xFF; ++b)
    s.push_back(static_cast<char>(b));
  return s;
}

/* iconv(3) of in; the failure is recorded and "" returned when it fails. */
std::string iconv_library(const std::string &in, const char *to, const char *from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "iconv_open " << from << " -> " << to;
    return "";
  }
  std::string out(in.size() * 4 + 16, '\0');
  char *ip = const_cast<char *>(in.data());
  size_t il = in.size();
  char *op = out.data();
  size_t ol = out.size();
  const size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  EXPECT_NE(rc, static_cast<size_t>(-1));
  out.resize(out.size() - ol);
  return out;
}

/* The iconv command run in a child on in, 8859-1 to UTF-8. */
std::string iconv_command(const std::string &in) {
  int to_child[2];
  int from_child[2];
  if (pipe(to_child) != 0 || pipe(from_child) != 0) {
    ADD_FAILURE() << "pipe";
    return "";
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(to_child[0], 0);
    dup2(from_child[1], 1);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]})
      close(fd);
    execlp("iconv", "iconv", "-f", "ISO-8859-1", "-t", "UTF-8", static_cast<char *>(nullptr));
    _exit(127);
  }
  close(to_child[0]);
  close(from_child[1]);
  /* The input is far below a pipe's capacity: write it all, then read. */
  EXPECT_EQ(write(to_child[1], in.data(), in.size()), static_cast<ssize_t>(in.size()));
  close(to_child[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = read(from_child[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<size_t>(n));
  close(from_child[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "iconv status " << status;
  return out;
}

TEST(ConversionPeers, Latin1ToUtf8MatchesIconvForEveryByteFrom0x20) {
  Latin1ToUtf8 cv;
  ASSERT_NE(cv.get(), nullptr);
  const std::string in = printable_latin1();
  const std::string want = iconv_library(in, "UTF-8", "ISO-8859-1");
  ASSERT_EQ(want.size(), 0x60u + 0x80u * 2u);
  EXPECT_EQ(iconv_command(in), want);
  int len = static_cast<int>(in.size());

  char *allocated = nullptr;
  const int n_malloc = gcv_malloc(cv.get(), in.data(), &len, &allocated);
  ASSERT_NE(allocated, nullptr);
  EXPECT_EQ(std::string(allocated, static_cast<size_t>(n_malloc > 0 ? n_malloc : 0)), want);
  free(allocated);

  std::vector<char> ext(want.size());
  int truncated = -1;
  const int n_ext =
      gcv_extbuf(cv.get(), in.data(), &len, ext.data(), static_cast<int>(ext.size()), &truncated);
  EXPECT_EQ(truncated, 0);
  EXPECT_EQ(std::string(ext.data(), static_cast<size_t>(n_ext > 0 ? n_ext : 0)), want);

  gcv_growbuf record {0, nullptr};
  const int n_reuse = gcv_reuse(cv.get(), in.data(), &len, &record);
  ASSERT_NE(record.buffer, nullptr);
  EXPECT_EQ(std::string(record.buffer, static_cast<size_t>(n_reuse > 0 ? n_reuse : 0)), want);
  free(record.buffer);

  /* A terminated source converts its NUL and counts it. */
  char *terminated = nullptr;
  EXPECT_EQ(gcv_malloc(cv.get(), in.c_str(), nullptr, &terminated),
            static_cast<int>(want.size()) + 1);
  ASSERT_NE(terminated, nullptr);
  EXPECT_EQ(std::string(terminated), want);
  free(terminated);

  /* And back again through the other converter. */
  Utf8ToLatin1 back;
  char *round = nullptr;
  int wlen = static_cast<int>(want.size());
  EXPECT_EQ(gcv_malloc(back.get(), want.data(), &wlen, &round), static_cast<int>(in.size()));
  ASSERT_NE(round, nullptr);
  EXPECT_EQ(std::string(round, in.size()), in);
  free(round);
}

/* One converting routine called on (cv, source, length pointer). */
struct Routine {
  const char *name;
  std::function<int(gl_cv_desc *, const char *, int *)> call;
};

std::vector<Routine> routines() {
  return {
      {"gcv_extbuf",
       [](gl_cv_desc *cv, const char *src, int *len) {
         char out[64];
         int truncated = 0;
         return gcv_extbuf(cv, src, len, out, sizeof out, &truncated);
       }},
      {"gcv_inplace",
       [](gl_cv_desc *cv, const char *src, int *len) {
         char text[64] = {};
         if (src != nullptr) strncpy(text, src, sizeof text - 1);
         int truncated = 0;
         return gcv_inplace(cv, src != nullptr ? text : nullptr, len, sizeof text, &truncated);
       }},
      {"gcv_malloc",
       [](gl_cv_desc *cv, const char *src, int *len) {
         char *out = nullptr;
         const int rc = gcv_malloc(cv, src, len, &out);
         free(out);
         return rc;
       }},
      {"gcv_len", [](gl_cv_desc *cv, const char *src, int *len) { return gcv_len(cv, src, len); }},
      {"gcv_reuse",
       [](gl_cv_desc *cv, const char *src, int *len) {
         gcv_growbuf record {0, nullptr};
         const int rc = gcv_reuse(cv, src, len, &record);
         free(record.buffer);
         return rc;
       }},
  };
}

TEST(ConversionErrors, EveryRoutineRejectsBadArgumentsAndUnconvertibleText) {
  Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  const std::string with_euro = "price " + euro_utf8;
  struct Case {
    const char *what;
    gl_cv_desc *cv;
    const char *src;
    int len; /* -99: a NULL length pointer */
    int glserror;
  };
  const Case cases[] = {
      {"length 0, converter", cv.get(), "abc", 0, gcv_err_bad_argument},
      {"length 0, no converter", nullptr, "abc", 0, gcv_err_bad_argument},
      {"negative length", cv.get(), "abc", -3, gcv_err_bad_argument},
      {"NULL source", cv.get(), nullptr, -99, gcv_err_bad_argument},
      {"NULL source, no converter", nullptr, nullptr, 2, gcv_err_bad_argument},
      {"U+20AC to 8859-1, terminated", cv.get(), with_euro.c_str(), -99, gcv_err_invalid_char},
      {"U+20AC to 8859-1, counted", cv.get(), with_euro.c_str(), static_cast<int>(with_euro.size()),
       gcv_err_invalid_char},
      {"character cut by the length", cv.get(), with_euro.c_str(),
       static_cast<int>(with_euro.size()) - 1, gcv_err_invalid_char},
  };
  for (const Routine &r : routines()) {
    for (const Case &c : cases) {
      set_glserror(0);
      int len = c.len;
      EXPECT_EQ(r.call(c.cv, c.src, c.len == -99 ? nullptr : &len), -1) << r.name << ": " << c.what;
      EXPECT_EQ(get_glserror(), c.glserror) << r.name << ": " << c.what;
    }
  }
}

TEST(ConversionErrors, BufferSizesBelowOneAndNegativeCountsAreBadArguments) {
  Latin1ToUtf8 cv;
  char out[8];
  char text[8] = "abc";
  int truncated = 0;
  for (gl_cv_desc *d : {cv.get(), static_cast<gl_cv_desc *>(nullptr)}) {
    for (int size : {0, -1}) {
      set_glserror(0);
      EXPECT_EQ(gcv_extbuf(d, "abc", nullptr, out, size, &truncated), -1);
      EXPECT_EQ(get_glserror(), gcv_err_bad_argument);
      set_glserror(0);
      EXPECT_EQ(gcv_inplace(d, text, nullptr, size, &truncated), -1);
      EXPECT_EQ(get_glserror(), gcv_err_bad_argument);
    }
    set_glserror(0);
    EXPECT_EQ(gcv_lenonly(d, -1), -1);
    EXPECT_EQ(get_glserror(), gcv_err_bad_argument);
  }
  set_glserror(0);
  EXPECT_EQ(gcv_reuse(cv.get(), "abc", nullptr, nullptr), -1);
  EXPECT_EQ(get_glserror(), gcv_err_bad_argument);
}

TEST(ConversionWithoutConverter, ExtbufCopiesWhatFitsAndFlagsTheCut) {
  struct Case {
    const char *src;
    int len; /* -1: terminated */
    int size;
    std::string want;
    int truncated;
  };
  const Case cases[] = {
      {"abcdef", -1, 4, "abcd", 1},   {"abcdef", -1, 7, "abcdef\0"s, 0},
      {"abcdef", -1, 6, "abcdef", 1}, {"abcdef", 3, 10, "abc", 0},
      {"abcdef", 5, 2, "ab", 1},
  };
  constexpr char guard = 0x5A;
  for (const Case &c : cases) {
    std::vector<char> buffer(static_cast<size_t>(c.size) + 8, guard);
    int len = c.len;
    int truncated = -1;
    EXPECT_EQ(
        gcv_extbuf(nullptr, c.src, c.len < 0 ? nullptr : &len, buffer.data(), c.size, &truncated),
        0)
        << c.src << "/" << c.size;
    EXPECT_EQ(truncated, c.truncated) << c.src << "/" << c.size;
    EXPECT_EQ(std::string(buffer.data(), c.want.size()), c.want);
    for (size_t i = c.want.size(); i < buffer.size(); ++i)
      ASSERT_EQ(buffer[i], guard) << "byte " << i << " written for " << c.src << "/" << c.size;
  }
}

TEST(ConversionWithoutConverter, EveryRoutineCopiesAndReportsZero) {
  char *copy = nullptr;
  EXPECT_EQ(gcv_malloc(nullptr, "hello", nullptr, &copy), 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::string(copy, 6), "hello\0"s);
  free(copy);

  char text[16] = "caf\xE9";
  int truncated = -1;
  EXPECT_EQ(gcv_inplace(nullptr, text, nullptr, sizeof text, &truncated), 0);
  EXPECT_STREQ(text, "caf\xE9");
  EXPECT_EQ(truncated, 0);

  int three = 3;
  EXPECT_EQ(gcv_len(nullptr, "hello", nullptr), 6);
  EXPECT_EQ(gcv_len(nullptr, "hello", &three), 3);
  EXPECT_EQ(gcv_lenonly(nullptr, 10), 10);

  gcv_growbuf record {0, nullptr};
  EXPECT_EQ(gcv_reuse(nullptr, "hello", nullptr, &record), 0);
  ASSERT_NE(record.buffer, nullptr);
  EXPECT_EQ(std::string(record.buffer, 6), "hello\0"s);
  EXPECT_GE(record.size, 6);
  free(record.buffer);
}

TEST(ConversionTruncation, ExtbufAndInplaceKeepWhatFitsAndSetTheFlag) {
  Latin1ToUtf8 cv;
  ASSERT_NE(cv.get(), nullptr);
  /* "caf\xE9" and its NUL become 6 bytes of UTF-8. */
  struct Case {
    int size;
    int written;
    int truncated;
  };
  const Case extbuf_cases[] = {{6, 6, 0}, {5, 5, 1}, {4, 3, 1}, {1, 1, 1}};
  constexpr char guard = 0x5A;
  for (const Case &c : extbuf_cases) {
    std::vector<char> buffer(16, guard);
    int truncated = -1;
    EXPECT_EQ(gcv_extbuf(cv.get(), "caf\xE9", nullptr, buffer.data(), c.size, &truncated),
              c.written)
        << "size " << c.size;
    EXPECT_EQ(truncated, c.truncated) << "size " << c.size;
    EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(c.written)),
              ("caf\xC3\xA9\0"s).substr(0, static_cast<size_t>(c.written)));
    EXPECT_EQ(buffer[static_cast<size_t>(c.size)], guard) << "size " << c.size;
  }
  /* In place the NUL is neither converted nor written. */
  const Case inplace_cases[] = {{16, 5, 0}, {5, 5, 0}, {4, 3, 1}};
  for (const Case &c : inplace_cases) {
    char text[16];
    memset(text, guard, sizeof text);
    memcpy(text, "caf\xE9", 5);
    int truncated = -1;
    EXPECT_EQ(gcv_inplace(cv.get(), text, nullptr, c.size, &truncated), c.written)
        << "size " << c.size;
    EXPECT_EQ(truncated, c.truncated) << "size " << c.size;
    EXPECT_EQ(std::string(text, static_cast<size_t>(c.written)),
              std::string("caf\xC3\xA9", static_cast<size_t>(c.written)));
    EXPECT_EQ(text[6], guard);
  }
  char counted[8] = "\xE9\xE9xyz";
  int two = 2;
  int truncated = -1;
  EXPECT_EQ(gcv_inplace(cv.get(), counted, &two, sizeof counted, &truncated), 4);
  EXPECT_EQ(std::string(counted, 4), "\xC3\xA9\xC3\xA9");
}

TEST(ConversionEstimates, LengthsFollowTheExpansionFactor) {
  /* Descriptors that only carry a factor: the estimate reads nothing else. */
  struct Case {
    float factor;
    int n;
    int want;
  };
  const Case cases[] = {{1.5F, 10, 15}, {1.25F, 10, 13}, {1.1F, 10, 12}, {2.0F, 0, 0}};
  for (const Case &c : cases) {
    gl_cv_desc d {};
    d.factor = c.factor;
    EXPECT_EQ(gcv_lenonly(&d, c.n), c.want) << c.factor << " x " << c.n;
  }
  gl_cv_desc huge {};
  huge.factor = 4.0F;
  EXPECT_EQ(gcv_lenonly(&huge, INT_MAX), INT_MAX);

  Latin1ToUtf8 cv;
  ASSERT_NE(cv.get(), nullptr);
  int four = 4;
  EXPECT_EQ(gcv_len(cv.get(), "caf\xE9", nullptr), 6);
  EXPECT_EQ(gcv_len(cv.get(), "caf\xE9", &four), 5);
}

TEST(ConversionEstimates, ReuseGrowsOnlyWhenTheEstimateExceedsTheSize) {
  gl_cv_desc *none = nullptr;
  Latin1ToUtf8 loaded;
  ASSERT_NE(loaded.get(), nullptr);
  for (gl_cv_desc *cv : {none, loaded.get()}) {
    const double factor = cv != nullptr ? gl_iconv_expansion(cv) : 1.0;
    gcv_growbuf record {0, nullptr};
    const std::string longer(40, '\xE9');
    gcv_reuse(cv, "ab\xE9", nullptr, &record);
    ASSERT_NE(record.buffer, nullptr);
    const int first_size = record.size;
    EXPECT_EQ(first_size, static_cast<int>(std::ceil(3 * factor)) + 1);
    char *const first_buffer = record.buffer;
    /* A shorter text fits: neither the buffer nor its size changes. */
    gcv_reuse(cv, "a", nullptr, &record);
    EXPECT_EQ(record.buffer, first_buffer);
    EXPECT_EQ(record.size, first_size);
    /* A longer one grows it to its estimate (plus the spare bytes). */
    const int n = gcv_reuse(cv, longer.c_str(), nullptr, &record);
    EXPECT_EQ(record.size, static_cast<int>(std::ceil(40 * factor)) + 1);
    EXPECT_EQ(n, cv != nullptr ? 81 : 0);
    if (cv != nullptr) {
      EXPECT_EQ(std::string(record.buffer, 2), "\xC3\xA9");
    }
    free(record.buffer);
  }
}

/* One file call on a name; true when it succeeded. */
struct FileCall {
  const char *name;
  std::function<bool(const std::string &)> call;
};

TEST(ConversionFileCalls, NamesReachThePlatformInTheOsCodeSet) {
  dvz_test::TempDir dir;
  /* The OS names are 8859-1; the client writes UTF-8. */
  dir.write("caf\xE9", "12345");
  ASSERT_EQ(mkdir(dir.file("r\xE9p").c_str(), 0700), 0);
  dir.write(euro_utf8, "raw UTF-8 name");
  Utf8ToLatin1 cv;
  ASSERT_NE(cv.get(), nullptr);
  const std::string file = dir.file("caf\xC3\xA9");
  const FileCall calls[] = {
      {"gcvaccess", [](const std::string &n) { return gcvaccess(n.c_str(), R_OK) == 0; }},
      {"gcvstat",
       [](const std::string &n) {
         struct stat st {};
         return gcvstat(n.c_str(), &st) == 0 && st.st_size == 5;
       }},
      {"gcvopen",
       [](const std::string &n) {
         const int fd = gcvopen(n.c_str(), O_RDONLY);
         if (fd >= 0) close(fd);
         return fd >= 0;
       }},
      {"gcvfopen",
       [](const std::string &n) {
         FILE *f = gcvfopen(n.c_str(), "r");
         if (f != nullptr) fclose(f);
         return f != nullptr;
       }},
  };
  {
    EnvironmentConverter in_env(&new_gls_env::cv_client_os, cv.get());
    for (const FileCall &c : calls) {
      EXPECT_TRUE(c.call(file)) << c.name;
      /* A name without a conversion never reaches the platform, even when a
      ** file of its unconverted bytes exists. */
      set_glserror(0);
      EXPECT_FALSE(c.call(dir.file(euro_utf8))) << c.name;
      EXPECT_EQ(get_glserror(), gcv_err_invalid_char) << c.name;
    }
    EXPECT_EQ(gcvlink(file.c_str(), dir.file("lien\xC3\xA9").c_str()), 0);
    EXPECT_EQ(access(dir.file("lien\xE9").c_str(), F_OK), 0);
    EXPECT_EQ(gcvunlink(dir.file("lien\xC3\xA9").c_str()), 0);
    EXPECT_NE(access(dir.file("lien\xE9").c_str(), F_OK), 0);
    EXPECT_EQ(gcvlink(dir.file(euro_utf8).c_str(), dir.file("x").c_str()), -1);

    const int fd = gcvcreat(dir.file("nouveau\xC3\xA9").c_str(), 0600);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_EQ(access(dir.file("nouveau\xE9").c_str(), F_OK), 0);

    dvz_test::ScopedChdir back(dir.path());
    EXPECT_EQ(gcvchdir(dir.file("r\xC3\xA9p").c_str()), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string now(cwd);
    EXPECT_EQ(now.substr(now.rfind('/')), "/r\xE9p");
  }
  /* Without a converter the name goes as given. */
  for (const FileCall &c : calls) {
    EXPECT_TRUE(c.call(dir.file("caf\xE9"))) << c.name;
    EXPECT_FALSE(c.call(file)) << c.name;
  }
}

TEST(ConversionFileCalls, AConvertedNameLongerThanItsBufferIsRefused) {
  dvz_test::TempDir dir;
  /* A path of more than 260 bytes to an existing file. */
  std::string relative;
  while (dir.path().size() + relative.size() < 300)
    relative += std::string(40, 'd') + "/";
  relative += "f";
  dir.write(relative, "x");
  const std::string path = dir.file(relative);
  ASSERT_EQ(access(path.c_str(), F_OK), 0);
  EXPECT_EQ(gcvaccess(path.c_str(), F_OK), 0);
  Utf8ToLatin1 cv;
  EnvironmentConverter in_env(&new_gls_env::cv_client_os, cv.get());
  EXPECT_EQ(gcvaccess(path.c_str(), F_OK), -1);
  EXPECT_EQ(gcvfopen(path.c_str(), "r"), nullptr);
  /* gcvchdir has room for 1024 bytes and a NUL. */
  const std::string parent = path.substr(0, path.rfind('/'));
  dvz_test::ScopedChdir back(dir.path());
  EXPECT_EQ(gcvchdir(parent.c_str()), 0);
}

TEST(ConversionHelpers, Is8bitstrLooksForAByteAbove127) {
  struct Case {
    const char *s;
    int want;
  };
  const Case cases[] = {
      {"", 0}, {"plain ascii ~\x7F", 0}, {"caf\xE9", 1}, {"\x80", 1}, {nullptr, 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(is8bitstr(c.s), c.want) << (c.s != nullptr ? c.s : "NULL");
}

/* Reads stream with gcvgetc until EOF or limit calls; the results. */
std::vector<int> read_all(FILE *stream, size_t limit = 32) {
  std::vector<int> got;
  while (got.size() < limit) {
    const int c = gcvgetc(stream);
    got.push_back(c);
    if (c == EOF) break;
  }
  return got;
}

TEST(ConversionHelpers, GcvgetcHandsOutConvertedCharactersByteByByte) {
  Latin1ToUtf8 latin1_os;
  Utf8ToLatin1 utf8_os;
  struct Case {
    const char *what;
    gl_cv_desc *os_to_client;
    std::string input;
    std::vector<int> want;
    int glserror;
  };
  const Case cases[] = {
      {"no converter", nullptr, "a\xE9", {'a', 0xE9, EOF}, 0},
      {"8859-1 OS, UTF-8 client", latin1_os.get(), "a\xE9z", {'a', 0xC3, 0xA9, 'z', EOF}, 0},
      {"UTF-8 OS, 8859-1 client", utf8_os.get(), "\xC3\xA9x", {0xE9, 'x', EOF}, 0},
      {"no 8859-1 form", utf8_os.get(), "a" + euro_utf8 + "b", {'a', EOF}, gcv_err_invalid_char},
      {"cut by the end", utf8_os.get(), "a\xC3", {'a', EOF}, gcv_err_invalid_char},
  };
  for (const Case &c : cases) {
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    fwrite(c.input.data(), 1, c.input.size(), f);
    rewind(f);
    set_glserror(0);
    EnvironmentConverter in_env(&new_gls_env::cv_os_client, c.os_to_client);
    EXPECT_EQ(read_all(f), c.want) << c.what;
    EXPECT_EQ(get_glserror(), c.glserror) << c.what;
    fclose(f);
  }
}

/* A locale record of the build's tree, and a guard making it the current
** environment's locale. */
gl_locale *utf8_record() {
  static gl_locale *record = [] {
    const std::string gls = oslib_test::isolated_dovarizadir() + "/gls";
    gl_locale *r = nullptr;
    if (gl_lc_load(&r, oslib_test::utf8_spec, nullptr, (gls + "/lc11").c_str()) != 0) {
      gl_lc_unload(r);
      return static_cast<gl_locale *>(nullptr);
    }
    r->error = 0;
    return r;
  }();
  return record;
}

class CurrentLocaleRecord {
 public:
  explicit CurrentLocaleRecord(gl_locale *record) {
    env_ = CheckGlsEnv();
    saved_ = env_->locale;
    env_->locale = record;
  }
  ~CurrentLocaleRecord() { env_->locale = saved_; }
  CurrentLocaleRecord(const CurrentLocaleRecord &) = delete;
  CurrentLocaleRecord &operator=(const CurrentLocaleRecord &) = delete;

 private:
  gls_env *env_;
  gl_locale *saved_;
};

TEST(ConversionBetweenSpecifications, NeededLengthsAndConversions) {
  struct Needed {
    const char *target, *source;
    int want;
  };
  const Needed needed[] = {
      {"en_US.utf8", "en_US.8859-1", 1},
      {"de_DE.8859-1", "en_US.8859-1", 0},
      {"en_US.nosuchset", "en_US.8859-1", -1},
      {"en_US.8859-1", "en_US.nosuchset", -1},
  };
  for (const Needed &n : needed)
    EXPECT_EQ(dvz_gl_conv_needed(n.target, n.source), n.want) << n.target << " <- " << n.source;

  gl_locale *record = utf8_record();
  ASSERT_NE(record, nullptr);
  CurrentLocaleRecord current(record);
  Latin1ToUtf8 cv;
  EXPECT_EQ(dvz_gl_cv_outbuflen("en_US.utf8", "en_US.8859-1", 10), gl_cv_outbuflen(cv.get(), 10));
  EXPECT_EQ(dvz_gl_cv_outbuflen("de_DE.8859-1", "en_US.8859-1", 10), 10);
  /* Hebrew has no converter from 8859-1 in the tree. */
  record->error = 0;
  EXPECT_EQ(dvz_gl_cv_outbuflen("he_IL.8859-8", "en_US.8859-1", 10), -1);
  EXPECT_EQ(record->error, GL_ENOFILE);

  unsigned char out[16];
  memset(out, 'Z', sizeof out);
  unsigned char *op = out;
  int outleft = sizeof out;
  const auto *in = reinterpret_cast<const unsigned char *>("caf\xE9!");
  int inleft = 5;
  record->error = 99;
  EXPECT_EQ(dvz_gl_cv_mconv(nullptr, &op, &outleft, "en_US.utf8", &in, &inleft, "en_US.8859-1"), 0);
  EXPECT_EQ(record->error, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out)), "caf\xC3\xA9!");
  EXPECT_EQ(op - out, 6);
  EXPECT_EQ(inleft, 0);

  const std::string euro = "a" + euro_utf8;
  in = reinterpret_cast<const unsigned char *>(euro.c_str());
  op = out;
  outleft = sizeof out;
  EXPECT_EQ(dvz_gl_cv_mconv(nullptr, &op, &outleft, "en_US.8859-1", &in, nullptr, "en_US.utf8"),
            GL_EILSEQ);
  EXPECT_EQ(record->error, GL_EILSEQ);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(out)), "a");

  in = reinterpret_cast<const unsigned char *>("x");
  op = out;
  outleft = sizeof out;
  EXPECT_EQ(dvz_gl_cv_mconv(nullptr, &op, &outleft, "he_IL.8859-8", &in, nullptr, "en_US.8859-1"),
            -1);
  EXPECT_EQ(record->error, GL_ENOFILE);
}

TEST(ConversionBetweenSpecifications, SingleByteMapIsHandedOutOnlyWhenTheConverterHasOne) {
  gl_locale *record = utf8_record();
  ASSERT_NE(record, nullptr);
  CurrentLocaleRecord current(record);
  unsigned char *map = reinterpret_cast<unsigned char *>(1);
  EXPECT_EQ(dvz_gl_cv_sb2sb_table("en_US.utf8", "en_US.8859-1", &map), -1);
  EXPECT_EQ(map, nullptr);
  EXPECT_EQ(dvz_gl_cv_sb2sb_table("de_DE.8859-1", "en_US.8859-1", &map), -1);
  EXPECT_EQ(map, nullptr);

  /* The shipped 8859-1 -> CP1252 file leaves bytes unconverted, so it has
  ** no map; a tree whose file converts every byte (letters to upper case)
  ** has one. */
  EXPECT_EQ(dvz_gl_cv_sb2sb_table("en_US.cp1252", "en_US.8859-1", &map), -1);
  dvz_test::TempDir tree;
  tree.write("gls/cv9/033304e4.cvo", cvotest::complete_single_byte().text());
  ASSERT_EQ(symlink((oslib_test::isolated_dovarizadir() + "/gls/cm3").c_str(),
                    tree.file("gls/cm3").c_str()),
            0);
  const std::string saved = getenv("DOVARIZADIR");
  setenv("DOVARIZADIR", tree.path().c_str(), 1);
  EXPECT_EQ(dvz_gl_cv_sb2sb_table("en_US.cp1252", "en_US.8859-1", &map), 0);
  setenv("DOVARIZADIR", saved.c_str(), 1);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map['a'], 'A');
  EXPECT_EQ(map[0xE9], 0xE9);
  free(map);
}

TEST(MultibyteHelpers, WidthsLengthsAndCharacterCopies) {
  gl_locale *loc = utf8_record();
  ASSERT_NE(loc, nullptr);
  /* "a", e-acute (2 bytes), a CJK ideograph (3 bytes, 2 columns), "b". */
  const std::string text =
      "a\xC3\xA9\xE6\x97\xA5"
      "b";
  struct Width {
    int width;
    int bytes;
  };
  for (const Width &w : {Width {0, 0}, Width {1, 1}, Width {2, 3}, Width {3, 3}, Width {4, 6},
                         Width {5, 7}, Width {99, 7}})
    EXPECT_EQ(dbcslswdw(text.c_str(), w.width, loc), w.bytes) << "width " << w.width;
  EXPECT_EQ(dbcslswdw("a\xFF"
                      "b",
                      10, loc),
            1);

  struct Count {
    std::string s;
    int n;
    int chars;
    int whole_bytes;
  };
  const Count counts[] = {
      {text, 7, 4, 7},
      {text, 6, 3, 6},
      {text, 5, -1, 3}, /* the ideograph is cut */
      {text, 2, -1, 1},
      {text, 0, 0, 0},
      {"a\xFF"
       "b",
       3, -1, 1},
      {"a\0b"s, 3, 3, 3},
  };
  for (const Count &c : counts) {
    EXPECT_EQ(glsmbsnlen(loc, c.s.data(), c.n), c.chars) << c.n;
    EXPECT_EQ(glsmbsnbytelen(loc, c.s.data(), c.n), c.whole_bytes) << c.n;
  }

  struct Copy {
    std::string s;
    gl_wchar value;
    int length;
  };
  const Copy copies[] = {
      {"\xC3\xA9z", 0xC3A9, 2},
      {"\xE6\x97\xA5", 0xE697A5, 3},
      {"q", 'q', 1},
      {"", 0, 1},
      {"\xFF", 0, -1},
      {"\xC3", 0, -1},
  };
  for (const Copy &c : copies) {
    char out[8];
    memset(out, 'Z', sizeof out);
    int length = 99;
    EXPECT_EQ(mbcharcopy(loc, c.s.c_str(), out, &length), c.value) << c.s;
    EXPECT_EQ(length, c.length) << c.s;
    if (c.length > 0) {
      EXPECT_EQ(memcmp(out, c.s.c_str(), static_cast<size_t>(c.length)), 0) << c.s;
    }
    EXPECT_EQ(out[c.length > 0 ? c.length : 0], 'Z') << c.s;
  }

  const gl_wchar wide[] = {'a', ' ', 0xC3A9, ' ', ' '};
  EXPECT_EQ(wbyleng(wide, 5), 3);
  EXPECT_EQ(wbyleng(wide, 2), 1);
  EXPECT_EQ(wbyleng(wide + 3, 2), 0);
  EXPECT_EQ(wbyleng(wide, 0), 0);
}

/* Runs alone in its process (as every case does under CTest): the locale
** is initialised here, from the variables the test sets. */
TEST(ConversionConnectList, ADatabaseLocaleOfAnotherCodeSetGetsTheListConverted) {
  for (const char *name : {"DBNLS", "LANG", "LC_ALL", "LC_CTYPE", "DBPATH", "DBDATE"})
    unsetenv(name);
  setenv("CLIENT_LOCALE", "en_US.8859-1", 1);
  setenv("DB_LOCALE", "en_US.utf8", 1);
  setenv("DBDATE", "DMY4", 1);
  ASSERT_NE(CheckOsInit(), nullptr);
  ASSERT_EQ(chkglsinit(), 0);
  gls_env *env = CheckGlsEnv();
  ASSERT_NE(env->state->cv_client_db, nullptr) << "no client-to-database converter loaded";

  const std::string dbpath = "/data/caf\xE9:/r\xE9sum\xE9";
  evlist_t list {};
  ASSERT_EQ(_oscpevlist(&list, dbpath.c_str()), 0);
  ASSERT_GE(list.count, 1);
  EXPECT_STREQ(list.names[0], "DBPATH");
  EXPECT_EQ(std::string(list.values[0]), iconv_library(dbpath, "UTF-8", "ISO-8859-1"));
  bool dbdate_seen = false;
  for (int i = 0; i < list.count; ++i) {
    if (strcmp(list.names[i], "DBDATE") != 0) continue;
    dbdate_seen = true;
    EXPECT_STREQ(list.values[i], "DMY4");
  }
  EXPECT_TRUE(dbdate_seen);
  _osfreevlist(&list);
}

}  // namespace
