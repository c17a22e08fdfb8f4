/*
** tl_save.h: the transport layer's part of a handed-over association
** (tl_save.cpp). The session layer's save and restore (pfsl_save.cpp)
** call these; they call the driver's save slot and the switch table's
** rest entry (savetli/resttli, savepip/restpip).
**
** The image `tlsave`: 28 bytes, seven 32-bit words in host order, written
** field by field: transport flags, state, protocol index, driver flags,
** driver type, buffer size, and 1 when the driver had a private record.
** The driver's own image follows it.
*/
#ifndef DVZ_ASF_TL_SAVE_H
#define DVZ_ASF_TL_SAVE_H

#include "asf_svcctl.h"

#ifdef __cplusplus
extern "C" {
#endif

struct opblock;

/* Writes ctl's transport block into the arena, then the driver's record
** through its save slot: state 8. 0, or -1 with -25546 (no transport
** block), -1 and errno (no room, or the driver's save failed) or 25503
** (no save slot). */
int tlSave(asfsvcctl *ctl, struct opblock *op);
/* Makes ctl's association a transport block from the arena and, when the
** driver had a record, rebuilds it through the row's rest entry, setting
** the association's driver references. 0, or -1 with -1 and errno (no
** record), -406, 25507 (a protocol index outside the table) or the
** driver's status; a failed restore leaves no transport block. */
int tlRestore(asfsvcctl *ctl, struct opblock *op);

/* The TLI driver's save and rest entries (asf/net/tli_save.cpp): the
** endpoint record's 44-byte image (descriptor at 0, option bits at 4, the
** provider information at 8 to 35, 0 at 36, the frame-mark byte at 40),
** host order. savetli: 0, or -1 with -1 and errno (no room); the
** descriptor is left open across exec. resttli: 0, or -1 with -1 and
** errno (no image), -406, the buffer set-up's status, 25503, or, after 32
** failed resynchronisations, t_errno in oserr with asfcode unchanged;
** nothing of the driver's is left allocated after a failure. */
struct drvblock;
int savetli(struct drvblock *drv, void *arena, asfsvcctl *ctl);
int resttli(struct drvblock *drv, void *arena, asfsvcctl *ctl);

#ifdef __cplusplus
}
#endif

#endif
