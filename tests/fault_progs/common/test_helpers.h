/*
** Shared helpers of the monitor's unit tests: a syslog sink double that
** records every call, environment variables set for one scope, and putting
** the monitor's globals and seams back. Header-only; each test executable
** includes it. Temporary directories and whole-file reads and writes come
** from temp_dir.h (dvz_test), which it includes.
*/
#ifndef DVZ_TESTS_MONITOR_TEST_HELPERS_H
#define DVZ_TESTS_MONITOR_TEST_HELPERS_H

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "monitor.h"
#include "monitor_log.h"
#include "monitor_seams.h"
#include "probe_interface.h"
#include "scoped_env.h"
#include "temp_dir.h"
#include "text_lines.h" /* lines_of */

namespace montest {

/* One message as the syslog sink saw it. */
struct sink_message {
  std::string ident;
  int option = 0;
  int facility = 0;
  int mask = 0;
  int level = 0;
  std::string text;
};

/* What the recording sink saw; opens and closes are counted separately so
** that a missing closelog shows. */
struct sink_record {
  std::vector<sink_message> messages;
  int opens = 0;
  int closes = 0;
  sink_message pending;
};

inline sink_record &recorded() {
  static sink_record record;
  return record;
}

/* The double clobbers errno in open, as a real openlog may, so that a
** %m rendered after it shows whether hasyslog restored the caller's. */
inline void record_open(const char *ident, int option, int facility) {
  sink_record &r = recorded();
  r.pending = sink_message {};
  r.pending.ident = ident ? ident : "";
  r.pending.option = option;
  r.pending.facility = facility;
  ++r.opens;
  errno = EBADF;
}
inline int record_mask(int mask) {
  recorded().pending.mask = mask;
  errno = EBADF;
  return 0;
}
inline void record_vlog(int level, const char *format, va_list args) {
  char text[4096];
  vsnprintf(text, sizeof text, format, args);
  sink_record &r = recorded();
  r.pending.level = level;
  r.pending.text = text;
  r.messages.push_back(r.pending);
}
inline void record_close() { ++recorded().closes; }

inline const syslog_sink recording_sink = {record_open, record_mask, record_vlog, record_close};

using dvz_test::ScopedEnv;

/* Sets up a clean logging state with the recording sink and no syslog
** variables; puts glibc back at the end. */
class LoggingScope {
 public:
  LoggingScope()
      : tag_("HA_SLOGTAG", std::nullopt),
        facility_("HA_SLOGFACILITY", std::nullopt),
        disable_("HA_DBMS_LOG_DISABLE", std::nullopt) {
    log_reset();
    recorded() = sink_record {};
    log_sink = &recording_sink;
  }
  ~LoggingScope() {
    log_reset();
    log_sink = &glibc_syslog_sink;
  }
  LoggingScope(const LoggingScope &) = delete;
  LoggingScope &operator=(const LoggingScope &) = delete;

 private:
  ScopedEnv tag_, facility_, disable_;
};

/* Puts back what the fixtures of the cycle and evaluation suites change:
** local mode, debug and verbose mode off, and the real clock, command
** runner and dorvexd client behind the seams. */
inline void restore_monitor_globals() {
  dbms_host = nullptr;
  debug_mode = verbose_mode = 0;
  clock_seam = &system_clock;
  command_seam = &system_runner;
  dorvexd_seam = &rpc_dorvexd_client;
}

/* The texts of the recorded messages with a given id in the identity. */
inline std::vector<std::string> texts_with_id(const std::string &id) {
  std::vector<std::string> texts;
  for (const sink_message &m : recorded().messages) {
    if (m.ident.find("." + id + "]") != std::string::npos) texts.push_back(m.text);
  }
  return texts;
}

}  // namespace montest

#endif
