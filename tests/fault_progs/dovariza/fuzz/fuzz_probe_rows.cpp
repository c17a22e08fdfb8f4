/*
** Fuzz target: the probe's statistics on rows, statuses and row counts
** from the input, through the recording fake of the runtime. Each input is
** a run of statistics calls; each call serves random rows (watched names,
** near misses, embedded NULs, names that fill the whole slot, any value),
** may fail at DECLARE, OPEN, one FETCH or CLOSE, and moves sqlerrd[2] in
** one of the fake's patterns. The probe must never write past its tables
** (the sanitizers watch), and its result, error word and "0540" lines
** must equal those of a model written from the watched-counter rules.
**
** Which names are watched comes from the probe's table; the unit suite
** spells the names itself.
**
** The probe keeps its last values for the life of the process: every input
** starts with a call that sets all watched counters to INT32_MIN, so the
** model and the probe start each input from the same state.
*/
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <syslog.h>

#include "fake_runtime.h"
#include "monitor_log.h"
#include "probe_interface.h"
#include "probe_settings.h"

namespace {

/* The watched counters, the probe's own table. */
const auto &watched = dovariza::check_values;

/* The 0540 lines the probe logged during one call. */
std::vector<std::string> data_lines;

void sink_open(const char *, int, int) {}
int sink_mask(int) { return 0; }
void sink_vlog(int level, const char *format, va_list args) {
  char text[512];
  vsnprintf(text, sizeof text, format, args);
  if (level == LOG_DEBUG && strncmp(text, "dbms_statistics: Data:", 22) == 0)
    data_lines.push_back(text);
}
void sink_close() {}
const syslog_sink capture_sink = {sink_open, sink_mask, sink_vlog, sink_close};

[[noreturn]] void fail(const char *what, const std::string &detail) {
  fprintf(stderr, "fuzz_probe_rows: %s: %s\n", what, detail.c_str());
  abort();
}

/* Reads the input byte by byte; 0 once it is spent. */
struct reader {
  const uint8_t *data;
  size_t size;
  size_t at = 0;
  bool more() const { return at < size; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  int32_t word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<uint32_t>(byte()) << (8 * i);
    return static_cast<int32_t>(v);
  }
};

/* A row name from one selector byte (and more bytes for raw names). */
std::string row_name(reader &in) {
  uint8_t pick = in.byte();
  if (pick < 40) return std::string(watched[pick]);
  std::string base(watched[pick % 40]);
  switch (pick % 8) {
    case 0:
      return base + " ";
    case 1:
      return " " + base;
    case 2:
      return base.substr(0, base.size() - 1);
    case 3:
      return std::string(base) + std::string(1, '\0') + "tail";
    case 4:
      return std::string(70, 'n');
    case 5:
      return base + std::string(64 - base.size(), 'x'); /* exactly 64 */
    case 6:
      return "";
    default: {
      std::string raw;
      for (uint8_t n = in.byte() % 80; n > 0; --n)
        raw.push_back(static_cast<char>(in.byte()));
      return raw;
    }
  }
}

/* The name the probe sees in a 65-byte slot: what the fake copied, up to
** its first NUL or the end of the slot. */
std::string seen_name(const std::string &name) {
  std::string copied = name.substr(0, 65);
  size_t nul = copied.find('\0');
  return nul == std::string::npos ? copied : copied.substr(0, nul);
}

std::map<std::string, int64_t> model_old; /* the model's last values */

/* One statistics call on the probe and on the model. */
void one_call(const std::vector<fakert::row> &rows, int fail_step, int fail_row, int32_t code) {
  fakert::state &f = fakert::fake();
  f.journal.clear();
  f.codes.clear();
  f.rows = rows;
  f.next_row = 0;
  const char *step_names[] = {"declare", "open", "fetch", "close"};
  if (fail_step >= 0) {
    if (fail_step == 2) {
      std::deque<int32_t> codes(static_cast<size_t>(fail_row), 0);
      codes.push_back(code);
      f.codes["fetch"] = codes;
    } else {
      f.codes[step_names[fail_step]] = {code};
    }
  }
  data_lines.clear();
  int internal = 0, dbms_error = 0;
  int result = dovariza::dbms_statistics(&internal, &dbms_error);

  /* The model: rows before a failed FETCH, or all when none fails there. */
  size_t compared = 0;
  if (fail_step == 2)
    compared = std::min(rows.size(), static_cast<size_t>(fail_row));
  else if (fail_step != 0 && fail_step != 1)
    compared = rows.size();
  int activity = 0;
  std::vector<std::string> expected;
  for (size_t i = 0; i < compared; ++i) {
    std::string name = seen_name(rows[i].name);
    auto it = model_old.find(name);
    if (it == model_old.end()) continue;
    int64_t growth = static_cast<int64_t>(rows[i].value) - it->second;
    it->second = rows[i].value;
    if (growth > 0) {
      activity = 1;
      char text[512];
      snprintf(text, sizeof text, "dbms_statistics: Data:  %-40s %8d (Diff: %5lld)", name.c_str(),
               rows[i].value, static_cast<long long>(growth));
      expected.push_back(text);
    }
  }
  bool failed = fail_step >= 0 && !(fail_step == 2 && static_cast<size_t>(fail_row) > rows.size());
  int expected_result = failed ? 0 : activity;
  int expected_error = failed ? -code : 0;
  if (result != expected_result) fail("result", std::to_string(result));
  if (dbms_error != expected_error) fail("error word", std::to_string(dbms_error));
  if (internal != 0) fail("internal error word", std::to_string(internal));
  if (data_lines != expected)
    fail("0540 lines",
         std::to_string(data_lines.size()) + " for " + std::to_string(expected.size()));
}

/* Brings the probe and the model to the same state. */
void reset_values() {
  std::vector<fakert::row> rows;
  for (std::string_view name : watched)
    rows.push_back({std::string(name), INT32_MIN});
  for (std::string_view name : watched)
    model_old[std::string(name)] = 0;
  one_call(rows, -1, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = [] {
    log_sink = &capture_sink;
    debug_mode = 1;
    return true;
  }();
  (void)ready;
  fakert::reset();
  reset_values();

  reader in {data, size > 4096 ? 4096 : size};
  fakert::fake().pattern = static_cast<fakert::row_count_pattern>(in.byte() % 4);
  fakert::fake().batch = 1 + in.byte() % 16;
  for (int calls = 0; calls < 8 && in.more(); ++calls) {
    size_t count = in.byte() % 201;
    uint8_t failure = in.byte();
    /* Most calls succeed; the rest fail at one step with a negative code. */
    int fail_step = failure < 192 ? -1 : failure % 4;
    int fail_row = in.byte() % 202;
    int32_t code = -1 - static_cast<int32_t>(in.byte()) * 37;
    std::vector<fakert::row> rows;
    for (size_t i = 0; i < count && in.more(); ++i) {
      std::string name = row_name(in);
      rows.push_back({name, in.word()});
    }
    one_call(rows, fail_step, fail_row, code);
  }
  return 0;
}
