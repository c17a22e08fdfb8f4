/*
** Reads the test environment of the monitor's test builds into the
** monitor's settings (test_environment.h says which). Called by the two
** test mains only; the production monitor links none of it.
*/
#include "test_environment.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "monitor_log.h"
#include "monitor_seams.h"
#include "syslog_socket_sink.h"

namespace testbed {
namespace {

/* The number in variable `name` when it is set: decimal, or hex after 0x,
** within [low, high]. False when it is set to anything else. */
bool number_from_env(const char *name, unsigned long low, unsigned long high,
                     unsigned long *value) {
  const char *text = getenv(name);
  if (!text) return true;
  char *end = nullptr;
  errno = 0;
  unsigned long number = strtoul(text, &end, 0);
  if (end == text || *end != '\0' || errno != 0 || number < low || number > high) {
    fprintf(stderr, "%s: not a number in [%lu, %lu]: %s\n", name, low, high, text);
    return false;
  }
  *value = number;
  return true;
}

}  // namespace

bool apply_test_environment() {
  unsigned long program = dorvexd_rpc.program;
  unsigned long timeout = static_cast<unsigned long>(dorvexd_rpc.call_timeout_seconds);
  if (!number_from_env("DVZ_TEST_RPC_PROGRAM", 1, 0xffffffffUL, &program) ||
      !number_from_env("DVZ_TEST_RPC_TIMEOUT", 1, 3600, &timeout))
    return false;
  dorvexd_rpc.program = static_cast<uint32_t>(program);
  dorvexd_rpc.call_timeout_seconds = static_cast<int>(timeout);
  if (const char *path = getenv("DVZ_TEST_HADBMS_LOG")) hadbms_log_override = path;
  if (const char *path = getenv("DVZ_TEST_SYSLOG_SOCKET")) log_sink = socket_syslog_sink(path);
  return true;
}

}  // namespace testbed
