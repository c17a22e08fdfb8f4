/*
** Line-oriented texts of the monitor's tests: splitting a text into lines,
** picking a monitor's log lines by message id, and the scripted probe's
** calls journal. Header-only and free of the
** monitor's and the testbed's headers, so that the unit suites (through
** test_helpers.h), the daemon suites and the end-to-end scenarios share it.
*/
#ifndef DVZ_TESTS_MONITOR_TEXT_LINES_H
#define DVZ_TESTS_MONITOR_TEXT_LINES_H

#include <sys/types.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace montest {

/* The lines of a text, without their newlines (a final newline adds none). */
inline std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line))
    lines.push_back(line);
  return lines;
}

/* The lines of a monitor's log text that hold ".<id>]" (the message id
** closing the identity) and `text`. */
inline std::vector<std::string> log_lines_of(const std::string &log, const std::string &id,
                                             const std::string &text) {
  std::vector<std::string> found;
  for (const std::string &line : lines_of(log)) {
    if (line.find("." + id + "]") != std::string::npos && line.find(text) != std::string::npos)
      found.push_back(line);
  }
  return found;
}

/* One line of the scripted probe's calls journal: "<pid> <op> remote=<r>". */
struct probe_call {
  pid_t pid = -1;
  std::string op;
  int remote = -1;
};

/* The calls of a calls journal's text, in order; lines of another form
** are passed over. */
inline std::vector<probe_call> probe_calls(const std::string &journal) {
  std::vector<probe_call> calls;
  for (const std::string &line : lines_of(journal)) {
    probe_call call;
    char op[32] = {};
    if (sscanf(line.c_str(), "%d %31s remote=%d", &call.pid, op, &call.remote) == 3) {
      call.op = op;
      calls.push_back(call);
    }
  }
  return calls;
}

}  // namespace montest

#endif
