/*
** A recording fake of the embedded-SQL runtime for the probe's tests: the
** nine calls the probe makes, with the runtime's own C-linkage signatures
** (sqli/include/), plus sqlca, SQLCODE, SQLSTATE and rgetlmsg. It is
** linked in place of the runtime and the client environment.
**
** Every call appends one journal line with its exact arguments; each call
** takes the next scripted sqlcode of its name (0 when none is left); the
** `sysprofile` rows are served one per FETCH through the two data
** pointers of the caller's sqlda, and sqlerrd[2] follows a chosen pattern.
*/
#ifndef DVZ_TESTS_DOVARIZA_FAKE_RUNTIME_H
#define DVZ_TESTS_DOVARIZA_FAKE_RUNTIME_H

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace fakert {

/* What sqlerrd[2] holds after each FETCH that delivers a row. */
enum class row_count_pattern {
  zero, /* never moves */
  per_batch, /* rows of the current batch (batch rows at a time) */
  cumulative, /* rows delivered so far, moved once per batch */
  falling, /* falls with every row */
};

struct row {
  std::string name; /* copied with its NUL, at most 65 bytes in all */
  int32_t value;
};

struct state {
  std::vector<std::string> journal; /* one line per call */
  std::map<std::string, std::deque<int32_t>> codes; /* call name -> next sqlcodes */
  std::vector<row> rows; /* served by each FETCH, in order */
  size_t next_row = 0;
  row_count_pattern pattern = row_count_pattern::cumulative;
  int batch = 7; /* rows per server batch */
  std::string catalog_text = "catalog text"; /* what rgetlmsg delivers */
  int32_t catalog_length = -1; /* length rgetlmsg reports; -1: the text's */
  bool catalog_fails = false; /* rgetlmsg fails and reports no length */
};

/* The fake's one state; reset() puts it back to the above. */
state &fake();
void reset();

/* Journal lines that start with `prefix`. */
std::vector<std::string> calls_named(const std::string &prefix);

}  // namespace fakert

#endif
