/*
** sl_internal.h: helpers the session layer's two halves share: the
** connecting side (session_layer.cpp) defines the record and buffer
** helpers, the listening side (sl_listen.cpp) the multiplexing
** listener's queue that a data receive feeds. Internal to asf/pfslsqi.
*/
#ifndef DVZ_ASF_SL_INTERNAL_H
#define DVZ_ASF_SL_INTERNAL_H

#include <stdint.h>

#include "sl_records.h"

namespace slsqi {

/* Levels from this one on use the session header. */
constexpr int32_t header_level = 60;
/* The multiplexed reject answering a multiplexed connect: header and a
** body of zeros. */
constexpr int32_t mux_reject_length = 22;
/* The text form of the header: "sq" and 8 characters of 6-bit text. */
constexpr int32_t text_prefix_size = 10;

/* Sets ctl's status and returns -1. */
int fail(asfsvcctl *ctl, int status);
/* The session record of ctl's association, or null with -25546. */
slsession *session_of(asfsvcctl *ctl);
/* Clears the four working areas of s. */
void clear_areas(slsession *s);
/* A new shared record (count 1) with a copy of parms' address text (parms
** may be null). Null with -406 or -25557 in ctl. */
slcommon *new_common(asfsvcctl *ctl, const tlconnreq *parms);
/* Frees c with its queues and its address text. */
void free_common(slcommon *c);
/* The record of the slot sel taken out of assoc, or null. */
rscbufctl *take(Assocctl *assoc, int sel);
/* Frees a buffer record, with its area when with_area. */
void free_buffer(rscbufctl *buf, bool with_area);
/* Gives assoc, joining shared's connection, its own send buffer, one-byte
** expedited send buffer and expedited receive record. 0 or -406. */
int lend_session_buffers(Assocctl *assoc, Assocctl *shared);
/* Takes s's association out of its shared connection. */
void leave_connection(slsession *s, Assocctl *assoc, bool wake);
/* Disconnects the transport of a connection s alone holds and frees its
** shared record: tlDiscon's result (0 without a transport). */
int close_connection(asfsvcctl *ctl, slsession *s, int flags);
/* Fills the connection's receive buffer with the caller's timeout. */
int data_receive(asfsvcctl *ctl, slsession *s);

/* Listening side (sl_listen.cpp). */

/* Queues the multiplexed connect whose header the receive context of s's
** connection holds for the multiplexing listener, reading its body whole
** so the connection's stream stays in step. 0 when queued; 1 when there
** is no listener to take it or its id is taken (the caller refuses it;
** the body is still to be skipped); -1 with the status when a receive or
** an allocation failed. */
int enque_mux_msg(asfsvcctl *ctl, slsession *s);
/* Takes ctl's association off the list of multiplexing listeners and
** frees its record and queue (nothing when it is not on the list). */
void drop_mux_listener(Assocctl *assoc);
/* Drops the queued multiplexed connects that arrived on assoc, which is
** leaving its connection. */
void purge_mux_msgs(const Assocctl *assoc);

/* The listen timeout of a listening session: DVZ_LISTEN_TIMEOUT seconds
** in ms, or the default. */
int32_t listen_timeout_ms();

}  // namespace slsqi

#endif
