/*
** The DBMS message log reader on real files: only text appended after the
** log was opened, whole bursts up to 1 MiB and the last 1 MiB of longer
** ones, "" when nothing is new, and no text at all for a log that was
** missing at start-up.
*/
#include "cycle_support.h"

namespace cycletest {
namespace {

using LogScannerTest = CycleTest;

TEST_F(LogScannerTest, ReturnsOnlyTextAppendedSinceLastScan) {
  ASSERT_EQ(1, init_scan_log_file(dbms_log().c_str()));
  const char *first = scan_log_file();
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("", first);

  dvz_test::append_file(dbms_log(), "line one\npartial");
  EXPECT_STREQ("line one\npartial", scan_log_file());
  EXPECT_STREQ("", scan_log_file());
  dvz_test::append_file(dbms_log(), " rest\n");
  EXPECT_STREQ(" rest\n", scan_log_file());
}

/* Bursts of many lengths come back whole, and only once. */
TEST_F(LogScannerTest, LongBurstsComeBackWholeAndOnlyOnce) {
  ASSERT_EQ(1, init_scan_log_file(dbms_log().c_str()));
  for (size_t length : {255u, 256u, 511u, 1000u, 3000u}) {
    std::string burst;
    for (size_t i = 0; i < length; ++i)
      burst += static_cast<char>('a' + i % 26);
    burst.back() = '\n';
    dvz_test::append_file(dbms_log(), burst);
    const char *text = scan_log_file();
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(burst, std::string(text)) << length;
    dvz_test::append_file(dbms_log(), "after\n");
    EXPECT_STREQ("after\n", scan_log_file()) << length;
  }
}

TEST_F(LogScannerTest, MissingLogGivesNoTextForTheWholeRun) {
  std::string path = dir_.file("absent.log");
  EXPECT_EQ(0, init_scan_log_file(path.c_str()));
  std::vector<std::string> errors = montest::texts_with_id("4320");
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ("Could not open DBMS log file '" + path + "': No such file or directory", errors[0]);
  EXPECT_EQ(nullptr, scan_log_file());

  dvz_test::append_file(path, "appeared later\n");
  EXPECT_EQ(nullptr, scan_log_file());
  EXPECT_EQ(nullptr, scan_log_file());
}

/* `length` bytes of numbered lines: every offset holds distinct text. */
std::string numbered_lines(size_t length) {
  std::string text;
  char line[32];
  for (size_t i = 0; text.size() < length; ++i) {
    snprintf(line, sizeof line, "line %010zu\n", i);
    text += line;
  }
  text.resize(length);
  return text;
}

/* Offset of the first difference between want and got ("" when none). */
std::string first_difference(const std::string &want, const char *got) {
  size_t n = strlen(got);
  for (size_t i = 0; i < want.size() && i < n; ++i)
    if (want[i] != got[i]) return "differs at " + std::to_string(i);
  if (want.size() != n)
    return "length " + std::to_string(n) + ", want " + std::to_string(want.size());
  return "";
}

/* A burst up to the bound comes back whole; of a longer one only its last
** max_log_burst bytes, skipped to by seeking: a burst beyond a 64 GiB hole
** would take minutes to read, and memory to hold, otherwise. The buffer
** holds no more than the text and its terminator, and is gone after
** release_log_text. */
TEST_F(LogScannerTest, BurstBeyondTheBoundKeepsItsLastMebibyte) {
  ASSERT_EQ(1, init_scan_log_file(dbms_log().c_str()));
  constexpr off_t hole = off_t {64} << 30;
  struct row {
    const char *name;
    size_t length;
    off_t hole_before; /* a sparse gap ahead of the burst */
  };
  for (const row &r :
       {row {"SmallerThanTheBound", 5000, 0}, row {"OneByteBelow", max_log_burst - 1, 0},
        row {"ExactlyTheBound", max_log_burst, 0}, row {"OneByteAbove", max_log_burst + 1, 0},
        row {"ThreeTimesTheBound", 3 * max_log_burst + 12345, 0},
        row {"AfterAHole", max_log_burst, hole}}) {
    SCOPED_TRACE(r.name);
    std::string burst = numbered_lines(r.length);
    if (r.hole_before > 0) {
      int fd = open(dbms_log().c_str(), O_WRONLY);
      ASSERT_GE(fd, 0);
      off_t end = lseek(fd, 0, SEEK_END);
      ASSERT_EQ(static_cast<ssize_t>(burst.size()),
                pwrite(fd, burst.data(), burst.size(), end + r.hole_before));
      close(fd);
    } else {
      dvz_test::append_file(dbms_log(), burst);
    }
    const char *text = scan_log_file();
    ASSERT_NE(nullptr, text);
    std::string want =
        burst.size() <= max_log_burst ? burst : burst.substr(burst.size() - max_log_burst);
    EXPECT_EQ("", first_difference(want, text));
    EXPECT_LE(scan_log_buffer_size(), want.size() + 1);
    release_log_text();
    EXPECT_EQ(0u, scan_log_buffer_size());

    dvz_test::append_file(dbms_log(), "after\n");
    EXPECT_STREQ("after\n", scan_log_file());
  }
  release_log_text();
}

}  // namespace
}  // namespace cycletest
