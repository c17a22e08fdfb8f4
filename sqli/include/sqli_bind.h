/*
** sqli_bind.h: the bind values of a request (message 5 and the list
** after message 33), from the entries of a descriptor or from value
** records, and the pieces they are made of: the type word, character
** fields, variable-length binary values and the float check.
**
** A list is checked before anything is written: a failure leaves the send
** buffer as it was. C linkage.
*/
#ifndef DVZ_SQLI_BIND_H
#define DVZ_SQLI_BIND_H

#include <stdint.h>

#include "gen_hostvar.h"
#include "gen_value.h"
#include "sqli_descriptors.h"

#ifdef __cplusplus
extern "C" {
#endif

struct sqli_tcb;
struct sqli_cursor;

/* The bind list: code (5 writes it; 33 leaves it to _sqs_uexe), the
** count, one value per entry of desc, or per value record of values when
** desc has no entries. Returns 0 when nothing was to be sent, else
** SQLCODE (the check's failure with nothing written). */
int _sqs_vs(int code, const sqlda *desc, const value_t *values, struct sqli_tcb *tcb);
/* One value from a descriptor entry with the indicator *ind (null: none).
** Returns SQLCODE. */
int _sqs_v(const sqlvar_struct *entry, int type, const int16_t *ind, struct sqli_tcb *tcb);
/* One value from a value record; flt_as_dec sends FLOAT and SMALLFLOAT as
** DECIMAL. Returns SQLCODE. */
int _sqs_val(const value_t *value, int flt_as_dec, struct sqli_tcb *tcb);
int _sqs_val_vchk(const value_t *value, int flt_as_dec, struct sqli_tcb *tcb);
/* The SQL type of host type type and the word to send (into *word; also
** written as i16 when write is set). Returns the SQL type before the
** substitutions. */
int _sqstype(int type, const char *data, int16_t *word, int write, int32_t xid,
             struct sqli_tcb *tcb);
/* One character field: mapped or converted, cut to 32767 bytes with cut
** (-1279 in an ANSI database), then with lenfield an i16 (i32 with len4)
** length and pbuf, else lbuf. Returns 0 or the conversion error (the text
** then goes as given). */
int putchstr(const char *text, int len, int lenfield, int len4, struct sqli_tcb *tcb, int cut);
/* The variable-length record of a host (length and buffer) as i32 length
** and the bytes as pbuf. */
void _sqs_binary(const dvz_hostbuf_t *value, struct sqli_tcb *tcb);
/* Every SMALLFLOAT and FLOAT entry with a value must be finite. Returns 0,
** or SQLCODE after recording -1222 (SMALLFLOAT) or -1223 (FLOAT). */
int validate_floats(int count, const sqlvar_struct *entries, struct sqli_tcb *tcb);

/* Flags of _sqs_rettype. */
enum {
  SQLI_RT_SEND = 1, /* write the message */
  SQLI_RT_OWN_LIST = 2, /* with SQLI_RT_SEND: resend the cursor's own list */
  SQLI_RT_FIRST_ONE = 4, /* the first field is 1 instead of 0 */
  SQLI_RT_COPY = 8, /* copy what is asked into the cursor's list */
  SQLI_RT_CHECK_QUAL = 16, /* check DATETIME and INTERVAL qualifiers */
  SQLI_RT_FULL_STRINGS = 32 /* keep the full length of terminated strings */
};

/* The return-type message (100) for cursor's columns from count entries.
** flags: 1 send it; 1|2 resend the cursor's own list; 4 first field 1; 8
** copy what is asked into the cursor's list; 16 check DATETIME and
** INTERVAL qualifiers; 32 keep the full length of strings. *notneeded is
** 1 when the server needs no message (nothing is then written). Returns 0
** or the error recorded: -402 (an entry of type -1), -406, -1268. */
int _sqs_rettype(struct sqli_cursor *cursor, int count, sqlvar_struct *entries, int flags,
                 int *notneeded, struct sqli_tcb *tcb);

#ifdef __cplusplus
}
#endif

#endif
