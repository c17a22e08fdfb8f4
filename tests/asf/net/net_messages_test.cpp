/*
** Network messages: the texts of the error numbers at and around the
** table's edges, and the printed lines captured from standard output
** through a pipe put in its place with dup2, on the real clock and on a
** fixed one.
*/
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <regex>
#include <string>

#include "asf_net.h"
#include "os_seams.h"

namespace {

/* What fn writes on standard output. */
std::string captured(const std::function<void()> &fn) {
  std::fflush(stdout);
  int p[2];
  EXPECT_EQ(pipe(p), 0);
  int saved = dup(1);
  dup2(p[1], 1);
  close(p[1]);
  fn();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof buf)) > 0)
    out.append(buf, size_t(n));
  close(p[0]);
  return out;
}

TEST(NetMsgTextp, NumbersAndTheirTexts) {
  struct Case {
    int number;
    const char *text;
  };
  const Case cases[] = {
      {-1000, ""},
      {-999, "open"},
      {-984, "server not available"},
      {-981, "retry"},
      {-980, "invalid net error number"},
      {-979, ""},
      {-978, "block"},
      {-971, "server rejected connection request"},
      {-962, "mt_sm_fail"},
      {-960, "mt_badversion"},
      {-959, "invalid net error number"},
      {-1001, "invalid net error number"},
      {-1, "ending"},
      {-2, "dead host"},
      {0, "invalid net error number"},
      {-3, "invalid net error number"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.number);
    EXPECT_STREQ(net_msg_textp(c.number), c.text);
  }
}

TEST(NetAbort, PrintsOneStampedLineAndReturns) {
  std::string out = captured([] { net_abort("shm_fe", 10, m_net_sm_bad_status); });
  EXPECT_TRUE(std::regex_match(
      out, std::regex(R"(\d\d:\d\d:\d\d shm_fe, line 10, shm wrong buffer status \n)")))
      << out;
}

time_t fixed_now() { return 3 * 3600 + 4 * 60 + 5; }

TEST(NetMsg, LinesOnAFixedClock) {
  const char *tz = std::getenv("TZ");
  std::string saved_tz = tz != nullptr ? tz : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  os_clock_seam seam = *os_clock;
  const os_clock_seam *previous = os_clock;
  seam.now = fixed_now;
  os_clock = &seam;

  struct Case {
    std::function<void()> print;
    const char *want;
  };
  const Case cases[] = {
      {[] { net_msg("hello"); }, "03:04:05 hello \n"},
      {[] { net_msg_console("to the console"); }, "03:04:05 to the console \n"},
      {[] { net_msg5(-969); }, "03:04:05 poll timeout \n"},
      {[] { net_msg5(-980); }, "03:04:05 invalid net error number \n"},
      {[] { net_msg("100% %s %d"); }, "03:04:05 100% %s %d \n"},
      {[] { net_abort("shm_be", -7, "could not create shm file '%s'"); },
       "03:04:05 shm_be, line -7, could not create shm file '%s' \n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(captured(c.print), c.want);
  }

  os_clock = previous;
  if (tz != nullptr)
    setenv("TZ", saved_tz.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
