/*
** The client's callbacks in the locale library's host-service table: what
** setup_glext_funcs installs (seen through the library's own table and
** wrappers), the environment as the library then reads and writes it, and
** the current date and time against the C library's localtime_r.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "connect_fixture.h"
#include "gl_host.h"
#include "os_env.h"
#include "os_glsenvs.h"

namespace {

using connect_test::ConnectTest;

struct Installed {
  int slot;
  gl_ext_funcptr function;
};

template <typename F>
gl_ext_funcptr slot_fn(F *f) {
  return reinterpret_cast<gl_ext_funcptr>(f);
}

const Installed callbacks[] = {
    {GL_EXT_GETENV, slot_fn(cl_ext_getenv)},     {GL_EXT_ERRNO, slot_fn(cl_ext_errno)},
    {GL_EXT_FCLOSE, slot_fn(cl_ext_fclose)},     {GL_EXT_FEOF, slot_fn(cl_ext_feof)},
    {GL_EXT_FERROR, slot_fn(cl_ext_ferror)},     {GL_EXT_FGETC, slot_fn(cl_ext_fgetc)},
    {GL_EXT_FGETS, slot_fn(cl_ext_fgets)},       {GL_EXT_FOPEN, slot_fn(cl_ext_fopen)},
    {GL_EXT_FREE, slot_fn(cl_ext_free)},         {GL_EXT_FSEEK, slot_fn(cl_ext_fseek)},
    {GL_EXT_FTELL, slot_fn(cl_ext_ftell)},       {GL_EXT_FWRITE, slot_fn(cl_ext_fwrite)},
    {GL_EXT_GETC, slot_fn(cl_ext_getc)},         {GL_EXT_MALLOC, slot_fn(cl_ext_malloc)},
    {GL_EXT_UNGETC, slot_fn(cl_ext_ungetc)},     {GL_EXT_PUTENV, slot_fn(cl_ext_putenv)},
    {GL_EXT_CURRDATE, slot_fn(cl_ext_currdate)}, {GL_EXT_CURRTIME, slot_fn(cl_ext_currtime)},
};

void empty_every_slot() {
  for (int slot = 0; slot < GL_EXT_SLOTS; ++slot)
    ASSERT_EQ(gl_setextfunc(nullptr, slot, nullptr), 0);
}

TEST(SetupGlextFuncs, OnlyTheClientModeInstallsAllEighteen) {
  empty_every_slot();
  for (int mode : {0, 2, 3, -1}) {
    EXPECT_EQ(setup_glext_funcs(mode), -1) << mode;
    for (int slot = 0; slot < GL_EXT_SLOTS; ++slot)
      EXPECT_EQ(_gl_get_ext_funcptr(slot), nullptr) << "mode " << mode << " slot " << slot;
  }

  EXPECT_EQ(setup_glext_funcs(1), 0);
  for (const Installed &c : callbacks)
    EXPECT_EQ(_gl_get_ext_funcptr(c.slot), c.function) << "slot " << c.slot;
  EXPECT_EQ(_gl_ext_func, 1);
}

/* The library reads the client's environment: a value that only the
** installation's rc file holds, which the C library does not see. */
TEST_F(ConnectTest, LibraryReadsVariablesOfTheRcFile) {
  dvz_test::write_file(tree().rc_file(), "DBPATH /from/the/rc/file\n");
  gFreeEVars();
  ASSERT_EQ(setup_glext_funcs(1), 0);
  EXPECT_EQ(getenv("DBPATH"), nullptr);
  const char *value = _gl_ext_getenv("DBPATH");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "/from/the/rc/file");
}

