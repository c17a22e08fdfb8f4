/*
** Closing every inherited descriptor from a given one up, for a process
** that is about to become a daemon or to exec a back-end program. Called
** by the monitor's daemon start-up and by the pipe transport's child.
*/
#ifndef DVZ_PLATFORM_FD_CLOSE_H
#define DVZ_PLATFORM_FD_CLOSE_H

extern "C" {

/* Closes every descriptor from lowfd (>= 0) up: close_range where the
** kernel has it, else one by one below hard_limit (capped at INT_MAX; a
** limit of 0 or less closes nothing in that fallback). Async-signal-safe,
** so that a child between fork and exec may call it. */
void dvz_close_from(int lowfd, long hard_limit);
}

#endif
