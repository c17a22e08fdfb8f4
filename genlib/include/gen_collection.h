/*
** gen_collection.h: collection and row values in memory (`dvz_coll_t`,
** value_types.h): their type description, element data and nested
** references, and the cursors and change log through which programs read
** and change them. The embedded-SQL runtime and the value conversions call
** these; the stored forms and comparisons are in gen_collection_stored.h.
**
** Results: 0 for success, 100 for no such element where said, else a
** negative error: -1 (see each entry), -837 no memory, -9875 a nested
** reference of an unknown form (or form 4 wanted without type info),
** -9944 a next-only collection not positioned on its next element, -9969
** no descriptor for the element or field, -9972 a field number on a
** non-row, -9973 element length differs from the fixed size, -9974
** deleting one element of a ROW, -9976 the collection is NULL, -9978 /
** -9979 a NULL element inserted / updated into a NOT NULL element type,
** -9980 an insert position on a non-LIST, -9981 / -9982 deleting /
** updating an element another cursor stands on, -9983 a delete or update
** the cursor or log entry does not allow, -9984 freeing with an open
** cursor, -9986 a bad offset table or log position, -9987 a cursor
** already open, -9989 rebuilding a ROW whose cardinality differs from its
** fields. C linkage throughout; one thread per record.
*/
#ifndef DVZ_GENLIB_GEN_COLLECTION_H
#define DVZ_GENLIB_GEN_COLLECTION_H

#include <stdint.h>

#include "gen_errors.h"
#include "gen_value.h"
#include "value_types.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants -------------------------------------------------------------------- */

#define DVZ_COLL_MAGIC 0xdbdbdbdbu

/* cl_flags bits (DVZ_COLL_NULL, 0x4, is in value_types.h). */
#define DVZ_COLL_FORM2 0x10u /* a form-2 nested reference was loaded */
#define DVZ_COLL_FORMBIT16 0x20u /* the data carries form bit 16 */
#define DVZ_COLL_NEXTONLY 0x40u /* positions only on the next element */
#define DVZ_COLL_HASHED 0x100u /* cl_hashvalue is current */
#define DVZ_COLL_OWNS_TYPEINFO 0x1000000u
#define DVZ_COLL_OWNS_DATA 0x2000000u
#define DVZ_COLL_KEPT 0x4000000u /* kept by a rebuild unless it empties */

/* Field descriptor flags. */
#define DVZ_FIELD_ELEMCMP 0x2 /* UDT elements compared one by one */
#define DVZ_FIELD_NESTED 0x8000 /* a scalar held as a nested reference */

/* Nested reference forms (low four bits), and the bit any may carry. */
#define DVZ_NREF_INLINE 1
#define DVZ_NREF_INLINE2 2
#define DVZ_NREF_RECORD 4
#define DVZ_NREF_POINTER 8
#define DVZ_NREF_BIT16 16
/* Bytes a pointer-form reference (or the NULL one) may take when written
** at any address: up to 10 padding bytes, the form word, the hash and an
** 8-byte pointer; 24 at an 8-aligned start. */
#define DVZ_COLL_NESTED_AREA 26

/* Cursor flags. */
#define DVZ_CURS_EXCUSED 0x2 /* set by the runtime: a delete is allowed */
#define DVZ_CURS_DELETED 0x4 /* stands on the element after a deleted one */

/* Change-log entries: modification types and ch_flag bits. */
#define CHANGELOG_INSERT 0
#define CHANGELOG_UPDATE 1
#define CHANGELOG_DELETE 2
#define CHANGELOG_WITH_DATA 0x1 /* stands in place of an element of the data */
#define CHANGELOG_NEW 0x10 /* set at creation */

/* Cursor positioning. */
#define CSEEK_SET 0
#define CSEEK_CUR 1
#define CSEEK_END 2

/* dvz_coll_delete: every element. */
#define DVZ_COLL_DELETE_ALL 0x1

/* ---- Records ---------------------------------------------------------------------- */

/* One descriptor of a type: descriptor 0 is the value itself. */
typedef struct dvz_coll_field {
  int16_t seqno;
  int16_t level_no;
  int16_t parent_no;
  int16_t fieldnmlen;
  char fieldname[128];
  int16_t field_no;
  int16_t type; /* SQL code in the low byte, 0x100 NOT NULL */
  int16_t length; /* length word */
  int32_t xid; /* extended type id */
  int16_t flags; /* DVZ_FIELD_* */
  int16_t xtype_nm_len;
  char xtype_name[128];
  int16_t xtype_owner_len;
  char xtype_owner_name[128];
  int16_t align;
  int32_t srctype;
} dvz_coll_field_t;

