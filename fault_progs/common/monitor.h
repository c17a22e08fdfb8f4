/*
** Process-wide configuration of the monitor, written during start-up and
** read everywhere in the monitor; and the start-up and exit entry points.
** Texts point into the argument vector or the environment, never freed.
*/
#ifndef DVZ_MONITOR_H
#define DVZ_MONITOR_H

#include <cstddef>
#include <cstdint>

#include <rpc/rpc.h>

#include "fault_monitor.h"
#include "probe_interface.h"

extern "C" {

extern const char *dbms_host; /* -r host: remote mode; NULL in local mode */
extern const char *logical_host; /* host operand of -r or -m */
extern const char *instance_name; /* instance operand, or "unknown" */
extern int32_t dbms_serv_key; /* DBMS_SERV_KEY, clamped to int32 */
extern int db_proc_pid; /* probe child: -1 none, 0 inside the child */
extern CLIENT *rpc_client; /* client of the local dorvexd */

/* Forks, exits the parent with 0, closes inherited descriptors, puts the
** console on 0-2 and starts a new session. Returns the console descriptor. */
int make_daemon(void);

/* 1 when another monitor is registered for the instance; else registers
** this one and returns 0. */
int fault_mon_run_check(const char *instance, int pid);

/* The common way out of the monitor and its probe child; never returns. */
__attribute__((noreturn)) void fault_mon_exit(int signal);

/* What fault_mon_main runs after make_daemon: signals, environment,
** command line, logging, the probe's check, the action file, the dorvexd
** client and the registration, the initial delay, the main loop and the
** orderly end. REQUIRES: the probe set. Returns 0 after an orderly end;
** every other end is an exit (0, 1 or 2). */
int monitor_main(int argc, char **argv);

/* Size of the buffers of get_remote_hostname and get_clustername: a word
** of at most 99 bytes and its terminating NUL. */
constexpr size_t monitor_word_size = 100;

/* REQUIRES: buffer holds monitor_word_size bytes. Stores the first word of
** HA_REMOTEHOST (cut to 99 bytes), or "" after logging 4280. */
void get_remote_hostname(char *buffer);
/* REQUIRES: buffer holds monitor_word_size bytes. Stores the first word of
** the cluster name file; returns 0, or 1 after 4281 when it is unreadable
** (buffer then ""). */
int get_clustername(char *buffer);
}

/* Overloads taking a path, for tests. */
int make_daemon(const char *console_path);
/* get_clustername with the file given; the same buffer size. */
int get_clustername(char *buffer, const char *path);

#endif
