/*
** handover.h: the hand-over of associations to a program this process is
** about to execute, over the serialisation arena (`opblock`, asf_arena.h)
** the layers write their records into. The termination service saves (global data,
** then one association of each kind, each into a pipe named by an
** environment variable); the initialisation service of the executed
** program takes them over. The connection manager's savers live here
** too, with `cmSave` and `cmRestore`; the lower layers' are in
** pfsl_save.h, tl_save.h and the drivers.
**
** Images keep their fixed layouts (the global record 28 bytes, the
** association header 28, the connection manager's records at the sizes
** listed below), in host byte order because they cross only to a program
** on the same host; every field is written and read one by one, pointers
** replaced by 32-bit arena offsets (-1 for none). Every read of an image
** is checked against the bytes there. One thread. C linkage.
*/
#ifndef DVZ_ASF_HANDOVER_H
#define DVZ_ASF_HANDOVER_H

#include <stdint.h>

#include "asf_al.h"
#include "asf_arena.h"
#include "asf_errors.h"
#include "asf_records.h"
#include "asf_svcctl.h"
#include "os_env.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Size of a hand-over buffer: the largest association image. */
#define HO_BUFFER_SIZE 2056
/* The global record and the association header: seven 32-bit words. */
#define HO_GLOBAL_SIZE 28
#define HO_HEADER_SIZE 28

/* Kinds of saved data: the global record, then the association kinds. */
enum { ho_kind_global = 0 };

/* Environment variables of the four kinds. */
#define HO_VAR_GLOBAL "ASF_G"
#define HO_VAR_REQUESTER "ASF_C"
#define HO_VAR_ACCEPTED "ASF_S"
#define HO_VAR_LISTENER "ASF_L"

/* Init request words: the take-over flag, and per kind the status-byte
** area and the out association id. */
#define HO_INIT_TAKEOVER 0x10000u
enum {
  ho_word_lsn_area = 18,
  ho_word_lsn_id = 19,
  ho_word_acc_area = 20,
  ho_word_acc_id = 21,
  ho_word_req_area = 22,
  ho_word_req_id = 23
};

/* ---- The connection manager's records. ----
** Savers: 0, or the failure (-406 no room, -25563 a record that cannot be
** saved). Restorers: 0, or -1 with nothing of theirs left allocated. */

/* Connect attributes of al's association: kind 1 {parameters, response},
** kinds 2 and 3 {parameters, request, environment list}. */
int savBAttr(opblock *op, const alctl *al);
/* The connection attributes (the peer's process information, user and
** group ids and text): 44 bytes. */
int savAlAttr(opblock *op, const asfcmarea *cm);
/* Process information: 32 bytes. */
int savPInfo(opblock *op, const asfprocinfo *info);
int resBAttr(opblock *op, alctl *al);
int resAlAttr(opblock *op, asfcmarea *cm);
int resPInfo(opblock *op, asfprocinfo *info);

/* The parts. Savers store the record's offset in *off (-1 for a null
** record, which stores nothing); restorers take the record at the used
** offset, which must equal off (-1: none, *out null). */
struct ascbinreq;
struct pfrequest;
int svBParms(opblock *op, const struct ascbinreq *parms, int32_t *off);
int svReq(opblock *op, const struct pfrequest *req, int32_t *off);
int svResp(opblock *op, const struct pfrequest *resp, int32_t *off);
int svSqlEnv(opblock *op, const evlist_t *env, int32_t *off);
int rsBParms(opblock *op, int32_t off, struct ascbinreq **out);
int rsReq(opblock *op, int32_t off, struct pfrequest **out);
int rsResp(opblock *op, int32_t off, struct pfrequest **out);
int rsSqlEnv(opblock *op, int32_t off, evlist_t **out);
/* Free restored records with their strings (null accepted). */
void frBParms(int pool, struct ascbinreq *parms);
void frReq(int pool, struct pfrequest *req);
void frResp(int pool, struct pfrequest *resp);
void frSqlEnv(int pool, evlist_t *env);
void frPInfo(int pool, asfprocinfo *info);

/* Saves or restores the connection manager's records of ctl's
** association, then the protocol family's. 0, or -1 with the status in
** ctl (-406 for a connection-manager image that cannot be read back). */
int cmSave(asfsvcctl *ctl, opblock *op);
int cmRestore(asfsvcctl *ctl, opblock *op);

/* ---- The hand-over. ---- */

/* HO_BUFFER_SIZE for a valid association, else -1. */
int alCSsave(Assocctl *assoc);
/* Writes the global record to a new pipe and sets ASF_G. 0, or the
** failure (also in ctl's asfcode). */
int saveGlobData(asfsvcctl *ctl);
/* Saves the only association of kind's global queue (none: 0, nothing
** done) into a new pipe, sets the kind's variable and aborts the
** association here, leaving its descriptors open. 0, or -25548, -25597,
** -406, -25546 (also in ctl's asfcode). */
int saveAssocData(int kind, asfsvcctl *ctl);
/* Writes len bytes of rec to a new pipe and sets name to its read
** descriptor ("%s=%d" in static storage of kind). 0, or -25597 with the
** system error in *oserr (nothing left open). */
int save2pipe(int kind, const void *rec, int32_t len, const char *name, int32_t *oserr);
/* Takes the global record over from ASF_G (unset: nothing). 0, or the
** failure (-25597) also in ctl's asfcode. */
int getGlobData(asfsvcctl *ctl);
/* Takes the association of kind over when the init request req holds a
** status-byte area for it and its variable is set: queued, its id in
** req. 0, or -25597, -406, -25546 (also in ctl's asfcode). */
int getAssocData(int kind, asfsvcctl *ctl, asfsvcreq *req);

/* Test seam: how the hand-over makes its pipes. Production calls pipe();
** a test puts a table of its own here (for instance one that moves the
** read end to a high descriptor) and puts null back. */
typedef struct ho_pipe_seam {
  int (*make_pipe)(int fds[2]);
} ho_pipe_seam;
extern const ho_pipe_seam *ho_pipe_override;

#ifdef __cplusplus
}
#endif

#endif
