/*
** The SQLI double's scenario for the real probe: the `sysprofile` table
** (name VARCHAR(64), value INTEGER) with the watched counters at chosen
** values, unwatched names between them, and enough rows to need several
** fetch batches; plus faults written as the double's rules. Shared by the
** full-stack scenarios and the soak, which rewrite the file between probes.
**
** Layout of the file: testbed/sqli_double/README.md (`tables`, `rules`).
*/
#ifndef DVZ_TESTS_E2E_PROBE_SCENARIO_H
#define DVZ_TESTS_E2E_PROBE_SCENARIO_H

#include <string>
#include <string_view>

#include "../../fault_progs/dovariza/probe_settings.h" /* the watched counters */

namespace e2e {

/* The `sysprofile` table as the double's `tables` entry: the 40 watched
** counters at `value`, each after `unwatched_per_counter` unwatched rows of
** value `value` + 7 (a name that differs from a watched one only by case
** or a suffix must not count). 40 * (1 + u) rows in all: 160 by default,
** more than the probe's 120 row slots. */
inline std::string sysprofile_table(long value, int unwatched_per_counter = 3) {
  std::string rows;
  const char *const decoys[] = {"DSKREADS", "dskreads_x", "sysx", "bufreads_", "total"};
  int decoy = 0;
  for (std::string_view name : dovariza::check_values) {
    for (int i = 0; i < unwatched_per_counter; ++i) {
      rows += "[\"" + std::string(decoys[decoy % 5]) + std::to_string(decoy) + "\", " +
              std::to_string(value + 7) + "], ";
      ++decoy;
    }
    rows += "[\"" + std::string(name) + "\", " + std::to_string(value) + "], ";
  }
  if (!rows.empty()) rows.resize(rows.size() - 2);
  return "\"sysprofile\": {\"columns\": [{\"name\": \"name\", \"type\": 13, \"length\": 64}, "
         "{\"name\": \"value\", \"type\": 2, \"length\": 4}], \"rows\": [" +
         rows + "]}";
}

/* A whole scenario: the table, then any further top-level members
** (`extra`, e.g. "\"rules\": [...]" or "\"transaction\": 1"). */
inline std::string probe_scenario(long value, const std::string &extra = "",
                                  int unwatched_per_counter = 3) {
  std::string json = "{\"tables\": {" + sysprofile_table(value, unwatched_per_counter) + "}";
  if (!extra.empty()) json += ", " + extra;
  return json + "}\n";
}

}  // namespace e2e

#endif
