/*
** The DBMS message log reader on real files: only text appended after the
** log was opened, whole bursts however long, "" when nothing is new, and
** no text at all for a log that was missing at start-up.
*/
#include <fstream>

#include "cycle_support.h"

namespace cycletest {
namespace {

using LogScannerTest = CycleTest;

void append(const std::string &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
}

TEST_F(LogScannerTest, ReturnsOnlyTextAppendedSinceLastScan) {
  ASSERT_EQ(1, init_scan_log_file(dbms_log().c_str()));
  const char *first = scan_log_file();
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("", first);

  append(dbms_log(), "line one\npartial");
  EXPECT_STREQ("line one\npartial", scan_log_file());
  EXPECT_STREQ("", scan_log_file());
  append(dbms_log(), " rest\n");
  EXPECT_STREQ(" rest\n", scan_log_file());
}

/* Bursts around the buffer's steps come back whole; a 1000-byte burst
** grows the buffer to 1024 bytes. */
TEST_F(LogScannerTest, LongBurstsComeBackWholeAndOnlyOnce) {
  ASSERT_EQ(1, init_scan_log_file(dbms_log().c_str()));
  for (size_t length : {255u, 256u, 511u, 1000u, 3000u}) {
    std::string burst;
    for (size_t i = 0; i < length; ++i)
      burst += static_cast<char>('a' + i % 26);
    burst.back() = '\n';
    append(dbms_log(), burst);
    const char *text = scan_log_file();
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(burst, std::string(text)) << length;
    if (length == 1000) {
      EXPECT_EQ(1024u, scan_log_buffer_size());
    }
    append(dbms_log(), "after\n");
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

  append(path, "appeared later\n");
  EXPECT_EQ(nullptr, scan_log_file());
  EXPECT_EQ(nullptr, scan_log_file());
}

}  // namespace
}  // namespace cycletest