TEST(ClExtPutenv, PutsNamesOfUpToEightyCharacters) {
  ASSERT_EQ(setup_glext_funcs(1), 0);
  const std::string name80 = "V" + std::string(79, 'X');
  const std::string name81 = "W" + std::string(80, 'X');
  struct Row {
    std::string text;
    int expected;
    const char *name; /* what is set afterwards (NULL: nothing checked) */
    const char *value;
  };
  const Row rows[] = {
      {"DVZ_CB_TEST=one=two", 0, "DVZ_CB_TEST", "one=two"},
      {"DVZ_CB_EMPTY=", 0, "DVZ_CB_EMPTY", ""},
      {name80 + "=v80", 0, name80.c_str(), "v80"},
      {name81 + "=v81", -1, nullptr, nullptr},
      {"NO_EQUALS_SIGN", -1, nullptr, nullptr},
      {"=value", -7, nullptr, nullptr}, /* an empty name, refused by gputenv */
  };
  for (const Row &r : rows) {
    std::string text = r.text;
    EXPECT_EQ(_gl_ext_putenv(text.data()), r.expected) << r.text;
    if (r.name != nullptr) {
      EXPECT_STREQ(getenv(r.name), r.value) << r.text;
    }
    EXPECT_EQ(text, r.text) << "the caller's text is left alone";
  }
  EXPECT_EQ(getenv(name81.c_str()), nullptr);
  EXPECT_EQ(getenv("NO_EQUALS_SIGN"), nullptr);
}

TEST(ClExtErrno, TheRecordItselfOrOneScratchWord) {
  int word = 0;
  gl_locale *record = reinterpret_cast<gl_locale *>(&word);
  EXPECT_EQ(cl_ext_errno(record), &word);
  int *scratch = cl_ext_errno(nullptr);
  ASSERT_NE(scratch, nullptr);
  *scratch = 5;
  EXPECT_EQ(cl_ext_errno(nullptr), scratch);
  EXPECT_EQ(*cl_ext_errno(nullptr), 5);
}

/* now() and localtime_r around it, retried until both calls fall in the
** same second (resp. day). */
class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *tz = getenv("TZ");
    saved_tz_ = tz != nullptr ? std::string(tz) : std::string();
    had_tz_ = tz != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_EQ(setup_glext_funcs(1), 0);
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", saved_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  static struct tm local(time_t t) {
    struct tm out {};
    localtime_r(&t, &out);
    return out;
  }

 private:
  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST_F(ClockTest, CurrentTimeIsLocaltimeInTwelveWords) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const time_t before = time(nullptr);
    gl_time_rec t {};
    t.tm_fraction = t.tm_spare1 = t.tm_spare2 = -1;
    ASSERT_EQ(_gl_ext_currtime(&t), 0);
    if (time(nullptr) != before) continue;
    const struct tm peer = local(before);
    const int32_t expected[12] = {0,
                                  peer.tm_sec,
                                  peer.tm_min,
                                  peer.tm_hour,
                                  peer.tm_mday,
                                  peer.tm_mon,
                                  peer.tm_year,
                                  peer.tm_wday,
                                  peer.tm_yday,
                                  peer.tm_isdst,
                                  0,
                                  0};
    const int32_t got[12] = {t.tm_fraction, t.tm_sec,   t.tm_min,    t.tm_hour,
                             t.tm_mday,     t.tm_mon,   t.tm_year,   t.tm_wday,
                             t.tm_yday,     t.tm_isdst, t.tm_spare1, t.tm_spare2};
    for (int i = 0; i < 12; ++i)
      EXPECT_EQ(got[i], expected[i]) << "word " << i;
    return;
  }
  FAIL() << "the clock never stood still for one call";
}

TEST_F(ClockTest, CurrentDateIsTodaysMonthDayYear) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const struct tm before = local(time(nullptr));
    gl_date_rec d {};
    ASSERT_EQ(_gl_ext_currdate(&d), 0);
    const struct tm after = local(time(nullptr));
    if (before.tm_yday != after.tm_yday) continue;
    EXPECT_EQ(d.month, before.tm_mon + 1);
    EXPECT_EQ(d.day, before.tm_mday);
    EXPECT_EQ(d.year, before.tm_year + 1900);
    return;
  }
  FAIL() << "the date kept changing";
}

}  // namespace
