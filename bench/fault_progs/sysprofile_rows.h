/*
** The SQLI double's scenario for the probe benchmarks: a `sysprofile` of 60
** rows, the 40 counters the probe watches (at one value, so they stay
** flat) and, after every second one, a name it does not watch.
*/
#ifndef DVZ_BENCH_SYSPROFILE_ROWS_H
#define DVZ_BENCH_SYSPROFILE_ROWS_H

#include <string>
#include <string_view>

#include "probe_settings.h" /* the probe's watched counters */

namespace probe_bench {

/* The scenario file's JSON: the table above, every watched counter at
** `value`, the names not watched at 7. */
inline std::string flat_scenario(long value = 1000) {
  std::string rows;
  int n = 0;
  for (std::string_view name : dovariza::check_values) {
    rows += "[\"" + std::string(name) + "\", " + std::to_string(value) + "], ";
    if (++n % 2 == 0) rows += "[\"other" + std::to_string(n) + "\", 7], ";
  }
  rows.resize(rows.size() - 2);
  return "{\"tables\": {\"sysprofile\": {\"columns\": [{\"name\": \"name\", \"type\": 13, "
         "\"length\": 64}, {\"name\": \"value\", \"type\": 2, \"length\": 4}], \"rows\": [" +
         rows + "]}}}\n";
}

}  // namespace probe_bench

#endif
