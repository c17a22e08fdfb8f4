/*
** One probe: make sure a probe child exists, send it a db_info request and
** wait a bounded time for the reply, then gather the rest of the outcome
** (the remote status in remote mode, the new DBMS log text in local mode).
*/
#ifndef DVZ_RUN_PROBE_H
#define DVZ_RUN_PROBE_H

#include <cstdint>

#include "db_child.h"

extern "C" {

/* Number of the last request sent; the next is this + 1, and 25000 or more
** starts again from 1. */
extern int32_t probe_sequence;

/* Runs one probe for the main loop. REQUIRES: *process_died and *log_text
** NULL and *timeout 0 on entry. On return record holds the outcome (DBMS
** error, internal error, possibly a new state), *timeout is 1 when the
** reply did not come in time, *process_died a heap text the caller frees
** ("ha_dbms_local", "public_net", "ha_dbms_remote") or NULL, and *log_text
** the DBMS log text owned by the log reader (local mode) or NULL. The
** descriptors are in-out: a new child gets new ones. Returns 1; 0 when the
** public-network check answered 98: then nothing was probed (no request,
** no remote query, no log scan), the outputs say nothing, and the caller
** must not evaluate this turn. */
int run_probe(const char *instance, db_info *record, char **process_died, const char **log_text,
              int *timeout, int time_out, int *write_fd, int *read_fd, int scheduled);

/* Asks the dorvexd of host whether a monitor runs for instance there.
** Returns 1 when one does; else 0 with *process_died replaced by
** "ha_dbms_remote". The cached client is dropped after a failed call.
** internal_error is not used. */
int ha_db_ping_remote(const char *host, const char *instance, int32_t *internal_error,
                      char **process_died);

/* The process check of the Varnholt type; 1 for every other type. For
** Varnholt 0 when the check failed (4192), or when VARNHOLT_LISTENER holds
** a character outside [A-Za-z0-9._@:+-]: its line is then not run and is
** logged with 4110 "... failed". */
int ha_db_monitor_processes(const char *instance);
}

/* Destroys the cached remote client, if any (tests). */
void forget_remote_client();

#endif
