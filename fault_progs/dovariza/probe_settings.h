/*
** The probe's process-wide settings: set by db_main in the monitor process
** before any probe child is forked (so every child inherits them), read
** by the database operations and the restart; the table of watched
** counters; and the operations the record (probe_ops_record.cpp) holds.
** Private to the probe (its white-box tests and fuzz target include it).
*/
#ifndef DVZ_DOVARIZA_PROBE_SETTINGS_H
#define DVZ_DOVARIZA_PROBE_SETTINGS_H

#include <array>
#include <string_view>

#include <sys/types.h>

namespace dovariza {

/* The activity counters of `sysprofile` the statistics watch; a name's
** position is its index in the statistics' last values. */
inline constexpr std::array<std::string_view, 40> check_values = {
    "dskreads",    "bufreads",      "dskwrites", "bufwrites",  "isamtot",       "isopens",
    "isstarts",    "isreads",       "iswrites",  "isrewrites", "isdeletes",     "iscommits",
    "isrollbacks", "latchreqs",     "latchwts",  "bufwts",     "lockreqs",      "lockwts",
    "ckptwts",     "deadlks",       "lktouts",   "numckpts",   "plgpagewrites", "plgwrites",
    "llgrecs",     "llgpagewrites", "pagereads", "pagewrites", "flushes",       "fgwrites",
    "lruwrites",   "chunkwrites",   "btradat",   "btraidx",    "dpra",          "rapgs_used",
    "seqscans",    "totalsorts",    "memsorts",  "disksorts"};

extern const char *dbname; /* DB_LOGIN: the database environment */
extern const char *dovarizaserver; /* DOVARIZASERVER */
extern const char *onconfig; /* ONCONFIG, passed to the restart command */
extern uid_t dovariza_owner; /* the user the probe child connects as */

/* The probe's operations (probe_interface.h says what each does). The
** four database operations run in the probe child, the restart in the
** monitor process. */
int dbms_connect(const char *remote, int *internal_error, int *dbms_error);
int dbms_statistics(int *internal_error, int *dbms_error);
int dbms_test_transaction(const char *remote, int *internal_error, int *dbms_error);
int dbms_disconnect(int *internal_error, int *dbms_error);
void ha_db_restart(const char *remote);

}  // namespace dovariza

#endif
