/*
** The monitor's process-wide configuration (monitor.h, probe_interface.h).
** Written once during start-up by main; read everywhere else.
*/
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
}
