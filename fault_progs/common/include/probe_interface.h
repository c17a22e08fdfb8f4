/*
** The probe interface: the operations record through which the monitor
** reaches the database, and the monitor services the probe calls back.
**
** A probe module (the Dovariza probe, or the scripted probe of the test
** build) defines its operations under the names below and one probe_ops
** record that holds them. Its executable's main hands that record to the
** monitor (fault_mon_main, fault_monitor.h); the monitor calls the probe only
** through it. The monitor's own services (hasyslog, usage, the mode flags)
** are plain functions and globals: a probe sits above the monitor and may
** link it directly.
**
** The monitor calls `db_main` at start-up, the four probe operations in the
** probe child only, and `ha_db_restart` from the restart action. Every probe
** operation reports a failure by storing a positive DBMS error number into
** *dbms_error and logging it itself; it never writes *internal_error.
*/
#ifndef DVZ_PROBE_INTERFACE_H
#define DVZ_PROBE_INTERFACE_H

#ifdef __cplusplus
extern "C" {
#endif

/* ---- implemented by the probe module ---------------------------------- */

struct probe_ops {
  /* Start-up check of the probe's environment, in the monitor process.
  ** extra_count operands follow the seven the monitor expects, the first
  ** at extra[0] (extra may be unused). Any extra operand ends the process
  ** through usage("too many parameters"). Returns 1 when the environment
  ** is complete, 0 after logging what is missing. */
  int (*db_main)(const char *program, const char *instance, int extra_count, char **extra);

  /* Probe operations, called in the probe child only. `remote` is the
  ** database host in remote mode and NULL in local mode. Each returns 1 on
  ** success, 0 on failure with *dbms_error set. dbms_statistics returns 1
  ** when a watched counter grew, 0 when none grew or on failure. */
  int (*dbms_connect)(const char *remote, int *internal_error, int *dbms_error);
  int (*dbms_statistics)(int *internal_error, int *dbms_error);
  int (*dbms_test_transaction)(const char *remote, int *internal_error, int *dbms_error);
  int (*dbms_disconnect)(int *internal_error, int *dbms_error);

  /* Restart action, in the monitor process. With `remote` set it only
  ** logs. */
  void (*ha_db_restart)(const char *remote);

  const char *dbms_service; /* DBMS keyword, e.g. "dovariza"; never NULL */
  const char *dbms_usage; /* suffix of the usage line, "" or NULL */
};

/* The probe module in use, set once through monitor_set_probe (by
** fault_mon_main, or by a test) before anything else of the monitor runs. */
extern const struct probe_ops *probe;

/* Sets `probe`. REQUIRES: ops, its functions and dbms_service not NULL. */
void monitor_set_probe(const struct probe_ops *ops);

/* ---- implemented by the monitor, called back by the probe -------------- */

/* Logs a message (level, four-digit id, printf format with %m). */
void hasyslog(int level, const char *id, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

/* Logs the error text (4180) and the usage line (4190); exits 1. */
__attribute__((noreturn)) void usage(const char *program, const char *error_text);

extern int debug_mode; /* 1 when HA_DBMS_DEBUG is a non-zero number */
extern int verbose_mode; /* 1 when HA_DBMS_VERBOSE is a non-zero number */
extern int the_pid; /* process id of the monitor process */

#ifdef __cplusplus
}
#endif

#endif
