/*
** The Dovariza probe's operations record, through which the monitor
** reaches it (probe_interface.h).
*/
#include "dovariza_probe.h"
#include "probe_settings.h"

const probe_ops dovariza_probe_ops = {
    .db_main = db_main,
    .dbms_connect = dovariza::dbms_connect,
    .dbms_statistics = dovariza::dbms_statistics,
    .dbms_test_transaction = dovariza::dbms_test_transaction,
    .dbms_disconnect = dovariza::dbms_disconnect,
    .ha_db_restart = dovariza::ha_db_restart,
    .dbms_service = "dovariza",
    .dbms_usage = "",
};
