/*
** The test environment of the monitor's test builds (dovariza_fmon_scripted
** and dovariza_fmon_test): the one place that reads it. It gives each test
** run its own singletons in place of the machine's:
**   DVZ_TEST_RPC_PROGRAM    program number of the dorvexd double (decimal
**                           or 0x hex; default dorvexd's 100222)
**   DVZ_TEST_RPC_TIMEOUT    seconds one dorvexd call may take (default 25)
**   DVZ_TEST_HADBMS_LOG     the log file, in place of the DBMS type's fixed
**                           /var/opt/... path
**   DVZ_TEST_SYSLOG_SOCKET  unix datagram socket that receives the syslog
**                           messages, in place of glibc's syslog to /dev/log
*/
#ifndef DVZ_TESTBED_TEST_ENVIRONMENT_H
#define DVZ_TESTBED_TEST_ENVIRONMENT_H

namespace testbed {

/* Applies the variables above to the monitor's settings, before
** fault_mon_main. Returns false, after a line on standard error, when a
** number is not usable; the caller then ends with status 2 before anything
** else runs. */
bool apply_test_environment();

}  // namespace testbed

#endif
