/*
** pfsl_save.h: the protocol family's and session layer's part of a
** handed-over association (pfsl_save.cpp). The connection manager's
** cmSave and cmRestore (asf/al/handover.cpp) call pfSave and pfRestore;
** they call the session layer's, which call the transport layer's
** (tl_save.h).
**
** Images in the hand-over arena, host byte order, fixed layouts written
** field by field: the protocol family's 64 bytes (state, level, connect
** kind, the 28 bytes of the connect pairs, the six words of the peer
** format), then the session's 12 (state, level, server level).
*/
#ifndef DVZ_ASF_PFSL_SAVE_H
#define DVZ_ASF_PFSL_SAVE_H

#include <stdint.h>

#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

struct opblock;

/* Sizes of the two saved records. */
#define PF_SAVE_SIZE 64
#define SL_SAVE_SIZE 12
/* Session states of a saved and of a restoring session. */
#define SL_STATE_SAVED 60
#define SL_STATE_RESTORING 61

/* Saves ctl's protocol-family block, then the session: state 60. 0, or
** -1 with -25546 (no block), -25557 (no room) or the session's status. */
int pfSave(asfsvcctl *ctl, struct opblock *op);
/* Makes ctl's association's blocks with the saved names and restores the
** block, then the session (its failure: state 100): the saved state. 0,
** or -1 with -25557 (no record, or a saved state other than listening
** or connected), -406, or the session's status. */
int pfRestore(asfsvcctl *ctl, struct opblock *op);
/* Saves the session's record, then the transport: state 60. 0, or -1
** with -25546, -25557 or the transport's status. */
int slSQIsave(asfsvcctl *ctl, struct opblock *op);
/* A new shared record with the association in slot 0, the saved levels,
** the transport restored: the saved state (listening or connected; 0,
** with no shared record, for a raw transport only). 0, or -1 with -25546,
** -25557 (no record, or another state),
** -406, or the transport's status (state 100, nothing of the session's
** left allocated). */
int slSQIrestore(asfsvcctl *ctl, struct opblock *op);
/* Lets go of the connection of a session saved for a hand-over: its
** shared record is freed and the transport disconnected as a saved one,
** which leaves the descriptors open for the executed program; the session
** is then closed (state 50), so that the abort that follows the hand-over
** has nothing left to do below the protocol family. 0 for a session in
** any other state (nothing done); -1 with -25546 without a session. */
int slSQIsavedDiscon(asfsvcctl *ctl);

#ifdef __cplusplus
}
#endif

#endif
