/*
** The SQLI server double (testbed/sqli_double/sqli_double.py) as a child
** process of a test: started with its options in a temporary directory of
** its own, waited for (bounded) until it writes its port, its journal read
** and parsed, and stopped. Used by the association-service suites, which
** point their sqlhosts entries at 127.0.0.1 and port().
**
** Formats (options, journal): testbed/sqli_double/README.md. Nothing here
** uses a fixed port or path; every wait has a limit.
*/
#ifndef DVZ_TESTBED_SQLI_DOUBLE_PROCESS_H
#define DVZ_TESTBED_SQLI_DOUBLE_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "temp_dir.h"

namespace testbed {

/* One journal line, split into its key=value fields (values unescaped:
** "" is empty, \xNN one byte). A key may repeat (env=, name=, section=). */
struct SqliJournalEntry {
  std::string line; /* the line as written */
  std::multimap<std::string, std::string> fields;

  /* The first value of `key`, or "" when it is absent. */
  std::string get(std::string_view key) const;
  /* Every value of `key`, in line order. */
  std::vector<std::string> all(std::string_view key) const;
  bool has(std::string_view key) const;
  /* get(key) as a decimal number; `fallback` when absent or not a number. */
  long number(std::string_view key, long fallback = -1) const;
  /* The bytes of the raw= field (hex in the line). */
  std::string raw() const;
};

/* Parses one journal line (testbed/sqli_double/README.md). */
SqliJournalEntry parse_sqli_journal_line(std::string_view line);

class SqliDouble {
 public:
  /* Starts the double with `options` (its command-line options, e.g.
  ** {"--mux", "--reject=-329"}) in a new temporary directory and waits at
  ** most `ready_seconds` for its ready file. Throws std::runtime_error when
  ** it cannot be started or does not get ready (it is then killed and
  ** reaped; the message holds its output). */
  explicit SqliDouble(std::vector<std::string> options = {}, double ready_seconds = 30);
  ~SqliDouble(); /* stop(10) when still running */
  SqliDouble(const SqliDouble &) = delete;
  SqliDouble &operator=(const SqliDouble &) = delete;

  int port() const { return port_; }
  /* The raw replay port of a double started with --replay; 0 otherwise. */
  int raw_port() const { return raw_port_; }
  pid_t pid() const { return pid_; } /* -1 once stopped */
  const std::string &dir() const { return dir_.path(); }
  std::string journal_path() const;
  /* The double's stdout and stderr so far. */
  std::string output() const;

  /* The journal's lines, without their newlines, and parsed. */
  std::vector<std::string> journal_lines() const;
  std::vector<SqliJournalEntry> journal() const;
  /* The entries whose what= is `what` ("connect", "data", "urgent", "eof",
  ** "reset", "timeout", "error"). */
  std::vector<SqliJournalEntry> entries(std::string_view what) const;
  /* Waits (bounded) until an entry satisfies `pred`; true when one does. */
  bool wait_for(const std::function<bool(const SqliJournalEntry &)> &pred,
                double timeout_seconds = 10) const;
  /* wait_for an entry whose what= is `what`. */
  bool wait_for_what(std::string_view what, double timeout_seconds = 10) const;

  /* SIGTERM, then a bounded wait (SIGKILL after `timeout_seconds`). The raw
  ** wait status: 0 exactly when the double exited 0; -1 when not running. */
  int stop(double timeout_seconds = 10);

 private:
  dvz_test::TempDir dir_;
  pid_t pid_ = -1;
  int port_ = 0;
  int raw_port_ = 0;
};

}  // namespace testbed

#endif