/* The type description of a collection or row; allocated with room for
** ti_count descriptors (one more when this library allocates it). */
typedef struct dvz_coll_typeinfo {
  int32_t ti_reserved[4]; /* not used here; zero in what this library builds */
  int32_t ti_xid; /* extended type id */
  int16_t ti_hdrval; /* carried unchanged by the stored forms */
  char ti_name[128];
  int16_t ti_count; /* number of descriptors */
  dvz_coll_field_t ti_fields[]; /* ti_count descriptors */
} dvz_coll_typeinfo_t;

/* Bytes of a type info with room for count descriptors. */
#define DVZ_COLL_TYPEINFO_SIZE(count) \
  (sizeof(dvz_coll_typeinfo_t) + (size_t)(count) * sizeof(dvz_coll_field_t))

/* A pending change; its data follows it in the same allocation. */
typedef struct dvz_coll_log {
  int32_t ch_rownum; /* element number at which it applies */
  int32_t ch_modtype; /* CHANGELOG_INSERT, _UPDATE, _DELETE */
  char *ch_newrow; /* the data after the entry; null for a delete */
  int32_t ch_newrowlen;
  int32_t ch_flag; /* CHANGELOG_WITH_DATA, CHANGELOG_NEW */
  struct dvz_coll_log *ch_next;
  int32_t ch_datasize; /* bytes of data held */
} dvz_coll_changelog_t;

/* A cursor in the caller's storage, cleared when opened. */
typedef struct dvz_coll_cursor {
  int32_t cr_elemno; /* current element, from 1; 0 before the first */
  char *cr_dataloc; /* element (fixed) or its offset word; null in the log */
  dvz_coll_t *cr_owner; /* the record it was opened on */
  dvz_coll_changelog_t *cr_logpos; /* last entry at or before the element */
  int16_t cr_flags; /* DVZ_CURS_* */
  struct dvz_coll_cursor *cr_next; /* next cursor of the same record */
  int32_t cr_run; /* data elements passed since cr_logpos; 0: the entry */
} dvz_coll_cursor_t;

/* Trace switch: bit 1 record dumps, 2 descriptors, 4 positioning, 8 new
** log entries, any bit nested-reference copies. Written by dvz_set_debug
** only. */
extern int Dvz_Debug;

/* ---- Records, types and nested references ----------------------------------------- */

/* Clears coll and fills it for ti (typed: ti is a client type info) over
** data (caller's, not owned) of len bytes or none. 0, -1 for a null coll
** or ti, or the cardinality's error (-9986). */
int dvz_coll_init(dvz_coll_t *coll, dvz_coll_typeinfo_t *ti, int16_t typed, char *data,
                  int32_t len);
/* Releases owned data, owned type info and the change log; clears coll.
** -9984 while a cursor is open. */
int dvz_coll_free(dvz_coll_t *coll);
/* Type word (& 0x78ff) of the element; -1 without one. */
int dvz_coll_elem_type(dvz_coll_t *coll);
/* Type word (& 0x78ff) of a row's n-th field; -1 without one. */
int dvz_coll_row_elem_type(dvz_coll_t *coll, int n);
/* Type (without 0x100), NOT NULL flag, size and length word of the element
** or n-th field; each out but type may be null. -1 without descriptor,
** -9972 for n != 0 on a non-row. */
int dvz_coll_elem_type_nonull(dvz_coll_t *coll, int n, int *type, int *notnull, int *size,
                              int *length);
