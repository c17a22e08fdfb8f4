/*
** Fixture of the evaluation suites: doubles of the clock (starting at a
** realistic epoch time, since the time of the last restart starts at 0),
** the command runner and the dorvexd client, the recording syslog sink and
** a log file of our own.
*/
#ifndef DVZ_TESTS_EVALUATE_SUPPORT_H
#define DVZ_TESTS_EVALUATE_SUPPORT_H

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <syslog.h>

#include "../test_helpers.h"
#include "action_file.h"
#include "evaluate.h"
#include "evaluate_actions.h"
#include "monitor.h"
#include "monitor_log.h"
#include "monitor_seams.h"
#include "scripted_probe.h"

namespace evaltest {

constexpr time_t T = 1700000000;

/* ---- clock: time moves only when a test says so ------------------------ */
inline time_t &clock_now() {
  static time_t now = T;
  return now;
}
inline time_t clock_read() { return clock_now(); }
inline int clock_wait(int seconds) {
  clock_now() += seconds;
  return 0;
}
inline const monitor_clock test_clock = {clock_read, clock_wait};

/* ---- commands: recorded; raw system() status by first word ------------- */
struct command_record {
  std::vector<std::string> lines;
  std::map<std::string, int> raw_status;
};
inline command_record &commands() {
  static command_record record;
  return record;
}
inline int command_run(const char *line) {
  command_record &r = commands();
  r.lines.emplace_back(line);
  std::string word = r.lines.back().substr(0, r.lines.back().find(' '));
  auto it = r.raw_status.find(word);
  return it == r.raw_status.end() ? 0 : it->second;
}
inline const command_runner test_commands = {command_run};

/* ---- dorvexd: calls recorded in the double's journal form -------------- */
inline std::vector<std::string> &rpc_calls() {
  static std::vector<std::string> calls;
  return calls;
}
inline CLIENT *test_client() {
  static char storage[sizeof(CLIENT)];
  return reinterpret_cast<CLIENT *>(storage);
}
inline int32_t rpc_result = 0;
inline CLIENT *rpc_create(const char *) { return test_client(); }
inline void rpc_destroy(CLIENT *) {}
inline int32_t *rpc_get_status(const char *instance, CLIENT *) {
  rpc_calls().push_back(std::string("get_status ") + instance);
  rpc_result = 0;
  return &rpc_result;
}
inline int32_t *rpc_set_status(const char *instance, int32_t pid, int32_t key, CLIENT *) {
  rpc_calls().push_back("set_status " + std::string(instance) + " " + std::to_string(pid) + " " +
                        std::to_string(key));
  rpc_result = 0;
  return &rpc_result;
}
inline void *rpc_shutdown_db(const char *instance, const char *service, CLIENT *client) {
  EXPECT_EQ(test_client(), client);
  rpc_calls().push_back(std::string("shutdown_db ") + instance + " " + service);
  return &rpc_result;
}
inline int32_t *rpc_update(const char *instance, const char *status, int32_t error,
                           CLIENT *client) {
  EXPECT_EQ(test_client(), client);
  rpc_calls().push_back(std::string("update_dbms_status ") + instance + " " + status + " " +
                        std::to_string(error));
  return &rpc_result;
}
inline const char *rpc_sperror(CLIENT *, const char *header) { return header; }
inline const char *rpc_spcreateerror(const char *header) { return header; }
inline const dorvexd_client test_dorvexd = {rpc_create,     rpc_destroy,      rpc_get_status,
                                            rpc_set_status, rpc_shutdown_db,  rpc_update,
                                            rpc_sperror,    rpc_spcreateerror};

/* One message as syslog saw it: id from the identity, level, text. */
struct logged {
  std::string id;
  int level;
  std::string text;
  bool operator==(const logged &) const = default;
};
inline std::ostream &operator<<(std::ostream &out, const logged &m) {
  return out << "{" << m.id << ", " << m.level << ", \"" << m.text << "\"}";
}

/* The fixture: every seam on its double, logging into a scratch file with
** debug and verbose mode as the test asks, local mode, instance dvz1. */
class EvaluateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_now() = T;
    commands() = command_record {};
    rpc_calls().clear();
    clock_seam = &test_clock;
    command_seam = &test_commands;
    dorvexd_seam = &test_dorvexd;
    rpc_client = test_client();
    dbms_host = nullptr;
    instance_name = "dvz1";
    monitor_set_probe(&scripted_probe_ops);
    the_pid = 4242;
    force_delay = 0;
    fmstart_time = 0;
    process_start = T;
    logging(1, 1);
  }

  void TearDown() override {
    clear_action_list(list_.get());
    rpc_client = nullptr;
    montest::restore_monitor_globals();
  }

  /* Starts logging afresh with the given modes (the sink and file empty). */
  void logging(int debug, int verbose) {
    log_reset();
    montest::recorded() = montest::sink_record {};
    debug_mode = debug;
    verbose_mode = verbose;
    log_startup("fmon_test", "dvz1", "lh1", debug, verbose, LOG_NOTICE, "2000", nullptr);
    open_hadbms_log("dovariza", dir_.file("hadbms.log").c_str());
    montest::recorded() = montest::sink_record {};
  }

  /* Appends a rule from its nine file fields (TAB-separated) to the list
  ** and returns it. */
  action_entry *rule(const std::string &fields) {
    std::string line = fields;
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
      size_t tab = line.find('\t', start);
      f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    f.resize(9);
    action_entry *entry = &list_->entries[list_->count++];
    new_action_entry(entry, f[0].c_str(), f[1].c_str(), f[2].c_str(), f[3].c_str(), f[4].c_str(),
                     f[5].c_str(), f[6].c_str(), f[7].c_str(), f[8].c_str(), 1);
    return entry;
  }

  /* What db_evaluate does once the rule matched: its new state, then the
  ** rest. */
  int take(action_entry *entry) {
    if (entry->new_state != rule_any_state) record_.state = entry->new_state;
    return apply_action_rule("dvz1", &record_, entry, &last_restart_, restart_delay_);
  }

  /* Every message syslog saw since the last clear. */
  static std::vector<logged> messages() {
    std::vector<logged> out;
    for (const montest::sink_message &m : montest::recorded().messages) {
      size_t close = m.ident.find("]:");
      size_t dot = m.ident.rfind('.', close);
      out.push_back({m.ident.substr(dot + 1, close - dot - 1), m.level, m.text});
    }
    return out;
  }
  static std::vector<std::string> ids() {
    std::vector<std::string> out;
    for (const logged &m : messages())
      out.push_back(m.id);
    return out;
  }
  static void clear() {
    montest::recorded() = montest::sink_record {};
    commands().lines.clear();
    rpc_calls().clear();
  }

  /* Lines of the log file. */
  std::vector<std::string> file_lines() const {
    return montest::lines_of(dvz_test::read_file(dir_.file("hadbms.log")));
  }

  struct list_deleter {
    void operator()(action_list *list) const {
      clear_action_list(list);
      delete list;
    }
  };

  dvz_test::TempDir dir_;
  montest::LoggingScope logging_;
  std::unique_ptr<action_list, list_deleter> list_ {new action_list {}};
  db_info record_ = {db_state_connecting, 0, 0, 7};
  time_t last_restart_ = 0;
  int restart_delay_ = 300;
};

}  // namespace evaltest

#endif
