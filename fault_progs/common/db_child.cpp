/*
** The probe child process and its db_info pipe record. fork_db_process
** makes the child with two pipes; ha_db_thread is the child's whole life:
** read a request, call the probe interface for its state, write the reply.
**
** Called by run_probe (the monitor side) and, in the child, by nothing else:
** the child never returns into the monitor's code. Calls the probe's
** operations record (dbms_connect, dbms_statistics, dbms_test_transaction,
** dbms_disconnect), hasyslog and the signal set-up of monitor_signals.
**
** SIGTERM and SIGQUIT are only recorded in the child (the operations log
** through malloc, syslog and stdio, which a handler must not reenter); the
** child runs the exit path where it waits for its next request and after
** each probe operation, within the 2 s its handler's alarm allows.
**
** The record is 16 bytes in native order, written and read whole: both ends
** are this program on this machine. Every pipe end is close-on-exec, so a
** framework command run by the monitor never holds one open.
*/
#include "db_child.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include "monitor.h"
#include "monitor_signals.h"
#include "svr4.h"

pid_t (*db_child_fork)(void) = fork1;

namespace {

int outstanding_message_flag = 0;

/* Closes fd when it is a descriptor, keeping errno for the caller's %m. */
void close_quietly(int fd) {
  if (fd < 0) return;
  int saved = errno;
  close(fd);
  errno = saved;
}

/* SA_SIGINFO handlers take three arguments; child_died keeps the
** one-argument form that the probe child's set-up names. */
void child_died_info(int signal, siginfo_t *, void *) { child_died(signal); }

/* In the probe child: waits until a request (or the end of the pipe) can
** be read from read_fd. A termination signal runs the exit path here; the
** child's self-pipe keeps one that lands just before the poll from being
** missed. A poll that fails leaves the read to report it. */
void wait_for_request(int read_fd) {
  for (;;) {
    check_termination();
    pollfd fds[2] = {{read_fd, POLLIN, 0}, {termination_fd(), POLLIN, 0}};
    int ready = poll(fds, fds[1].fd >= 0 ? 2 : 1, -1);
    if (ready < 0 && errno != EINTR) return;
    if (ready > 0 && fds[0].revents != 0) {
      /* A signal taken while poll returned comes before what the pipe holds. */
      check_termination();
      return;
    }
  }
}

}  // namespace

extern "C" {

pid_t fork_db_process(int *write_fd, int *read_fd) {
  outstanding_message_flag = 0;

  int reply[2];
  int request[2];
  if (pipe2(reply, O_CLOEXEC) != 0) {
    hasyslog(LOG_ERR, "4150", "pipe() failed with %m");
    return -1;
  }
  if (pipe2(request, O_CLOEXEC) != 0) {
    close_quietly(reply[0]);
    close_quietly(reply[1]);
    hasyslog(LOG_ERR, "4150", "pipe() failed with %m");
    return -1;
  }

  /* Whatever stdio holds now would otherwise be written by both processes. */
  fflush(nullptr);

  // SIGTERM and SIGQUIT wait for the span of the fork, so that neither
  // process can take one while the child still looks like the monitor.
  svr4::SignalBlock block {SIGTERM, SIGQUIT};
  pid_t pid = db_child_fork();
  if (pid < 0) {
    close_quietly(reply[0]);
    close_quietly(reply[1]);
    close_quietly(request[0]);
    close_quietly(request[1]);
    hasyslog(LOG_ERR, "4160", "fork failed with %m");
    return -1;
  }
  if (pid == 0) {
    /* Before the block ends: a signal now must find the child's handler. */
    db_proc_pid = 0;
    install_child_handlers();
    close(reply[0]);
    close(request[1]);
    *write_fd = reply[1];
    *read_fd = request[0];
    return 0;
  }
  close(reply[1]);
  close(request[0]);
  /* Each timed-out request stays queued for a child that hangs; once the
  ** pipe is full a blocking write would hang the monitor for good (deaf to
  ** SIGTERM too). Non-blocking, the write fails and the child is replaced. */
  fcntl(request[1], F_SETFL, O_NONBLOCK);
  *write_fd = request[1];
  *read_fd = reply[0];
  return pid;
}

void ha_db_thread(int write_fd, int read_fd) {
  struct sigaction action = {};
  action.sa_sigaction = child_died_info;
  action.sa_flags = SA_SIGINFO | SA_NOCLDWAIT | SA_NOCLDSTOP;
  sigemptyset(&action.sa_mask);
  sigaction(SIGCHLD, &action, nullptr);

  if (debug_mode) hasyslog(LOG_DEBUG, "0090", "ha_db_thread: starting up with PID %d", getpid());
  for (;;) {
    db_info record;
    wait_for_request(read_fd);
    if (!receive_db_info(&record, read_fd)) break;
    if (debug_mode) hasyslog(LOG_DEBUG, "0100", "ha_db_thread: waking up, starting work...");
    switch (record.state) {
      case db_state_connecting:
        probe->dbms_connect(dbms_host, &record.internal_error, &record.dbms_error);
        break;
      case db_state_online:
        if (probe->dbms_statistics(&record.internal_error, &record.dbms_error) == 0 &&
            record.dbms_error == 0) {
          check_termination();
          probe->dbms_test_transaction(dbms_host, &record.internal_error, &record.dbms_error);
        }
        break;
      case db_state_disconnecting:
        probe->dbms_disconnect(&record.internal_error, &record.dbms_error);
        break;
      default:
        hasyslog(LOG_ERR, "4140", "DB Thread: Unknown state %d", record.state);
        record.internal_error = 1;
        break;
    }
    check_termination(); /* a signal that came during the operation */
    if (debug_mode) hasyslog(LOG_DEBUG, "0110", "DB: done with work");
    if (!send_db_info(&record, write_fd)) break;
  }
  hasyslog(LOG_NOTICE, "2140", "ha_db_thread: exiting...");
  exit(0);
}

int send_db_info(const db_info *record, int fd) {
  ssize_t n;
  do {
    n = write(fd, record, sizeof *record);
  } while (n < 0 && errno == EINTR);
  /* 16 bytes are below PIPE_BUF: a pipe write is all or nothing. */
  if (n != static_cast<ssize_t>(sizeof *record)) {
    hasyslog(LOG_ERR, "4120", "write of data structure through pipe failed with %m");
    return 0;
  }
  outstanding_message_flag = 1;
  return 1;
}

int receive_db_info(db_info *record, int fd) {
  auto *bytes = reinterpret_cast<char *>(record);
  size_t got = 0;
  while (got < sizeof *record) {
    ssize_t n = read(fd, bytes + got, sizeof *record - got);
    if (n < 0 && errno == EINTR) {
      check_termination();
      continue;
    }
    if (n <= 0) {
      if (n == 0) errno = EPIPE; /* end of the pipe: the writer is gone */
      hasyslog(LOG_ERR, "4130", "read of data structure through pipe failed with %m");
      return 0;
    }
    got += static_cast<size_t>(n);
  }
  outstanding_message_flag = 0;
  return 1;
}

int disconnect_db_thread(pid_t pid, int write_fd, int read_fd) {
  if (pid > 1) kill(pid, SIGQUIT);
  close_quietly(write_fd);
  close_quietly(read_fd);
  waitpid(-1, nullptr, WNOHANG);
  outstanding_message_flag = 0;
  return 1;
}

int outstanding_message(void) { return outstanding_message_flag; }

void reset_outstanding_message(void) { outstanding_message_flag = 0; }

void child_died(int) {
  int saved = errno;
  int status;
  waitpid(-1, &status, WNOHANG);
  errno = saved;
}

}  // extern "C"