/* The descriptor of the element (n 0) or the row's n-th field in *field
** (null when none). 0 or -9972. */
int dvz_coll_get_row_typeinfo(dvz_coll_t *coll, int n, dvz_coll_field_t **field);
/* Extended id of the element or n-th field; -1 without one, -9972. */
int dvz_coll_elem_xid(dvz_coll_t *coll, int n, int32_t *xid);
/* Alignment of the element or n-th field (its flags in *flags when not
** null); -1 without one, -9972. */
int dvz_coll_elem_align(dvz_coll_t *coll, int n, int16_t *flags);
/* Size of the element type (the largest field of a row); -1 without type
** info. */
int dvz_coll_elem_len(dvz_coll_t *coll);
/* A new type info for the composite element (n 0) or the row's n-th field
** in *ti (one already there is freed first); the caller owns it. 0, -837,
** -9969. */
int dvz_coll_elem_typeinfo(dvz_coll_t *coll, dvz_coll_typeinfo_t **ti, int n);
/* Recomputes cl_cardinality from the data; -9986 for a bad offset table. */
int dvz_coll_set_cardinality(dvz_coll_t *coll);
/* Writes the NULL reference 00 01 01 (nothing for a null buffer). */
void dvz_coll_null(char *buffer);
/* 0 when the element (len bytes, of the type word) is NULL, else -1. */
int dvz_coll_elem_is_null(const char *data, int32_t len, int type);
/* Writes the reference at src at dst in form (DVZ_NREF_*); the bytes the
** destination takes, or -9875. ti and typed serve form 4 only. */
int collcopy(const char *src, char *dst, dvz_coll_typeinfo_t *ti, int16_t typed, int form);
/* Hash of at most n bytes of text, stopping at a zero byte: 0-210. */
int dvz_hashpjw(const char *text, int n);
/* XORs the BE32 words of bytes (the tail zero-filled) into *hash. */
void dvz_calc_hval(const char *bytes, int32_t len, uint32_t *hash);
/* xid and field count of the server type info's descriptor 0; -1 without
** record or server type info. */
int dvz_get_row_xid(dvz_coll_t *coll, int *count);
/* Descriptor 0's xtype_name of the server type info, or null. */
char *dvz_get_row_extended_name(dvz_coll_t *coll);
/* Sets value's type word, indicator, flags and alignment from field. */
void dvz_coll_rowp_to_val(const dvz_coll_field_t *field, value_t *value);
/* Sets Dvz_Debug. */
void dvz_set_debug(int value);

/* ---- Cursors and change log -------------------------------------------------------- */

/* Chains and clears cursor on coll; -9987 when already chained. */
int dvz_coll_open(dvz_coll_t *coll, dvz_coll_cursor_t *cursor);
int dvz_coll_open_with_options(dvz_coll_t *coll, dvz_coll_cursor_t *cursor);
/* Unchains cursor; -1 when it is not in the chain. */
int dvz_coll_close(dvz_coll_t *coll, dvz_coll_cursor_t *cursor);
/* Inserts an element at LIST position pos (>= 1), or at the end (0); a
** duplicate in a SET is skipped with 0. */
int dvz_coll_insert(dvz_coll_t *coll, char *data, int32_t len, int32_t pos);
/* Replaces the cursor's current element; 100 without one. */
int dvz_coll_update(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, char *data, int32_t len);
/* Deletes the cursor's current element, or every element with
** DVZ_COLL_DELETE_ALL; 100 without one. */
int dvz_coll_delete(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, int flags);
/* Advances and returns the element: *data null receives its address in
** the collection, else the element is copied there (composite ones as a
** form-8 reference); 100 past the end. */
int dvz_coll_next(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, char **data, int32_t *len);
/* Positions on element pos (the element number is set even on 100). */
int dvz_coll_pos(dvz_coll_t *coll, dvz_coll_cursor_t *cursor, int32_t pos);
/* Replaces the element at pos through a private cursor. */
int dvz_coll_update_pos(dvz_coll_t *coll, int32_t pos, char *data, int32_t len);
/* Folds the change log into new owned element data; -837, -9969, -9989. */
int dvz_coll_tuple(dvz_coll_t *coll);
/* Brings cl_hashvalue up to date; -9969 when a descriptor is missing. */
int dvz_coll_hash(dvz_coll_t *coll);
/* Writes a pointer-form reference to coll's data at buffer (room:
** DVZ_COLL_NESTED_AREA), the NULL reference for a NULL coll; -1 when
** hashing fails; 0 for null arguments. */
int dvz_coll_set_nested_coll(dvz_coll_t *coll, char *buffer);
/* Loads the nested reference at buffer into coll; -9875 for a bad form or
** length; 0 for null arguments. */
int dvz_coll_put_coll(dvz_coll_t *coll, const char *buffer);
/* Loads the composite element at data (of the row's n-th field, or of the
** collection for n 0) into nested, giving it a type info when it has
** none. */
int dvz_coll_elem_coll(dvz_coll_t *coll, dvz_coll_t *nested, const char *data, int n);
/* Rebuilds src and gives dst a private copy of its data and counts. */
int dvz_coll_copy(dvz_coll_t *dst, dvz_coll_t *src);

/* ---- Traces (stdout) ---------------------------------------------------------------- */

void dvz_dump(dvz_coll_t *coll, const char *label);
void dvz_coll_dump(dvz_coll_t *coll);
void dvz_coll_dump_typeinfo(const dvz_coll_typeinfo_t *ti);
void dvz_coll_dump_changelog(const dvz_coll_changelog_t *entry);
void dvz_hex_dump(const void *bytes, int32_t len);

#ifdef __cplusplus
}
#endif

#endif
