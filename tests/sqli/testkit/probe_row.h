/*
** probe_row.h: the output descriptor the monitor's probe fetches its rows
** into (name VARCHAR(64) into host type 114 of 65 bytes, value INTEGER
** into host type 102), shared by the FETCH tests and the fetch benchmark.
*/
#ifndef DVZ_TESTS_SQLI_PROBE_ROW_H
#define DVZ_TESTS_SQLI_PROBE_ROW_H

#include <cstdint>

#include "sqli_descriptors.h"

namespace sqli_test {

/* The descriptor da points into the record itself, so a row is never
** copied. */
struct ProbeRow {
  char name[65] = {};
  int32_t value = 0;
  sqlvar_struct vars[2] = {};
  sqlda da {};
  ProbeRow() {
    vars[0].sqltype = 114;
    vars[0].sqllen = sizeof name;
    vars[0].sqldata = name;
    vars[1].sqltype = 102;
    vars[1].sqllen = 4;
    vars[1].sqldata = reinterpret_cast<char *>(&value);
    da.sqld = 2;
    da.sqlvar = vars;
    da.desc_occ = 2;
  }
  ProbeRow(const ProbeRow &) = delete;
  ProbeRow &operator=(const ProbeRow &) = delete;
};

}  // namespace sqli_test

#endif
