/*
** The probe child: a process forked by the monitor that holds the database
** connection and serves one db_info request at a time over a pipe pair.
** The monitor writes requests on its write descriptor and reads replies on
** its read descriptor; the child does the opposite.
*/
#ifndef DVZ_DB_CHILD_H
#define DVZ_DB_CHILD_H

#include <sys/types.h>

#include "db_info.h"

extern "C" {

/* Creates both pipes and forks. Returns the child's pid in the monitor, 0
** in the child (which then has db_proc_pid 0 and its own signal handlers),
** -1 after logging 4150 or 4160; on -1 no descriptor is left open. Each
** process receives its own write and read descriptors; the monitor's write
** descriptor is non-blocking, so a request to a child that stopped reading
** fails (4120) instead of blocking. */
pid_t fork_db_process(int *write_fd, int *read_fd);

/* The body of the probe child: serves requests until a pipe fails, then
** logs 2140 and exits 0, or until SIGTERM or SIGQUIT, which it takes
** through fault_mon_exit between operations. Never returns. */
__attribute__((noreturn)) void ha_db_thread(int write_fd, int read_fd);

/* 1 when all 16 bytes were written (the request is then outstanding), else
** 0 after logging 4120. */
int send_db_info(const db_info *record, int fd);

/* 1 when 16 bytes were read (nothing is outstanding any more), else 0 after
** logging 4130. */
int receive_db_info(db_info *record, int fd);

/* Sends SIGQUIT to pid when it is above 1, closes both descriptors (those
** not negative), reaps one ended child without waiting and clears the
** outstanding mark. Returns 1. The caller sets db_proc_pid to -1. */
int disconnect_db_thread(pid_t pid, int write_fd, int read_fd);

int outstanding_message(void); /* 1 while a request waits for its reply */
void reset_outstanding_message(void);

/* SIGCHLD handler of the probe child: reaps one ended child. */
void child_died(int signal);
}

/* The fork that fork_db_process uses: fork1 in production. Tests replace it
** to make a fork fail. */
extern pid_t (*db_child_fork)(void);

#endif
