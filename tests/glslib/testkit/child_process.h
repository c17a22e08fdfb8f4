/*
** Runs a piece of a test in a forked child. The library reads its
** diagnostics switches once per process and writes gls.log into the
** working directory, so the cases that look at them run where neither
** leaks into the rest of the test binary.
*/
#ifndef DVZ_TESTS_GLSLIB_CHILD_PROCESS_H
#define DVZ_TESTS_GLSLIB_CHILD_PROCESS_H

#include <functional>
#include <string>

namespace glstest {

/* Runs body in a child whose working directory is dir; the child ends
** with status 0 when body returns (body may _exit with its own status to
** report a failure). Returns true when the child ended normally with
** status 0; the parent waits for the child's end. */
bool run_in_child(const std::string &dir, const std::function<void()> &body);

}  // namespace glstest

#endif
