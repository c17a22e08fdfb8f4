/*
** double_server.h: `sqli_test::DoubleServer`, the SQLI server double
** (testbed::SqliDouble with --sqli) set up for the runtime's tests: its
** scenario file and an sqlhosts file of its own in a temporary directory,
** the file named in DOVARIZASQLHOSTS and the server in DOVARIZASERVER for
** the object's lifetime (both put back afterwards).
**
** The sqlhosts entry is `<server> oltlitcp 127.0.0.1 <port>`; further
** servers (a second double) may be added to the same file. Nothing here
** uses a fixed port or path.
*/
#ifndef DVZ_TESTS_SQLI_DOUBLE_SERVER_H
#define DVZ_TESTS_SQLI_DOUBLE_SERVER_H

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scoped_env.h"
#include "sqli_double_process.h"
#include "temp_dir.h"

namespace sqli_test {

class DoubleServer {
 public:
  /* Writes `scenario` (JSON) to the scenario file, starts the double with
  ** --sqli, --scenario and `options` (e.g. {"--profile", "minimal"}), then
  ** writes the sqlhosts file for `server` and sets the two variables.
  ** Throws std::runtime_error when the double does not start. */
  explicit DoubleServer(std::vector<std::string> options = {}, std::string_view scenario = "{}",
                        std::string server = "dvzsrv");
  DoubleServer(const DoubleServer &) = delete;
  DoubleServer &operator=(const DoubleServer &) = delete;

  testbed::SqliDouble &process() { return *double_; }
  int port() const { return double_->port(); }
  const std::string &server() const { return server_; }
  const std::string &sqlhosts_path() const { return sqlhosts_; }
  const std::string &scenario_path() const { return scenario_; }

  /* Replaces the scenario atomically; the double reads it at the start of
  ** its next request. */
  void set_scenario(std::string_view json) const;
  /* Adds `<name> oltlitcp 127.0.0.1 <port>` to the sqlhosts file. */
  void add_server(std::string_view name, int port);

  /* The journal, parsed (testbed::parse_sqli_journal_line). */
  std::vector<testbed::SqliJournalEntry> journal() const { return double_->journal(); }
  /* The entries whose what= is `what` ("connect", "sqli", "urgent", ...). */
  std::vector<testbed::SqliJournalEntry> entries(std::string_view what) const {
    return double_->entries(what);
  }
  /* The SQLI messages of code `code`, in order of receipt. */
  std::vector<testbed::SqliJournalEntry> messages(int code) const;
  /* The raw hex of every SQLI message received, in order, joined. */
  std::string sqli_hex() const;
  /* Bounded waits on the journal (testbed::SqliDouble). */
  bool wait_for(const std::function<bool(const testbed::SqliJournalEntry &)> &pred,
                double timeout_seconds = 10) const {
    return double_->wait_for(pred, timeout_seconds);
  }
  bool wait_for_what(std::string_view what, double timeout_seconds = 10) const {
    return double_->wait_for_what(what, timeout_seconds);
  }

  /* The sqlhosts line of one server. */
  static std::string sqlhosts_line(std::string_view name, int port);

 private:
  dvz_test::TempDir dir_;
  std::string server_;
  std::string scenario_;
  std::string sqlhosts_;
  std::string hosts_text_;
  std::unique_ptr<testbed::SqliDouble> double_;
  std::unique_ptr<dvz_test::ScopedEnv> hosts_env_;
  std::unique_ptr<dvz_test::ScopedEnv> server_env_;
};

}  // namespace sqli_test

#endif
