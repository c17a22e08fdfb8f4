/*
** The Dovariza probe: the database-specific module behind the probe
** interface (probe_interface.h). It reads its configuration from the
** environment in the monitor process (db_main), reaches the server only
** through the embedded-SQL runtime in the probe child (connect, the
** activity statistics, the test transaction, disconnect) and restarts the
** database through the framework's command runner.
**
** The production monitor hands dovariza_probe_ops to fault_mon_main; the
** scripted probe of the test build takes db_main and the restart rule from
** here, so both builds check the environment the same way.
*/
#ifndef DVZ_DOVARIZA_PROBE_H
#define DVZ_DOVARIZA_PROBE_H

#include <string_view>

#include "probe_interface.h"

extern "C" {

/* The probe's operations record: dbms_service "dovariza", dbms_usage "". */
extern const struct probe_ops dovariza_probe_ops;

/* Connect attempts made by this process: 0 at start, counted at the start
** of each dbms_connect. Read by the monitor. */
extern int dbms_session_id;

/* The environment check, in the monitor process. Any surplus operand ends
** the process through usage("too many parameters"). Reads DB_LOGIN,
** DOVARIZASERVER (put back into the environment), ONCONFIG and
** DOVARIZAOWNER (a decimal user id; the real user id when unset).
** Returns 1 when they are complete and sound; 0 after logging the first
** one missing (2510, 2520, 2530) or a DOVARIZAOWNER that is no user id
** (2550). */
int db_main(const char *program, const char *instance, int extra_count, char **extra);
}

/* True when onconfig may go unquoted into the restart command line as one
** plain word: every character in [A-Za-z0-9._@:+-] or '/'. */
bool onconfig_is_plain(std::string_view onconfig);

#endif
