/*
** The debug set-up: DOVARIZAASFDBG's letters, its dump file and header,
** and the refusals printed on the standard error stream.
*/
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>

#include "asf_al.h"
#include "temp_dir.h"

namespace {

/* A global control block and DOVARIZAASFDBG for the test's life. */
class DebugSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    asfsvcreq req {};
    asfsvcctl ctl {};
    ASSERT_EQ(defineASFCtl(&req, &ctl), 0);
  }
  void TearDown() override {
    asfsvcctl ctl {};
    EXPECT_EQ(deleteASFCtl(&ctl), 0);
    unsetenv("DOVARIZAASFDBG");
  }
  static void set(const std::string &value) { setenv("DOVARIZAASFDBG", value.c_str(), 1); }
};

TEST_F(DebugSetup, LettersSelectCategoriesAndOptions) {
  struct row {
    const char *value; /* null: unset */
    uint32_t categories;
    uint32_t options;
  };
  const row rows[] = {
      {nullptr, 0, 0}, {"", 0, 0},    {"A", 23, 0},  {"C", 2, 0}, {"E", 1, 0},  {"O", 4, 0},
      {"S", 16, 0},    {"CS", 18, 0}, {"Elt", 1, 6}, {"t", 0, 4}, {"C:", 2, 0}, {"AC:", 23, 0},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.value != nullptr ? r.value : "(unset)");
    if (r.value != nullptr)
      set(r.value);
    else
      unsetenv("DOVARIZAASFDBG");
    EXPECT_EQ(asfDbgSetup(), 0);
    EXPECT_EQ(asfglbctl->dbgcat, r.categories);
    EXPECT_EQ(asfglbctl->dbgopt, r.options);
    EXPECT_EQ(asfglbctl->dbgfile, stderr);
  }
}

TEST_F(DebugSetup, FileGetsExactlyTheThreeHeaderLines) {
  dvz_test::TempDir dir;
  const std::string path = dir.file("dump");
  const std::string value = "Ct:" + path;
  set(value);
  ASSERT_EQ(asfDbgSetup(), 0);
  EXPECT_EQ(asfglbctl->dbgcat, 2u);
  EXPECT_EQ(asfglbctl->dbgopt, 4u);
  ASSERT_NE(asfglbctl->dbgfile, stderr);
  const std::string text = dvz_test::read_file(path);
  const std::regex header(
      "ASF Debug Dump  version 6\\.0\n"
      "Dump created on: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n"
      "DOVARIZAASFDBG = " +
      std::regex_replace(value, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") + "\n\n");
  EXPECT_TRUE(std::regex_match(text, header)) << text;
}

TEST_F(DebugSetup, RefusalsPrintTheirLineAndResetTheSettings) {
  dvz_test::TempDir dir;
  const std::string missing = dir.file("no/such/dir/dump");
  struct row {
    std::string value;
    std::string message;
  };
  const row rows[] = {
      {"X", "Error: invalid option or category - X \n"},
      {"CX:" + dir.file("never"), "Error: invalid option or category - X \n"},
      {"c", "Error: invalid option or category - c \n"},
      {"A:" + missing, "Error: can't open file - " + missing + "\n"},
  };
  for (const row &r : rows) {
    SCOPED_TRACE(r.value);
    set(r.value);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(asfDbgSetup(), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), r.message);
    EXPECT_EQ(asfglbctl->dbgcat, 0u);
    EXPECT_EQ(asfglbctl->dbgopt, 0u);
    EXPECT_EQ(asfglbctl->dbgfile, stderr);
  }
  EXPECT_TRUE(dvz_test::read_file(dir.file("never")).empty());
}

TEST(DebugSetupWithoutGlobalBlock, Fails) {
  ASSERT_EQ(getASFGLBCTL(), nullptr);
  EXPECT_EQ(asfDbgSetup(), -1);
}

}  // namespace
