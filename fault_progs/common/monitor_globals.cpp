/*
** The monitor's process-wide configuration (monitor.h, probe_interface.h).
** Written once during start-up by monitor_main, and the probe once by
** fault_mon_main; read everywhere else.
*/
#include <cassert>

#include "monitor.h"

extern "C" {
const char *dbms_host = nullptr;
const char *logical_host = nullptr;
const char *instance_name = nullptr;
int32_t dbms_serv_key = 0;
int db_proc_pid = -1;
CLIENT *rpc_client = nullptr;
int debug_mode = 0;
int verbose_mode = 0;
int the_pid = 0;
const probe_ops *probe = nullptr;

void monitor_set_probe(const probe_ops *ops) {
  assert(ops && ops->db_main && ops->dbms_connect && ops->dbms_statistics &&
         ops->dbms_test_transaction && ops->dbms_disconnect && ops->ha_db_restart &&
         ops->dbms_service);
  probe = ops;
}
}
