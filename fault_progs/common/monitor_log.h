/*
** Monitor logging: every message of the monitor and of its probe child goes
** through hasyslog (declared in probe_interface.h). A message goes to
** syslog under an identity "ID[<tag>.<program>.<id>]: <host>:<instance>"
** and, unless disabled, as a dated line to the log file of the DBMS type.
** Rule messages reach the file through log_action_message instead.
**
** Both processes (monitor and probe child) keep their own copy of this
** state after the fork; the child inherits the open log file.
*/
#ifndef DVZ_MONITOR_LOG_H
#define DVZ_MONITOR_LOG_H

#include <cstdarg>
#include <cstdio>

#include "probe_interface.h"

extern "C" {

/* Sets up the identity, mask and facility, opens the log file of `service`
** (when given) and logs `message_id` "starting up" at `level`. Returns 1. */
int log_startup(const char *program, const char *instance, const char *logical_host, int debug,
                int verbose, int level, const char *message_id, const char *service);

/* Writes one rule message line to the log file; "Connected to database",
** "RDBMS appears to be ok" and "disconnected from database" only once in a
** row. */
void log_action_message(const char *message_id, const char *text);

/* The facility code of a LOG_xxx name, or -1 when the name is unknown. */
int decode_syslog_facility(const char *name);

/* Decides enable_logging and opens the log file of the DBMS type. */
void open_hadbms_log(const char *service);

/* Logs 2170 "shutting down", closes syslog and the log file. Returns 1. */
int log_shutdown(void);
}

/* Same as open_hadbms_log, with the path given (tests). */
void open_hadbms_log(const char *service, const char *path);

/* The log file that open_hadbms_log opens for every DBMS type in place of
** the type's fixed path, or NULL (production). Only the monitor's test
** build sets it, before start-up, so that each test run has its own. */
extern const char *hadbms_log_override;

/* The syslog seam: production binds glibc's openlog, setlogmask, vsyslog
** and closelog; tests install a recording double. */
struct syslog_sink {
  void (*open)(const char *ident, int option, int facility);
  int (*set_mask)(int mask);
  void (*vlog)(int level, const char *format, va_list args);
  void (*close)(void);
};
extern const syslog_sink glibc_syslog_sink;
/* The sink in use; never null. Tests set it before log_startup. */
extern const syslog_sink *log_sink;

/* Read-only views of the logging state, for tests and the probe cycle. */
const char *log_syslog_id();
int log_syslog_mask();
int log_syslog_facility();
FILE *log_file_stream();

/* Closes the log file and puts every logging setting back to its initial
** value, so that tests can start over in one process. */
void log_reset();

#endif
