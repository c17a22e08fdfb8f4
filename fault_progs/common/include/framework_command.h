/*
** The one way the monitor runs a cluster framework command (restart of a
** remote monitor, takeover, stop, config, fmstart, the public-network
** check, the Varnholt process check): the line goes to /bin/sh -c through
** the command seam, and the shell's wait status is decoded here.
**
** Decoding (command_status::exit_status):
**   - the shell exited: its exit status, 0-255, as the command returned it.
**     127 (the shell found no such command) is kept as it is: it cannot be
**     told from a command that exits 127 itself, and it is non-zero;
**   - a signal ended it: -1;
**   - no shell could be run (system() returned -1): -1.
** Only 0 is a success: a command killed by a signal or never run always
** fails, and never looks like a command that exited 0.
**
** Public: a probe module runs its restart command through the same runner
** and checks its words with the same rule.
*/
#ifndef DVZ_FRAMEWORK_COMMAND_H
#define DVZ_FRAMEWORK_COMMAND_H

#include <string>
#include <string_view>

/* What became of one framework command. */
struct command_status {
  int exit_status; /* 0-255 as the command exited; -1 when it has none */
  int error_number; /* errno right after the run */
  bool succeeded() const { return exit_status == 0; }
};

/* Runs line through the command seam and decodes its status. A
** termination signal that arrived meanwhile ends the monitor here. */
command_status run_framework_command(const std::string &line);

/* A command line made from a printf format (its values are the caller's
** to check with shell_safe_word). */
std::string command_line(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* True when every character of text is one of [A-Za-z0-9._@:+-]: a name
** that goes unquoted into a /bin/sh command line only as itself. */
bool shell_safe_word(std::string_view text);

#endif
