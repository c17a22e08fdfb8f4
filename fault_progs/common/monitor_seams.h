/*
** Seams between the monitor and the world it drives: time, framework
** commands and the dorvexd RPC client. Production binds the real calls;
** tests install doubles. Each is a table of functions, set once before use.
*/
#ifndef DVZ_MONITOR_SEAMS_H
#define DVZ_MONITOR_SEAMS_H

#include <cstdint>
#include <ctime>

#include <rpc/rpc.h>

/* Wall-clock time, and a wait that a termination signal cuts short. */
struct monitor_clock {
  time_t (*now)(void);
  /* Waits `seconds`; returns 0 when the time passed, 1 when a termination
  ** signal arrived (the caller then runs the exit path). */
  int (*wait)(int seconds);
};
extern const monitor_clock system_clock;
extern const monitor_clock *clock_seam;

/* Framework commands through /bin/sh; returns the raw status of system(). */
struct command_runner {
  int (*run)(const char *command);
};
extern const command_runner system_runner;
extern const command_runner *command_seam;

/* The dorvexd RPC client (version 1 of the program in dorvexd_rpc). Each
** call returns a pointer to its result, or NULL when the RPC failed. */
struct dorvexd_client {
  CLIENT *(*create)(const char *host); /* clnt_create(host, ..., "netpath") */
  void (*destroy)(CLIENT *client);
  int32_t *(*get_status)(const char *instance, CLIENT *client);
  int32_t *(*set_status)(const char *instance, int32_t pid, int32_t key, CLIENT *client);
  void *(*shutdown_db)(const char *instance, const char *service, CLIENT *client);
  int32_t *(*update_dbms_status)(const char *instance, const char *status, int32_t dbms_error,
                                 CLIENT *client);
  /* clnt_sperror(client, header) and clnt_spcreateerror(header). */
  const char *(*sperror)(CLIENT *client, const char *header);
  const char *(*spcreateerror)(const char *header);
};
extern const dorvexd_client rpc_dorvexd_client;
extern const dorvexd_client *dorvexd_seam;

/* What rpc_dorvexd_client's create binds a client to: the program number
** and the time-out of each call (set with CLSET_TIMEOUT). Production keeps
** dorvexd's program 100222 and 25 seconds; only the monitor's test build
** changes them, before start-up, to reach its own dorvexd double. */
struct dorvexd_binding {
  uint32_t program;
  int call_timeout_seconds;
};
extern dorvexd_binding dorvexd_rpc;

/* Milliseconds of CLOCK_MONOTONIC: for time-outs that a step of the wall
** clock must not stretch or cut. */
int64_t monotonic_ms();

#endif
