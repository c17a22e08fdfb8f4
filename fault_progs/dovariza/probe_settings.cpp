/*
** The probe's process-wide values (probe_settings.h, and dbms_session_id
** of dovariza_probe.h), in an object of their own: db_main and the
** database operations share them without either pulling in the other.
*/
#include "probe_settings.h"
#include "dovariza_probe.h"

extern "C" {
int dbms_session_id = 0;
}

namespace dovariza {

const char *dbname = nullptr;
const char *dovarizaserver = nullptr;
const char *onconfig = nullptr;
uid_t dovariza_owner = 0;

}  // namespace dovariza
