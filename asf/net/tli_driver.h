/*
** tli_driver.h: what the two halves of the TLI driver share: the client
** side and the endpoint life (tli_driver.cpp) and the server side, listen
** and accept (tli_listen.cpp). Internal to asf/net and its tests.
**
** The pending-indication queue lives in memory only: the save image of
** a listening endpoint's record carries its pointer, meaningless after a
** hand-over.
*/
#ifndef DVZ_ASF_NET_TLI_DRIVER_H
#define DVZ_ASF_NET_TLI_DRIVER_H

#include <stdint.h>

#include "asf_errors.h"
#include "tl_records.h"
#include "tli.h"

/* Buffer size of a connection whose sqlhosts options give none. */
#define TLI_DEFAULT_BUFSIZE 4096

/* Connect indications of a listening endpoint, taken by t_listen and not
** yet accepted or withdrawn; hung from the endpoint record's pendq. */
typedef struct tlipendq {
  int32_t count; /* occupied slots */
  struct t_call **slots; /* capacity entries, each null or one indication */
  uint32_t capacity; /* the granted queue length, at least TLI_MIN_QUEUE */
  uint32_t lisn_index; /* where the search for a free slot starts */
  uint32_t accp_index; /* where the search for an indication starts */
} tlipendq;

/* The smallest queue, whatever length the provider granted. */
#define TLI_MIN_QUEUE 30u

/* The longest a disconnect waits for the peer's orderly release, in all:
** 100 s (tests lower it). */
extern int tli_release_wait_ms;

/* The TLI calls in force (tests replace them through tli_driver_calls). */
inline const tli_calls &tli() { return *tli_driver_calls; }

/* Copies t_open's provider information into the endpoint record. */
inline void tli_store_info(tlictl *t, const struct t_info &info) {
  t->info[0] = info.addr;
  t->info[1] = info.options;
  t->info[2] = info.tsdu;
  t->info[3] = info.etsdu;
  t->info[4] = info.connect;
  t->info[5] = info.discon;
  t->info[6] = info.servtype;
}

/* Frees the pending-indication queue of t (its calls, slot array and
** record) and clears t->pendq; nothing for an endpoint without one. The
** endpoint itself is not touched. */
void tli_free_pendq(tlictl *t);

#endif
