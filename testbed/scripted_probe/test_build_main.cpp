/*
** Process entry of the monitor's test build, dovariza_fmon_scripted: the
** monitor with the scripted probe behind the probe interface. It is the
** only place that reads the test environment, which gives each test run
** its own singletons in place of the machine's:
**   DVZ_TEST_RPC_PROGRAM    program number of the dorvexd double (decimal
**                           or 0x hex; default dorvexd's 100222)
**   DVZ_TEST_RPC_TIMEOUT    seconds one dorvexd call may take (default 25)
**   DVZ_TEST_HADBMS_LOG     the log file, in place of the DBMS type's fixed
**                           /var/opt/... path
**   DVZ_TEST_SYSLOG_SOCKET  unix datagram socket that receives the syslog
**                           messages, in place of glibc's syslog to /dev/log
** A value that is not a usable number ends the launcher with status 2
** before anything else runs.
*/
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "fault_monitor.h"
#include "monitor_log.h"
#include "monitor_seams.h"
#include "scripted_probe.h"
#include "syslog_socket_sink.h"

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

int main(int argc, char **argv) {
  unsigned long program = dorvexd_rpc.program;
  unsigned long timeout = static_cast<unsigned long>(dorvexd_rpc.call_timeout_seconds);
  if (!number_from_env("DVZ_TEST_RPC_PROGRAM", 1, 0xffffffffUL, &program) ||
      !number_from_env("DVZ_TEST_RPC_TIMEOUT", 1, 3600, &timeout))
    return 2;
  dorvexd_rpc.program = static_cast<uint32_t>(program);
  dorvexd_rpc.call_timeout_seconds = static_cast<int>(timeout);
  if (const char *path = getenv("DVZ_TEST_HADBMS_LOG")) hadbms_log_override = path;
  if (const char *path = getenv("DVZ_TEST_SYSLOG_SOCKET"))
    log_sink = testbed::socket_syslog_sink(path);
  return fault_mon_main(argc, argv, &scripted_probe_ops);
}
