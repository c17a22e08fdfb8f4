/*
** The probe's database operations, run in the probe child one at a time:
** connect, the activity statistics, the test transaction and disconnect,
** and the one way a database failure is reported (dbms_err_msg: message
** 2540 and the positive error number in the caller's DBMS-error word).
**
** Every statement text, cursor name, descriptor and statement record is
** static data handed to the embedded-SQL runtime by address, as a
** preprocessor would emit it. Of the runtime's state only sqlca.sqlcode
** and SQLCODE are read, never the row count: each FETCH delivers one row,
** which is compared at once, so rows served from the runtime's buffer
** (which leave sqlerrd[2] alone) are neither lost nor counted twice.
**
** Called by the monitor's probe child through dovariza_probe_ops
** (probe_ops_record.cpp). Calls the runtime's public entry points,
** rgetlmsg, and hasyslog of the monitor. Never writes the internal-error
** word.
*/
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <syslog.h>
#include <unistd.h>

#include "dovariza_probe.h"
#include "gen_types.h"
#include "os_messages.h"
#include "probe_settings.h"
#include "sqli_connect.h"
#include "sqli_cursor.h"
#include "sqli_descriptors.h"
#include "sqli_statement.h"
#include "sqli_status.h"

namespace dovariza {
namespace {

/* ---- activity statistics ---------------------------------------------- */

constexpr int table_rows = 120; /* slots of the name and value tables */
constexpr int name_size = 65; /* bytes of one name slot */

int32_t old_values[table_rows]; /* last value of each watched counter */
int first_call = 1;

const char *_Cn1 = "s1";
const char *const select_cmdtxt[] = {" SELECT name , value FROM sysprofile s", nullptr};

/* A descriptor entry of host type `type` and length `length`, all else 0. */
constexpr sqlvar_struct entry(int16_t type, int32_t length) {
  sqlvar_struct v {};
  v.sqltype = type;
  v.sqllen = length;
  return v;
}

/* The output descriptor: two entries, the word after the name set to 2;
** the data pointers are aimed anew before every FETCH. */
constexpr sqlda descriptor(sqlvar_struct *entries) {
  sqlda d {};
  d.sqld = 2;
  d.sqlvar = entries;
  d.desc_occ = 2;
  return d;
}

sqlvar_struct row_vars[2] = {entry(host_type_varchar, name_size), entry(host_type_int, 4)};
sqlda row_descriptor = descriptor(row_vars);
sqli_fetchspec next_row = {0, 1, 0};

/* Compares one delivered row with the watched counters; returns 1 when
** the row is a watched counter that grew. The name is compared exactly as
** delivered, up to its NUL within the slot. */
int compare_row(const char *name_slot, int32_t value) {
  std::string_view name(name_slot, strnlen(name_slot, name_size));
  auto watched = std::find(check_values.begin(), check_values.end(), name);
  if (watched == check_values.end()) return 0;
  size_t i = static_cast<size_t>(watched - check_values.begin());
  /* In 64 bits: a wrapped or NULL (INT32_MIN) value cannot overflow. */
  int64_t growth = static_cast<int64_t>(value) - old_values[i];
  old_values[i] = value;
  if (growth <= 0) return 0;
  if (debug_mode)
    hasyslog(LOG_DEBUG, "0540", "dbms_statistics: Data:  %-40s %8d (Diff: %5lld)",
             std::string(name).c_str(), value, static_cast<long long>(growth));
  return 1;
}

/* ---- test transaction ------------------------------------------------- */

struct transaction_step {
  const char *debug_id;
  const char *debug_text;
  const char *const *cmdtxt[2]; /* [0] local table, [1] remote table */
  int32_t kind; /* statement kind as the preprocessor passes it */
  const char *context; /* of the 2540 message */
  bool commit_after;
};

const char *const drop_loc[] = {" DROP TABLE HA_DBMS_LOC", nullptr};
const char *const drop_rem[] = {" DROP TABLE HA_DBMS_REM", nullptr};
const char *const create_loc[] = {" CREATE TABLE HA_DBMS_LOC ( CHECK_VALUE INTEGER )", nullptr};
const char *const create_rem[] = {" CREATE TABLE HA_DBMS_REM ( CHECK_VALUE INTEGER )", nullptr};
const char *const insert_loc[] = {" INSERT INTO HA_DBMS_LOC ( CHECK_VALUE ) VALUES ( 1 )", nullptr};
const char *const insert_rem[] = {" INSERT INTO HA_DBMS_REM ( CHECK_VALUE ) VALUES ( 1 )", nullptr};
const char *const update_loc[] = {" UPDATE HA_DBMS_LOC SET CHECK_VALUE = 2", nullptr};
const char *const update_rem[] = {" UPDATE HA_DBMS_REM SET CHECK_VALUE = 2", nullptr};
const char *const last_drop_loc[] = {" DROP TABLE HA_DBMS_LOC", nullptr};
const char *const last_drop_rem[] = {" DROP TABLE HA_DBMS_REM", nullptr};

constexpr int table_not_found = -206; /* tolerated on the first DROP only */

const transaction_step transaction_steps[] = {
    {"0560",
     "dbms_test_transaction: Dropping test table...",
     {drop_loc, drop_rem},
     -1,
     "dropping test table",
     false},
    {"0570",
     "dbms_test_transaction: Creating test table...",
     {create_loc, create_rem},
     -1,
     "creating test table",
     false},
    {"0580",
     "dbms_test_transaction: Inserting into test table...",
     {insert_loc, insert_rem},
     6,
     "test table insert",
     true},
    {"0590",
     "dbms_test_transaction: Updating test table...",
     {update_loc, update_rem},
     33,
     "update test table",
     true},
    {"0600",
     "dbms_test_transaction: Dropping test table...",
     {last_drop_loc, last_drop_rem},
     -1,
     "drop test table",
     false},
};
constexpr size_t step_count = sizeof transaction_steps / sizeof transaction_steps[0];

/* One statement record per call site: per step and per table. */
sqli_stmtrec statement_records[step_count][2];

/* Logs the failure in sqlca under context (2540) with its catalog text;
** returns minus sqlcode, the positive DBMS error. */
int dbms_err_msg(const char *context) {
  char text[1024];
  text[0] = '\0';
  int32_t length = 0;
  rgetlmsg(SQLCODE, text, sizeof text, &length);
  if (length > 0) text[std::min<int32_t>(length, sizeof text - 1)] = '\0';
  text[sizeof text - 1] = '\0';
  hasyslog(LOG_NOTICE, "2540", "DBMS Error: %s: %d %s", context, SQLCODE, text);
  return -sqlca.sqlcode;
}

}  // namespace

int dbms_connect(const char *remote, int *internal_error, int *dbms_error) {
  (void)remote;
  (void)internal_error;
  ++dbms_session_id;
  std::string copy = dbname ? dbname : "";
  /* Never connect as the monitor's user when the owner was refused. */
  if (setuid(dovariza_owner) != 0) {
    std::string reason =
        "setuid(" + std::to_string(dovariza_owner) + ") failed: " + strerror(errno);
    hasyslog(LOG_NOTICE, "2540", "DBMS Error: %s: %d %s", "connecting to database", -951,
             reason.c_str());
    *dbms_error = 951;
    return 0;
  }
  hasyslog(LOG_DEBUG, "0510", "connecting to database... '%s' #%d", copy.c_str(), dbms_session_id);
  hasyslog(LOG_DEBUG, "0520", "connecting to database... '%s'", copy.c_str());
  sqli_connect_open(1, SQLI_CONNECT_TO, copy.c_str(), nullptr, nullptr, 0);
  if (sqlca.sqlcode < 0) {
    *dbms_error = dbms_err_msg("connecting to database");
    return 0;
  }
  return 1;
}

int dbms_disconnect(int *internal_error, int *dbms_error) {
  (void)internal_error;
  hasyslog(LOG_DEBUG, "0530", "disconnecting from database");
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ORDERLY, 0);
  if (sqlca.sqlcode >= 0 || sqlca.sqlcode == -6000) return 1;
  *dbms_error = dbms_err_msg("disconnecting from database");
  /* A failed orderly close may leave the connection behind (an open
  ** transaction, a dead association): abort it, keeping the status, so the
  ** next connect of the same database can succeed. */
  sqli_connect_close(SQLI_DISCONNECT_CURRENT, nullptr, SQLI_END_ABORT, 1);
  return 0;
}

