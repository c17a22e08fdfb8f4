/*
** Termination signals of the monitor. The handler only records the signal
** and writes one byte to a self-pipe; waits poll that pipe, and the main
** line checks the flag after every RPC call and every command, then runs
** fault_mon_exit synchronously. Nothing unsafe ever runs in the handler.
**
** The probe child gets a handler and a self-pipe of its own
** (install_child_handlers): it records the signal the same way and arms a
** 2 s alarm that bounds the child's exit.
*/
#ifndef DVZ_MONITOR_SIGNALS_H
#define DVZ_MONITOR_SIGNALS_H

#include <csignal>

/* 0, or the termination signal received (SIGTERM or SIGQUIT). */
extern volatile sig_atomic_t termination_signal;

/* Creates the self-pipe (non-blocking, close-on-exec), ignores SIGPIPE and
** routes SIGTERM and SIGQUIT to the recording handler. Returns 0, or -1
** when the pipe cannot be made. */
int install_termination_handlers();

/* Read end of the self-pipe, for poll; -1 before installation. */
int termination_fd();

/* When a termination signal was recorded, runs fault_mon_exit with it. */
void check_termination();

/* In the probe child, with SIGTERM and SIGQUIT blocked: forgets the
** monitor's signal and self-pipe and makes the child's own. SIGTERM and
** SIGQUIT then only record the signal (termination_fd, check_termination)
** and arm alarm(2), with SIGALRM at its default action: the child must
** reach check_termination within 2 s or be ended by the alarm. */
void install_child_handlers();

#endif
