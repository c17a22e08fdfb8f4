/*
** The probe states and the db_info record that carries one probe request
** from the monitor to its probe child and the reply back. The one place
** that defines the state numbers: the monitor, the action file, the
** evaluation, the probe modules and the tests all name them from here.
*/
#ifndef DVZ_DB_INFO_H
#define DVZ_DB_INFO_H

#include <cstdint>

extern "C" {

/* What the probe child does for a request, and the monitor's view of the
** database connection. An action rule's state 0 means "any state" (and, as
** its new state, "keep"); it is never the state of a record. */
enum db_state : int32_t {
  db_state_connecting = 1,
  db_state_online = 2,
  db_state_disconnecting = 3,
};

/* Request and reply record: 16 bytes in native byte order, written and read
** whole (both ends are the same program on the same machine). */
struct db_info {
  int32_t state; /* a db_state */
  int32_t dbms_error; /* 0, or the DBMS error of the failed probe step */
  int32_t internal_error; /* 1 after an unknown state or a failed fork */
  int32_t sequence; /* request number, copied into the reply */
};
static_assert(sizeof(db_info) == 16, "db_info is a 16-byte record");
}

#endif