int dbms_statistics(int *internal_error, int *dbms_error) {
  (void)internal_error;
  if (verbose_mode) hasyslog(LOG_INFO, "1520", "dbms_statistics: Starting statistics lookup...");
  int activity = 0;
  if (first_call) {
    std::fill(std::begin(old_values), std::end(old_values), 0);
    first_call = 0;
  }

  const char *step = "declaring cursor";
  void *cursor = sqli_curs_locate(1, _Cn1, SQLI_LOCATE_KEEP_CASE);
  sqli_curs_decl_stat(1, cursor, _Cn1, select_cmdtxt, nullptr, nullptr, 0, nullptr, nullptr, 2, 0,
                      0);
  if (SQLCODE < 0) goto fail;

  step = "opening cursor";
  cursor = sqli_curs_locate(1, _Cn1, SQLI_LOCATE_KEEP_CASE | SQLI_LOCATE_CHECKED);
  sqli_curs_open(1, cursor, nullptr, nullptr, nullptr, 0, 0);
  if (SQLCODE < 0) goto fail;

  step = "fetching data";
  {
    char names[table_rows][name_size];
    int32_t values[table_rows];
    for (int rows = 0;; ++rows) {
      int slot = rows % table_rows;
      names[slot][0] = '\0';
      values[slot] = 0;
      row_vars[0].sqldata = names[slot];
      row_vars[1].sqldata = reinterpret_cast<char *>(&values[slot]);
      cursor = sqli_curs_locate(1, _Cn1, SQLI_LOCATE_KEEP_CASE | SQLI_LOCATE_CHECKED);
      sqli_curs_fetch(1, cursor, nullptr, &row_descriptor, nullptr, &next_row);
      if (SQLCODE < 0) goto fail;
      if (sqlca.sqlcode == 100) break;
      activity |= compare_row(names[slot], values[slot]);
    }
  }

  step = "closing cursor";
  cursor = sqli_curs_locate(1, _Cn1, SQLI_LOCATE_KEEP_CASE | SQLI_LOCATE_CHECKED);
  sqli_curs_close(1, cursor);
  if (SQLCODE < 0) goto fail;

  if (verbose_mode)
    hasyslog(LOG_INFO, "1530", "dbms_statistics: Done with statistics check - %d", activity);
  return activity;

fail:
  *dbms_error = dbms_err_msg(step);
  return 0;
}

int dbms_test_transaction(const char *remote, int *internal_error, int *dbms_error) {
  (void)internal_error;
  int table = remote ? 1 : 0;
  if (debug_mode)
    hasyslog(LOG_DEBUG, "0550", "dbms_test_transaction: Starting test transaction...");
  for (size_t i = 0; i < step_count; ++i) {
    const transaction_step &s = transaction_steps[i];
    if (debug_mode) hasyslog(LOG_DEBUG, s.debug_id, "%s", s.debug_text);
    sqli_stmt(1, &statement_records[i][table], s.cmdtxt[table], 0, nullptr, nullptr, nullptr,
              nullptr, nullptr, s.kind, 0, 0);
    bool tolerated = i == 0 && sqlca.sqlcode == table_not_found;
    if (sqlca.sqlcode < 0 && !tolerated) {
      *dbms_error = dbms_err_msg(s.context);
      return 0;
    }
    /* The status of COMMIT WORK is not examined. */
    if (s.commit_after) sqli_trans_commit();
  }
  return 1;
}

}  // namespace dovariza
