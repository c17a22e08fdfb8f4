/*
** Shared by the operating-system wrapper tests: a guard that installs a
** seam double for one scope, a recording clock whose sleeps return at once,
** and the output of a peer command run in a child.
*/
#ifndef DVZ_TESTS_OSLIB_WRAPPERS_TEST_SUPPORT_H
#define DVZ_TESTS_OSLIB_WRAPPERS_TEST_SUPPORT_H

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "os_seams.h"

namespace wrappers_test {

/* Points a seam at a double until the end of the scope. */
template <typename Seam>
class ScopedSeam {
 public:
  ScopedSeam(const Seam *&slot, const Seam *replacement) : slot_(slot), saved_(slot) {
    slot_ = replacement;
  }
  ~ScopedSeam() { slot_ = saved_; }
  ScopedSeam(const ScopedSeam &) = delete;
  ScopedSeam &operator=(const ScopedSeam &) = delete;

 private:
  const Seam *&slot_;
  const Seam *saved_;
};

/* A clock standing at `now`; sleeps are recorded, never taken. */
struct RecordingClock {
  static inline time_t now = 0;
  static inline std::vector<unsigned> sleeps;
  static time_t read_now(void) { return now; }
  static unsigned record_sleep(unsigned seconds) {
    sleeps.push_back(seconds);
    return 0;
  }
  static constexpr os_clock_seam seam = {read_now, record_sleep};

  RecordingClock() { sleeps.clear(); }
  ScopedSeam<os_clock_seam> guard {os_clock, &seam};
};

/* Standard output of a shell command run in a child ("" when it fails). */
inline std::string command_output(const std::string &command) {
  std::string out;
  FILE *p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
    out.append(buffer, n);
  pclose(p);
  return out;
}

}  // namespace wrappers_test

#endif
